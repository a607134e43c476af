#include "UrlOpener.h"

#include <QDesktopServices>

namespace {

class DesktopUrlOpener : public UrlOpener
{
public:
    // Whether it worked is not reported: there is nothing useful to tell the user.
    void open(const QUrl &url) override { QDesktopServices::openUrl(url); }
};

} // namespace

std::unique_ptr<UrlOpener> UrlOpener::createForPlatform()
{
    return std::make_unique<DesktopUrlOpener>();
}
