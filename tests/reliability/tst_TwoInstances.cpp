#include "AppProcess.h"
#include "Standin.h"
#include "TestHome.h"

#include <QCoreApplication>

// Two launches of the real drowsewick at the same moment, for the same user.
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
    // The rows run in order: each after the one before was killed.
    void startedTogetherOneRunsAndTheOtherLeaves_data()
    {
        QTest::addColumn<QByteArray>("lockText"); // written over the lock file first, unless null
        QTest::newRow("first start") << QByteArray();
        QTest::newRow("after a crash left the lock") << QByteArray();
        QTest::newRow("after a crash, a garbled lock file") << QByteArray("\xff\xfe garbled\n\n");
    }
    void startedTogetherOneRunsAndTheOtherLeaves()
    {
        QFETCH(QByteArray, lockText);
        QCOMPARE(AppProcess::lockHolder() != 0, QTest::currentDataTag() != QByteArray("first start"));
        if (!lockText.isNull())
            TestFiles::write(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/drowsewick.lock"_qs, lockText);
        Standin::setWindows({{1, 1, {{u"https://a.example/"_qs, u"A"_qs}}}});
        Standin::clearLog();

        AppProcess apps[2];
        QVERIFY(apps[0].start() && apps[1].start());
        // The second hands over and leaves within seconds.
        QTRY_VERIFY_WITH_TIMEOUT(apps[0].hasEnded() || apps[1].hasEnded(), 10000);
        const int leaver = apps[0].hasEnded() ? 0 : 1;
        QCOMPARE(apps[leaver].exitCode(), 0);
        const auto snapshotsTaken = [] { return Standin::log().count(u"snapshot"_qs); };
        QTRY_COMPARE(snapshotsTaken(), 1);
        QCOMPARE(AppProcess::lockHolder(), apps[1 - leaver].pid());
        // Time for a second controller's first poll to show, had one started.
        QTest::qWait(1000);
        QVERIFY(!apps[1 - leaver].hasEnded());
        QCOMPARE(snapshotsTaken(), 1);
    }
};

DROWSEWICK_TEST_MAIN(TestTwoInstances, QCoreApplication)
#include "tst_TwoInstances.moc"
