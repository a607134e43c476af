#include "SafariEngine.h"

#include <unistd.h>

SafariEngine SafariEngine::platformDefault()
{
    // Only this user's Safari counts: scripts talk to the Safari of the user who runs them.
    const QString user = QString::number(::getuid());
    return {
        .script = {QStringLiteral("/usr/bin/osascript"), {}},
        .runningCheck = {QStringLiteral("/usr/bin/pgrep"), {QStringLiteral("-x"), QStringLiteral("-q"), QStringLiteral("-U"), user, QStringLiteral("Safari")}},
    };
}
