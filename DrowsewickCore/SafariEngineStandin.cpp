#include "SafariEngine.h"

#include <QCoreApplication>

SafariEngine SafariEngine::platformDefault()
{
    const QString standin = QCoreApplication::applicationDirPath() + QStringLiteral("/safari-standin");
    return {
        .script = {standin, {}},
        .runningCheck = {standin, {QStringLiteral("running")}},
    };
}
