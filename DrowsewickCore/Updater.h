#pragma once

#include <QString>
#include <QUrl>

// One usable update manifest.
struct UpdateInfo
{
    QString version;
    QUrl downloadURL;
    QString notes;

    friend bool operator==(const UpdateInfo &, const UpdateInfo &) = default;
};

namespace Updater {

// Whether version a is strictly higher than version b, compared number by number.
bool isNewer(QStringView a, QStringView b);

} // namespace Updater
