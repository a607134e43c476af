#include "LiveSafariBridge.h"
#include "Standin.h"
#include "TestHome.h"

#include <QCoreApplication>

// An engine made of a shell command that prints one line, to feed the bridge exact engine output:
// a result, or an error and a failed exit.
static SafariEngine engineSaying(const QString &line, bool fails = true)
{
    const QString script = u"cat >/dev/null; printf '%s\\n' \"$0\""_qs + (fails ? u" >&2; exit 1"_qs : QString());
    return {{u"/bin/sh"_qs, {u"-c"_qs, script, line}}, {u"/bin/sh"_qs, {u"-c"_qs, u"exit 0"_qs}}, std::chrono::seconds(5)};
}

// state: of the stand-in, where the row reaches it.
struct Failure { QByteArray state; SafariEngine engine; std::function<void(SafariBridge &)> operation;
                 SafariError::Kind kind; QString message; bool engineUnavailable; };

// The live bridge on the engine the app runs, and the stand-in that plays Safari for it.
class TestSafariBridge : public QObject
{
    Q_OBJECT

private slots:
    void init() { Standin::reset(); }

    // A Safari that does not run is neither read nor closed, so it is not started; opening starts it.
    void safariThatDoesNotRunIsNotStarted()
    {
        LiveSafariBridge bridge(Standin::engine());
        QCOMPARE(bridge.snapshot(), SafariSnapshot{});
        bridge.close(SafariTab(1, u"https://a.example/"_qs, {}));
        bridge.open(u"https://a.example/"_qs);
        QCOMPARE(Standin::log(), (QStringList{"running", "running", "start", "open \"https://a.example/\""}));
    }

    void failures_data()
    {
        QTest::addColumn<Failure>("failure");
        const auto failed = SafariError::Kind::scriptFailed, refused = SafariError::Kind::notAuthorized;
        const SafariEngine standin = Standin::engine();
        const auto snapshot = [](SafariBridge &bridge) { bridge.snapshot(); };
        const auto open = [](SafariBridge &bridge) { bridge.open(u"https://b.example/"_qs); };
        QTest::newRow("refused, as osascript says it") << Failure{
                {},       engineSaying(u"0:35: execution error: Not authorized to send Apple events to Safari. (-1743)"_qs),
                snapshot, refused,
                {},       false};
        QTest::newRow("no engine") << Failure{
                {}, {{u"/nonexistent/engine"_qs, {}}, standin.runningCheck}, open, failed, u"/nonexistent/engine"_qs, true};
        QTest::newRow("no check") << Failure{
                {}, {standin.script, {u"/nonexistent/check"_qs, {}}}, snapshot, failed, u"/nonexistent/check"_qs, true};
        QTest::newRow("check fails on close")
                << Failure{"{not json", standin,           [](SafariBridge &b) { b.close(SafariTab(1, u"a"_qs, {})); },
                            failed,      u"exit code 3"_qs, false};
        QTest::newRow("over the time limit") << Failure{Standin::json("{'delayMs': 30000, 'windows': []}"),
                                                         Standin::engine(std::chrono::seconds(1)),
                                                         open,
                                                         failed,
                                                         u"did not finish within 1 seconds"_qs,
                                                         true};
        QTest::newRow("execution error") << Failure{
                {},
                engineSaying(u"0:35: execution error: Safari got an error: Can’t get tab 1 (of it). (-1728)"_qs),
                snapshot,
                failed,
                u"Safari got an error: Can’t get tab 1 (of it)."_qs,
                false};
        QTest::newRow("no number") << Failure{
                {}, engineSaying(u"engine: error: gave up (x)"_qs), snapshot, failed, u"engine: error: gave up (x)"_qs, false};
    }
    void failures()
    {
        QFETCH(Failure, failure);
        Standin::writeState(failure.state);
        LiveSafariBridge bridge(failure.engine);
        // Past the time limit the operation fails rather than waiting for the engine.
        try { failure.operation(bridge); QFAIL("no failure"); } catch (const SafariError &error) {
            QCOMPARE(error.kind(), failure.kind);
            QVERIFY2(error.message().contains(failure.message), qPrintable(error.message()));
            QVERIFY2(!error.message().contains(u"execution error"_qs), "the engine's whole line is no message");
            QCOMPARE(error.isEngineUnavailable(), failure.engineUnavailable);
        }
    }

