#include "AppProcess.h"
#include "StandinControl.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>

// Two launches of the real drowsewick at the same moment, for the same user.
namespace {

using StandinControl::Tab;
using StandinControl::Window;

qsizetype snapshotsTaken()
{
    return StandinControl::log().count(QStringLiteral("snapshot"));
}

} // namespace

class TestTwoInstances : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!AppProcess::canWaitForEngines())
            QSKIP("waiting for the engines of a killed app takes Linux's /proc");
    }

    // Whatever a crash left in the lock file, no running instance holds it, so one start runs.
    void startedTogetherOneRunsAndTheOtherLeaves_data()
    {
        QTest::addColumn<bool>("staleLock");
        QTest::addColumn<QByteArray>("lockText"); // written over the lock file first, unless null
        QTest::newRow("first start") << false << QByteArray();
        QTest::newRow("after a crash left the lock") << true << QByteArray();
        QTest::newRow("an empty lock file") << true << QByteArray("");
        QTest::newRow("a garbled lock file") << true << QByteArray("\xff\xfe garbled\n\n");
    }
    void startedTogetherOneRunsAndTheOtherLeaves()
    {
        QFETCH(bool, staleLock);
        QFETCH(QByteArray, lockText);
        QCOMPARE(AppProcess::lockHolder() != 0, staleLock);
        if (!lockText.isNull()) {
            QFile lock(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/drowsewick.lock"));
            QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate) && lock.write(lockText) == lockText.size());
        }
        StandinControl::setWindows({Window{1, 1, {Tab{QStringLiteral("https://a.example/"), QStringLiteral("A")}}}});
        StandinControl::clearLog();

        std::unique_ptr<AppProcess> apps[2] = {std::make_unique<AppProcess>(), std::make_unique<AppProcess>()};
        QElapsedTimer sinceStart;
        sinceStart.start();
        QVERIFY(apps[0]->start() && apps[1]->start());
        QTRY_VERIFY_WITH_TIMEOUT(apps[0]->hasEnded() || apps[1]->hasEnded(), 15000);
        const int leaver = apps[0]->hasEnded() ? 0 : 1;
        AppProcess &runner = *apps[1 - leaver];
        QCOMPARE(apps[leaver]->exitCode(), 0);
        QVERIFY2(sinceStart.elapsed() < 10000, "the second launch took long to hand over");

        QTRY_COMPARE(snapshotsTaken(), 1);
        QCOMPARE(AppProcess::lockHolder(), runner.pid());
        // Time for a second controller's first poll to show, had one started.
        QTest::qWait(1000);
        QVERIFY(!runner.hasEnded());
        QCOMPARE(snapshotsTaken(), 1);
        runner.kill();
    }
};

DROWSEWICK_TEST_MAIN(TestTwoInstances, QCoreApplication)
#include "tst_TwoInstances.moc"
