#include "TabTracker.h"
#include "TestEnvironment.h"

#include <QCoreApplication>

namespace {

const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
constexpr qint64 day = 86400;

SafariTab tab(qint64 window, const char *url)
{
    return SafariTab(window, QString::fromUtf8(url), QStringLiteral("title"));
}

QStringList keysOf(const QList<SafariTab> &tabs)
{
    QStringList keys;
    for (const SafariTab &t : tabs)
        keys.append(t.key());
    return keys;
}

} // namespace

class TestTabTracker : public QObject
{
    Q_OBJECT

private slots:
    void recordStampsNewAndCurrentTabsAndForgetsClosedOnes()
    {
        TabTracker tracker;
        const SafariTab a = tab(1, "a"), b = tab(1, "b"), c = tab(2, "c");
        tracker.record({a, b, c}, {}, t0);
        const QDateTime later = t0.addSecs(100);
        tracker.record({a, b}, {b.key()}, later);
        QCOMPARE(tracker.lastActive().value(a.key()), t0);    // not current: kept
        QCOMPARE(tracker.lastActive().value(b.key()), later); // current: refreshed
        QVERIFY(!tracker.lastActive().contains(c.key()));     // gone: forgotten
        tracker.record({c}, {}, later.addSecs(1));
        QCOMPARE(tracker.lastActive().keys(), QList<QString>{c.key()}); // back again: new
        QCOMPARE(tracker.lastActive().value(c.key()), later.addSecs(1));
        tracker.record({}, {}, later.addSecs(2));
        QVERIFY(tracker.lastActive().isEmpty());
    }

    // Tabs that moved, a tab in another's place, and the same address in another window at the
    // place where it was before: each keeps or gets the time that is its own.
    void recordingAgainFollowsTabsThatMovedOrChanged()
    {
        TabTracker tracker;
        const SafariTab a = tab(1, "a"), b = tab(1, "b"), c = tab(1, "c"), x = tab(1, "x"), cElsewhere = tab(2, "c");
        const QDateTime t1 = t0.addSecs(day), t2 = t0.addSecs(2 * day), t3 = t0.addSecs(3 * day);
        tracker.record({a, b, c}, {}, t0);
        tracker.record({a, b, c}, {b.key()}, t1);
        tracker.record({c, a, x}, {}, t2);
        const QHash<QString, QDateTime> moved{{c.key(), t0}, {a.key(), t0}, {x.key(), t2}};
        QCOMPARE(tracker.lastActive(), moved);
        tracker.record({cElsewhere, a, x}, {}, t3);
        const QHash<QString, QDateTime> changed{{cElsewhere.key(), t3}, {a.key(), t0}, {x.key(), t2}};
        QCOMPARE(tracker.lastActive(), changed);
    }

    void staleTabs_data()
    {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("secondsLater");
        QTest::addColumn<QStringList>("neverSweep");
        QTest::addColumn<QStringList>("idleKeys");
        // Tabs: 1|https://News.Example.org/a, 1|https://other.example/ and 2|https://other.example/ recorded at t0;
        // 3|unrecorded never recorded.
        const QStringList all{"1|https://News.Example.org/a", "1|https://other.example/", "2|https://other.example/"};
        QTest::newRow("exactly at the cutoff is not idle") << qint64(7) << 7 * day << QStringList() << QStringList();
        QTest::newRow("one second past the cutoff") << qint64(7) << 7 * day + 1 << QStringList() << all;
        QTest::newRow("capital pattern protects any case") << qint64(1) << 2 * day << QStringList{"NEWS.example"}
                                                            << all.mid(1);
        QTest::newRow("empty pattern protects nothing") << qint64(1) << 2 * day << QStringList{""} << all;
        QTest::newRow("patterns are not trimmed") << qint64(1) << 2 * day << QStringList{" news.example.org"} << all;
        QTest::newRow("pattern over scheme and path") << qint64(1) << 2 * day << QStringList{"s://other"}
                                                      << all.mid(0, 1);
        QTest::newRow("days zero makes recorded tabs idle at once") << qint64(0) << qint64(1) << QStringList() << all;
        QTest::newRow("days zero at the same instant") << qint64(0) << qint64(0) << QStringList() << QStringList();
        QTest::newRow("negative days") << qint64(-1) << -day + 1 << QStringList() << all;
        QTest::newRow("huge days never idle") << std::numeric_limits<qint64>::max() << 100000 * day << QStringList()
                                              << QStringList();
    }
    void staleTabs()
    {
        QFETCH(qint64, days);
        QFETCH(qint64, secondsLater);
        QFETCH(QStringList, neverSweep);
        QFETCH(QStringList, idleKeys);
        const QList<SafariTab> recorded{tab(1, "https://News.Example.org/a"), tab(1, "https://other.example/"),
                                        tab(2, "https://other.example/")};
        TabTracker tracker;
        tracker.record(recorded, {}, t0);
        const QList<SafariTab> open = recorded + QList<SafariTab>{tab(3, "unrecorded")};
        QCOMPARE(keysOf(tracker.staleTabs(open, days, t0.addSecs(secondsLater), neverSweep)), idleKeys);
        // The very list it recorded, which it answers from the times kept in its order.
        QCOMPARE(keysOf(tracker.staleTabs(recorded, days, t0.addSecs(secondsLater), neverSweep)), idleKeys);
    }

