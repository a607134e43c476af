#include "TestEnvironment.h"
#include "Updater.h"

#include <QCoreApplication>

class TestUpdater : public QObject
{
    Q_OBJECT

private slots:
    void isNewer_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("newer");
        const struct { const char *first, *second; bool newer; } table[] = {
            {"1.10", "1.9", true},       {"1.9", "1.10", false},       {"1.2", "1.2.0", false},
            {"1.2.0", "1.2", false},     {"1.2.1", "1.2", true},       {"1.2.0.1", "1.2", true},
            {"1.2.3-beta", "1.2.3", false}, {"1.2.3", "1.2.3-beta", true}, {"rc1", "1.0", false},
            {"", "", false},             {"..", "0", false},           {"0.0.1", "", true},
            {"1.-1", "1", false},        {"1", "1.-1", true},          {"2", "1.9.9", true},
            {"1..2", "1.1", true},       {"007", "7", false},          {"8", "007", true},
            {"+2", "1", true},           {"1.99999999999999999999999", "1.0", false},
            {" 2", "1", false},          {"9223372036854775807", "9223372036854775806", true},
            {"-9223372036854775808", "0", false},
        };
        for (const auto &row : table)
            QTest::addRow("'%s' vs '%s'", row.first, row.second)
                << QString::fromLatin1(row.first) << QString::fromLatin1(row.second) << row.newer;
    }
    void isNewer()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, newer);
        QCOMPARE(Updater::isNewer(first, second), newer);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdater, QCoreApplication)
#include "tst_Updater.moc"
