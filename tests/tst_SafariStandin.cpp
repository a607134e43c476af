#include "SafariBridge.h"
#include "StandinHarness.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QJsonParseError>
#include <QTemporaryFile>

namespace {

// Window 7 holds the given tabs; window 8 behind it holds one tab that nothing may touch.
QByteArray twoWindows(const QStringList &urls, int current)
{
    QJsonArray tabs;
    for (const QString &url : urls)
        tabs.append(QJsonObject{{"url", url}});
    const QJsonArray windows{
        QJsonObject{{"id", 7}, {"current", current}, {"tabs", tabs}},
        QJsonObject{{"id", 8}, {"current", 1}, {"tabs", QJsonArray{QJsonObject{{"url", "x"}}}}},
    };
    return QJsonDocument(QJsonObject{{"windows", windows}}).toJson();
}

QString record(const QString &window, const QString &current, const QString &url, const QString &title = {})
{
    return window + SafariScript::fieldSeparator + current + SafariScript::fieldSeparator + url
        + SafariScript::fieldSeparator + (title.isNull() ? url : title) + SafariScript::recordSeparator;
}

// The bridge's own close script considers case; this one, in the other frame the engine knows, does not.
QString closeIgnoringCase(qint64 window, const QString &url)
{
    const SafariScript::CloseScriptFrame frame = SafariScript::closeFrame(false);
    return frame.beforeWindow + QString::number(window) + frame.beforeAddress + SafariScript::escape(url)
        + frame.afterAddress;
}

} // namespace

class TestSafariStandin : public QObject
{
    Q_OBJECT

private slots:
    void init() { Standin::reset(); }

    void closeKeepsTheCurrentTab_data()
    {
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<int>("current");
        QTest::addColumn<qint64>("window");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("considerCase");
        QTest::addColumn<QStringList>("tabsAfter");
        QTest::addColumn<int>("currentAfter");
        const QStringList abc{"a", "b", "c"};
        QTest::newRow("before the current") << abc << 3 << qint64(7) << "a" << true << QStringList{"b", "c"} << 2;
        QTest::newRow("after the current") << abc << 1 << qint64(7) << "c" << true << QStringList{"a", "b"} << 1;
        QTest::newRow("current, next takes over") << QStringList{"a", "b", "c", "d"} << 2 << qint64(7) << "b" << true
                                                  << QStringList{"a", "c", "d"} << 2;
        QTest::newRow("current and last") << abc << 3 << qint64(7) << "c" << true << QStringList{"a", "b"} << 2;
        QTest::newRow("first of two equal") << QStringList{"a", "b", "a"} << 3 << qint64(7) << "a" << true << QStringList{"b", "a"} << 2;
        QTest::newRow("unreadable current") << abc << 0 << qint64(7) << "a" << true << QStringList{"b", "c"} << 0;
        QTest::newRow("current out of range") << abc << 9 << qint64(7) << "a" << true << QStringList{"b", "c"} << 9;
        QTest::newRow("case differs") << abc << 1 << qint64(7) << "A" << true << abc << 1;
        QTest::newRow("case ignored, first match") << QStringList{"B", "b"} << 1 << qint64(7) << "b" << false << QStringList{"b"} << 1;
        QTest::newRow("no such tab") << abc << 1 << qint64(7) << "z" << true << abc << 1;
        QTest::newRow("no such window") << abc << 1 << qint64(9) << "a" << true << abc << 1;
        QTest::newRow("last tab") << QStringList{"a"} << 1 << qint64(7) << "a" << true << QStringList{} << 0;
    }

