#include "LiveSafariBridge.h"
#include "StandinHarness.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <functional>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(SafariEngine)
Q_DECLARE_METATYPE(SafariError::Kind)

namespace {

// Every order of quote, backslash and a letter up to three characters long, then random mixes
// of the characters that escaping, the stand-in's files or the protocol could get wrong.
QStringList trickyAddresses()
{
    QStringList addresses;
    QStringList shorter{QString()};
    for (int length = 1; length <= 3; ++length) {
        QStringList longer;
        for (const QString &start : std::as_const(shorter)) {
            for (QStringView c : {u"\"", u"\\", u"a"})
                longer.append(start + c.toString());
        }
        addresses += longer;
        shorter = longer;
    }
    const QStringList pieces{u"\""_qs, u"\\"_qs, u"\\\""_qs, u"\"\\"_qs, u"a"_qs, u"A"_qs, u"\n"_qs, u"\r\n"_qs,
                             u"|"_qs,  u"é"_qs,  u"日本"_qs,   u"😀"_qs,  u" "_qs, u"\t"_qs, u"%22"_qs, u"/"_qs};
    QRandomGenerator random(20260614);
    while (addresses.size() < 200) {
        QString address = QStringLiteral("https://x.example/");
        for (int n = random.bounded(1, 9); n > 0; --n)
            address += pieces[random.bounded(qsizetype(pieces.size()))];
        if (!addresses.contains(address))
            addresses.append(address);
    }
    return addresses;
}

QStringList urls(const SafariSnapshot &snapshot)
{
    QStringList result;
    for (const SafariTab &tab : snapshot.tabs)
        result.append(tab.url());
    return result;
}

// An engine and a running-check made of shell commands, to feed the bridge exact engine output.
SafariEngine shellEngine(const QString &script, const QStringList &arguments = {})
{
    return {{QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), script} + arguments},
            {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")}},
            5s};
}

using Operation = std::function<void(SafariBridge &)>;

const QList<std::pair<const char *, Operation>> operations{
    {"snapshot", [](SafariBridge &bridge) { bridge.snapshot(); }},
    {"close", [](SafariBridge &bridge) { bridge.close(SafariTab(1, u"https://a.example/"_qs, {})); }},
    {"open", [](SafariBridge &bridge) { bridge.open(u"https://b.example/"_qs); }},
};

SafariError failureOf(const Operation &operation, LiveSafariBridge &bridge)
{
    try {
        operation(bridge);
    } catch (const SafariError &error) {
        return error;
    }
    return SafariError::scriptFailed(QStringLiteral("<no failure>"));
}

// The engine the app itself runs: osascript and pgrep in the macOS flavour (here their stand-ins,
// which hand over to safari-standin), the stand-in beside the executable otherwise.
SafariEngine platformEngine(std::chrono::milliseconds limit = 30s)
{
    SafariEngine engine = SafariEngine::platformDefault();
    engine.timeLimit = limit;
    return engine;
}

const QByteArray oneTab = Standin::json("{'windows': [{'id': 1, 'current': 1, 'tabs': [{'url': 'https://a.example/'}]}]}");

} // namespace

class TestLiveSafariBridge : public QObject
{
    Q_OBJECT

private slots:
    void init() { Standin::reset(); }

    void openedAddressesComeBackAndCloseExactly()
    {
        LiveSafariBridge bridge(platformEngine());
        const QStringList addresses = trickyAddresses();
        for (const QString &address : addresses)
            bridge.open(address);
        const SafariSnapshot opened = bridge.snapshot();
        QCOMPARE(urls(opened), addresses);
        for (const SafariTab &tab : opened.tabs)
            QCOMPARE(tab.title(), tab.url());
        QCOMPARE(opened.activeKeys, QSet<QString>{SafariTab::keyFor(1, addresses.last())});

        // Closing every other tab must leave exactly the others, in their order.
        QStringList kept;
        for (qsizetype i = 0; i < addresses.size(); ++i) {
            if (i % 2 == 0)
                bridge.close(SafariTab(1, addresses[i], {}));
            else
                kept.append(addresses[i]);
        }
        QCOMPARE(urls(bridge.snapshot()), kept);
    }

