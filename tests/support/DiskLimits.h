#pragma once

#include <QString>

#include <sys/resource.h>

// Makes every write past `bytes` fail for as long as it lives, as a full disk would, also for
// root (who is not stopped by permissions).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

// A 1 MB memory volume mounted on a folder for as long as it lives, where the system lets tests
// mount one.
class MemoryVolume
{
public:
    explicit MemoryVolume(const QString &folder);
    ~MemoryVolume();
    MemoryVolume(const MemoryVolume &) = delete;
    MemoryVolume &operator=(const MemoryVolume &) = delete;
    bool isMounted() const { return m_mounted; }
    bool makeReadOnly();

private:
    QString m_folder;
    bool m_mounted = false;
};
