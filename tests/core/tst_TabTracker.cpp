#include "TabTracker.h"
#include "TestHome.h"

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
    // New and current tabs are stamped, others keep their time, gone ones are forgotten and new
    // again when they come back; tabs that moved keep their own times, a tab in another's place
    // and the same address in another window get theirs.
    void recordKeepsTheTimeOfEachOpenTab()
    {
        TabTracker tracker;
        const SafariTab a = tab(1, "a"), b = tab(1, "b"), c = tab(1, "c"), x = tab(1, "x"), cElsewhere = tab(2, "c");
        const QDateTime t1 = t0.addSecs(day), t2 = t0.addSecs(2 * day), t3 = t0.addSecs(3 * day);
        tracker.record({a, b, c}, {}, t0);
        tracker.record({a, b, c}, {b.key()}, t1);
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{a.key(), t0}, {b.key(), t1}, {c.key(), t0}}));
        tracker.record({c, a, x}, {}, t2);
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{c.key(), t0}, {a.key(), t0}, {x.key(), t2}}));
        tracker.record({cElsewhere, a, x, b}, {}, t3);
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{cElsewhere.key(), t3}, {a.key(), t0}, {x.key(), t2}, {b.key(), t3}}));
        tracker.record({}, {}, t3);
        QVERIFY(tracker.lastActive().isEmpty());
    }

    void staleTabs_data()
    {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("secondsLater");
        QTest::addColumn<QStringList>("neverSweep");
        QTest::addColumn<QStringList>("idleKeys");
        // Recorded at t0: the first three; 3|unrecorded never.
        const QStringList all{"1|https://News.Example.org/ÄRGER", "1|https://other.example/", "2|https://other.example/"};
        QTest::newRow("exactly at the cutoff is not idle") << qint64(7) << 7 * day << QStringList() << QStringList();
        QTest::newRow("one second past the cutoff") << qint64(7) << 7 * day + 1 << QStringList() << all;
        QTest::newRow("capital pattern protects any case") << qint64(1) << 2 * day << QStringList{"NEWS.example"} << all.mid(1);
        QTest::newRow("a pattern beyond ASCII, lower-cased") << qint64(1) << 2 * day << QStringList{"äRGER"} << all.mid(1);
        QTest::newRow("empty pattern protects nothing") << qint64(1) << 2 * day << QStringList{""} << all;
        QTest::newRow("patterns are not trimmed") << qint64(1) << 2 * day << QStringList{" news.example.org"} << all;
        QTest::newRow("pattern over scheme and path") << qint64(1) << 2 * day << QStringList{"s://other"} << all.mid(0, 1);
        QTest::newRow("days zero makes recorded tabs idle at once") << qint64(0) << qint64(1) << QStringList() << all;
        QTest::newRow("days zero at the same instant") << qint64(0) << qint64(0) << QStringList() << QStringList();
        QTest::newRow("huge days never idle") << std::numeric_limits<qint64>::max() << 100000 * day << QStringList() << QStringList();
    }
    void staleTabs()
    {
        QFETCH(qint64, days);
        QFETCH(qint64, secondsLater);
        QFETCH(QStringList, neverSweep);
        QFETCH(QStringList, idleKeys);
        const QList<SafariTab> recorded{tab(1, "https://News.Example.org/ÄRGER"), tab(1, "https://other.example/"),
                                        tab(2, "https://other.example/")};
        TabTracker tracker;
        tracker.record(recorded, {}, t0);
        // The list it recorded, whose times it keeps in their order, and another with a tab more.
        for (const QList<SafariTab> &open : {recorded, QList<SafariTab>{tab(3, "unrecorded")} + recorded})
            QCOMPARE(keysOf(tracker.staleTabs(open, days, t0.addSecs(secondsLater), neverSweep)), idleKeys);
    }

    void tabsSharingAKeyShareTheirTime()
    {
        TabTracker tracker;
        const QList<SafariTab> both{SafariTab(1, QStringLiteral("u"), QStringLiteral("one")), SafariTab(1, QStringLiteral("u"), QStringLiteral("two"))};
        tracker.record(both, {}, t0);
        tracker.record(both, {both[0].key()}, t0.addSecs(5 * day));
        QVERIFY(tracker.staleTabs(both, 1, t0.addSecs(5 * day + 10), {}).isEmpty());
        QCOMPARE(tracker.staleTabs(both, 1, t0.addSecs(7 * day), {}).size(), 2);
    }

    // Seconds since 2001-01-01 UTC; other members and spacing are fine, absurd times stay usable.
    void readsAndWritesItsFile()
    {
        const QByteArray foreign = R"({ "version": 2, "lastActive" : { "7|https://a.example/" : 86400.25, "-1|" : 1e300, "2|b" : -1e300 } })";
        const std::optional<TabTracker> read = TabTracker::fromJson(foreign);
        QVERIFY(read);
        QCOMPARE(read->lastActive().value(QStringLiteral("7|https://a.example/")), QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 250), Qt::UTC));
        QCOMPARE(keysOf(read->staleTabs({tab(-1, ""), tab(2, "b")}, 7, t0, {})), QStringList{"2|b"});

        TabTracker tracker;
        tracker.record({tab(1, "a\"b\\c\n\x01"), tab(-2, "https://ü.example/"), tab(3, "")}, {}, t0.addMSecs(123));
        const QByteArray json = tracker.toJson();
        QVERIFY(!json.contains('\n'));
        QCOMPARE(TabTracker::fromJson(json), tracker);
        // A file with one bad member is rejected whole.
        for (const char *bad : {R"({"lastActive":{"1|a":1.5,"1|b":"2020"}})", R"({"lastActive":{"1|a":null}})", R"({"lastActive":[]})", "lastActive"})
            QVERIFY2(!TabTracker::fromJson(bad), bad);
    }

};

DROWSEWICK_TEST_MAIN(TestTabTracker, QCoreApplication)
#include "tst_TabTracker.moc"
