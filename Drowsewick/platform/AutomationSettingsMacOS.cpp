#include "AutomationSettings.h"

#include "UrlOpener.h"

void AutomationSettings::show(UrlOpener &urlOpener, Dialogs &)
{
    urlOpener.open(QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Automation")));
}
