#pragma once

#include "TestHome.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <unistd.h>
#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

// The real drowsewick executable (its path comes from the build), run in this test's HOME on the
// offscreen platform. It leads a process group of its own, so that the engines it started can be
// waited for once it is gone, which takes Linux (its pgrep reads /proc).
class AppProcess
{
public:
    static bool canWaitForEngines() { return QFileInfo::exists(QStringLiteral("/proc/self")); }

    AppProcess()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setProgram(QStringLiteral(DROWSEWICK_PATH));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QDir::homePath() + QStringLiteral("/drowsewick.stderr"), QIODevice::Append);
        // Its own group; and where the system can, it ends with the test, should the test itself
        // be ended.
        m_process.setChildProcessModifier([] {
            ::setpgid(0, 0);
#ifdef PR_SET_PDEATHSIG
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        });
    }
    ~AppProcess() { kill(); }
    AppProcess(const AppProcess &) = delete;
    AppProcess &operator=(const AppProcess &) = delete;

    bool start()
    {
        m_process.start();
        const bool started = m_process.waitForStarted();
        m_pid = m_process.processId();
        return started;
    }

    qint64 pid() const { return m_pid; }

    // Whether it has ended of its own accord.
    bool hasEnded() { return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(0); }
    int exitCode() const { return m_process.exitCode(); }

    // Ends it at once, as a crash would, and waits until every engine it started has finished
    // too, so that Safari's state no longer changes.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_pid), SIGKILL);
        m_process.waitForFinished(-1);
        const QDeadlineTimer deadline(60000);
        while (groupIsRunning(m_pid) && !deadline.hasExpired())
            QThread::msleep(5);
    }

private:
    // Whether a process of the group still runs; a zombie has ended, whoever reaps it.
    static bool groupIsRunning(qint64 group)
    {
        const QString running = QStringLiteral("R,S,D,T,t,W,P,I");
        const QStringList arguments{QStringLiteral("-g"), QString::number(group), QStringLiteral("-r"), running};
        return runTool(QStringLiteral("pgrep"), arguments).exitCode == 0;
    }

    QProcess m_process;
    qint64 m_pid = 0;
};
