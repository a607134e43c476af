#include "SafariEngine.h"
#include "ToolPaths.h"

#include <unistd.h>

SafariEngine SafariEngine::platformDefault()
{
    // Only this user's Safari counts: scripts talk to the Safari of the user who runs them.
    const QString user = QString::number(::getuid());
    return {
        .script = {ToolPaths::osascript(), {}},
        .runningCheck = {ToolPaths::pgrep(), {QStringLiteral("-x"), QStringLiteral("-q"), QStringLiteral("-U"), user, QStringLiteral("Safari")}},
    };
}
