#include "SafariTab.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QSet>

class TestSafariTab : public QObject
{
    Q_OBJECT

private slots:
    void key_data()
    {
        QTest::addColumn<qint64>("windowID");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("key");
        QTest::newRow("plain") << qint64(4711) << "about:blank" << "4711|about:blank";
        QTest::newRow("negative window") << qint64(-3) << "https://a.example/" << "-3|https://a.example/";
        QTest::newRow("window zero") << qint64(0) << "x" << "0|x";
        QTest::newRow("empty address") << qint64(12) << "" << "12|";
        QTest::newRow("address with bar") << qint64(1) << "a|b" << "1|a|b";
        QTest::newRow("largest window") << std::numeric_limits<qint64>::max() << "u"
                                        << "9223372036854775807|u";
        QTest::newRow("smallest window") << std::numeric_limits<qint64>::min() << "u"
                                         << "-9223372036854775808|u";
    }
    void key()
    {
        QFETCH(qint64, windowID);
        QFETCH(QString, url);
        QFETCH(QString, key);
        QCOMPARE(SafariTab(windowID, url, QStringLiteral("any title")).key(), key);
    }

    void titleIsPartOfEqualityButNotOfTheKey()
    {
        const SafariTab a(1, QStringLiteral("https://a.example/"), QStringLiteral("A"));
        const SafariTab b(1, QStringLiteral("https://a.example/"), QStringLiteral("B"));
        const SafariTab sameAsA(1, QStringLiteral("https://a.example/"), QStringLiteral("A"));
        const SafariTab otherWindow(2, QStringLiteral("https://a.example/"), QStringLiteral("A"));
        QCOMPARE(a.key(), b.key());
        QVERIFY(a != b);
        QCOMPARE(a, sameAsA);
        QVERIFY(a.key() != otherWindow.key());
        const QSet<SafariTab> set{a, b, sameAsA, otherWindow};
        QCOMPARE(set.size(), 3);
    }
};

DROWSEWICK_TEST_MAIN(TestSafariTab, QCoreApplication)
#include "tst_SafariTab.moc"
