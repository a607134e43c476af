#include "ModelHarness.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <functional>

namespace {

using StandinControl::Tab;
using StandinControl::Window;

void emptyHome()
{
    for (const QFileInfo &entry : QDir(QDir::homePath()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (entry.fileName() != QLatin1String("runtime"))
            entry.isDir() ? void(QDir(entry.filePath()).removeRecursively()) : void(QFile::remove(entry.filePath()));
    }
}

QStringList archivedUrls(const DrowsewickModel &model)
{
    QStringList urls;
    for (const ArchivedTab &entry : Archive::all(model.settings().archiveFolder()))
        urls.append(entry.url);
    return urls;
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Changes the settings through the controller, as the settings window does.
void changeSettings(ModelHarness &h, const std::function<void(Settings &)> &change)
{
    Settings settings = h.model->settings();
    change(settings);
    h.model->setSettings(settings);
}

// A poll now and another one the given number of days later.
void pollAgainAfter(ModelHarness &h, double days)
{
    h.model->tick();
    h.advanceDays(days);
    h.model->tick();
}

// One window: a current tab, an idle one, one protected by a pattern, another idle one and one
// that will not close.
void openTabs()
{
    StandinControl::setWindows({Window{7, 1, {
        Tab{"https://current.example/", "Current"},
        Tab{"https://idle.example/a", "Idle [A]"},
        Tab{"https://News.Example.org/kept", "Protected"},
        Tab{"https://idle.example/b", ""},
        Tab{"https://stuck.example/", "Stuck", true},
    }}});
}

} // namespace

class TestDrowsewickModel : public QObject
{
    Q_OBJECT

private slots:
    void init() { emptyHome(); }

    void idleTabsAreArchivedBeforeTheyAreClosed()
    {
        openTabs();
        ModelHarness h;
        h.model->addNeverSweep(QStringLiteral("news.EXAMPLE.org"));
        h.model->tick();
        // Restarted in between: the idle times and the pattern come back from their files.
        h.makeModel();
        h.advanceDays(8);
        h.model->tick();

        const QStringList left{"https://current.example/", "https://News.Example.org/kept", "https://stuck.example/"};
        QCOMPARE(StandinControl::openUrls(), left);
        QCOMPARE(h.unarchivedCloses, QStringList());
        QCOMPARE(fileContents(h.model->settings().archiveFolder() + QStringLiteral("/2026-03-22.md")),
                 QByteArray("# Swept tabs — 2026-03-22\n\n"
                            "- [Idle (A)](https://idle.example/a) · 09:00\n"
                            "- [https://idle.example/b](https://idle.example/b) · 09:00\n"
                            "- [Stuck](https://stuck.example/) · 09:00\n"));
        // The tab that would not close is archived, so it counts as swept.
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 3 tabs · 09:00"));
        QCOMPARE(h.notifications.size(), 1);
        QCOMPARE(h.notifications[0].title, QStringLiteral("Swept 3 idle tabs"));
        // The poll that ends the sweep counts what is left: the tab that would not close is idle still.
        QCOMPARE(h.model->trackedCount(), 3);
        QCOMPARE(h.model->staleCount(), 1);
        QCOMPARE(h.model->lastTabs().size(), 3);

        // Later polls do not archive it again; a sweep asked for by hand does.
        for (int i = 0; i < 3; ++i) {
            h.advanceDays(1);
            h.model->tick();
        }
        QCOMPARE(StandinControl::log().count(QStringLiteral("close 7 \"https://stuck.example/\" error -10000")), 1);
        QCOMPARE(h.notifications.size(), 1);
        h.model->sweepNow();
        QCOMPARE(archivedUrls(*h.model), // the newest day's file first
                 (QStringList{"https://stuck.example/", "https://idle.example/a", "https://idle.example/b", "https://stuck.example/"}));
        QCOMPARE(StandinControl::openUrls(), left);
    }

    // Closes past one that the engine did not answer in time are not tried: each would make the
    // app wait as long again. Those tabs stay archived and open.
    void aWedgedEngineEndsTheSweepsCloses()
    {
        openTabs();
        ModelHarness h;
        const QString attempts = QDir::homePath() + QStringLiteral("/close-attempts");
        h.engine.script = {QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"),
                            QStringLiteral("script=$(cat); case $script in *'close t'*) echo >>\"$1\"; sleep 5;; esac;"
                                           " printf '%s' \"$script\" | exec \"$0\""),
                            StandinControl::engine().script.program, attempts}};
        h.engine.timeLimit = std::chrono::milliseconds(1000);
        h.makeModel();
        pollAgainAfter(h, 8);
        QCOMPARE(fileContents(attempts), QByteArray("\n"));
        QCOMPARE(archivedUrls(*h.model), (QStringList{"https://idle.example/a", "https://News.Example.org/kept",
                                                      "https://idle.example/b", "https://stuck.example/"}));
        QCOMPARE(StandinControl::openUrls().size(), 5);
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 4 tabs · 09:00"));
    }

    void nothingClosesWhenTheArchiveCannotBeWritten()
    {
        openTabs();
        ModelHarness h;
        // A file stands where a folder of the archive's path would have to be made.
        QFile blocker(QDir::homePath() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        changeSettings(h, [&](Settings &s) { s.archiveFolderPath = blocker.fileName() + QStringLiteral("/Archive"); });
        pollAgainAfter(h, 8);
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Couldn't save the archive — tabs left open."));
        QCOMPARE(StandinControl::openUrls().size(), 5);
        QVERIFY(h.notifications.isEmpty());
        h.model->sweepNow();
        QCOMPARE(StandinControl::openUrls().size(), 5);
    }

    void pausedPollsRecordButOnlyAManualSweepCloses()
    {
        openTabs();
        ModelHarness h;
        h.model->setPaused(true);
        pollAgainAfter(h, 8);
        QCOMPARE(h.model->staleCount(), 4);
        QCOMPARE(StandinControl::openUrls().size(), 5);
        QVERIFY(TabTracker::fromJson(fileContents(DrowsewickModel::trackerPath()))->lastActive().size() == 5);

        // A tab that no poll has seen is never idle for a manual sweep.
        StandinControl::setWindows({Window{7, 1, {Tab{"https://current.example/", "Current"},
                                                  Tab{"https://idle.example/a", "Idle"},
                                                  Tab{"https://unseen.example/", "Unseen"}}}});
        h.model->sweepNow();
        QCOMPARE(StandinControl::openUrls(), (QStringList{"https://current.example/", "https://unseen.example/"}));
        QVERIFY(h.notifications.isEmpty()); // a sweep asked for by hand tells nobody
        QCOMPARE(h.unarchivedCloses, QStringList());
    }

    void failedPollsChangeOnlyTheCounts()
    {
        openTabs();
        ModelHarness h;
        h.model->tick();
        const QByteArray tracker = fileContents(DrowsewickModel::trackerPath());
        const QList<SafariTab> tabs = h.model->lastTabs();
        const QJsonObject working = StandinControl::state();
        QJsonObject denied = working;
        denied.insert(QStringLiteral("automation"), QStringLiteral("denied"));
        QJsonObject failing = working;
        failing.insert(QStringLiteral("snapshotError"), -1728);
        // The menu commands change nothing when their snapshot is refused; only a poll says so.
        StandinControl::writeState(denied);
        h.model->sweepNow();
        h.model->saveAllOpenTabs();
        QVERIFY(!h.model->permissionDenied());
        // Denied first: a failure of another kind then leaves the denial shown.
        for (const QJsonObject &state : {denied, failing}) {
            StandinControl::writeState(state);
            h.advanceDays(1);
            h.model->tick();
            QVERIFY(h.model->permissionDenied());
            QCOMPARE(h.model->trackedCount(), 0);
            QCOMPARE(h.model->lastTabs(), tabs);
            QCOMPARE(fileContents(DrowsewickModel::trackerPath()), tracker);
            h.model->sweepNow();
            h.model->saveAllOpenTabs();
            QCOMPARE(h.model->lastSweepSummary(), QString());
        }

        StandinControl::writeState(working);
        h.model->tick();
        QVERIFY(!h.model->permissionDenied());
    }

    void aBrokenTrackerFileIsReplacedByTheFirstPoll()
    {
        openTabs();
        QDir().mkpath(Settings::applicationFolder());
        QFile broken(DrowsewickModel::trackerPath());
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"lastActive\":{\"7|https://idle.example/a\":\"yesterday\"}}");
        broken.close();
        ModelHarness h;
        h.model->tick();
        const std::optional<TabTracker> tracker = TabTracker::fromJson(fileContents(DrowsewickModel::trackerPath()));
        QVERIFY(tracker);
        QCOMPARE(tracker->lastActive().size(), 5);
        for (const QDateTime &time : tracker->lastActive())
            QCOMPARE(time, h.now);
        // It lists every open address: for this user's eyes only.
        QCOMPARE(QFile::permissions(DrowsewickModel::trackerPath()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    void notificationsExplainTheFirstSweepOnly()
    {
        ModelHarness h;
        changeSettings(h, [](Settings &s) { s.days = 1; });
        for (int round = 0; round < 3; ++round) {
            if (round == 2)
                h.makeModel(); // the flag lives in the user defaults, across restarts
            StandinControl::setWindows({Window{1, 1, {Tab{"https://current.example/", "C"},
                                                      Tab{QStringLiteral("https://idle.example/%1").arg(round), "I"}}}});
            pollAgainAfter(h, 2);
        }
        QCOMPARE(h.notifications.size(), 3);
        QCOMPARE(h.notifications[0].title, QStringLiteral("Swept 1 idle tab"));
        QCOMPARE(h.notifications[0].body,
                 QStringLiteral("Tabs untouched for 1 days were archived to your folder and closed — nothing is lost, "
                                "reopen any from the menu."));
        for (int i = 1; i < 3; ++i)
            QCOMPARE(h.notifications[i].body, QStringLiteral("Archived to your folder and closed. Reopen any from the menu."));
        // Each notification has an identifier of its own, so none replaces another.
        QVERIFY(h.notifications[0].identifier != h.notifications[1].identifier);
    }

    void manualCommandsReportTheirOutcome()
    {
        StandinControl::setWindows({});
        ModelHarness h;
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("No open tabs to save."));
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Nothing idle to sweep."));
        QVERIFY(!QFileInfo::exists(h.model->settings().archiveFolder()));

        StandinControl::setWindows({Window{1, 1, {Tab{"https://one.example/", "One"}}}});
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Saved 1 open tabs → all-tabs-2026-03-14-090000.md"));
        QCOMPARE(StandinControl::openUrls(), QStringList{"https://one.example/"});
        // A manual sweep goes by the times of the last poll, which saw the current tab 8 days ago.
        h.model->tick();
        h.advanceDays(8);
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 1 tab · 09:00"));
    }

    void openHostsFoldsCaseAndDropsPortsAndDuplicates()
    {
        StandinControl::setWindows({Window{1, 1, {
            Tab{"https://B.example.com/x", "b"},
            Tab{"https://a.example.com/", "a"},
            Tab{"http://b.example.com:8080/", "b again"},
            Tab{"", "empty"},
            Tab{"about:blank", "blank"},
            Tab{"not a url at all", "text"},
            Tab{"https://c.example.com/?q={a}|b c", "query with braces, a bar and a space"},
        }}});
        ModelHarness h;
        QVERIFY(h.model->openHosts().isEmpty());
        h.model->tick();
        QCOMPARE(h.model->openHosts(), (QStringList{"a.example.com", "b.example.com", "c.example.com"}));
    }

    void neverSweepPatternsAreNormalizedAndSavedAtOnce()
    {
        ModelHarness h;
        QSignalSpy changed(h.model.get(), &DrowsewickModel::settingsChanged);
        h.model->addNeverSweep(QStringLiteral("  News.Example.org\n"));
        QCOMPARE(h.model->settings().neverSweep, QStringList{"news.example.org"});
        QCOMPARE(Settings::load().neverSweep, QStringList{"news.example.org"});
        // Nothing to change: no new setting is made, or saved.
        h.model->addNeverSweep(QStringLiteral("news.example.org"));
        h.model->addNeverSweep(QStringLiteral(" \t\n "));
        QCOMPARE(changed.size(), 1);

        changeSettings(h, [](Settings &s) { s.neverSweep = {QStringLiteral("dup"), QStringLiteral("keep"), QStringLiteral("dup")}; });
        h.model->removeNeverSweep(QStringLiteral("dup"));
        QCOMPARE(Settings::load().neverSweep, QStringList{"keep"});
    }

    void theArchiveFolderIsChosenAndOpened()
    {
        ModelHarness h;
        const QString before = h.model->settings().archiveFolderPath;
        h.dialogs.folders.enqueue(std::nullopt);
        h.model->chooseArchiveFolder();
        QCOMPARE(h.model->settings().archiveFolderPath, before);
        QCOMPARE(h.dialogs.folderPrompts,
                 QStringList{before + QStringLiteral("|Choose|Choose where Drowsewick saves your archived tabs")});

        const QString chosen = QDir::homePath() + QStringLiteral("/deep/er/Archive");
        h.dialogs.folders.enqueue(chosen);
        h.model->chooseArchiveFolder();
        QCOMPARE(Settings::load().archiveFolderPath, chosen);
        QCOMPARE(h.dialogs.activations, 2);
        // Opening the folder makes it first.
        h.model->openArchiveFolder();
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(chosen)});
    }

    void pollingInterval_data()
    {
        QTest::addColumn<qint64>("pollSeconds");
        QTest::addColumn<int>("milliseconds");
        QTest::newRow("1") << qint64(1) << 15000;
        QTest::newRow("-5") << qint64(-5) << 15000;
        QTest::newRow("15") << qint64(15) << 15000;
        QTest::newRow("past what a timer holds") << qint64(10000000000) << (INT_MAX / 1000) * 1000;
    }
    void pollingInterval()
    {
        QFETCH(qint64, pollSeconds);
        QFETCH(int, milliseconds);
        ModelHarness h;
        changeSettings(h, [&](Settings &s) { s.pollSeconds = pollSeconds; });
        QVERIFY(!h.model->timerInterval());
        h.model->restartTimer();
        QCOMPARE(h.model->timerInterval(), milliseconds);
    }

    void startPollsOnceAndThenWaitsForTheTimer()
    {
        openTabs();
        ModelHarness h;
        StandinControl::clearLog();
        h.model->start();
        QCOMPARE(h.permissionRequests, 1);
        QCOMPARE(h.model->trackedCount(), 5);
        QTest::qWait(50);
        QCOMPARE(StandinControl::log().count(QStringLiteral("snapshot")), 1);
        QCOMPARE(h.model->timerInterval(), 3600000);
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickModel, QCoreApplication)
#include "tst_DrowsewickModel.moc"
