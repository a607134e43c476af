#include "LiveSafariBridge.h"
#include "Standin.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(SafariEngine)
Q_DECLARE_METATYPE(SafariError::Kind)

namespace {

QStringList urls(const SafariSnapshot &snapshot)
{
    QStringList result;
    for (const SafariTab &tab : snapshot.tabs)
        result.append(tab.url());
    return result;
}

// An engine made of a shell command, to feed the bridge exact engine output.
SafariEngine shellEngine(const QString &script, const QStringList &arguments = {})
{
    return {{QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), script} + arguments},
            {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")}},
            5s};
}

using Operation = std::function<void(SafariBridge &)>;
const Operation operations[] = {
    [](SafariBridge &bridge) { bridge.snapshot(); },
    [](SafariBridge &bridge) { bridge.close(SafariTab(1, u"https://a.example/"_qs, {})); },
    [](SafariBridge &bridge) { bridge.open(u"https://b.example/"_qs); },
};

SafariError failureOf(int operation, LiveSafariBridge bridge)
{
    try {
        operations[operation](bridge);
    } catch (const SafariError &error) {
        return error;
    }
    return SafariError::scriptFailed(QStringLiteral("<no failure>"));
}

// Window 7 holds the given tabs; window 8 behind it holds one tab that nothing may touch.
QJsonObject twoWindows(const QStringList &tabs, int current)
{
    QList<Standin::Tab> list;
    for (const QString &url : tabs)
        list.append({url, url});
    Standin::setWindows({{7, current, list}, {8, 1, {{QStringLiteral("x"), QStringLiteral("x")}}}});
    return Standin::state();
}

const QByteArray oneTab = Standin::json("{'windows': [{'id': 1, 'current': 1, 'tabs': [{'url': 'https://a.example/'}]}]}");

} // namespace

// The live bridge on the engine the app runs, and the stand-in that plays Safari for it.
class TestSafariBridge : public QObject
{
    Q_OBJECT

private slots:
    void init() { Standin::reset(); }

    // Every order of quote, backslash and a letter up to three long, and mixes of what escaping,
    // the stand-in's files or the protocol could get wrong: each comes back as it was opened, and
    // closing every other one leaves exactly the others.
    void openedAddressesComeBackAndCloseExactly()
    {
        QStringList addresses{u"https://x.example/\\\"\r\n|é日本😀 \t%22"_qs};
        for (const QChar a : u"\"\\a"_qs) {
            for (const QChar b : u"\"\\a"_qs) {
                for (const QChar c : u"\"\\a"_qs)
                    addresses << QString(a) << QString(a) + b << QString(a) + b + c;
            }
        }
        addresses.removeDuplicates();
        LiveSafariBridge bridge(Standin::engine());
        for (const QString &address : addresses)
            bridge.open(address);
        const SafariSnapshot opened = bridge.snapshot();
        QCOMPARE(urls(opened), addresses);
        QCOMPARE(opened.tabs.last().title(), addresses.last());
        QCOMPARE(opened.activeKeys, QSet<QString>{SafariTab::keyFor(1, addresses.last())});
        QStringList kept;
        for (qsizetype i = 0; i < addresses.size(); ++i) {
            if (i % 2 == 0)
                bridge.close(SafariTab(1, addresses[i], {}));
            else
                kept.append(addresses[i]);
        }
        QCOMPARE(urls(bridge.snapshot()), kept);
    }

    // A separator inside an address or a title becomes a space: it can neither forge a record nor
    // hide one, and an address changed so is never matched by a close. A close takes the first
    // tab of its own window whose address matches, case included.
    void snapshotsAndClosesKeepToTheirTabs()
    {
        LiveSafariBridge bridge(Standin::engine());
        bridge.open(u"https://a.example/\u0001x"_qs);
        const QString forged = u"Cute cats\u00024711\u00010\u0001https://phish.example/login\u0001Online banking"_qs;
        QCOMPARE(Standin::run({u"open"_qs, u"https://b.example/"_qs, forged}).exitCode, 0);
        const QList<SafariTab> expected{SafariTab(1, u"https://a.example/ x"_qs, u"https://a.example/ x"_qs),
                                        SafariTab(1, u"https://b.example/"_qs, QString(forged).replace(u'\u0001', u' ').replace(u'\u0002', u' '))};
        QCOMPARE(bridge.snapshot().tabs, expected);
        bridge.close(expected.first());
        QCOMPARE(bridge.snapshot().tabs, expected);

        Standin::writeState(Standin::json(
            "{'windows': [{'id': 7, 'current': 2, 'tabs': [{'url': 'P'}, {'url': 'p'}, {'url': 'p', 'title': 'second'}]},"
            "             {'id': 8, 'tabs': [{'url': 'p'}]}]}"));
        bridge.close(SafariTab(7, u"p"_qs, {}));
        const SafariSnapshot snapshot = bridge.snapshot();
        QCOMPARE(snapshot.tabs, (QList<SafariTab>{SafariTab(7, u"P"_qs, u"P"_qs), SafariTab(7, u"p"_qs, u"second"_qs), SafariTab(8, u"p"_qs, u"p"_qs)}));
        QCOMPARE(snapshot.activeKeys, QSet<QString>{u"7|p"_qs});
    }

