#include "SafariBridge.h"
#include "TestEnvironment.h"

#include <QCoreApplication>

namespace {

const QChar fs = SafariScript::fieldSeparator;
const QChar rs = SafariScript::recordSeparator;

QString record(const QString &window, const QString &current, const QString &url, const QString &title)
{
    return window + fs + current + fs + url + fs + title + rs;
}

} // namespace

class TestSafariScript : public QObject
{
    Q_OBJECT

private slots:
    void snapshotScriptIsExact()
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
    }

    void openScriptIsExact()
    {
        QCOMPARE(SafariScript::open(QStringLiteral("https://a.example/x")),
                 QStringLiteral("tell application \"Safari\" to open location \"https://a.example/x\""));
    }

    void closeScriptConsidersCase()
    {
        const QString script = SafariScript::close(SafariTab(-42, QStringLiteral("https://a.example/P"), QStringLiteral("t")));
        const QStringList expected{
            QStringLiteral("tell application \"Safari\""),
            QStringLiteral("  repeat with w in windows"),
            QStringLiteral("    if (id of w) is -42 then"),
            QStringLiteral("      considering case"),
            QStringLiteral("        repeat with t in tabs of w"),
            QStringLiteral("          if (URL of t) is \"https://a.example/P\" then"),
            QStringLiteral("            close t"),
            QStringLiteral("            return"),
            QStringLiteral("          end if"),
            QStringLiteral("        end repeat"),
            QStringLiteral("      end considering"),
            QStringLiteral("    end if"),
            QStringLiteral("  end repeat"),
            QStringLiteral("end tell"),
        };
        QCOMPARE(script, expected.join(u'\n'));
    }

    void plainCloseFrameIsTheCaseBlindScript()
    {
        const SafariScript::CloseScriptFrame frame = SafariScript::closeFrame(false);
        const QString script = frame.beforeWindow + u'7' + frame.beforeAddress + u'u' + frame.afterAddress;
        QCOMPARE(script.split(u'\n').size(), 12);
        QVERIFY(script.contains(QStringLiteral("\n      repeat with t in tabs of w\n        if (URL of t) is \"u\" then\n          close t\n")));
        QVERIFY(!script.contains(QStringLiteral("considering")));
    }

    void escape_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("quote after backslash") << QStringLiteral("a\\\"b") << QStringLiteral("a\\\\\\\"b");
        QTest::newRow("quote before backslash") << QStringLiteral("\"\\") << QStringLiteral("\\\"\\\\");
        QTest::newRow("line feed untouched") << QStringLiteral("a\nb") << QStringLiteral("a\nb");
        QTest::newRow("non-ASCII untouched") << QStringLiteral("https://ü.example/ß") << QStringLiteral("https://ü.example/ß");
    }
    void escape()
    {
        QFETCH(QString, url);
        QFETCH(QString, escaped);
        QCOMPARE(SafariScript::escape(url), escaped);
        QCOMPARE(SafariScript::open(url), SafariScript::openPrefix.toString() + escaped + u'"');
        QString back;
        QVERIFY(SafariScript::unescape(escaped, &back));
        QCOMPARE(back, url);
    }

    void unescapeRefusesWhatEscapeNeverWrites_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("bare quote") << QStringLiteral("a\"b");
        QTest::newRow("lone trailing backslash") << QStringLiteral("a\\");
        QTest::newRow("other escape") << QStringLiteral("a\\nb");
    }
    void unescapeRefusesWhatEscapeNeverWrites()
    {
        QFETCH(QString, text);
        QString url;
        QVERIFY(!SafariScript::unescape(text, &url));
    }

    void parseRecords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("keys");   // keys of the tabs, in order
        QTest::addColumn<QStringList>("titles"); // titles of the tabs, in order
        QTest::addColumn<QStringList>("active");

        QTest::newRow("empty text") << QString() << QStringList() << QStringList() << QStringList();
        QTest::newRow("trailing separator adds nothing")
            << record("1", "1", "u", "t") << QStringList{"1|u"} << QStringList{"t"} << QStringList{"1|u"};
        QTest::newRow("no trailing separator")
            << record("1", "0", "u", "t").chopped(1) << QStringList{"1|u"} << QStringList{"t"} << QStringList();
        QTest::newRow("plus sign") << record("+12", "1", "u", "t") << QStringList{"12|u"} << QStringList{"t"}
                                   << QStringList{"12|u"};
        QTest::newRow("negative window") << record("-5", "0", "u", "t") << QStringList{"-5|u"} << QStringList{"t"}
                                         << QStringList();
        QTest::newRow("empty address and title") << record("3", "0", "", "") << QStringList{"3|"} << QStringList{""}
                                                 << QStringList();
        QTest::newRow("three fields") << (QStringLiteral("1") + fs + "1" + fs + "u" + rs) << QStringList()
                                      << QStringList() << QStringList();
        QTest::newRow("title holds the field separator")
            << record("1", "0", "u", QStringLiteral("a") + fs + "b") << QStringList() << QStringList() << QStringList();
        QTest::newRow("title holds the record separator is cut")
            << record("1", "0", "u", QStringLiteral("a") + rs + "b") << QStringList{"1|u"} << QStringList{"a"}
            << QStringList();
        for (const char *window : {"12a", " 12", "", "+-1", "-", "9223372036854775808", "99999999999999999999"})
            QTest::addRow("window '%s' skipped", window)
                << record(QString::fromLatin1(window), "1", "u", "t") << QStringList() << QStringList() << QStringList();
        QTest::newRow("largest windows") << record("9223372036854775807", "0", "u", "t") + record("-9223372036854775808", "0", "u", "t")
                                         << QStringList{"9223372036854775807|u", "-9223372036854775808|u"}
                                         << QStringList{"t", "t"} << QStringList();
        for (const char *flag : {"01", "true", " 1", "1 ", ""})
            QTest::addRow("flag '%s' is not current", flag)
                << record("1", QString::fromLatin1(flag), "u", "t") << QStringList{"1|u"} << QStringList{"t"} << QStringList();
        QTest::newRow("two current tabs in one window")
            << record("1", "1", "a", "t") + record("1", "1", "b", "t") << QStringList{"1|a", "1|b"}
            << QStringList{"t", "t"} << QStringList{"1|a", "1|b"};
        QTest::newRow("duplicates stay, order kept")
            << record("2", "0", "b", "x") + record("1", "0", "a", "y") + record("2", "0", "b", "z")
            << QStringList{"2|b", "1|a", "2|b"} << QStringList{"x", "y", "z"} << QStringList();
        QTest::newRow("bad record among good ones")
            << record("1", "0", "a", "t") + QStringLiteral("junk") + rs + record("2", "1", "b", "t")
            << QStringList{"1|a", "2|b"} << QStringList{"t", "t"} << QStringList{"2|b"};
    }
    void parseRecords()
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