    void unicodePatternsAreLowerCased()
    {
        TabTracker tracker;
        const SafariTab tab(1, QStringLiteral("https://straße.example/ÄRGER"), QStringLiteral("t"));
        tracker.record({tab}, {}, t0);
        QVERIFY(tracker.staleTabs({tab}, 1, t0.addSecs(2 * day), {QStringLiteral("äRGER")}).isEmpty());
        QCOMPARE(tracker.staleTabs({tab}, 1, t0.addSecs(2 * day), {QStringLiteral("zzz")}).size(), 1);
    }

    void eachTabOfTheRecordedListHasItsOwnTime()
    {
        TabTracker tracker;
        const QList<SafariTab> open{tab(1, "https://a.example/"), tab(1, "https://b.example/")};
        tracker.record(open, {}, t0);
        tracker.record(open, {open[1].key()}, t0.addSecs(5 * day));
        QCOMPARE(keysOf(tracker.staleTabs(open, 3, t0.addSecs(7 * day), {})), QStringList{open[0].key()});
    }

    void tabsSharingAKeyShareTheirTime()
    {
        TabTracker tracker;
        const SafariTab first(1, QStringLiteral("u"), QStringLiteral("one")), second(1, QStringLiteral("u"), QStringLiteral("two"));
        const QList<SafariTab> both{first, second};
        tracker.record(both, {}, t0);
        tracker.record(both, {first.key()}, t0.addSecs(5 * day));
        // Asked about the list recorded and about an equal list of its own.
        for (const QList<SafariTab> &tabs : {both, QList<SafariTab>{first, second}}) {
            QVERIFY(tracker.staleTabs(tabs, 1, t0.addSecs(5 * day + 10), {}).isEmpty());
            QCOMPARE(tracker.staleTabs(tabs, 1, t0.addSecs(7 * day), {}).size(), 2);
        }
    }

    void readsFilesOfTheSameFormatFromElsewhere()
    {
        // 86400.25 seconds after 2001-01-01 UTC, an extra member, and spacing.
        const QByteArray json = R"({ "version": 2, "lastActive" : { "7|https://a.example/" : 86400.25, "-1|" : 0 } })";
        const std::optional<TabTracker> tracker = TabTracker::fromJson(json);
        QVERIFY(tracker);
        QCOMPARE(tracker->lastActive().size(), 2);
        QCOMPARE(tracker->lastActive().value(QStringLiteral("7|https://a.example/")),
                 QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 250), Qt::UTC));
        QCOMPARE(tracker->lastActive().value(QStringLiteral("-1|")), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    }

    void roundTripsThroughItsFile()
    {
        TabTracker tracker;
        tracker.record({tab(1, "a\"b\\c\n\x01"), tab(-2, "https://ü.example/"), tab(3, "")}, {}, t0.addMSecs(123));
        const QByteArray json = tracker.toJson();
        QVERIFY(!json.contains('\n'));
        QCOMPARE(TabTracker::fromJson(json), tracker);
    }

    void rejectsMalformedFilesWhole_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("one time not a number") << QByteArray(R"({"lastActive":{"1|a":1.5,"1|b":"2020"}})");
        QTest::newRow("null time") << QByteArray(R"({"lastActive":{"1|a":null}})");
        QTest::newRow("no lastActive") << QByteArray(R"({"other":{}})");
        QTest::newRow("lastActive not an object") << QByteArray(R"({"lastActive":[]})");
        QTest::newRow("top level array") << QByteArray(R"([{"lastActive":{}}])");
        QTest::newRow("not JSON") << QByteArray("lastActive");
        QTest::newRow("empty") << QByteArray();
    }
    void rejectsMalformedFilesWhole()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!TabTracker::fromJson(json));
    }

    void absurdTimesStayUsable()
    {
        const std::optional<TabTracker> tracker = TabTracker::fromJson(R"({"lastActive":{"1|a":1e300,"1|b":-1e300}})");
        QVERIFY(tracker);
        QVERIFY(tracker->lastActive().value(QStringLiteral("1|a")).isValid());
        const QList<SafariTab> tabs{tab(1, "a"), tab(1, "b")};
        QCOMPARE(keysOf(tracker->staleTabs(tabs, 7, t0, {})), QStringList{"1|b"});
    }
};

DROWSEWICK_TEST_MAIN(TestTabTracker, QCoreApplication)
#include "tst_TabTracker.moc"
