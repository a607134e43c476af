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

    friend bool operator==(const TabTracker &, const TabTracker &) = default;

private:
    QHash<QString, QDateTime> m_lastActive;
};
