#include "DiskLimits.h"
#include "Settings.h"
#include "TestHome.h"

#include <QCoreApplication>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(QDir::homePath() + u"/.local/share"_qs).removeRecursively(); }

    // Without a file, or with one that does not read whole (left as it is until the next save):
    // the full defaults, and the application folder but no file. A tilde is a name like any other.
    void defaultsForNoFileOrABrokenOne_data()
    {
        QTest::addColumn<QByteArray>("json");
        const auto file = [](const char *days, const char *paused, const char *neverSweep) {
            return u"{\"archiveFolderPath\":\"/x\",\"days\":%1,\"neverSweep\":%3,\"paused\":%2,\"pollSeconds\":60}"_qs
                .arg(QLatin1String(days), QLatin1String(paused), QLatin1String(neverSweep)).toUtf8();
        };
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("missing paused") << QByteArray(R"({"archiveFolderPath":"/x","days":3,"neverSweep":[],"pollSeconds":60})");
        QTest::newRow("days as text") << file("\"3\"", "false", "[]");
        QTest::newRow("days with a fraction") << file("3.5", "false", "[]");
        QTest::newRow("paused as number") << file("3", "0", "[]");
        QTest::newRow("null member") << file("null", "false", "[]");
        QTest::newRow("pattern not a string") << file("3", "false", "[\"a\", 1]");
    }
    void defaultsForNoFileOrABrokenOne()
    {
        QFETCH(QByteArray, json);
        if (!json.isNull())
            TestFiles::write(Settings::filePath(), json);
        Settings defaults;
        defaults.days = 7;
        defaults.archiveFolderPath = QDir::homePath() + u"/Documents/Drowsewick"_qs;
        defaults.pollSeconds = 3600;
        QCOMPARE(Settings::load(), defaults);
        QCOMPARE(TestFiles::read(Settings::filePath()), json);
        QVERIFY(QFileInfo(QFileInfo(Settings::filePath()).path()).isDir());
        defaults.archiveFolderPath = u"~/Archive"_qs;
        QCOMPARE(defaults.archiveFolder(), QDir::currentPath() + u"/~/Archive"_qs);
    }

    // What another writer left reads as it is; a save is sorted, reads back equal, is for this
    // user's eyes only, and on a full disk leaves the file before it, and nothing beside it.
    void readsAndSavesWholeFiles()
    {
        TestFiles::write(Settings::filePath(), R"({ "archiveFolderPath" : "\/Users\/me", "days" : 0, "extra" : {"ignored": true},
            "neverSweep" : ["b.example", "a.example"], "paused" : true, "pollSeconds" : 1 })");
        Settings settings = Settings::load();
        QCOMPARE(settings, (Settings{0, u"/Users/me"_qs, {"b.example", "a.example"}, 1, true}));
        settings.archiveFolderPath = u"/tmp/Ä \"archive\""_qs;
        settings.save();
        QCOMPARE(Settings::load(), settings);
        const QByteArray text = TestFiles::read(Settings::filePath());
        QList<qsizetype> positions;
        for (const char *key : {"archiveFolderPath", "days", "neverSweep", "paused", "pollSeconds"})
            positions.append(text.indexOf(QByteArray("\"") + key + '"'));
        QVERIFY2(!positions.contains(-1) && std::is_sorted(positions.begin(), positions.end()), text.constData());
        QCOMPARE(QFile::permissions(Settings::filePath()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        settings.neverSweep = QStringList(50, u"a-long-pattern.example"_qs);
        {
            const FileSizeLimit full(16);
            settings.save();
        }
        QCOMPARE(TestFiles::read(Settings::filePath()), text);
        QCOMPARE(QDir(QFileInfo(Settings::filePath()).path()).entryList(QDir::Files), QStringList{"settings.json"});
    }
};

DROWSEWICK_TEST_MAIN(TestSettings, QCoreApplication)
#include "tst_Settings.moc"
