#include "TabTracker.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QJsonObject>

#include <algorithm>
#include <array>
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

// The key as a JSON string, in UTF-8. Written by hand: a JSON object keeps its members sorted,
// which makes building one with many members quadratic.
void appendJsonString(QByteArray &json, QStringView value)
{
    json += '"';
    qsizetype plain = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c != u'"' && c != u'\\' && c >= 0x20)
            continue;
        json += value.sliced(plain, i - plain).toUtf8();
        json += '\\';
        json += c < 0x20 ? "u00" + QByteArray::number(c, 16).rightJustified(2, '0') : QByteArray(1, char(c));
        plain = i + 1;
    }
    json += value.sliced(plain).toUtf8();
    json += '"';
}

bool isAscii(QStringView text)
{
    // One pass without branches, which the compiler turns into wide instructions.
    char16_t all = 0;
    for (QChar c : text)
        all |= c.unicode();
    return all < 0x80;
}

char16_t folded(char16_t c)
{
    return char16_t(c - u'A') < 26 ? char16_t(c + (u'a' - u'A')) : c;
}

// The never-sweep patterns in lower case, the empty ones dropped, grouped by their first
// character: an address is searched in one pass, comparing at each position only the patterns
// that begin with its character.
class SweepPatterns
{
public:
    explicit SweepPatterns(const QStringList &neverSweep)
    {
        for (const QString &entry : neverSweep) {
            QString pattern = entry.toLower();
            if (!pattern.isEmpty())
                m_byFirst[group(pattern.front().unicode())].append(std::move(pattern));
        }
        m_isEmpty = std::all_of(m_byFirst.cbegin(), m_byFirst.cend(), [](const QStringList &list) { return list.isEmpty(); });
    }

    // Whether a pattern occurs anywhere in the address, case ignored as lower case ignores it.
    bool protects(const QString &url) const
    {
        if (m_isEmpty)
            return false;
        // An ASCII address's lower case differs from it only in the letters A-Z, which the
        // comparison folds; others are lowered first.
        return isAscii(url) ? occursIn(url) : occursIn(url.toLower());
    }

private:
    static qsizetype group(char16_t c) { return std::min<qsizetype>(c, 0x80); }

    bool occursIn(QStringView text) const
    {
        for (qsizetype at = 0; at < text.size(); ++at) {
            for (const QString &pattern : m_byFirst[group(folded(text[at].unicode()))]) {
                if (startsWithFolded(text.sliced(at), pattern))
                    return true;
            }
        }
        return false;
    }

    static bool startsWithFolded(QStringView text, QStringView pattern)
    {
        return text.size() >= pattern.size()
            && std::equal(pattern.begin(), pattern.end(), text.begin(),
                          [](QChar p, QChar c) { return p.unicode() == folded(c.unicode()); });
    }

    // One group for each ASCII character, and one for all others.
    std::array<QStringList, 0x81> m_byFirst;
    bool m_isEmpty = true;
};

} // namespace

void TabTracker::record(const QList<SafariTab> &tabs, const QSet<QString> &activeKeys, const QDateTime &now)
{
    // Made anew from the open tabs, so that the entries of tabs that are gone are left behind
    // without a second pass over them.
    QHash<QString, QDateTime> recorded;
    recorded.reserve(tabs.size());
    QList<QString> keys;
    keys.reserve(tabs.size());
    QList<QDateTime> times;
    times.reserve(tabs.size());
    for (qsizetype at = 0; at < tabs.size(); ++at) {
        const Previous previous = previousOf(tabs[at], at);
        const QDateTime time = previous.time && !activeKeys.contains(previous.key) ? *previous.time : now;
        recorded.insert(previous.key, time);
        keys.append(previous.key);
        times.append(time);
    }
    m_lastActive = std::move(recorded);
    m_recordedTabs = tabs;
    m_recordedKeys = std::move(keys);
    m_recordedTimes = std::move(times);
}

bool TabTracker::wasRecordedAt(const SafariTab &tab, qsizetype at) const
{
    return at < m_recordedTabs.size() && m_recordedTabs[at].windowID() == tab.windowID()
        && m_recordedTabs[at].url() == tab.url();
}

const QDateTime *TabTracker::lastActiveOf(const SafariTab &tab, qsizetype at) const
{
    if (wasRecordedAt(tab, at))
        return &m_recordedTimes[at];
    const auto entry = m_lastActive.constFind(tab.key());
    return entry == m_lastActive.cend() ? nullptr : &entry.value();
}

TabTracker::Previous TabTracker::previousOf(const SafariTab &tab, qsizetype at) const
{
    if (wasRecordedAt(tab, at))
        return {m_recordedKeys[at], &m_recordedTimes[at]};
    QString key = tab.key();
    const auto entry = m_lastActive.constFind(key);
    if (entry == m_lastActive.cend())
        return {std::move(key), nullptr};
    // The key it had is kept: no new memory for the tabs that stay open.
    return {entry.key(), &entry.value()};
}

QList<SafariTab> TabTracker::staleTabs(const QList<SafariTab> &tabs, qint64 days, const QDateTime &now,
                                       const QStringList &neverSweep) const
{
    // Compared in milliseconds held as doubles, so no value of days can overflow.
    const double cutoff = double(now.toMSecsSinceEpoch()) + double(days) * -86400.0 * 1000.0;
    const SweepPatterns patterns(neverSweep);
    QList<SafariTab> idle;
    idle.reserve(tabs.size());
    for (qsizetype i = 0; i < tabs.size(); ++i) {
        const SafariTab &tab = tabs[i];
        if (patterns.protects(tab.url()))
            continue;
        const QDateTime *lastActive = lastActiveOf(tab, i);
        if (lastActive && double(lastActive->toMSecsSinceEpoch()) < cutoff)
            idle.append(tab);
    }
    return idle;
}

QByteArray TabTracker::toJson() const
{
    QByteArray json;
    json.reserve(32 + m_lastActive.size() * 160);
    json += "{\"lastActive\":{";
    for (auto it = m_lastActive.cbegin(); it != m_lastActive.cend(); ++it) {
        if (it != m_lastActive.cbegin())
            json += ',';
        appendJsonString(json, it.key());
        json += ':';
        json += QByteArray::number(toReferenceSeconds(it.value()), 'f', 3);
    }
    json += "}}";
    return json;
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
