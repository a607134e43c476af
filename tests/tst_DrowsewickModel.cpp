#include "ModelHarness.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>

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

QString dayFile(const DrowsewickModel &model, const QString &day = QStringLiteral("2026-03-22"))
{
    return model.settings().archiveFolder() + u'/' + day + QStringLiteral(".md");
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

int countOf(const QStringList &lines, const QString &line)
{
    return int(lines.count(line));
}

QString settingsPath()
{
    return Settings::applicationFolder() + QStringLiteral("/settings.json");
}

// One window: a current tab, an idle one, one protected by a pattern, another idle one.
void openFourTabs()
{
    StandinControl::setWindows({Window{7, 1, {
        Tab{"https://current.example/", "Current"},
        Tab{"https://idle.example/a", "Idle [A]"},
        Tab{"https://News.Example.org/kept", "Protected"},
        Tab{"https://idle.example/b", ""},
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
        openFourTabs();
        ModelHarness h;
        h.model->addNeverSweep(QStringLiteral("news.EXAMPLE.org"));
        h.model->tick();
        QCOMPARE(h.model->trackedCount(), 4);
        QCOMPARE(h.model->staleCount(), 0);
        h.advanceDays(8);
        h.model->tick();

        QCOMPARE(StandinControl::openUrls(), (QStringList{"https://current.example/", "https://News.Example.org/kept"}));
        QCOMPARE(h.unarchivedCloses, QStringList());
        QCOMPARE(fileContents(dayFile(*h.model)),
                 QByteArray("# Swept tabs — 2026-03-22\n\n"
                            "- [Idle (A)](https://idle.example/a) · 09:00\n"
                            "- [https://idle.example/b](https://idle.example/b) · 09:00\n"));
        QCOMPARE(h.model->lastSweepSummary(),
                 QStringLiteral("Swept 2 tabs · ") + QLocale().toString(h.now.toLocalTime(), QStringLiteral("HH:mm")));
        // The poll that ends the sweep counts what is left.
        QCOMPARE(h.model->trackedCount(), 2);
        QCOMPARE(h.model->staleCount(), 0);
        QCOMPARE(h.model->lastTabs().size(), 2);
        QCOMPARE(h.notifications.size(), 1);
        QCOMPARE(h.notifications[0].title, QStringLiteral("Swept 2 idle tabs"));
    }

    void aTabThatWillNotCloseIsArchivedOnce()
    {
        StandinControl::setWindows({Window{1, 1, {Tab{"https://a.example/", "A"}, Tab{"https://stuck.example/", "Stuck", true}}}});
        ModelHarness h;
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        QVERIFY(QRegularExpression(QStringLiteral("^Swept 1 tab · \\d\\d:\\d\\d$")).match(h.model->lastSweepSummary()).hasMatch());
        QCOMPARE(StandinControl::openUrls(), (QStringList{"https://a.example/", "https://stuck.example/"}));
        QCOMPARE(h.model->staleCount(), 1); // still idle, as the poll after the sweep counts it
        for (int i = 0; i < 3; ++i) {
            h.advanceDays(1);
            h.model->tick();
        }
        QCOMPARE(archivedUrls(*h.model), QStringList{"https://stuck.example/"});
        QCOMPARE(h.notifications.size(), 1);
        QCOMPARE(countOf(StandinControl::log(), QStringLiteral("close 1 \"https://stuck.example/\" error -10000")), 1);
        // Asked for by hand, it is swept again.
        h.model->sweepNow();
        QCOMPARE(archivedUrls(*h.model), (QStringList{"https://stuck.example/", "https://stuck.example/"}));
    }

    void nothingClosesWhenTheArchiveCannotBeWritten()
    {
        openFourTabs();
        ModelHarness h;
        QFile blocker(QDir::homePath() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Settings settings = h.model->settings();
        settings.archiveFolderPath = blocker.fileName() + QStringLiteral("/Archive");
        h.model->setSettings(settings);
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Couldn't save the archive — tabs left open."));
        QCOMPARE(StandinControl::openUrls().size(), 4);
        QVERIFY(h.notifications.isEmpty());
        h.model->sweepNow();
        QCOMPARE(StandinControl::openUrls().size(), 4);
    }

    void pausedPollsRecordButOnlyAManualSweepCloses()
    {
        openFourTabs();
        ModelHarness h;
        h.model->setPaused(true);
        h.model->tick();
        h.advanceDays(8);
        StandinControl::clearLog();
        h.model->tick();
        QCOMPARE(h.model->staleCount(), 3);
        QCOMPARE(StandinControl::openUrls().size(), 4);
        QVERIFY(TabTracker::fromJson(fileContents(DrowsewickModel::trackerPath()))->lastActive().size() == 4);

        // A tab that no poll has seen is never idle for a manual sweep.
        StandinControl::setWindows({Window{7, 1, {Tab{"https://current.example/", "Current"},
                                                  Tab{"https://idle.example/a", "Idle"},
                                                  Tab{"https://unseen.example/", "Unseen"}}}});
        h.model->sweepNow();
        QCOMPARE(StandinControl::openUrls(), (QStringList{"https://current.example/", "https://unseen.example/"}));
        QVERIFY(h.notifications.isEmpty());
        QCOMPARE(h.unarchivedCloses, QStringList());
    }

    void failedPollsChangeOnlyTheCounts()
    {
        openFourTabs();
        ModelHarness h;
        h.model->tick();
        const QByteArray tracker = fileContents(DrowsewickModel::trackerPath());
        const QList<SafariTab> tabs = h.model->lastTabs();
        QCOMPARE(tabs.size(), 4);

        QJsonObject denied = StandinControl::state();
        denied.insert(QStringLiteral("automation"), QStringLiteral("denied"));
        StandinControl::writeState(denied);
        h.advanceDays(1);
        h.model->tick();
        QVERIFY(h.model->permissionDenied());
        QCOMPARE(h.model->trackedCount(), 0);
        QCOMPARE(h.model->staleCount(), 0);
        QCOMPARE(h.model->lastTabs(), tabs);
        QCOMPARE(fileContents(DrowsewickModel::trackerPath()), tracker);
        h.model->sweepNow();
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QString());

        QJsonObject failing = denied;
        failing.insert(QStringLiteral("automation"), QStringLiteral("allowed"));
        failing.insert(QStringLiteral("snapshotError"), -1728);
        StandinControl::writeState(failing);
        h.model->tick();
        QVERIFY(h.model->permissionDenied());
        QCOMPARE(fileContents(DrowsewickModel::trackerPath()), tracker);
        h.model->saveAllOpenTabs();
        QCOMPARE(h.model->lastSweepSummary(), QString());
        QVERIFY(!QFileInfo::exists(h.model->settings().archiveFolder()));

        failing.remove(QStringLiteral("snapshotError"));
        StandinControl::writeState(failing);
        h.model->tick();
        QVERIFY(!h.model->permissionDenied());
        QCOMPARE(h.model->trackedCount(), 4);
        QVERIFY(fileContents(DrowsewickModel::trackerPath()) != tracker);
    }

    void aBrokenTrackerFileIsReplacedByTheFirstPoll()
    {
        openFourTabs();
        QDir().mkpath(Settings::applicationFolder());
        QFile broken(DrowsewickModel::trackerPath());
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"lastActive\":{\"7|https://idle.example/a\":\"yesterday\"}}");
        broken.close();
        ModelHarness h;
        h.model->tick();
        const std::optional<TabTracker> tracker = TabTracker::fromJson(fileContents(DrowsewickModel::trackerPath()));
        QVERIFY(tracker);
        QCOMPARE(tracker->lastActive().size(), 4);
        for (const QDateTime &time : tracker->lastActive())
            QCOMPARE(time, h.now);
    }

    void idleTimeSurvivesARestart()
    {
        openFourTabs();
        ModelHarness h;
        h.model->tick();
        h.makeModel();
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(archivedUrls(*h.model),
                 (QStringList{"https://idle.example/a", "https://News.Example.org/kept", "https://idle.example/b"}));
    }

    void notificationsExplainTheFirstSweepOnly()
    {
        ModelHarness h;
        Settings settings = h.model->settings();
        settings.days = 1;
        h.model->setSettings(settings);
        for (int round = 0; round < 3; ++round) {
            if (round == 2)
                h.makeModel(); // the flag lives in the user defaults, across restarts
            StandinControl::setWindows({Window{1, 1, {Tab{"https://current.example/", "C"},
                                                      Tab{QStringLiteral("https://idle.example/%1").arg(round), "I"}}}});
            h.model->tick();
            h.advanceDays(2);
            h.model->tick();
        }
        QCOMPARE(h.notifications.size(), 3);
        QCOMPARE(h.notifications[0].title, QStringLiteral("Swept 1 idle tab"));
        QCOMPARE(h.notifications[0].body,
                 QStringLiteral("Tabs untouched for 1 days were archived to your folder and closed — nothing is lost, "
                                "reopen any from the menu."));
        for (int i = 1; i < 3; ++i)
            QCOMPARE(h.notifications[i].body, QStringLiteral("Archived to your folder and closed. Reopen any from the menu."));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(h.notifications[0].identifier).hasMatch());
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
        h.model->tick();
        h.advanceDays(8);
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary().left(14), QStringLiteral("Swept 1 tab · "));
        QVERIFY(h.notifications.isEmpty());
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
        }}});
        ModelHarness h;
        QVERIFY(h.model->openHosts().isEmpty());
        h.model->tick();
        QCOMPARE(h.model->openHosts(), (QStringList{"a.example.com", "b.example.com"}));
    }

    void neverSweepPatternsAreNormalizedAndSavedAtOnce()
    {
        ModelHarness h;
        QSignalSpy changed(h.model.get(), &DrowsewickModel::settingsChanged);
        h.model->addNeverSweep(QStringLiteral("  News.Example.org\n"));
        QCOMPARE(h.model->settings().neverSweep, QStringList{"news.example.org"});
        QCOMPARE(Settings::load().neverSweep, QStringList{"news.example.org"});

        QFile::remove(settingsPath());
        h.model->addNeverSweep(QStringLiteral("news.example.org"));
        h.model->addNeverSweep(QStringLiteral(" \t\n "));
        QVERIFY(!QFile::exists(settingsPath())); // nothing to change, nothing written
        QCOMPARE(changed.size(), 1);

        h.model->addNeverSweep(QStringLiteral("HTTPS://Example.org/Path"));
        QCOMPARE(h.model->settings().neverSweep.last(), QStringLiteral("https://example.org/path"));

        QFile::remove(settingsPath());
        h.model->removeNeverSweep(QStringLiteral("News.example.org"));
        QVERIFY(QFile::exists(settingsPath())); // written even when nothing matched
        QCOMPARE(h.model->settings().neverSweep.size(), 2);

        Settings twice = h.model->settings();
        twice.neverSweep = {QStringLiteral("dup"), QStringLiteral("keep"), QStringLiteral("dup")};
        h.model->setSettings(twice);
        h.model->removeNeverSweep(QStringLiteral("dup"));
        QCOMPARE(Settings::load().neverSweep, QStringList{"keep"});
    }

    void theFolderChooserSetsTheArchiveFolder()
    {
        ModelHarness h;
        const QString before = h.model->settings().archiveFolderPath;
        h.dialogs.folders.enqueue(std::nullopt);
        h.model->chooseArchiveFolder();
        QCOMPARE(h.model->settings().archiveFolderPath, before);
        QVERIFY(!QFile::exists(settingsPath()));
        QCOMPARE(h.dialogs.folderPrompts,
                 QStringList{before + QStringLiteral("|Choose|Choose where Drowsewick saves your archived tabs")});

        h.dialogs.folders.enqueue(QStringLiteral("/srv/archive"));
        h.model->chooseArchiveFolder();
        QCOMPARE(Settings::load().archiveFolderPath, QStringLiteral("/srv/archive"));
        QCOMPARE(h.dialogs.activations, 2);
    }

    void openingTheArchiveFolderCreatesIt()
    {
        ModelHarness h;
        Settings settings = h.model->settings();
        settings.archiveFolderPath = QDir::homePath() + QStringLiteral("/deep/er/Archive");
        h.model->setSettings(settings);
        h.model->openArchiveFolder();
        QVERIFY(QFileInfo(settings.archiveFolderPath).isDir());
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(settings.archiveFolderPath)});
    }

    void pollingInterval_data()
    {
        QTest::addColumn<qint64>("pollSeconds");
        QTest::addColumn<int>("milliseconds");
        QTest::newRow("1") << qint64(1) << 15000;
        QTest::newRow("0") << qint64(0) << 15000;
        QTest::newRow("-5") << qint64(-5) << 15000;
        QTest::newRow("15") << qint64(15) << 15000;
        QTest::newRow("3600") << qint64(3600) << 3600000;
        QTest::newRow("past what a timer holds") << qint64(10000000000) << (INT_MAX / 1000) * 1000;
    }
    void pollingInterval()
    {
        QFETCH(qint64, pollSeconds);
        QFETCH(int, milliseconds);
        ModelHarness h;
        Settings settings = h.model->settings();
        settings.pollSeconds = pollSeconds;
        h.model->setSettings(settings);
        QVERIFY(!h.model->timerInterval());
        h.model->restartTimer();
        QCOMPARE(h.model->timerInterval(), milliseconds);
    }

    void startPollsOnceAndThenWaitsForTheTimer()
    {
        openFourTabs();
        ModelHarness h;
        StandinControl::clearLog();
        h.model->start();
        QCOMPARE(h.permissionRequests, 1);
        QCOMPARE(h.model->trackedCount(), 4);
        QCoreApplication::processEvents();
        QTest::qWait(50);
        QCOMPARE(countOf(StandinControl::log(), QStringLiteral("snapshot")), 1);
        QCOMPARE(h.model->timerInterval(), 3600000);
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickModel, QCoreApplication)
#include "tst_DrowsewickModel.moc"
