#pragma once

#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QObject;

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

// The update a manifest body announces, when it is well formed, its address is https and its
// version is newer than currentVersion; empty otherwise.
std::optional<UpdateInfo> parseManifest(const QByteArray &body, QStringView currentVersion);

// Fetches the manifest, always from the server, and calls done with parseManifest's result, or
// with nothing on any failure. The body is used whatever the answer's status; one over 64 KiB is
// no manifest, and is not read further. Returns at once; done runs on context's thread, and
// never once context is gone. Call it on the thread of network.
void check(const QUrl &manifest, const QString &currentVersion, QNetworkAccessManager &network,
           QObject *context, std::function<void(std::optional<UpdateInfo>)> done);

// Whether a finished reply failed below HTTP (no connection, TLS, timeout, a body cut short),
// rather than carrying a complete response whose status Qt also reports as an error.
bool isTransportFailure(const QNetworkReply &reply);

} // namespace Updater
