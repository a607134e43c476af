#include "TabTracker.h"
#include "TestHome.h"

#include <QCoreApplication>

static const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
static constexpr qint64 day = 86400;

static SafariTab tab(qint64 window, const char *url) { return SafariTab(window, QString::fromUtf8(url), u"title"_qs); }

// Recorded at t0 by staleTabs.
static const QList<SafariTab> recorded{tab(1, "https://News.Example.org/ÄRGER"), tab(1, "https://other.example/"),
                                        tab(2, "https://other.example/")};

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
        const SafariTab a = tab(1, "a"), b = tab(1, "b"), c = tab(1, "c"), x = tab(1, "x"), cElsewhere = tab(2, "c"),
                        b2(1, u"b"_qs, u"another title"_qs);
        tracker.record({a, b, c, b2}, {}, t0);
        tracker.record({a, b, c, b2}, {b.key()}, t0.addDays(1));
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{a.key(), t0}, {b.key(), t0.addDays(1)}, {c.key(), t0}}));
        QCOMPARE(tracker.staleTabs({a, b, c, b2}, 1, t0.addDays(1).addSecs(day / 2), {}), (QList<SafariTab>{a, c}));
        tracker.record({c, a, x}, {}, t0.addDays(2));
        QCOMPARE(tracker.lastActive(), (QHash<QString, QDateTime>{{c.key(), t0}, {a.key(), t0}, {x.key(), t0.addDays(2)}}));
        tracker.record({cElsewhere, a, x, b}, {}, t0.addDays(3));
        QCOMPARE(tracker.lastActive(),
                 (QHash<QString, QDateTime> {
                         {cElsewhere.key(), t0.addDays(3)}, {a.key(), t0}, {x.key(), t0.addDays(2)}, {b.key(), t0.addDays(3)}}));
    }

    // Recorded tabs are idle once more than the days have passed, unless a pattern protects them; the
    // tracker keeps the order of the list it is given, where a tab it never recorded is not idle.
    void staleTabsAreRecordedTabsIdleForLongerThanTheDays()
    {
        const struct { const char *name; qint64 days, secondsLater; QStringList neverSweep; QList<SafariTab> idle; } rows[] = {
            {"exactly at the cutoff is not idle", 7, 7 * day, {}, {}},
            {"capital pattern protects any case", 1, 2 * day, {"NEWS.example"}, recorded.mid(1)},
            {"a pattern beyond ASCII, lower-cased", 1, 2 * day, {"äRGER"}, recorded.mid(1)},
            {"empty pattern protects nothing", 1, 2 * day, {""}, recorded},
            {"pattern over scheme and path", 1, 2 * day, {"s://other"}, recorded.mid(0, 1)},
            {"days zero makes recorded tabs idle at once", 0, 1, {}, recorded},
            {"huge days never idle", std::numeric_limits<qint64>::max(), 100000 * day, {}, {}}};
        TabTracker tracker;
        tracker.record(recorded, {}, t0);
        for (const auto &row : rows)
            for (const QList<SafariTab> &open : {recorded, QList<SafariTab>{tab(3, "unrecorded")} + recorded})
                QVERIFY2(tracker.staleTabs(open, row.days, t0.addSecs(row.secondsLater), row.neverSweep) == row.idle, row.name);
    }

    // Seconds since 2001-01-01 UTC under keys "window|address"; other members and spacing are
    // fine, absurd times stay usable. A file with one bad member is rejected whole.
    void readsAndWritesItsFile()
    {
        const QByteArray foreign
                = R"({ "version": 2, "lastActive" : { "7|https://a.example/" : 86400.25, "-1|" : 1e300, "-9223372036854775808|b" : -1e300 } })";
        const TabTracker read = TabTracker::fromJson(foreign).value();
        QCOMPARE(read.lastActive().value(u"7|https://a.example/"_qs), QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 250), Qt::UTC));
        const QList<SafariTab> open{tab(-1, ""), tab(std::numeric_limits<qint64>::min(), "b")};
        QCOMPARE(read.staleTabs(open, 7, t0, {}), open.mid(1));

        TabTracker tracker;
        tracker.record({tab(1, "a\"b\\c\n\x01"), tab(-2, "https://ü.example/"), tab(3, "")}, {}, t0.addMSecs(123));
        QCOMPARE(TabTracker::fromJson(tracker.toJson()), tracker);
        for (const char *bad : {R"({"lastActive":{"1|a":1.5,"1|b":"2020"}})", R"({"lastActive":{"1|a":null}})",
                                R"({"lastActive":[]})", "lastActive"})
            QVERIFY2(!TabTracker::fromJson(bad), bad);
    }
};

DROWSEWICK_TEST_MAIN(TestTabTracker, QCoreApplication)
#include "tst_TabTracker.moc"
