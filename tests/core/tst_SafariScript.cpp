#include "SafariBridge.h"
#include "TestHome.h"

#include <QCoreApplication>

namespace {

QString record(const QString &window, const QString &current, const QString &url, const QString &title)
{
    const QChar fs = SafariScript::fieldSeparator;
    return window + fs + current + fs + url + fs + title + SafariScript::recordSeparator;
}

} // namespace

// The three script texts byte for byte, the escaping of addresses, and the reading of the
// snapshot script's result.
class TestSafariScript : public QObject
{
    Q_OBJECT

private slots:
    void scriptsAreExact()
    {
        QCOMPARE(SafariScript::snapshot(),
                 QStringLiteral("set fs to (ASCII character 1)\n"
                                "set rs to (ASCII character 2)\n"
                                "set out to \"\"\n"
                                "tell application \"Safari\"\n"
                                "  repeat with w in windows\n"
                                "    set wid to id of w\n"
                                "    try\n"
                                "      set curIdx to index of current tab of w\n"
                                "    on error\n"
                                "      set curIdx to -1\n"
                                "    end try\n"
                                "    set i to 0\n"
                                "    repeat with t in tabs of w\n"
                                "      set i to i + 1\n"
                                "      set isActive to \"0\"\n"
                                "      if i is curIdx then set isActive to \"1\"\n"
                                "      try\n"
                                "        set out to out & wid & fs & isActive & fs & my clean(URL of t) & fs & my clean(name of t) & rs\n"
                                "      end try\n"
                                "    end repeat\n"
                                "  end repeat\n"
                                "end tell\n"
                                "return out\n"
                                "on clean(field)\n"
                                "  set saved to AppleScript's text item delimiters\n"
                                "  set AppleScript's text item delimiters to {(ASCII character 1), (ASCII character 2)}\n"
                                "  set pieces to text items of field\n"
                                "  set AppleScript's text item delimiters to \" \"\n"
                                "  set field to pieces as text\n"
                                "  set AppleScript's text item delimiters to saved\n"
                                "  return field\n"
                                "end clean"));
        QCOMPARE(SafariScript::close(SafariTab(-42, QStringLiteral("https://a.example/P"), QStringLiteral("t"))),
                 QStringLiteral("tell application \"Safari\"\n"
                                "  repeat with w in windows\n"
                                "    if (id of w) is -42 then\n"
                                "      considering case\n"
                                "        repeat with t in tabs of w\n"
                                "          if (URL of t) is \"https://a.example/P\" then\n"
                                "            close t\n"
                                "            return\n"
                                "          end if\n"
                                "        end repeat\n"
                                "      end considering\n"
                                "    end if\n"
                                "  end repeat\n"
                                "end tell"));
        QCOMPARE(SafariScript::open(QStringLiteral("https://a.example/x")),
                 QStringLiteral("tell application \"Safari\" to open location \"https://a.example/x\""));
    }

    // Backslashes first: the backslash that escapes a quote is not doubled again.
    void escape()
    {
        const QString url = u"a\\\"b\"\\ü\n"_qs, escaped = u"a\\\\\\\"b\\\"\\\\ü\n"_qs;
        QCOMPARE(SafariScript::open(url), SafariScript::openPrefix.toString() + escaped + u'"');
        QVERIFY(SafariScript::close(SafariTab(1, url, {})).contains(u'"' + escaped + u'"'));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("keys");   // keys of the tabs, in order
        QTest::addColumn<QStringList>("titles"); // titles of the tabs, in order
        QTest::addColumn<QStringList>("active");
        const QStringList none;
        QTest::newRow("empty text") << QString() << none << none << none;
        QTest::newRow("trailing separator adds nothing") << record("1", "1", "u", "t") << QStringList{"1|u"} << QStringList{"t"} << QStringList{"1|u"};
        QTest::newRow("plus sign") << record("+12", "1", "u", "t") << QStringList{"12|u"} << QStringList{"t"} << QStringList{"12|u"};
        QTest::newRow("empty address and title, window zero") << record("0", "0", "", "") << QStringList{"0|"} << QStringList{""} << none;
        QTest::newRow("title holds the field separator") << record("1", "0", "u", u"a\u0001b"_qs) << none << none << none;
        QTest::newRow("title holds the record separator is cut") << record("1", "0", "u", u"a\u0002b"_qs) << QStringList{"1|u"} << QStringList{"a"} << none;
        for (const char *window : {"12a", " 12", "", "+-1", "9223372036854775808"})
            QTest::addRow("window '%s' skipped", window) << record(QString::fromLatin1(window), "1", "u", "t") << none << none << none;
        QTest::newRow("the largest windows, negative too") << record("9223372036854775807", "0", "u", "t") + record("-9223372036854775808", "0", "u", "t")
                                                           << QStringList{"9223372036854775807|u", "-9223372036854775808|u"} << QStringList{"t", "t"} << none;
        for (const char *flag : {"01", "true", " 1"})
            QTest::addRow("flag '%s' is not current", flag) << record("1", QString::fromLatin1(flag), "u", "t") << QStringList{"1|u"} << QStringList{"t"} << none;
        QTest::newRow("two current tabs in one window") << record("1", "1", "a", "t") + record("1", "1", "b", "t")
                                                         << QStringList{"1|a", "1|b"} << QStringList{"t", "t"} << QStringList{"1|a", "1|b"};
        QTest::newRow("duplicates stay, order kept, bad records skipped")
            << record("2", "0", "b", "x") + u"junk\u0002"_qs + record("1", "0", "a", "y") + record("2", "0", "b", "z").chopped(1)
            << QStringList{"2|b", "1|a", "2|b"} << QStringList{"x", "y", "z"} << none;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, active);
        const SafariSnapshot snapshot = SafariScript::parseSnapshot(text);
        QStringList parsedKeys;
        QStringList parsedTitles;
        for (const SafariTab &tab : snapshot.tabs) {
            parsedKeys.append(tab.key());
            parsedTitles.append(tab.title());
        }
        QCOMPARE(parsedKeys, keys);
        QCOMPARE(parsedTitles, titles);
        QCOMPARE(snapshot.activeKeys, QSet<QString>(active.cbegin(), active.cend()));
    }
};

DROWSEWICK_TEST_MAIN(TestSafariScript, QCoreApplication)
#include "tst_SafariScript.moc"
