#include "StandinScript.h"

#include "DecimalNumber.h"
#include "SafariBridge.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <optional>

namespace {

// The script text is accepted only byte for byte around its values, so the one value between
// prefix and suffix must be an address that escape() can have produced.
std::optional<QString> quotedAddress(QStringView text, QStringView prefix, QStringView suffix)
{
    if (text.size() < prefix.size() + suffix.size() || !text.startsWith(prefix) || !text.endsWith(suffix))
        return std::nullopt;
    QString address;
    if (!SafariScript::unescape(text.sliced(prefix.size(), text.size() - prefix.size() - suffix.size()), &address))
        return std::nullopt;
    return address;
}

// The window number as the bridge writes it: the plain decimal text of a 64-bit number.
std::optional<qint64> windowNumber(QStringView text)
{
    qint64 id = 0;
    if (!DecimalNumber::parseInt64(text, &id) || QString::number(id) != text)
        return std::nullopt;
    return id;
}

std::optional<StandinScript> closeScript(QStringView text, bool considerCase)
{
    const SafariScript::CloseScriptFrame frame = SafariScript::closeFrame(considerCase);
    if (!text.startsWith(frame.beforeWindow))
        return std::nullopt;
    const qsizetype windowEnd = text.indexOf(frame.beforeAddress, frame.beforeWindow.size());
    if (windowEnd < 0)
        return std::nullopt;
    const std::optional<qint64> id = windowNumber(text.sliced(frame.beforeWindow.size(), windowEnd - frame.beforeWindow.size()));
    const std::optional<QString> address = quotedAddress(text.sliced(windowEnd), frame.beforeAddress, frame.afterAddress);
    if (!id || !address)
        return std::nullopt;
    return StandinScript{StandinScript::Kind::close, *id, *address,
                         considerCase ? Qt::CaseSensitive : Qt::CaseInsensitive};
}

std::optional<StandinScript> openScript(QStringView text)
{
    const std::optional<QString> address = quotedAddress(text, SafariScript::openPrefix, u"\"");
    if (!address)
        return std::nullopt;
    return StandinScript{.kind = StandinScript::Kind::open, .address = *address};
}

QString jsonString(const QString &text)
{
    // A one-element array is the shortest way to have Qt write a JSON string literal.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.sliced(1, array.size() - 2));
}

} // namespace

StandinScript StandinScript::recognise(QStringView text)
{
    if (text == SafariScript::snapshot())
        return StandinScript{.kind = Kind::snapshot};
    if (auto script = closeScript(text, true))
        return *script;
    if (auto script = closeScript(text, false))
        return *script;
    if (auto script = openScript(text))
        return *script;
    return StandinScript{};
}

QString StandinScript::logEntry() const
{
    switch (kind) {
    case Kind::snapshot:
        return QStringLiteral("snapshot");
    case Kind::close:
        return QStringLiteral("close %1 %2").arg(windowID).arg(jsonString(address));
    case Kind::open:
        return QStringLiteral("open %1").arg(jsonString(address));
    case Kind::unknown:
        break;
    }
    return QStringLiteral("unknown");
}
