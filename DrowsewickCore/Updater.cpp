#include "Updater.h"

#include "DecimalNumber.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <memory>

namespace Updater {

namespace {

// The numbers of a version: pieces between full stops, empty ones dropped, a piece that is
// not a strict decimal counting as 0.
QList<qint64> versionNumbers(QStringView version)
{
    QList<qint64> numbers;
    for (QStringView piece : version.tokenize(u'.', Qt::SkipEmptyParts)) {
        qint64 number = 0;
        if (!DecimalNumber::parseInt64(piece, &number))
            number = 0;
        numbers.append(number);
    }
    return numbers;
}

// An absolute https address. The scheme is read from the text itself, since QUrl lower-cases
// it and "HTTPS:" must not pass.
std::optional<QUrl> httpsAddress(const QString &text)
{
    if (!text.startsWith(QLatin1String("https:")))
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

// A manifest must always come from the server: a cached copy could hide a new release.
QNetworkRequest manifestRequest(const QUrl &manifest)
{
    QNetworkRequest request(manifest);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(10'000);
    return request;
}

} // namespace

bool isNewer(QStringView a, QStringView b)
{
    const QList<qint64> first = versionNumbers(a);
    const QList<qint64> second = versionNumbers(b);
    const qsizetype count = std::max(first.size(), second.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 x = first.value(i, 0);
        const qint64 y = second.value(i, 0);
        if (x != y)
            return x > y;
    }
    return false;
}

std::optional<UpdateInfo> parseManifest(const QByteArray &body, QStringView currentVersion)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject manifest = document.object();
    const QJsonValue version = manifest.value(QLatin1String("version"));
    const QJsonValue address = manifest.value(QLatin1String("url"));
    if (!version.isString() || !address.isString())
        return std::nullopt;
    const std::optional<QUrl> url = httpsAddress(address.toString());
    if (!url || !isNewer(version.toString(), currentVersion))
        return std::nullopt;
    return UpdateInfo{version.toString(), *url, manifest.value(QLatin1String("notes")).toString()};
}

void check(const QUrl &manifest, const QString &currentVersion, QNetworkAccessManager &network,
           QObject *context, std::function<void(std::optional<UpdateInfo>)> done)
{
    QNetworkReply *reply = network.get(manifestRequest(manifest));
    // The first slot runs on the reply's thread and reads it before it goes; the second is tied
    // to context, so Qt delivers it on context's thread and drops it when context is destroyed.
    auto result = std::make_shared<std::optional<UpdateInfo>>();
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, result, currentVersion] {
        reply->deleteLater();
        if (!isTransportFailure(reply->error()))
            *result = parseManifest(reply->readAll(), currentVersion);
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [result, done = std::move(done)] {
        done(*result);
    });
}

bool isTransportFailure(QNetworkReply::NetworkError error)
{
    // Qt turns HTTP error statuses into the content (2xx) and server (4xx) ranges of its codes.
    const bool fromStatus = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
                            || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return error != QNetworkReply::NoError && !fromStatus;
}

} // namespace Updater
