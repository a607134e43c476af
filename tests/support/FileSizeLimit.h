#pragma once

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
