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

// The live bridge on the engine the app runs.
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
        const auto close = [](SafariBridge &bridge) { bridge.close(SafariTab(1, u"a"_qs, {})); };
        const QString error = u"0:35: execution error: Safari got an error: Can’t get tab 1 (of it)."_qs;
        QTest::newRow("refused, as osascript says it")
                << Failure{{}, engineSaying(u"0:35: execution error: Not authorized to send Apple events to Safari. (-1743)"_qs),
                           snapshot, refused, {}, false};
        QTest::newRow("no engine") << Failure{{}, {{u"/nonexistent/engine"_qs, {}}, standin.runningCheck}, open, failed,
                                              u"/nonexistent/engine"_qs, true};
        QTest::newRow("no check") << Failure{{}, {standin.script, {u"/nonexistent/check"_qs, {}}}, snapshot, failed,
                                             u"/nonexistent/check"_qs, true};
        QTest::newRow("check fails on close") << Failure{"{not json", standin, close, failed, u"exit code 3"_qs, false};
        QTest::newRow("over the time limit") << Failure{Standin::json("{'delayMs': 30000, 'windows': []}"),
                                                        Standin::engine(std::chrono::seconds(1)), open, failed,
                                                        u"did not finish within 1 seconds"_qs, true};
        QTest::newRow("execution error")
                << Failure{{}, engineSaying(error + u" (-1728)"_qs), snapshot, failed, error.mid(23), false};
        QTest::newRow("no number") << Failure{{}, engineSaying(u"engine: error: gave up (x)"_qs), snapshot, failed,
                                              u"engine: error: gave up (x)"_qs, false};
    }
    void failures()
    {
        QFETCH(Failure, failure);
        Standin::writeState(failure.state);
        LiveSafariBridge bridge(failure.engine);
        // Past the time limit the operation fails rather than waiting for the engine.
        try {
            failure.operation(bridge);
            QFAIL("no failure");
        } catch (const SafariError &error) {
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
};

DROWSEWICK_TEST_MAIN(TestSafariBridge, QCoreApplication)
#include "tst_SafariBridge.moc"
