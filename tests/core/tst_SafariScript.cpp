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
};

DROWSEWICK_TEST_MAIN(TestSafariScript, QCoreApplication)
#include "tst_SafariScript.moc"
