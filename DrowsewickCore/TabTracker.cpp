#include "TabTracker.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// The reference date of the file's time stamps.
const qint64 referenceMSecs = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
// Far beyond any real time stamp, and well inside what a millisecond count can hold.
constexpr double maxReferenceSeconds = 1e14;

double toReferenceSeconds(const QDateTime &time)
{
    return double(time.toMSecsSinceEpoch() - referenceMSecs) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds)
{
    const double bounded = std::clamp(seconds, -maxReferenceSeconds, maxReferenceSeconds);
    return QDateTime::fromMSecsSinceEpoch(referenceMSecs + qint64(std::llround(bounded * 1000.0)), Qt::UTC);
}

void appendJsonString(QString &text, QStringView value)
{
    text += u'"';
    for (QChar c : value) {
        if (c == u'"' || c == u'\\') {
            text += u'\\';
            text += c;
        } else if (c.unicode() < 0x20) {
            text += u"\\u00";
            text += QString::number(c.unicode(), 16).rightJustified(2, u'0');
        } else {
            text += c;
        }
    }
    text += u'"';
}

QStringList sweepPatterns(const QStringList &neverSweep)
{
    QStringList patterns;
    patterns.reserve(neverSweep.size());
    for (const QString &entry : neverSweep) {
        QString pattern = entry.toLower();
        if (!pattern.isEmpty())
            patterns.append(std::move(pattern));
    }
    return patterns;
}

bool isProtected(const QString &url, const QStringList &patterns)
{
    if (patterns.isEmpty())
        return false;
    const QString lowered = url.toLower();
    for (const QString &pattern : patterns) {
        if (lowered.contains(pattern))
            return true;
    }
    return false;
}

} // namespace

void TabTracker::record(const QList<SafariTab> &tabs, const QSet<QString> &activeKeys, const QDateTime &now)
{
    QSet<QString> openKeys;
    openKeys.reserve(tabs.size());
    for (const SafariTab &tab : tabs) {
        QString key = tab.key();
        auto entry = m_lastActive.find(key);
        if (entry == m_lastActive.end())
            m_lastActive.insert(key, now);
        else if (activeKeys.contains(key))
            entry.value() = now;
        openKeys.insert(std::move(key));
    }
    m_lastActive.removeIf([&openKeys](const auto &entry) { return !openKeys.contains(entry.key()); });
}

QList<SafariTab> TabTracker::staleTabs(const QList<SafariTab> &tabs, qint64 days, const QDateTime &now,
                                       const QStringList &neverSweep) const
{
    // Compared in milliseconds held as doubles, so no value of days can overflow.
    const double cutoff = double(now.toMSecsSinceEpoch()) + double(days) * -86400.0 * 1000.0;
    const QStringList patterns = sweepPatterns(neverSweep);
    QList<SafariTab> idle;
    for (const SafariTab &tab : tabs) {
        if (isProtected(tab.url(), patterns))
            continue;
        const auto entry = m_lastActive.constFind(tab.key());
        if (entry == m_lastActive.cend())
            continue;
        if (double(entry.value().toMSecsSinceEpoch()) < cutoff)
            idle.append(tab);
    }
    return idle;
}

QByteArray TabTracker::toJson() const
{
    // Written by hand: a JSON object keeps its members sorted, which makes building one with
    // many members quadratic.
    QString text;
    text.reserve(32 + m_lastActive.size() * 64);
    text += u"{\"lastActive\":{";
    bool first = true;
    for (auto it = m_lastActive.cbegin(); it != m_lastActive.cend(); ++it) {
        if (!first)
            text += u',';
        first = false;
        appendJsonString(text, it.key());
        text += u':';
        text += QString::number(toReferenceSeconds(it.value()), 'f', 3);
    }
    text += u"}}";
    return text.toUtf8();
}

std::optional<TabTracker> TabTracker::fromJson(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue entries = document.object().value(QLatin1String("lastActive"));
    if (!entries.isObject())
        return std::nullopt;
    const QJsonObject object = entries.toObject();
    QHash<QString, QDateTime> lastActive;
    lastActive.reserve(object.size());
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isDouble())
            return std::nullopt;
        lastActive.insert(it.key(), fromReferenceSeconds(it.value().toDouble()));
    }
    return TabTracker(std::move(lastActive));
}
