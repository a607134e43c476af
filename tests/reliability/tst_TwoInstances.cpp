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

    // Whatever a crash left in the lock file, no running instance holds it, so one start runs: the
    // first start, then after the one before was killed, then also with a garbled lock file.
    void startedTogetherOneRunsAndTheOtherLeaves()
    {
        Standin::setWindows({{1, 1, {{u"https://a.example/"_qs, u"A"_qs}}}});
        for (int run = 0; run < 3; ++run) {
            QCOMPARE(AppProcess::lockHolder() != 0, run > 0);
            if (run == 2)
                TestFiles::write(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/drowsewick.lock"_qs, "\xff\xfe garbled\n\n");
            Standin::clearLog();
            AppProcess apps[2];
            QVERIFY(apps[0].start() && apps[1].start());
            // The second hands over and leaves within seconds.
            QTRY_VERIFY_WITH_TIMEOUT(apps[0].hasEnded() || apps[1].hasEnded(), 10000);
            const int leaver = apps[0].hasEnded() ? 0 : 1;
            QCOMPARE(apps[leaver].exitCode(), 0);
            QTRY_COMPARE(Standin::log().count(u"snapshot"_qs), 1);
            QCOMPARE(AppProcess::lockHolder(), apps[1 - leaver].pid());
            // Time for a second controller's first poll to show, had one started.
            QTest::qWait(1000);
            QVERIFY(!apps[1 - leaver].hasEnded());
            QCOMPARE(Standin::log().count(u"snapshot"_qs), 1);
        }
    }
};

DROWSEWICK_TEST_MAIN(TestTwoInstances, QCoreApplication)
#include "tst_TwoInstances.moc"
