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

// The three script texts byte for byte, the reading of the snapshot script's result, and the
// live bridge on the engine the app runs.
class TestSafariBridge : public QObject
{
    Q_OBJECT

private slots:
    void init() { Standin::reset(); }

    // Backslashes are escaped first: the backslash that escapes a quote is not doubled again.
    void scriptsAreExact()
    {
        QCOMPARE(
                SafariScript::snapshot(),
                QStringLiteral(
                        "set fs to (ASCII character 1)\nset rs to (ASCII character 2)\nset out to \"\"\n"
                        "tell application \"Safari\"\n  repeat with w in windows\n    set wid to id of w\n    try\n"
                        "      set curIdx to index of current tab of w\n    on error\n      set curIdx to -1\n"
                        "    end try\n    set i to 0\n    repeat with t in tabs of w\n      set i to i + 1\n"
                        "      set isActive to \"0\"\n      if i is curIdx then set isActive to \"1\"\n      try\n"
                        "        set out to out & wid & fs & isActive & fs & my clean(URL of t) & fs & my clean(name of t) & rs\n"
                        "      end try\n    end repeat\n  end repeat\nend tell\nreturn out\non clean(field)\n"
                        "  set saved to AppleScript's text item delimiters\n"
                        "  set AppleScript's text item delimiters to {(ASCII character 1), (ASCII character 2)}\n"
                        "  set pieces to text items of field\n  set AppleScript's text item delimiters to \" \"\n"
                        "  set field to pieces as text\n  set AppleScript's text item delimiters to saved\n"
                        "  return field\nend clean"));
        QCOMPARE(SafariScript::close(SafariTab(-42, u"https://a.example/\"P"_qs, u"t"_qs)),
                 QStringLiteral("tell application \"Safari\"\n  repeat with w in windows\n    if (id of w) is -42 then\n"
                                "      considering case\n        repeat with t in tabs of w\n"
                                "          if (URL of t) is \"https://a.example/\\\"P\" then\n            close t\n"
                                "            return\n          end if\n        end repeat\n      end considering\n"
                                "    end if\n  end repeat\nend tell"));
        QCOMPARE(SafariScript::open(u"https://a.example/\\\"b\"\\ü\n"_qs),
                 u"tell application \"Safari\" to open location \"https://a.example/\\\\\\\"b\\\"\\\\ü\n\""_qs);
    }

    // Rows are written with ',' for the field separator and ';' for the record separator, and read
    // as the key and title of each tab, in order, '*' marking a current one: an empty address and
    // title in window zero; a title holding the record separator is cut; the largest windows,
    // negative too; two current tabs in one window, a plus sign; duplicates stay in order, bad
    // records go; bad windows are skipped, and flags other than "1" are not current.
    void snapshotResultsReadAsTheirTabs()
    {
        QList<std::pair<QString, QStringList>> rows{{"0,0,,;", {"0| "}}, {"1,0,u,a;b;", {"1|u a"}},
            {"9223372036854775807,0,u,t;-9223372036854775808,0,u,t;", {"9223372036854775807|u t", "-9223372036854775808|u t"}},
            {"+1,1,a,t;1,1,b,t;", {"*1|a t", "*1|b t"}},
            {"2,0,b,x;junk;1,0,u,a,b;1,0,a,y;2,0,b,z", {"2|b x", "1|a y", "2|b z"}}};
        for (const char *window : {"12a", " 12", "", "+-1", "9223372036854775808"})
            rows.append({QString::fromLatin1(window) + ",1,u,t;", {}});
        for (const char *flag : {"01", "10", " 1"})
            rows.append({"1," + QString::fromLatin1(flag) + ",u,t;", {"1|u t"}});
        for (auto &[text, tabs] : rows) {
            const SafariSnapshot snapshot = SafariScript::parseSnapshot(
                    text.replace(u',', SafariScript::fieldSeparator).replace(u';', SafariScript::recordSeparator));
            QStringList parsed;
            for (const SafariTab &tab : snapshot.tabs)
                parsed.append((snapshot.activeKeys.contains(tab.key()) ? u"*"_qs : QString()) + tab.key() + u' ' + tab.title());
            QCOMPARE(parsed, tabs);
            QCOMPARE(snapshot.activeKeys.size(), tabs.filter(u"*"_qs).size());
        }
    }

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
