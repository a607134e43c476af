#include "AutomationSettings.h"

#include "Dialogs.h"

// Here Safari is the stand-in, whose permission is a command of its own.
void AutomationSettings::show(UrlOpener &, Dialogs &dialogs)
{
    dialogs.activateApplication();
    dialogs.alert({
        QStringLiteral("Allow Drowsewick to control Safari"),
        QStringLiteral("On this system Safari is the stand-in that comes with Drowsewick. Allow access by running "
                       "“safari-standin automation allow” in a terminal; the next check picks it up."),
        {},
    });
}
