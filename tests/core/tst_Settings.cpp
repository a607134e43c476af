#include "DiskLimits.h"
#include "Settings.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(QDir::homePath() + QStringLiteral("/.local/share")).removeRecursively(); }

    // Without a file: the defaults, and the application folder but no file.
    void defaultsWithoutAFile()
    {
        Settings defaults;
        defaults.days = 7;
        defaults.archiveFolderPath = QDir::homePath() + QStringLiteral("/Documents/Drowsewick");
        defaults.pollSeconds = 3600;
        QCOMPARE(Settings::load(), defaults);
        QVERIFY(QFileInfo(QFileInfo(Settings::filePath()).path()).isDir());
        QVERIFY(!QFile::exists(Settings::filePath()));
        // A tilde is a folder's name like any other.
        defaults.archiveFolderPath = QStringLiteral("~/Archive");
        QCOMPARE(defaults.archiveFolder(), QDir::currentPath() + QStringLiteral("/~/Archive"));
    }

    void readsFilesWrittenElsewhere()
    {
        TestFiles::write(Settings::filePath(), R"({
  "archiveFolderPath" : "\/Users\/me\/Archive", "days" : 0, "extra" : {"ignored": true},
  "neverSweep" : ["b.example", "a.example"], "paused" : true, "pollSeconds" : 1
})");
        const Settings settings = Settings::load();
        QCOMPARE(settings.archiveFolderPath, QStringLiteral("/Users/me/Archive"));
        QCOMPARE(settings.days, 0);
        QCOMPARE(settings.neverSweep, (QStringList{"b.example", "a.example"}));
        QCOMPARE(settings.paused, true);
        QCOMPARE(settings.pollSeconds, 1);
    }

    // A broken file gives the full defaults and stays as it is until the next save.
    void brokenFilesGiveTheFullDefaults_data()
    {
        QTest::addColumn<QByteArray>("json");
        const auto file = [](const char *days, const char *paused, const char *neverSweep) {
            return QStringLiteral(R"({"archiveFolderPath":"/x","days":%1,"neverSweep":%3,"paused":%2,"pollSeconds":60})")
                .arg(QLatin1String(days), QLatin1String(paused), QLatin1String(neverSweep)).toUtf8();
        };
        QTest::newRow("missing paused") << QByteArray(R"({"archiveFolderPath":"/x","days":3,"neverSweep":[],"pollSeconds":60})");
        QTest::newRow("days as text") << file("\"3\"", "false", "[]");
        QTest::newRow("days with a fraction") << file("3.5", "false", "[]");
        QTest::newRow("paused as number") << file("3", "0", "[]");
        QTest::newRow("null member") << file("null", "false", "[]");
        QTest::newRow("pattern not a string") << file("3", "false", "[\"a\", 1]");
        QTest::newRow("not an object") << QByteArray("[]");
    }
    void brokenFilesGiveTheFullDefaults()
    {
        QFETCH(QByteArray, json);
        TestFiles::write(Settings::filePath(), json);
        QCOMPARE(Settings::load(), Settings());
        QCOMPARE(TestFiles::read(Settings::filePath()), json);
    }

    // Keys sorted, read back equal, for this user's eyes only; a save that fails on a full disk
    // leaves the file before it as it was, and nothing beside it.
    void savesWholeOrNotAtAll()
    {
        Settings settings;
        settings.days = 12;
        settings.archiveFolderPath = QStringLiteral("/tmp/Ä \"archive\"");
        settings.neverSweep = {QStringLiteral("z.example"), QStringLiteral("a.example")};
        settings.pollSeconds = 900;
        settings.paused = true;
        settings.save();
        QCOMPARE(Settings::load(), settings);
        const QByteArray text = TestFiles::read(Settings::filePath());
        QList<qsizetype> positions;
        for (const char *key : {"archiveFolderPath", "days", "neverSweep", "paused", "pollSeconds"})
            positions.append(text.indexOf(QByteArray("\"") + key + '"'));
        QVERIFY2(!positions.contains(-1) && std::is_sorted(positions.begin(), positions.end()), text.constData());
        QCOMPARE(QFile::permissions(Settings::filePath()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        settings.neverSweep = QStringList(50, QStringLiteral("a-long-pattern.example"));
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
