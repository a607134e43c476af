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

// Recorded at t0 by staleTabs.
const QList<SafariTab> recorded{tab(1, "https://News.Example.org/ÄRGER"), tab(1, "https://other.example/"), tab(2, "https://other.example/")};

} // namespace

class TestTabTracker : public QObject
{
    Q_OBJECT

private slots:
    // New and current tabs are stamped, others keep their time, gone ones are forgotten and new
    // again when they come back; tabs that moved keep their own times, a tab in another's place
    // and the same address in another window get theirs; tabs sharing a key share their time.
    void recordKeepsTheTimeOfEachOpenTab()
    {
        TabTracker tracker;
        const SafariTab a = tab(1, "a"), b = tab(1, "b"), c = tab(1, "c"), x = tab(1, "x"), cElsewhere = tab(2, "c");
        const SafariTab b2 = SafariTab(1, u"b"_qs, u"another title"_qs);
        const auto at = [](qint64 days) { return t0.addSecs(days * day); };
        tracker.record({a, b, c, b2}, {}, at(0));
        tracker.record({a, b, c, b2}, {b.key()}, at(1));
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{a.key(), at(0)}, {b.key(), at(1)}, {c.key(), at(0)}}));
        QCOMPARE(tracker.staleTabs({a, b, c, b2}, 1, at(1).addSecs(day / 2), {}), (QList<SafariTab>{a, c}));
        tracker.record({c, a, x}, {}, at(2));
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{c.key(), at(0)}, {a.key(), at(0)}, {x.key(), at(2)}}));
        tracker.record({cElsewhere, a, x, b}, {}, at(3));
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{cElsewhere.key(), at(3)}, {a.key(), at(0)}, {x.key(), at(2)}, {b.key(), at(3)}}));
    }

    void staleTabs_data()
    {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("secondsLater");
        QTest::addColumn<QStringList>("neverSweep");
        QTest::addColumn<QList<SafariTab>>("idle");
        QTest::newRow("exactly at the cutoff is not idle") << qint64(7) << 7 * day << QStringList() << QList<SafariTab>();
        QTest::newRow("capital pattern protects any case") << qint64(1) << 2 * day << QStringList{"NEWS.example"} << recorded.mid(1);
        QTest::newRow("a pattern beyond ASCII, lower-cased") << qint64(1) << 2 * day << QStringList{"äRGER"} << recorded.mid(1);
        QTest::newRow("empty pattern protects nothing") << qint64(1) << 2 * day << QStringList{""} << recorded;
        QTest::newRow("pattern over scheme and path") << qint64(1) << 2 * day << QStringList{"s://other"} << recorded.mid(0, 1);
        QTest::newRow("days zero makes recorded tabs idle at once") << qint64(0) << qint64(1) << QStringList() << recorded;
        QTest::newRow("huge days never idle") << std::numeric_limits<qint64>::max() << 100000 * day << QStringList() << QList<SafariTab>();
    }
    void staleTabs()
    {
        QFETCH(qint64, days);
        QFETCH(qint64, secondsLater);
        QFETCH(QStringList, neverSweep);
        QFETCH(QList<SafariTab>, idle);
        TabTracker tracker;
        tracker.record(recorded, {}, t0);
        // The list it recorded, whose times it keeps in their order, and another with a tab more.
        for (const QList<SafariTab> &open : {recorded, QList<SafariTab>{tab(3, "unrecorded")} + recorded})
            QCOMPARE(tracker.staleTabs(open, days, t0.addSecs(secondsLater), neverSweep), idle);
    }

    // Seconds since 2001-01-01 UTC under keys "window|address"; other members and spacing are
    // fine, absurd times stay usable. A file with one bad member is rejected whole.
    void readsAndWritesItsFile()
    {
        const QByteArray foreign = R"({ "version": 2, "lastActive" : { "7|https://a.example/" : 86400.25, "-1|" : 1e300, "-9223372036854775808|b" : -1e300 } })";
        const TabTracker read = TabTracker::fromJson(foreign).value();
        QCOMPARE(read.lastActive().value(u"7|https://a.example/"_qs), QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 250), Qt::UTC));
        const SafariTab smallest = tab(std::numeric_limits<qint64>::min(), "b");
        QCOMPARE(read.staleTabs({tab(-1, ""), smallest}, 7, t0, {}), QList<SafariTab>{smallest});

        TabTracker tracker;
        tracker.record({tab(1, "a\"b\\c\n\x01"), tab(-2, "https://ü.example/"), tab(3, "")}, {}, t0.addMSecs(123));
        QCOMPARE(TabTracker::fromJson(tracker.toJson()), tracker);
        for (const char *bad : {R"({"lastActive":{"1|a":1.5,"1|b":"2020"}})", R"({"lastActive":{"1|a":null}})", R"({"lastActive":[]})", "lastActive"})
            QVERIFY2(!TabTracker::fromJson(bad), bad);
    }
};

DROWSEWICK_TEST_MAIN(TestTabTracker, QCoreApplication)
#include "tst_TabTracker.moc"
