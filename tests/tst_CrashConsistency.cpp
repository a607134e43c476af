#include "AppProcess.h"
#include "Archive.h"
#include "Settings.h"
#include "StandinControl.h"
#include "TabTracker.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

// Starts the real drowsewick again and again against a stand-in with many idle tabs and a slow
// engine, and kills it at random moments: however a run ends, every tab that left Safari must be
// in the archive as a whole entry, and the state files must be whole. Run with
// DROWSEWICK_CRASHTEST_KILLS set for more kills than the default 30 (scripts/crashtest).
namespace {

using StandinControl::Tab;
using StandinControl::Window;

constexpr qint64 windowID = 100;
constexpr int idleTabsPerStart = 12;
// Every engine run waits this long, so that a sweep lasts long enough to be cut anywhere.
constexpr int engineDelayMs = 15;
// Every tenth start runs until its sweep is done: proof that it took over the killed one's lock.
constexpr int uncutEvery = 10;
const Tab currentTab{QStringLiteral("https://current.example/"), QStringLiteral("Current")};

int killsAsked()
{
    const int asked = qEnvironmentVariableIntValue("DROWSEWICK_CRASHTEST_KILLS");
    return asked > 0 ? asked : 30;
}

QString applicationFile(const QString &name)
{
    return Settings::applicationFolder() + u'/' + name;
}

QString keyOf(const Tab &tab)
{
    return SafariTab::keyFor(windowID, tab.url);
}

ArchivedTab entryFor(const Tab &tab)
{
    return {Archive::cleanTitle(SafariTab(windowID, tab.url, tab.title)), tab.url};
}

// Titles with what the title cleaning changes, addresses with parentheses that read back whole.
Tab newTab(int number)
{
    return {QStringLiteral("https://crash.example/%1/?q=(a)").arg(number),
            QStringLiteral("Tab %1 [idle]\nsince (long)").arg(number)};
}

// Waits until `done` holds or the app has ended; false when it ended first or time ran out.
bool waitFor(AppProcess &app, const std::function<bool()> &done)
{
    const QDeadlineTimer deadline(60000);
    while (!done()) {
        if (app.hasEnded() || deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

class TestCrashConsistency : public QObject
{
    Q_OBJECT

    Settings m_settings;
    QList<Tab> m_idle;
    QHash<QString, Tab> m_opened;
    int m_kills = 0;
    int m_lost = 0;
    int m_swept = 0;
    int m_midSweep = 0;
    qint64 m_window = 0;

    // Tops the stand-in up to its number of idle tabs and makes the tracker find them idle.
    void replenish()
    {
        while (m_idle.size() < idleTabsPerStart) {
            const Tab tab = newTab(int(m_opened.size()));
            m_idle.append(tab);
            m_opened.insert(tab.url, tab);
        }
        StandinControl::setWindows({Window{windowID, 1, QList<Tab>{currentTab} + m_idle}}, {{"delayMs", engineDelayMs}});
        QHash<QString, QDateTime> lastActive{{keyOf(currentTab), QDateTime::currentDateTimeUtc()}};
        for (const Tab &tab : std::as_const(m_idle))
            lastActive.insert(keyOf(tab), QDateTime::currentDateTimeUtc().addDays(-30));
        QFile tracker(applicationFile(QStringLiteral("tracker.json")));
        QVERIFY(tracker.open(QIODevice::WriteOnly | QIODevice::Truncate));
        tracker.write(TabTracker(lastActive).toJson());
    }

    // One start: the app runs until `stop` returns, is killed, and what it left is checked.
    void runAndKill(const std::function<bool(AppProcess &)> &stop)
    {
        replenish();
        StandinControl::clearLog();
        AppProcess app;
        QVERIFY(app.start());
        QVERIFY2(stop(app) && !app.hasEnded(),
                 qPrintable(QStringLiteral("Drowsewick ended on its own (exit code %1)").arg(app.exitCode())));
        app.kill();
        ++m_kills;
        // A run that polled Safari did so holding the lock, also when a killed run left it behind.
        if (StandinControl::log().contains(QStringLiteral("snapshot")))
            QCOMPARE(AppProcess::lockHolder(), app.pid());
        checkWhatWasLeft();
    }

    void checkWhatWasLeft()
    {
        const QStringList open = StandinControl::openUrls();
        const QList<ArchivedTab> entries = Archive::all(m_settings.archiveFolder());
        for (const ArchivedTab &entry : entries) {
            const auto tab = m_opened.constFind(entry.url);
            QVERIFY2(tab != m_opened.cend() && entryFor(*tab) == entry,
                     qPrintable(QStringLiteral("an entry that is no tab: [%1](%2)").arg(entry.title, entry.url)));
        }
        QList<Tab> stillOpen;
        for (const Tab &tab : std::as_const(m_idle)) {
            if (open.contains(tab.url)) {
                stillOpen.append(tab);
            } else if (entries.contains(entryFor(tab))) {
                ++m_swept;
            } else {
                ++m_lost;
                qWarning("closed but not in the archive: %s", qPrintable(tab.url));
            }
        }
        if (!stillOpen.isEmpty() && stillOpen.size() < m_idle.size())
            ++m_midSweep;
        m_idle = stillOpen;
        QVERIFY(open.contains(currentTab.url));
        checkStateFiles(open);
    }

    // Both files whole: the settings as they were saved, the tracker with every tab still open.
    void checkStateFiles(const QStringList &open)
    {
        QCOMPARE(Settings::fromJson(UpdateTest::readFile(applicationFile(QStringLiteral("settings.json")))), std::optional(m_settings));
        const std::optional<TabTracker> tracker = TabTracker::fromJson(UpdateTest::readFile(applicationFile(QStringLiteral("tracker.json"))));
        QVERIFY2(tracker, "tracker.json does not read as a tracker");
        for (const QString &url : open)
            QVERIFY2(tracker->lastActive().contains(SafariTab::keyFor(windowID, url)), qPrintable(url));
    }

    bool isUncut() const { return m_kills % uncutEvery == 0; }

private slots:
    void initTestCase()
    {
        if (!AppProcess::canWaitForEngines())
            QSKIP("waiting for the engines of a killed app takes Linux's /proc");
        m_settings.archiveFolderPath = QDir::homePath() + QStringLiteral("/Archive");
        m_settings.save();
    }

    void killedAtRandomMomentsItLosesNoTab()
    {
        QElapsedTimer firstSweep;
        firstSweep.start();
        runAndKill([](AppProcess &app) { return waitFor(app, [] { return StandinControl::openUrls().size() == 1; }); });
        m_window = firstSweep.elapsed() * 5 / 4;

        for (const int kills = killsAsked(); m_kills < kills && !QTest::currentTestFailed();) {
            if (isUncut()) {
                runAndKill([](AppProcess &app) { return waitFor(app, [] { return StandinControl::openUrls().size() == 1; }); });
                continue;
            }
            const qint64 delay = QRandomGenerator::global()->bounded(m_window + 1);
            runAndKill([delay](AppProcess &) {
                QThread::msleep(delay);
                return true;
            });
        }
        // A start clears away the temporary files that kills between writing and renaming left.
        for (const char *leftover : {"settings.json.tmp-a1B2c3", "tracker.json.tmp-Z9y8X7"})
            UpdateTest::writeFile(applicationFile(QString::fromLatin1(leftover)), "{\"torn");
        runAndKill([](AppProcess &app) { return waitFor(app, [] { return StandinControl::openUrls().size() == 1; }); });
        QCOMPARE(QDir(Settings::applicationFolder()).entryList({QStringLiteral("*.tmp-*")}, QDir::Files), QStringList());
        std::printf("crashtest: %d kills, %d lost tabs (%d kills mid-sweep, %d tabs swept, kills up to %lld ms after start)\n",
                    m_kills, m_lost, m_midSweep, m_swept, m_window);
        std::fflush(stdout);
        QCOMPARE(m_lost, 0);
        QVERIFY(m_swept > 0);
    }
};

DROWSEWICK_TEST_MAIN(TestCrashConsistency, QCoreApplication)
#include "tst_CrashConsistency.moc"
