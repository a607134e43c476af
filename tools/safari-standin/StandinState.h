#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <stdexcept>

struct StandinTab
{
    QString url;
    QString title;
    bool closeFails = false;
    bool unreadable = false;

    friend bool operator==(const StandinTab &, const StandinTab &) = default;
};

struct StandinWindow
{
    qint64 id = 0;
    // 1-based; 0 or out of range means Safari cannot say which tab is current.
    qint64 current = 0;
    QList<StandinTab> tabs;

    bool hasCurrentTab() const { return current >= 1 && current <= tabs.size(); }

    friend bool operator==(const StandinWindow &, const StandinWindow &) = default;
};

// A state file that is not JSON of the expected shape.
class InvalidState : public std::runtime_error
{
public:
    explicit InvalidState(const QString &reason) : std::runtime_error(reason.toStdString()) {}
};

// Safari as far as its scripting can see it: whether it runs, its windows in front-to-back order
// and their tabs, plus the faults a test asks it to simulate.
struct StandinState
{
    bool running = false;
    bool automationDenied = false;
    qint64 delayMs = 0;
    qint64 snapshotError = 0;
    QList<StandinWindow> windows;

    // Throws InvalidState.
    static StandinState fromJson(const QByteArray &json);
    QByteArray toJson() const;

    void start();
    void quit();
    void openTab(const QString &url, const QString &title);
    bool select(qint64 windowID, qint64 index);

    enum class CloseOutcome { closed, notFound, refused };
    CloseOutcome closeTab(qint64 windowID, QStringView url, Qt::CaseSensitivity addressCase);

    // The snapshot script's result: one record per readable tab.
    QString snapshotText() const;

    friend bool operator==(const StandinState &, const StandinState &) = default;
};
