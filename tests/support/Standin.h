#pragma once

#include "SafariEngine.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <chrono>

// The built safari-standin in the test's own HOME: its state, its operation log, its runs.
namespace Standin {

struct Tab
{
    QString url;
    QString title;
    bool closeFails = false;
};

struct Window
{
    qint64 id;
    int current; // 1-based, 0 for none
    QList<Tab> tabs;
};

QString program();
// Safari gone and never started, with an empty log.
void reset();

void writeState(const QByteArray &json);
void writeState(const QJsonObject &state);
// JSON written with single quotes, so that states read well inside C++ string literals.
QByteArray json(const char *singleQuoted);
void setWindows(const QList<Window> &windows, QJsonObject extra = {});
QJsonObject state();
// The addresses of every open tab, window by window.
QStringList openUrls();

QStringList log();
void clearLog();

// The engine the app itself runs: osascript and pgrep in the macOS flavour (here their stand-ins,
// which hand over to safari-standin), the stand-in beside the executable otherwise.
SafariEngine engine(std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace Standin
