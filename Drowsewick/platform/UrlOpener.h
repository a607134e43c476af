#pragma once

#include <QUrl>

#include <memory>

// Opens an address or a folder with the system's default handler (browser, file manager,
// system settings).
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl &url) = 0;

    static std::unique_ptr<UrlOpener> createForPlatform();
};
