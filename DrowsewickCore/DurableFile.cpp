#include "DurableFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileSystemError FileSystemError::fromErrno(const QString &what, const QString &path)
{
    return FileSystemError(QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno))));
}

namespace DurableFile {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// What the temporary file beside a file being replaced is called: this, then six characters.
const QString temporaryMarker = QStringLiteral(".tmp-");

} // namespace

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Descriptor::closeChecked()
{
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}

bool syncDescriptor(int fd)
{
#ifdef F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return true;
    // Some file systems (network shares) do not know F_FULLFSYNC; fsync is the best they offer.
#endif
    return ::fsync(fd) == 0;
}

void syncFolder(const QString &path)
{
    // Best effort: some file systems refuse to open or sync a folder, and the data itself is
    // already flushed by then.
    Descriptor folder(::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        syncDescriptor(folder.get());
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void writeAtomically(const QString &path, const QByteArray &bytes, mode_t mode)
{
    const QFileInfo target(path);
    QByteArray pattern = native(target.absoluteFilePath() + temporaryMarker + QStringLiteral("XXXXXX"));
    Descriptor file(::mkstemp(pattern.data()));
    if (file.get() < 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot create a temporary file for"), path);
    const auto fail = [&](const QString &what) {
        const FileSystemError error = FileSystemError::fromErrno(what, path);
        ::unlink(pattern.constData());
        return error;
    };
    ::fchmod(file.get(), mode);
    if (!writeAll(file.get(), bytes.constData(), bytes.size()))
        throw fail(QStringLiteral("Cannot write"));
    if (!syncDescriptor(file.get()))
        throw fail(QStringLiteral("Cannot flush"));
    if (!file.closeChecked())
        throw fail(QStringLiteral("Cannot close"));
    if (::rename(pattern.constData(), native(target.absoluteFilePath()).constData()) != 0)
        throw fail(QStringLiteral("Cannot replace"));
    syncFolder(target.absolutePath());
}

void removeLeftovers(const QString &path)
{
    const QFileInfo target(path);
    QDir folder = target.absoluteDir();
    const QString prefix = target.fileName() + temporaryMarker;
    for (const QString &name : folder.entryList({prefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.size() == prefix.size() + 6)
            folder.remove(name);
    }
}

bool createFolder(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    QString existing = absolute;
    struct stat info;
    while (::stat(native(existing).constData(), &info) != 0) {
        if (errno != ENOENT)
            throw FileSystemError::fromErrno(QStringLiteral("Cannot look at"), existing);
        missing.prepend(existing);
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    if (missing.isEmpty()) {
        if (!S_ISDIR(info.st_mode)) {
            errno = ENOTDIR;
            throw FileSystemError::fromErrno(QStringLiteral("Cannot use folder"), absolute);
        }
        return false;
    }
    for (const QString &folder : std::as_const(missing)) {
        if (::mkdir(native(folder).constData(), 0755) != 0 && errno != EEXIST)
            throw FileSystemError::fromErrno(QStringLiteral("Cannot create folder"), folder);
        syncFolder(QFileInfo(folder).path());
    }
    syncFolder(absolute);
    return true;
}

} // namespace DurableFile