    // A Safari that does not run is neither read nor closed, so it is not started; opening starts it.
    void safariThatDoesNotRunIsNotStarted()
    {
        LiveSafariBridge bridge(Standin::engine());
        QCOMPARE(bridge.snapshot(), SafariSnapshot{});
        bridge.close(SafariTab(1, u"https://a.example/"_qs, {}));
        QCOMPARE(Standin::log(), (QStringList{u"running"_qs, u"running"_qs}));
        bridge.open(u"https://a.example/"_qs);
        QCOMPARE(Standin::log().mid(2), (QStringList{u"start"_qs, u"open \"https://a.example/\""_qs}));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<SafariEngine>("engine");
        QTest::addColumn<int>("operation");
        QTest::addColumn<SafariError::Kind>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("engineUnavailable");
        const auto failed = SafariError::Kind::scriptFailed;
        const QByteArray denied = Standin::json("{'automation': 'denied', 'windows': []}");
        const auto engineSaying = [](const char *line) {
            return shellEngine(u"cat >/dev/null; printf '%s\\n' \"$0\" >&2; exit 1"_qs, {QString::fromUtf8(line)});
        };
        QTest::newRow("automation refused, on a snapshot") << denied << Standin::engine() << 0 << SafariError::Kind::notAuthorized << QString() << false;
        QTest::newRow("automation refused, on a close") << denied << Standin::engine() << 1 << SafariError::Kind::notAuthorized << QString() << false;
        QTest::newRow("snapshot error") << Standin::json("{'snapshotError': -1728, 'windows': []}") << Standin::engine() << 0 << failed
                                        << u"Simulated failure"_qs << false;
        QTest::newRow("no engine") << oneTab << SafariEngine{{u"/nonexistent/engine"_qs, {}}, Standin::engine().runningCheck} << 2 << failed
                                   << u"/nonexistent/engine"_qs << true;
        QTest::newRow("no check") << oneTab << SafariEngine{Standin::engine().script, {u"/nonexistent/check"_qs, {}}} << 0 << failed
                                  << u"/nonexistent/check"_qs << true;
        QTest::newRow("check fails on close") << QByteArray("{not json") << Standin::engine() << 1 << failed << u"exit code 3"_qs << false;
        QTest::newRow("over the time limit") << Standin::json("{'delayMs': 30000, 'windows': []}") << Standin::engine(1s) << 2 << failed
                                             << u"did not finish within 1 seconds"_qs << true;
        QTest::newRow("execution error") << oneTab << engineSaying("0:35: execution error: Safari got an error: Can’t get tab 1 (of it). (-1728)")
                                         << 0 << failed << u"Safari got an error: Can’t get tab 1 (of it)."_qs << false;
        QTest::newRow("refused, as osascript says it") << oneTab << engineSaying("0:35: execution error: Not authorized to send Apple events to Safari. (-1743)")
                                                       << 0 << SafariError::Kind::notAuthorized << QString() << false;
        QTest::newRow("no number") << oneTab << engineSaying("engine: error: gave up (x)") << 0 << failed << u"engine: error: gave up (x)"_qs << false;
    }
    void failures()
    {
        QFETCH(QByteArray, state);
        QFETCH(SafariEngine, engine);
        QFETCH(int, operation);
        QFETCH(SafariError::Kind, kind);
        QFETCH(QString, message);
        QFETCH(bool, engineUnavailable);
        Standin::writeState(state);
        QElapsedTimer clock;
        clock.start();
        const SafariError error = failureOf(operation, LiveSafariBridge(engine));
        QCOMPARE(error.kind(), kind);
        QVERIFY2(error.message().contains(message), qPrintable(error.message()));
        QCOMPARE(error.isEngineUnavailable(), engineUnavailable);
        QVERIFY2(clock.elapsed() < 20000, "the bridge waited for the engine to finish");
    }

