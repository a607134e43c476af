#include "FileSizeLimit.h"
#include "ModelHarness.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QSignalSpy>

namespace {

using Standin::Tab;
using Standin::Window;

// One window: a current tab, an idle one, one a pattern may protect, another idle one and one
// that will not close.
void openTabs()
{
    Standin::setWindows({Window{7, 1, {
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
    void init() { QDir(QDir::homePath()).removeRecursively(); }

    // Archive first, close second; a restart keeps idle times and patterns; a tab that would not
    // close is archived once by the polls but again by hand; the first notification explains
    // itself, later ones (also after a restart) are short.
    void idleTabsAreArchivedBeforeTheyAreClosed()
    {
        openTabs();
        ModelHarness h;
        h.model->addNeverSweep(QStringLiteral("news.EXAMPLE.org"));
        h.model->tick();
        h.makeModel();
        h.advanceDays(8);
        h.model->tick();

        const QStringList left{"https://current.example/", "https://News.Example.org/kept", "https://stuck.example/"};
        QCOMPARE(Standin::openUrls(), left);
        QCOMPARE(h.unarchivedCloses, QStringList());
        QCOMPARE(TestFiles::read(h.model->settings().archiveFolder() + u"/2026-03-22.md"_qs),
                 QByteArray("# Swept tabs — 2026-03-22\n\n"
                            "- [Idle (A)](https://idle.example/a) · 09:00\n"
                            "- [https://idle.example/b](https://idle.example/b) · 09:00\n"
                            "- [Stuck](https://stuck.example/) · 09:00\n"));
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 3 tabs · 09:00"));
        QCOMPARE(h.notifications.size(), 1);
        QCOMPARE(h.notifications[0].title, QStringLiteral("Swept 3 idle tabs"));
        QCOMPARE(h.notifications[0].body, QStringLiteral("Tabs untouched for 7 days were archived to your folder and closed — "
                                                         "nothing is lost, reopen any from the menu."));
        // The poll that ends the sweep counts what is left: the tab that would not close is idle still.
        QCOMPARE(h.model->trackedCount(), 3);
        QCOMPARE(h.model->staleCount(), 1);
        QCOMPARE(h.model->lastTabs().size(), 3);

        for (int i = 0; i < 3; ++i)
            h.pollAgainAfter(1);
        QCOMPARE(Standin::log().count(QStringLiteral("close 7 \"https://stuck.example/\" error -10000")), 1);
        QCOMPARE(h.notifications.size(), 1);
        h.model->sweepNow();
        QCOMPARE(h.archivedUrls(), // the newest day's file first
                 (QStringList{"https://stuck.example/", "https://idle.example/a", "https://idle.example/b",
                               "https://stuck.example/"}));
        QCOMPARE(h.notifications.size(), 1); // a sweep asked for by hand tells nobody

        h.makeModel();
        Standin::setWindows({Window{7, 1, {Tab{"https://current.example/", "C"}, Tab{"https://later.example/", "L"}}}});
        h.pollAgainAfter(8);
        QCOMPARE(h.notifications.size(), 2);
        QCOMPARE(h.notifications[1].title, QStringLiteral("Swept 1 idle tab"));
        QCOMPARE(h.notifications[1].body, QStringLiteral("Archived to your folder and closed. Reopen any from the menu."));
        QVERIFY(h.notifications[0].identifier != h.notifications[1].identifier);
    }

    // Closes past one that the engine did not answer in time are not tried: each would make the
    // app wait as long again. Those tabs stay archived and open.
    void aWedgedEngineEndsTheSweepsCloses()
    {
        openTabs();
        ModelHarness h;
        const QString attempts = QDir::homePath() + u"/close-attempts"_qs;
        const QString script
                = u"script=$(cat); case $script in *'close t'*) echo >>\"$1\"; sleep 5;; esac; printf '%s' \"$script\" | exec \"$0\""_qs;
        h.engine.script = {u"/bin/sh"_qs, {u"-c"_qs, script, Standin::program(), attempts}};
        h.engine.timeLimit = std::chrono::milliseconds(1000);
        h.makeModel();
        h.pollAgainAfter(8);
        QCOMPARE(TestFiles::read(attempts), QByteArray("\n"));
        QCOMPARE(h.archivedUrls().size(), 4);
        QCOMPARE(Standin::openUrls().size(), 5);
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 4 tabs · 09:00"));
    }

    // No tab closes when the archive cannot be written, automatically or by hand; a full disk (a
    // file-size limit, which stops root too) leaves every file as it was, the settings changed
    // meanwhile are saved with the next change, and with room again the next poll sweeps, also
    // when settings and tracker cannot be saved at all.
    void nothingClosesWhenTheDiskIsFull()
    {
        openTabs();
        ModelHarness h;
        const QString data = QDir::homePath() + u"/.local/share"_qs;
        h.model->tick();
        h.advanceDays(8);
        const QMap<QString, QByteArray> before = TestFiles::contents(data);
        {
            const FileSizeLimit full(64);
            h.model->tick();
            h.model->sweepNow();
            h.model->addNeverSweep(u"unrelated.example"_qs);
        }
        QCOMPARE(h.model->lastSweepSummary(), u"Couldn't save the archive — tabs left open."_qs);
        QCOMPARE(Standin::openUrls().size(), 5);
        QVERIFY(h.notifications.isEmpty());
        QCOMPARE(TestFiles::contents(data), before);
        h.model->setPaused(false);
        QCOMPARE(Settings::load().neverSweep, QStringList{"unrelated.example"});
        const QString folder = Settings::applicationFolder();
        QVERIFY(QDir(folder).removeRecursively());
        TestFiles::write(folder, "not a folder");
        h.model->addNeverSweep(u"other.example"_qs);
        h.model->tick();
        QCOMPARE(Standin::openUrls().size(), 2);
        QCOMPARE(TestFiles::read(folder), QByteArray("not a folder"));
    }

    // Paused polls record and count but do not sweep; a sweep by hand does, and takes only tabs
    // that a poll has seen.
    void pausedPollsRecordButOnlyAManualSweepCloses()
    {
        openTabs();
        ModelHarness h;
        h.model->setPaused(true);
        h.pollAgainAfter(8);
        QCOMPARE(h.model->staleCount(), 4);
        QCOMPARE(Standin::openUrls().size(), 5);
        QCOMPARE(TabTracker::fromJson(TestFiles::read(DrowsewickModel::trackerPath()))->lastActive().size(), 5);

        Standin::setWindows({Window{7, 1, {Tab{"https://current.example/", "Current"}, Tab{"https://idle.example/a", "Idle"},
                                           Tab{"https://unseen.example/", "Unseen"}}}});
        h.model->sweepNow();
        QCOMPARE(Standin::openUrls(), (QStringList{"https://current.example/", "https://unseen.example/"}));
    }

    // A failed poll changes only the counts; a refused one also shows the refusal, which only the
    // next good poll takes back. The menu commands change nothing when their snapshot fails.
    void failedPollsChangeOnlyTheCounts()
    {
        openTabs();
        ModelHarness h;
        h.model->tick();
        const QByteArray tracker = TestFiles::read(DrowsewickModel::trackerPath());
        const QList<SafariTab> tabs = h.model->lastTabs();
        const QJsonObject working = Standin::state();
        QJsonObject denied = working, failing = working;
        denied.insert(u"automation"_qs, u"denied"_qs);
        failing.insert(u"snapshotError"_qs, -1728);
        Standin::writeState(denied);
        h.model->sweepNow();
        h.model->saveAllOpenTabs();
        QVERIFY(!h.model->permissionDenied());
        for (const QJsonObject &state : {denied, failing}) {
            Standin::writeState(state);
            h.advanceDays(1);
            h.model->tick();
            QVERIFY(h.model->permissionDenied());
            QCOMPARE(h.model->trackedCount(), 0);
            QCOMPARE(h.model->lastTabs(), tabs);
            QCOMPARE(TestFiles::read(DrowsewickModel::trackerPath()), tracker);
            h.model->sweepNow();
            h.model->saveAllOpenTabs();
            QCOMPARE(h.model->lastSweepSummary(), QString());
        }
        Standin::writeState(working);
        h.model->tick();
        QVERIFY(!h.model->permissionDenied());
    }

    void manualCommandsReportTheirOutcome()
    {
        Standin::setWindows({});
        ModelHarness h;
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("No open tabs to save."));
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Nothing idle to sweep."));
        QVERIFY(!QFileInfo::exists(h.model->settings().archiveFolder()));

        Standin::setWindows({Window{1, 1, {Tab{"https://one.example/", "One"}}}});
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Saved 1 open tabs → all-tabs-2026-03-14-090000.md"));
        QCOMPARE(Standin::openUrls(), QStringList{"https://one.example/"});
        // By the times of the last poll, which saw the current tab 8 days ago.
        h.model->tick();
        h.advanceDays(8);
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Swept 1 tab · 09:00"));
    }

    // The sites offered as patterns: hosts of the last poll's tabs, case folded, without ports or
    // duplicates, sorted; an address with a query a strict parser refuses still has its host.
    void openHostsAreTheSitesOfTheLastPoll()
    {
        Standin::setWindows({Window{1, 1, {
            Tab{"https://B.example.com/x", "b"}, Tab{"https://a.example.com/", "a"}, Tab{"http://b.example.com:8080/", "b again"},
            Tab{"", "empty"}, Tab{"about:blank", "blank"}, Tab{"https://c.example.com/?q={a}|b c", "query"},
        }}});
        ModelHarness h;
        QVERIFY(h.model->openHosts().isEmpty());
        h.model->tick();
        QCOMPARE(h.model->openHosts(), (QStringList{"a.example.com", "b.example.com", "c.example.com"}));
    }

    // Patterns are trimmed and lower-cased on the way in, never twice, and saved at once; a
    // removal takes every copy of exactly what is stored. The folder chooser starts where the
    // archive is, and a folder to open is made first.
    void neverSweepPatternsAndTheFolderAreSavedAtOnce()
    {
        ModelHarness h;
        QSignalSpy changed(h.model.get(), &DrowsewickModel::settingsChanged);
        h.model->addNeverSweep(QStringLiteral("  News.Example.org\n"));
        h.model->addNeverSweep(QStringLiteral("news.example.org"));
        h.model->addNeverSweep(QStringLiteral(" \t\n "));
        QCOMPARE(Settings::load().neverSweep, QStringList{"news.example.org"});
        QCOMPARE(changed.size(), 1);
        h.changeSettings([](Settings &s) {
            s.neverSweep = {QStringLiteral("dup"), QStringLiteral("keep"), QStringLiteral("dup")};
        });
        h.model->removeNeverSweep(QStringLiteral("dup"));
        QCOMPARE(Settings::load().neverSweep, QStringList{"keep"});

        const QString before = h.model->settings().archiveFolderPath;
        const QString chosen = QDir::homePath() + QStringLiteral("/deep/er/Archive");
        h.dialogs.folders << std::nullopt << chosen;
        h.model->chooseArchiveFolder();
        QCOMPARE(Settings::load().archiveFolderPath, before);
        h.model->chooseArchiveFolder();
        QCOMPARE(Settings::load().archiveFolderPath, chosen);
        QCOMPARE(h.dialogs.folderPrompts.first(),
                 before + QStringLiteral("|Choose|Choose where Drowsewick saves your archived tabs"));
        QCOMPARE(h.dialogs.activations, 2);
        h.model->openArchiveFolder();
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(chosen)});
    }

    // The first poll at once, then one per interval: at least 15 seconds, and a value past what
    // a timer can hold held at its longest.
    void startPollsOnceAndThenWaitsForTheTimer()
    {
        openTabs();
        ModelHarness h;
        h.changeSettings([](Settings &s) { s.pollSeconds = -5; });
        Standin::clearLog();
        h.model->start();
        QCOMPARE(h.permissionRequests, 1);
        QCOMPARE(h.model->trackedCount(), 5);
        QTest::qWait(50);
        QCOMPARE(Standin::log().count(u"snapshot"_qs), 1);
        QCOMPARE(h.model->timerInterval(), 15000);
        h.changeSettings([](Settings &s) { s.pollSeconds = 10'000'000'000; });
        h.model->restartTimer();
        QCOMPARE(h.model->timerInterval(), (INT_MAX / 1000) * 1000);
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickModel, QCoreApplication)
#include "tst_DrowsewickModel.moc"