    // A separator inside an address or a title (a page chooses its own title) becomes a space: it
    // can neither forge a record nor hide one. An address changed so is never matched by a close.
    void separatorsInFieldsBecomeSpaces()
    {
        LiveSafariBridge bridge(platformEngine());
        bridge.open(u"https://a.example/\u0001x"_qs);
        bridge.open(u"https://a.example/\u0002x"_qs);
        const QString forged = u"Cute cats\u00024711\u00010\u0001https://phish.example/login\u0001Online banking \u2014 sign in"_qs;
        QVERIFY(Standin::run({u"open"_qs, u"https://b.example/"_qs, forged}).exitCode == 0);
        const QString altered = u"https://a.example/ x"_qs;
        const QList<SafariTab> expected{SafariTab(1, altered, altered), SafariTab(1, altered, altered),
                                        SafariTab(1, u"https://b.example/"_qs, QString(forged).replace(u'\u0001', u' ').replace(u'\u0002', u' '))};
        QCOMPARE(bridge.snapshot().tabs, expected);
        bridge.close(expected.first());
        QCOMPARE(bridge.snapshot().tabs, expected);
    }

    // Only the first tab of its own window whose address matches, case included, is closed.
    void closeTakesTheFirstExactMatchOfItsWindowOnly()
    {
        Standin::writeState(Standin::json(
            "{'windows': [{'id': 7, 'current': 2, 'tabs': [{'url': 'https://a.example/Page'}, {'url': 'https://a.example/page'},"
            "                                              {'url': 'https://a.example/page', 'title': 'second'}]},"
            "             {'id': 8, 'tabs': [{'url': 'https://a.example/page'}]}]}"));
        LiveSafariBridge bridge(platformEngine());
        bridge.close(SafariTab(7, u"https://a.example/page"_qs, {}));
        const SafariSnapshot snapshot = bridge.snapshot();
        QCOMPARE(snapshot.tabs, (QList<SafariTab>{SafariTab(7, u"https://a.example/Page"_qs, u"https://a.example/Page"_qs),
                                                  SafariTab(7, u"https://a.example/page"_qs, u"second"_qs),
                                                  SafariTab(8, u"https://a.example/page"_qs, u"https://a.example/page"_qs)}));
        QCOMPARE(snapshot.activeKeys, QSet<QString>{u"7|https://a.example/page"_qs});
    }

    void refusedAutomationIsNotAuthorized()
    {
        Standin::writeState(oneTab);
        QCOMPARE(Standin::run({u"automation"_qs, u"deny"_qs}).exitCode, 0);
        LiveSafariBridge bridge(platformEngine());
        for (const auto &[name, operation] : operations)
            QVERIFY2(failureOf(operation, bridge).kind() == SafariError::Kind::notAuthorized, name);
        QCOMPARE(Standin::log().filter(u"error -1743"_qs).size(), 3);
    }