    // osascript ends a result with a line feed, which is no part of it.
    void resultLosesOneFinalLineFeed()
    {
        LiveSafariBridge bridge(engineSaying(u"5\u00011\u0001u\u0001t\n"_qs, false));
        QCOMPARE(bridge.snapshot().tabs, QList<SafariTab>{SafariTab(5, u"u"_qs, u"t\n"_qs)});
    }

    // The stand-in plays Safari: a close keeps the current tab current (or the one taking its
    // place) and takes the first match of its own window, case considered unless the script
    // ignores it. Window 8 behind window 7 holds one tab "x" that nothing may touch; no tabs after
    // a close: window 7 is gone.
    void theStandinClosesAsSafariDoes()
    {
        const QStringList abc{"a", "b", "c"};
        const auto close = [](const char *url) { return SafariScript::close(SafariTab(7, QString::fromUtf8(url), {})); };
        const SafariScript::CloseScriptFrame blind = SafariScript::closeFrame(false);
        const struct { QStringList tabs; int current; QString script; QStringList tabsAfter; int currentAfter;
        } rows[] = {{abc, 3, close("a"), {"b", "c"}, 2},
                    {abc, 2, close("b"), {"a", "c"}, 2},
                    {{"c", "b", "c"}, 3, close("c"), {"b", "c"}, 2},
                    {abc, 1, close("A"), abc, 1},
                    {{"a"}, 1, close("a"), {}, 1},
                    {{"B", "b"}, 1, blind.beforeWindow + "7" + blind.beforeAddress + "b" + blind.afterAddress, {"b"}, 1}};
        for (const auto &row : rows) {
            QList<Standin::Tab> tabs;
            for (const QString &url : row.tabs)
                tabs.append({url, url});
            Standin::setWindows({{7, row.current, tabs}, {8, 1, {{u"x"_qs, u"x"_qs}}}});
            QCOMPARE(Standin::runScript(row.script).standardError, QByteArray());
            QCOMPARE(Standin::openUrls(), row.tabsAfter + QStringList{"x"});
            QCOMPARE(Standin::windows().size(), row.tabsAfter.isEmpty() ? 1 : 2);
            QCOMPARE(Standin::windows().first().toObject().value("current").toInt(), row.currentAfter);
        }
    }

    // A state that does not read fails every command, a script other than the bridge's three
    // does not compile; the tool commands set Safari up.
    void theStandinsTool()
    {
        QCOMPARE(Standin::runScript(SafariScript::snapshot() + u'\n').standardError,
                 "0:0: syntax error: Unknown script. (-2741)\n");
        for (const QStringList &command : {QStringList{"open", "a", "Title A"}, {"open", "b"}, {"select", "1", "1"}})
            QCOMPARE(Standin::run(command).exitCode, 0);
        QCOMPARE(QString::fromUtf8(Standin::runScript(SafariScript::snapshot()).standardOutput),
                 SafariScript::record(SafariTab(1, "a", "Title A"), true) + SafariScript::record(SafariTab(1, "b", "b"), false)
                         + u'\n');
        QCOMPARE(Standin::run({"quit"}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
        Standin::writeState("{\"windows\": [{\"id\": 1, \"tabs\": [{\"url\": 5}]}]}");
        QCOMPARE(Standin::run({"running"}).exitCode, 3);
        QCOMPARE(Standin::runScript(SafariScript::open("a")).standardError, "0:35: execution error: Unreadable state (-10000)\n");
    }
};

DROWSEWICK_TEST_MAIN(TestSafariBridge, QCoreApplication)
#include "tst_SafariBridge.moc"