    void closeKeepsTheCurrentTab()
    {
        QFETCH(QStringList, tabs);
        QFETCH(int, current);
        QFETCH(qint64, window);
        QFETCH(QString, url);
        QFETCH(bool, considerCase);
        QFETCH(QStringList, tabsAfter);
        QFETCH(int, currentAfter);
        Standin::writeState(twoWindows(tabs, current));
        const Standin::Run run = Standin::runScript(considerCase ? SafariScript::close(SafariTab(window, url, {}))
                                                                 : closeIgnoringCase(window, url));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.standardOutput, QByteArray());
        const QJsonArray windows = Standin::windows();
        QCOMPARE(Standin::urlsOf(windows.last().toObject()), QStringList{"x"});
        QCOMPARE(windows.size(), tabsAfter.isEmpty() ? 1 : 2);
        if (!tabsAfter.isEmpty()) {
            QCOMPARE(Standin::urlsOf(windows.first().toObject()), tabsAfter);
            QCOMPARE(windows.first().toObject().value("current").toInt(), currentAfter);
        }
    }

    void snapshotRecords_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QString>("records");
        QTest::newRow("no windows") << Standin::json("{'windows': []}") << QString();
        QTest::newRow("windows in order")
            << Standin::json("{'windows': ["
                             "  {'id': -5, 'current': 3, 'tabs': [{'url': 'a'}, {'url': 'b', 'unreadable': true}, {'url': 'c'}]},"
                             "  {'id': 9, 'current': 0, 'tabs': [{'url': 'd'}]},"
                             "  {'id': 10, 'current': 2, 'tabs': [{'url': 'e'}]}]}")
            << record("-5", "0", "a") + record("-5", "1", "c") + record("9", "0", "d") + record("10", "0", "e");
        QTest::newRow("current unreadable tab")
            << Standin::json("{'windows': [{'id': 1, 'current': 1, 'tabs': [{'url': 'a', 'unreadable': true}, {'url': 'b'}]}]}")
            << record("1", "0", "b");
    }

    void snapshotRecords()
    {
        QFETCH(QByteArray, state);
        QFETCH(QString, records);
        Standin::writeState(state);
        const Standin::Run run = Standin::runScript(SafariScript::snapshot());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.standardOutput), records + u'\n');
    }

    void openGoesToTheFrontWindow()
    {
        Standin::writeState(twoWindows({"a"}, 1));
        QCOMPARE(Standin::runScript(SafariScript::open("n")).exitCode, 0);
        QCOMPARE(Standin::urlsOf(Standin::windows().at(0).toObject()), (QStringList{"a", "n"}));
        QCOMPARE(Standin::windows().at(0).toObject().value("current").toInt(), 2);

        QCOMPARE(Standin::run({"quit"}).exitCode, 0);
        QCOMPARE(Standin::runScript(SafariScript::open("m")).exitCode, 0);
        QCOMPARE(Standin::windows().size(), 1);
        QCOMPARE(Standin::urlsOf(Standin::windows().at(0).toObject()), QStringList{"m"});
        QCOMPARE(Standin::log(), (QStringList{"open \"n\"", "start", "open \"m\""}));
    }

    void unreadableStateIsLeftAlone()
    {
        Standin::writeState("{\"windows\": [{\"id\": 1, \"tabs\": [{\"url\": 5}]}]}");
        const QByteArray broken = Standin::stateBytes();
        for (const QStringList &command : QList<QStringList>{{"state"}, {"running"}, {"open", "a"}, {"quit"},
                                                             {"select", "1", "1"}, {"automation", "deny"}})
            QCOMPARE(Standin::run(command).exitCode, 3);
        const Standin::Run engine = Standin::runScript(SafariScript::open("a"));
        QCOMPARE(engine.exitCode, 1);
        QCOMPARE(engine.standardError, "0:35: execution error: Unreadable state (-10000)\n");
        QCOMPARE(Standin::stateBytes(), broken);

        QTemporaryFile valid;
        QVERIFY(valid.open());
        valid.write(Standin::json("{'running': false, 'windows': [{'id': 1, 'tabs': [{'url': 'gone'}]}]}"));
        valid.close();
        QCOMPARE(Standin::run({"load", valid.fileName()}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
        QCOMPARE(Standin::windows(), QJsonArray());
    }

    // Scripts other than the bridge's three fail to compile; commands the tool does not know, or
    // cannot carry out, are usage errors. Neither changes Safari.
    void rejectedInputChangesNothing_data()
    {
        QTest::addColumn<QStringList>("command"); // none: the engine runs the script
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("error"); // how standard error begins
        const QString open = SafariScript::openPrefix.toString();
        const QString close = SafariScript::close(SafariTab(7, "a", {}));
        const QByteArray unknownScript = "0:0: syntax error: Unknown script. (-2741)\n";
        const QByteArray usage = "usage: safari-standin";
        QTest::newRow("empty script") << QStringList() << QString() << unknownScript;
        QTest::newRow("snapshot with a line feed") << QStringList() << SafariScript::snapshot() + u'\n' << unknownScript;
        QTest::newRow("quote not escaped") << QStringList() << open + "a\"b\"" << unknownScript;
        QTest::newRow("lone backslash") << QStringList() << open + "a\\b\"" << unknownScript;
        QTest::newRow("open unterminated") << QStringList() << open + "a" << unknownScript;
        QTest::newRow("window with a sign") << QStringList() << QString(close).replace(" is 7 ", " is +7 ") << unknownScript;
        QTest::newRow("close with a line feed") << QStringList() << close + u'\n' << unknownScript;
        QTest::newRow("unknown command") << QStringList{"bogus"} << QString() << usage;
        QTest::newRow("open without address") << QStringList{"open"} << QString() << usage;
        QTest::newRow("select without index") << QStringList{"select", "7"} << QString() << usage;
        QTest::newRow("select no number") << QStringList{"select", "seven", "1"} << QString() << usage;
        QTest::newRow("select no such tab") << QStringList{"select", "7", "2"} << QString()
                                            << QByteArray("safari-standin: window 7 has no tab 2\n");
        QTest::newRow("select no such window") << QStringList{"select", "6", "1"} << QString()
                                               << QByteArray("safari-standin: window 6 has no tab 1\n");
        QTest::newRow("automation unknown") << QStringList{"automation", "maybe"} << QString() << usage;
        QTest::newRow("load missing file") << QStringList{"load", "/nonexistent/state.json"} << QString()
                                           << QByteArray("safari-standin: cannot read /nonexistent/state.json");
        const QString invalid = QDir::homePath() + "/invalid.json";
        QFile file(invalid);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Standin::json("{'windows': 1}")) > 0);
        QTest::newRow("load invalid file") << QStringList{"load", invalid} << QString() << "safari-standin: " + invalid.toUtf8();
    }

    void rejectedInputChangesNothing()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, script);
        QFETCH(QByteArray, error);
        Standin::writeState(twoWindows({"a"}, 1));
        const QByteArray before = Standin::stateBytes();
        const Standin::Run run = Standin::run(command, script.toUtf8());
        QCOMPARE(run.exitCode, command.isEmpty() ? 1 : 2);
        QVERIFY2(run.standardError.startsWith(error), run.standardError.constData());
        QCOMPARE(Standin::log(), command.isEmpty() ? QStringList{"unknown error -2741"} : QStringList());
        QCOMPARE(Standin::stateBytes(), before);
    }

    void toolCommandsSetSafariUp()
    {
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
        QCOMPARE(Standin::run({"open", "a", "Title A"}).exitCode, 0);
        QCOMPARE(Standin::run({"open", "b"}).exitCode, 0);
        QCOMPARE(Standin::run({"select", "1", "1"}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 0);
        const QString expected = record("1", "1", "a", "Title A") + record("1", "0", "b");
        QCOMPARE(QString::fromUtf8(Standin::runScript(SafariScript::snapshot()).standardOutput), expected + u'\n');

        QCOMPARE(Standin::run({"automation", "deny"}).exitCode, 0);
        QCOMPARE(Standin::runScript(SafariScript::snapshot()).exitCode, 1);
        QCOMPARE(Standin::run({"automation", "allow"}).exitCode, 0);
        QCOMPARE(Standin::run({"quit"}).exitCode, 0);
        QCOMPARE(Standin::run({"running"}).exitCode, 1);
        const QJsonObject state = QJsonDocument::fromJson(Standin::run({"state"}).standardOutput).object();
        QCOMPARE(state.value("running"), QJsonValue(false));
        QCOMPARE(state.value("automation"), QJsonValue("allowed"));
        QCOMPARE(state.value("windows"), QJsonValue(QJsonArray()));
    }

    void concurrentOpensAllLand()
    {
        constexpr int processes = 8;
        constexpr int opensEach = 10;
        QProcess openers[processes];
        QSet<QString> expected;
        for (int p = 0; p < processes; ++p) {
            openers[p].start("/bin/sh", {"-c", "for i in $(seq 1 $2); do \"$0\" open \"p$1-$i\" || exit 1; done",
                                         Standin::program(), QString::number(p), QString::number(opensEach)});
            for (int i = 1; i <= opensEach; ++i)
                expected.insert(QStringLiteral("p%1-%2").arg(p).arg(i));
        }
        int reads = 0;
        for (QProcess &opener : openers) {
            while (!opener.waitForFinished(1)) {
                const QByteArray bytes = Standin::stateBytes();
                QJsonParseError error;
                QJsonDocument::fromJson(bytes, &error);
                QVERIFY2(bytes.isEmpty() || error.error == QJsonParseError::NoError, bytes.constData());
                ++reads;
            }
            QCOMPARE(opener.exitCode(), 0);
        }
        const QStringList opened = Standin::urlsOf(Standin::windows().at(0).toObject());
        QCOMPARE(opened.size(), processes * opensEach);
        QCOMPARE(QSet<QString>(opened.begin(), opened.end()), expected);
        QVERIFY(reads > 0);
    }
};

DROWSEWICK_TEST_MAIN(TestSafariStandin, QCoreApplication)
#include "tst_SafariStandin.moc"
