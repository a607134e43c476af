#pragma once

#include "SafariTab.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <optional>

// For every open tab, the last moment it was current in its window (or first seen). Decides
// which open tabs have been idle for a number of days.
class TabTracker
{
public:
    TabTracker() = default;
    explicit TabTracker(QHash<QString, QDateTime> lastActive) : m_lastActive(std::move(lastActive)) {}

    const QHash<QString, QDateTime> &lastActive() const { return m_lastActive; }

    void record(const QList<SafariTab> &tabs, const QSet<QString> &activeKeys, const QDateTime &now);
    QList<SafariTab> staleTabs(const QList<SafariTab> &tabs, qint64 days, const QDateTime &now,
                               const QStringList &neverSweep) const;

    // The file form: {"lastActive": {key: seconds since 2001-01-01 UTC, ...}}, compact.
    QByteArray toJson() const;
    static std::optional<TabTracker> fromJson(const QByteArray &json);

    friend bool operator==(const TabTracker &a, const TabTracker &b) { return a.m_lastActive == b.m_lastActive; }

private:
    // A tab's key, and when it was last current: nothing for a tab never recorded.
    struct Previous
    {
        QString key;
        const QDateTime *time;
    };

    // Between two polls the tabs mostly keep their order: what the last record knew of a tab is
    // read at the tab's place in the list first, and looked up only where another tab was there.
    bool wasRecordedAt(const SafariTab &tab, qsizetype at) const;
    const QDateTime *lastActiveOf(const SafariTab &tab, qsizetype at) const;
    Previous previousOf(const SafariTab &tab, qsizetype at) const;

    QHash<QString, QDateTime> m_lastActive;
    // Each recorded tab, its key and its time, in the list's order: the tick row of scripts/bench.
    QList<SafariTab> m_recordedTabs;
    QList<QString> m_recordedKeys;
    QList<QDateTime> m_recordedTimes;
};
