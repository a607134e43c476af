#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <sys/types.h>

// A file-system operation that failed; the message names the path and the system's reason.
class FileSystemError : public std::runtime_error
{
public:
    explicit FileSystemError(const QString &message) : std::runtime_error(message.toStdString()) {}
    static FileSystemError fromErrno(const QString &what, const QString &path);
};

// Writes that survive a crash or a power cut: data is on the disk, not in a cache, before the
// caller goes on.
namespace DurableFile {

// An open file descriptor, closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now and tells whether the system accepted it (a late write error shows up here).
    bool closeChecked();

private:
    int m_fd;
};

// Replaces the file whole: a temporary file beside it, flushed, then renamed over it. A failure
// leaves the old contents in place. Private to the user unless another mode is given.
void writeAtomically(const QString &path, const QByteArray &bytes, mode_t mode = 0600);

// Removes the temporary files that a crash between writing and renaming left beside path.
void removeLeftovers(const QString &path);

// Creates the folder and any missing parents, each flushed into its parent; an existing folder
// is fine. Returns whether anything was created.
bool createFolder(const QString &path);

// Flushes an open file, or a folder's entries, to the disk itself (F_FULLFSYNC where plain
// fsync stops at the drive's cache).
bool syncDescriptor(int fd);
void syncFolder(const QString &path);

// Writes all bytes with as few calls as the system allows; false on any error or a write that
// makes no progress (a full disk).
bool writeAll(int fd, const char *data, qsizetype size);

} // namespace DurableFile