    // osascript ends a result with a line feed, which is no part of it.
    void resultLosesOneFinalLineFeed()
    {
        for (const QString &title : {u"t"_qs, u"t\n"_qs}) {
            LiveSafariBridge bridge(shellEngine(u"cat >/dev/null; printf '%s\\n' \"$0\""_qs, {u"5\u00011\u0001u\u0001"_qs + title}));
            QCOMPARE(bridge.snapshot().tabs, QList<SafariTab>{SafariTab(5, u"u"_qs, title)});
        }
    }

    // The stand-in plays Safari: a close keeps the current tab current (or the one taking its
    // place) and takes the first match, case considered unless the script ignores it; scripts
    // other than the bridge's three fail to compile and change nothing.
    void theStandinClosesAsSafariDoes_data()
    {
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("tabsAfter"); // none: refused
        QTest::addColumn<int>("currentAfter");
        const QStringList abc{"a", "b", "c"};
        const auto close = [](const char *url) { return SafariScript::close(SafariTab(7, QString::fromUtf8(url), {})); };
        const SafariScript::CloseScriptFrame blind = SafariScript::closeFrame(false);
        const QString open = SafariScript::openPrefix.toString();
        QTest::newRow("before the current") << abc << 3 << close("a") << QStringList{"b", "c"} << 2;
        QTest::newRow("current, next takes over") << abc << 2 << close("b") << QStringList{"a", "c"} << 2;
        QTest::newRow("current and last, first of two equal") << QStringList{"c", "b", "c"} << 3 << close("c") << QStringList{"b", "c"} << 2;
        QTest::newRow("case differs") << abc << 1 << close("A") << abc << 1;
        QTest::newRow("case ignored") << QStringList{"B", "b"} << 1 << blind.beforeWindow + "7" + blind.beforeAddress + "b" + blind.afterAddress
                                      << QStringList{"b"} << 1;
        QTest::newRow("last tab, window gone") << QStringList{"a"} << 1 << close("a") << QStringList{"-"} << 0;
        for (const QString &script : {SafariScript::snapshot() + u'\n', open + u"a\"b\""_qs, open + u"a\\b\""_qs,
                                      close("a").replace(u" is 7 "_qs, u" is +7 "_qs)})
            QTest::addRow("refused: %s", qPrintable(script.right(12))) << abc << 1 << script << QStringList() << 1;
    }
    void theStandinClosesAsSafariDoes()
    {
        QFETCH(QStringList, tabs);
        QFETCH(int, current);
        QFETCH(QString, script);
        QFETCH(QStringList, tabsAfter);
        QFETCH(int, currentAfter);
        twoWindows(tabs, current);
        const Standin::Run run = Standin::runScript(script);
        QCOMPARE(run.standardError, tabsAfter.isEmpty() ? QByteArray("0:0: syntax error: Unknown script. (-2741)\n") : QByteArray());
        if (tabsAfter.isEmpty())
            tabsAfter = tabs;
        const QJsonArray windows = Standin::windows();
        QCOMPARE(Standin::urlsOf(windows.last().toObject()), QStringList{"x"});
        QCOMPARE(windows.size(), tabsAfter == QStringList{"-"} ? 1 : 2);
        if (windows.size() == 2) {
            QCOMPARE(Standin::urlsOf(windows.first().toObject()), tabsAfter);
            QCOMPARE(windows.first().toObject().value("current").toInt(), currentAfter);
        }
    }

    // A state that does not read fails every command; the tool commands set Safari up.
    void theStandinsTool()
    {
        Standin::writeState("{\"windows\": [{\"id\": 1, \"tabs\": [{\"url\": 5}]}]}");
        QCOMPARE(Standin::run({"running"}).exitCode, 3);
        QCOMPARE(Standin::runScript(SafariScript::open("a")).standardError, "0:35: execution error: Unreadable state (-10000)\n");
        Standin::reset();
        QCOMPARE(Standin::run({"open", "a", "Title A"}).exitCode, 0);
        QCOMPARE(Standin::run({"open", "b"}).exitCode, 0);
        QCOMPARE(Standin::run({"select", "1", "1"}).exitCode, 0);
        QCOMPARE(Standin::run({"select", "1", "3"}).exitCode, 2);
        QCOMPARE(QString::fromUtf8(Standin::runScript(SafariScript::snapshot()).standardOutput),
                 SafariScript::record(SafariTab(1, "a", "Title A"), true) + SafariScript::record(SafariTab(1, "b", "b"), false) + u'\n');
        QCOMPARE(Standin::run({"quit"}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
    }
};

DROWSEWICK_TEST_MAIN(TestSafariBridge, QCoreApplication)
#include "tst_SafariBridge.moc"