    void failuresAreScriptFailed_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<SafariEngine>("engine");
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("engineUnavailable");
        const QString standin = Standin::program();
        QTest::newRow("snapshot error") << (Standin::json("{'snapshotError': -1728, 'windows': []}")) << platformEngine()
                                        << 0 << u"Simulated failure"_qs << false;
        QTest::newRow("close refused") << (Standin::json("{'windows': [{'id': 1, 'tabs': [{'url': 'https://a.example/', 'closeFails': true}]}]}"))
                                       << platformEngine() << 1 << u"Simulated close failure"_qs << false;
        QTest::newRow("no engine") << oneTab
                                   << SafariEngine{{u"/nonexistent/safari-standin"_qs, {}}, {standin, {u"running"_qs}}}
                                   << 2 << u"/nonexistent/safari-standin"_qs << true;
        QTest::newRow("no check") << oneTab
                                  << SafariEngine{{standin, {}}, {u"/nonexistent/safari-standin"_qs, {u"running"_qs}}}
                                  << 0 << u"/nonexistent/safari-standin running"_qs << true;
        QTest::newRow("unknown script") << oneTab << shellEngine(u"cat >/dev/null; printf 'display dialog 1' | exec \"$0\""_qs, {standin})
                                        << 2 << u"Unknown script."_qs << false;
        QTest::newRow("check fails") << QByteArray("{not json") << platformEngine() << 0 << u"exit code 3"_qs << false;
        QTest::newRow("check fails on close") << QByteArray("[]") << platformEngine() << 1 << u"exit code 3"_qs << false;
        QTest::newRow("over the time limit") << (Standin::json("{'delayMs': 30000, 'windows': []}")) << platformEngine(1s)
                                             << 2 << u"did not finish within 1 seconds"_qs << true;
    }

    void failuresAreScriptFailed()
    {
        QFETCH(QByteArray, state);
        QFETCH(SafariEngine, engine);
        QFETCH(int, operation);
        QFETCH(QString, message);
        QFETCH(bool, engineUnavailable);
        Standin::writeState(state);
        LiveSafariBridge bridge(engine);
        QElapsedTimer clock;
        clock.start();
        const SafariError error = failureOf(operations[operation].second, bridge);
        QCOMPARE(error.kind(), SafariError::Kind::scriptFailed);
        QVERIFY2(error.message().contains(message), qPrintable(error.message()));
        QCOMPARE(error.isEngineUnavailable(), engineUnavailable);
        QVERIFY2(clock.elapsed() < 20000, "the bridge waited for the engine to finish");
    }

    void engineErrorLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<SafariError::Kind>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("execution error") << u"0:35: execution error: Safari got an error: Can’t get tab 1 (of it). (-1728)"_qs
                                         << SafariError::Kind::scriptFailed << u"Safari got an error: Can’t get tab 1 (of it)."_qs;
        QTest::newRow("refused") << u"0:35: execution error: Not authorized to send Apple events to Safari. (-1743)"_qs
                                 << SafariError::Kind::notAuthorized << QString();
        QTest::newRow("no number") << u"engine: error: gave up"_qs << SafariError::Kind::scriptFailed
                                   << u"engine: error: gave up"_qs;
        QTest::newRow("other shape") << u"it broke (-1)"_qs << SafariError::Kind::scriptFailed << u"it broke (-1)"_qs;
        QTest::newRow("silent") << QString() << SafariError::Kind::scriptFailed << u"The script engine ended with exit code 1"_qs;
    }

    void engineErrorLines()
    {
        QFETCH(QString, line);
        QFETCH(SafariError::Kind, kind);
        QFETCH(QString, message);
        LiveSafariBridge bridge(shellEngine(u"cat >/dev/null; printf '%s\\n' \"$0\" >&2; exit 1"_qs, {line}));
        const SafariError error = failureOf(operations[0].second, bridge);
        QCOMPARE(error.kind(), kind);
        QCOMPARE(error.message(), message);
    }

    void resultLosesOneFinalLineFeed_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("title");
        QTest::newRow("one") << u"5\u00011\u0001u\u0001t\n"_qs << u"t"_qs;
        QTest::newRow("two") << u"5\u00011\u0001u\u0001t\n\n"_qs << u"t\n"_qs;
        QTest::newRow("none") << u"5\u00011\u0001u\u0001t"_qs << u"t"_qs;
    }

    void resultLosesOneFinalLineFeed()
    {
        QFETCH(QString, output);
        QFETCH(QString, title);
        LiveSafariBridge bridge(shellEngine(u"cat >/dev/null; printf '%s' \"$0\""_qs, {output}));
        QCOMPARE(bridge.snapshot().tabs, QList<SafariTab>{SafariTab(5, u"u"_qs, title)});
    }

    void safariThatDoesNotRunIsNotStarted()
    {
        LiveSafariBridge bridge(platformEngine());
        QCOMPARE(bridge.snapshot(), SafariSnapshot{});
        bridge.close(SafariTab(1, u"https://a.example/"_qs, {}));
        QCOMPARE(Standin::log(), (QStringList{u"running"_qs, u"running"_qs}));
        QCOMPARE(Standin::run({u"running"_qs}).exitCode, 1);

        bridge.open(u"https://a.example/"_qs);
        QCOMPARE(Standin::log().mid(3), (QStringList{u"start"_qs, u"open \"https://a.example/\""_qs}));
        QCOMPARE(urls(bridge.snapshot()), QStringList{u"https://a.example/"_qs});
    }
};

DROWSEWICK_TEST_MAIN(TestLiveSafariBridge, QCoreApplication)
#include "tst_LiveSafariBridge.moc"
