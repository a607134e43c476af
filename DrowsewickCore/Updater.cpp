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

// A manifest is a few hundred bytes; a larger body is no manifest and is not read further.
constexpr qsizetype maxManifestBytes = 64 * 1024;
// As many hops as a browser would follow before it gives up.
constexpr int maxRedirects = 10;

// A manifest must always come from the server: a cached copy could hide a new release. Qt
// follows no redirect itself, since it would drop the body of a 3xx answer without a Location.
QNetworkRequest manifestRequest(const QUrl &manifest)
{
    QNetworkRequest request(manifest);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(10'000);
    return request;
}

// Where a redirect leads: only to another https address, as Qt's own policy would allow.
std::optional<QUrl> redirectTarget(const QNetworkReply &reply)
{
    static const QList<int> redirects{301, 302, 303, 307, 308};
    if (!redirects.contains(reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()))
        return std::nullopt;
    const QByteArray location = reply.rawHeader("Location");
    const QUrl target = reply.url().resolved(QUrl::fromEncoded(location));
    if (location.isEmpty() || !target.isValid() || target.scheme() != QLatin1String("https"))
        return std::nullopt;
    return target;
}

// One check, across the hops of its redirects. The first reply lives until the last one has
// finished: its end delivers the result.
struct Fetch
{
    QNetworkAccessManager &network;
    QString currentVersion;
    QNetworkReply *first = nullptr;
    std::optional<std::optional<UpdateInfo>> result;
};

void fetch(const QUrl &address, const std::shared_ptr<Fetch> &check, int redirectsLeft)
{
    QNetworkReply *reply = check->network.get(manifestRequest(address));
    if (!check->first)
        check->first = reply;
    struct Body
    {
        QByteArray bytes;
        bool tooLarge = false;
    };
    auto body = std::make_shared<Body>();
    const auto take = [reply, body] {
        body->bytes += reply->read(maxManifestBytes + 1 - body->bytes.size());
        body->tooLarge = body->bytes.size() > maxManifestBytes;
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body, take] {
        take();
        if (body->tooLarge)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, body, take, check, redirectsLeft] {
        if (reply != check->first)
            reply->deleteLater();
        if (const std::optional<QUrl> target = redirectTarget(*reply); target && redirectsLeft > 0)
            return fetch(*target, check, redirectsLeft - 1);
        if (!body->tooLarge)
            take();
        check->result.emplace();
        if (!body->tooLarge && !isTransportFailure(*reply))
            *check->result = parseManifest(body->bytes, check->currentVersion);
        check->first->deleteLater();
    });
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
    auto check = std::make_shared<Fetch>(Fetch{network, currentVersion, nullptr, std::nullopt});
    fetch(manifest, check, maxRedirects);
    // Tied to context, so Qt delivers it on context's thread and drops it once context is gone.
    QObject::connect(check->first, &QObject::destroyed, context, [check, done = std::move(done)] {
        if (check->result)
            done(*check->result);
    });
}

bool isTransportFailure(const QNetworkReply &reply)
{
    // An answer with a status of its own is a complete response, whatever Qt makes of that
    // status; what broke below HTTP, or broke the answer off, is not.
    const QNetworkReply::NetworkError error = reply.error();
    const bool answered = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    return error != QNetworkReply::NoError
           && (!answered || error <= QNetworkReply::UnknownNetworkError || error == QNetworkReply::ProtocolFailure);
}

} // namespace Updater
