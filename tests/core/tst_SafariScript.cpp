#include "SafariBridge.h"
#include "TestHome.h"

#include <QCoreApplication>

// The three script texts byte for byte, the escaping of addresses, and the reading of the
// snapshot script's result.
class TestSafariScript : public QObject
{
    Q_OBJECT

private slots:
    // Backslashes are escaped first: the backslash that escapes a quote is not doubled again.
    void scriptsAreExact()
    {
        QCOMPARE(SafariScript::snapshot(),
                 QStringLiteral("set fs to (ASCII character 1)\nset rs to (ASCII character 2)\nset out to \"\"\n"
                                "tell application \"Safari\"\n  repeat with w in windows\n    set wid to id of w\n    try\n"
                                "      set curIdx to index of current tab of w\n    on error\n      set curIdx to -1\n    end try\n"
                                "    set i to 0\n    repeat with t in tabs of w\n      set i to i + 1\n      set isActive to \"0\"\n"
                                "      if i is curIdx then set isActive to \"1\"\n      try\n"
                                "        set out to out & wid & fs & isActive & fs & my clean(URL of t) & fs & my clean(name of t) & rs\n"
                                "      end try\n    end repeat\n  end repeat\nend tell\nreturn out\non clean(field)\n"
                                "  set saved to AppleScript's text item delimiters\n"
                                "  set AppleScript's text item delimiters to {(ASCII character 1), (ASCII character 2)}\n"
                                "  set pieces to text items of field\n  set AppleScript's text item delimiters to \" \"\n"
                                "  set field to pieces as text\n  set AppleScript's text item delimiters to saved\n  return field\n"
                                "end clean"));
        QCOMPARE(SafariScript::close(SafariTab(-42, u"https://a.example/\"P"_qs, u"t"_qs)),
                 QStringLiteral("tell application \"Safari\"\n  repeat with w in windows\n"
                                "    if (id of w) is -42 then\n      considering case\n        repeat with t in tabs of w\n"
                                "          if (URL of t) is \"https://a.example/\\\"P\" then\n            close t\n"
                                "            return\n          end if\n        end repeat\n      end considering\n    end if\n"
                                "  end repeat\nend tell"));
        QCOMPARE(SafariScript::open(u"https://a.example/\\\"b\"\\ü\n"_qs),
                 u"tell application \"Safari\" to open location \"https://a.example/\\\\\\\"b\\\"\\\\ü\n\""_qs);
    }

    // Rows are written with ',' for the field separator and ';' for the record separator.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("tabs"); // key and title of each, in order; '*' marks a current one
        QTest::newRow("empty address and title, window zero") << "0,0,,;" << QStringList{"0| "};
        QTest::newRow("title holds the record separator is cut") << "1,0,u,a;b;" << QStringList{"1|u a"};
        for (const char *window : {"12a", " 12", "", "+-1", "9223372036854775808"})
            QTest::addRow("window '%s' skipped", window) << QString::fromLatin1(window) + ",1,u,t;" << QStringList();
        QTest::newRow("the largest windows, negative too") << "9223372036854775807,0,u,t;-9223372036854775808,0,u,t;" << QStringList{"9223372036854775807|u t", "-9223372036854775808|u t"};
        for (const char *flag : {"01", "10", " 1"})
            QTest::addRow("flag '%s' is not current", flag) << "1," + QString::fromLatin1(flag) + ",u,t;" << QStringList{"1|u t"};
        QTest::newRow("two current tabs in one window, a plus sign") << "+1,1,a,t;1,1,b,t;" << QStringList{"*1|a t", "*1|b t"};
        QTest::newRow("duplicates stay in order, bad records go") << "2,0,b,x;junk;1,0,u,a,b;1,0,a,y;2,0,b,z" << QStringList{"2|b x", "1|a y", "2|b z"};
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, tabs);
        const SafariSnapshot snapshot = SafariScript::parseSnapshot(text.replace(u',', SafariScript::fieldSeparator).replace(u';', SafariScript::recordSeparator));
        QStringList parsed;
        for (const SafariTab &tab : snapshot.tabs)
            parsed.append((snapshot.activeKeys.contains(tab.key()) ? u"*"_qs : QString()) + tab.key() + u' ' + tab.title());
        QCOMPARE(parsed, tabs);
        QCOMPARE(snapshot.activeKeys.size(), tabs.filter(u"*"_qs).size());
    }
};

DROWSEWICK_TEST_MAIN(TestSafariScript, QCoreApplication)
#include "tst_SafariScript.moc"
