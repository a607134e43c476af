#include "DiskLimits.h"

#include "TestHome.h"

#include <QDir>

#include <csignal>

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &m_previous);
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_previous;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
}

MemoryVolume::MemoryVolume(const QString &folder) : m_folder(folder)
{
    QDir().mkpath(folder);
    m_mounted = runTool(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                  QStringLiteral("size=1m"), QStringLiteral("drowsewick-test"), folder})
                    .exitCode == 0;
}

MemoryVolume::~MemoryVolume()
{
    if (m_mounted)
        runTool(QStringLiteral("umount"), {m_folder});
}

bool MemoryVolume::makeReadOnly()
{
    return runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_folder}).exitCode == 0;
}
