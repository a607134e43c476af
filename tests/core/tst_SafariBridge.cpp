#include "LiveSafariBridge.h"
#include "Standin.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

using namespace std::chrono_literals;

namespace {

// An engine made of a shell command that prints one line, to feed the bridge exact engine output:
// a result, or an error and a failed exit.
SafariEngine engineSaying(const QString &line, bool fails = true)
{
    const QString script = u"cat >/dev/null; printf '%s\\n' \"$0\""_qs + (fails ? u" >&2; exit 1"_qs : QString());
    return {{u"/bin/sh"_qs, {u"-c"_qs, script, line}}, {u"/bin/sh"_qs, {u"-c"_qs, u"exit 0"_qs}}, 5s};
}

struct Failure
{
    QByteArray state; // of the stand-in, where the row reaches it
    SafariEngine engine;
    std::function<void(SafariBridge &)> operation;
    SafariError::Kind kind;
    QString message;
    bool engineUnavailable;
};

struct Close
{
    QStringList tabs; // window 7; window 8 behind it holds one tab "x" that nothing may touch
    int current;
    QString script;
    QStringList tabsAfter; // none: the window is gone
    int currentAfter;      // of the front window
};

} // namespace

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
        const auto close = [](SafariBridge &bridge) { bridge.close(SafariTab(1, u"https://a.example/"_qs, {})); };
        const auto open = [](SafariBridge &bridge) { bridge.open(u"https://b.example/"_qs); };
        QTest::newRow("automation refused") << Failure{Standin::json("{'automation': 'denied', 'windows': []}"), standin, close, refused, {}, false};
        QTest::newRow("refused, as osascript says it")
            << Failure{{}, engineSaying(u"0:35: execution error: Not authorized to send Apple events to Safari. (-1743)"_qs), snapshot, refused, {}, false};
        QTest::newRow("no engine") << Failure{{}, {{u"/nonexistent/engine"_qs, {}}, standin.runningCheck}, open, failed, u"/nonexistent/engine"_qs, true};
        QTest::newRow("no check") << Failure{{}, {standin.script, {u"/nonexistent/check"_qs, {}}}, snapshot, failed, u"/nonexistent/check"_qs, true};
        QTest::newRow("check fails on close") << Failure{"{not json", standin, close, failed, u"exit code 3"_qs, false};
        QTest::newRow("over the time limit") << Failure{Standin::json("{'delayMs': 30000, 'windows': []}"), Standin::engine(1s), open, failed, u"did not finish within 1 seconds"_qs, true};
        QTest::newRow("execution error") << Failure{{}, engineSaying(u"0:35: execution error: Safari got an error: Can’t get tab 1 (of it). (-1728)"_qs),
                                                    snapshot, failed, u"Safari got an error: Can’t get tab 1 (of it)."_qs, false};
        QTest::newRow("no number") << Failure{{}, engineSaying(u"engine: error: gave up (x)"_qs), snapshot, failed, u"engine: error: gave up (x)"_qs, false};
    }
    void failures()
    {
        QFETCH(Failure, failure);
        Standin::writeState(failure.state);
        LiveSafariBridge bridge(failure.engine);
        const QDeadlineTimer patience(20000);
        try {
            failure.operation(bridge);
            QFAIL("no failure");
        } catch (const SafariError &error) {
            QCOMPARE(error.kind(), failure.kind);
            QVERIFY2(error.message().contains(failure.message), qPrintable(error.message()));
            QVERIFY2(!error.message().contains(u"execution error"_qs), "the engine's whole line is no message");
            QCOMPARE(error.isEngineUnavailable(), failure.engineUnavailable);
        }
        QVERIFY2(!patience.hasExpired(), "the bridge waited for the engine to finish");
    }

    // osascript ends a result with a line feed, which is no part of it.
    void resultLosesOneFinalLineFeed()
    {
        LiveSafariBridge bridge(engineSaying(u"5\u00011\u0001u\u0001t\n"_qs, false));
        QCOMPARE(bridge.snapshot().tabs, QList<SafariTab>{SafariTab(5, u"u"_qs, u"t\n"_qs)});
    }

    // The stand-in plays Safari: a close keeps the current tab current (or the one taking its
    // place) and takes the first match of its own window, case considered unless the script
    // ignores it.
    void theStandinClosesAsSafariDoes_data()
    {
        QTest::addColumn<Close>("close");
        const QStringList abc{"a", "b", "c"};
        const auto close = [](const char *url) { return SafariScript::close(SafariTab(7, QString::fromUtf8(url), {})); };
        const SafariScript::CloseScriptFrame blind = SafariScript::closeFrame(false);
        QTest::newRow("before the current") << Close{abc, 3, close("a"), {"b", "c"}, 2};
        QTest::newRow("current, next takes over") << Close{abc, 2, close("b"), {"a", "c"}, 2};
        QTest::newRow("current and last, first of two equal") << Close{{"c", "b", "c"}, 3, close("c"), {"b", "c"}, 2};
        QTest::newRow("case differs") << Close{abc, 1, close("A"), abc, 1};
        QTest::newRow("case ignored") << Close{{"B", "b"}, 1, blind.beforeWindow + "7" + blind.beforeAddress + "b" + blind.afterAddress, {"b"}, 1};
        QTest::newRow("last tab, window gone") << Close{{"a"}, 1, close("a"), {}, 1};
    }
    void theStandinClosesAsSafariDoes()
    {
        QFETCH(Close, close);
        QList<Standin::Tab> tabs;
        for (const QString &url : close.tabs)
            tabs.append({url, url});
        Standin::setWindows({{7, close.current, tabs}, {8, 1, {{u"x"_qs, u"x"_qs}}}});
        QCOMPARE(Standin::runScript(close.script).standardError, QByteArray());
        const QJsonArray windows = Standin::windows();
        QCOMPARE(Standin::openUrls(), close.tabsAfter + QStringList{"x"});
        QCOMPARE(windows.size(), close.tabsAfter.isEmpty() ? 1 : 2);
        QCOMPARE(windows.first().toObject().value("current").toInt(), close.currentAfter);
    }

    // A state that does not read fails every command, a script other than the bridge's three
    // does not compile; the tool commands set Safari up.
    void theStandinsTool()
    {
        Standin::writeState("{\"windows\": [{\"id\": 1, \"tabs\": [{\"url\": 5}]}]}");
        QCOMPARE(Standin::run({"running"}).exitCode, 3);
        QCOMPARE(Standin::runScript(SafariScript::open("a")).standardError, "0:35: execution error: Unreadable state (-10000)\n");
        Standin::reset();
        QCOMPARE(Standin::runScript(SafariScript::snapshot() + u'\n').standardError, "0:0: syntax error: Unknown script. (-2741)\n");
        for (const QStringList &command : {QStringList{"open", "a", "Title A"}, {"open", "b"}, {"select", "1", "1"}})
            QCOMPARE(Standin::run(command).exitCode, 0);
        QCOMPARE(QString::fromUtf8(Standin::runScript(SafariScript::snapshot()).standardOutput),
                 SafariScript::record(SafariTab(1, "a", "Title A"), true) + SafariScript::record(SafariTab(1, "b", "b"), false) + u'\n');
        QCOMPARE(Standin::run({"quit"}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
    }
};

DROWSEWICK_TEST_MAIN(TestSafariBridge, QCoreApplication)
#include "tst_SafariBridge.moc"
