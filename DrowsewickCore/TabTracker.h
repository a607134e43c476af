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
    // When the tab was last current, or nothing for a tab never recorded.
    const QDateTime *find(const SafariTab &tab) const;

    QHash<QString, QDateTime> m_lastActive;
    // The tabs last recorded and the time of each, in their order. Asked about that same list,
    // staleTabs reads the times from here instead of looking every tab up in the map, which with
    // a hundred thousand tabs means a trip to memory for each.
    QList<SafariTab> m_recordedTabs;
    QList<QDateTime> m_recordedTimes;
};
