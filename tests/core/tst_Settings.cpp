#include "FileSizeLimit.h"
#include "Settings.h"
#include "TestHome.h"

#include <QCoreApplication>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    // Without a file, or with one that does not read whole (left as it is until the next save):
    // the full defaults, and the application folder but no file; "no file" comes first, in a fresh
    // home. What another writer left reads as it is; a save reads back equal, is for this user's
    // eyes only, and on a full disk leaves the file before it, and nothing beside it. A tilde is a
    // name like any other.
    void readsWholeFilesOnlyAndSavesThemWhole()
    {
        const QByteArray whole = R"({"archiveFolderPath":"/x","days":3,"neverSweep":[],"paused":false,"pollSeconds":60})";
        const auto with = [&](const char *part, const char *replacement) { return QByteArray(whole).replace(part, replacement); };
        for (const QByteArray &json :
             {QByteArray(), with(",\"paused\":false", ""), with("3", "\"3\""), with("3", "3.5"), with("[]", "[\"a\", 1]")}) {
            if (!json.isNull())
                TestFiles::write(Settings::filePath(), json);
            QCOMPARE(Settings::load(), (Settings{7, QDir::homePath() + u"/Documents/Drowsewick"_qs, {}, 3600, false}));
            QCOMPARE(TestFiles::read(Settings::filePath()), json);
            QVERIFY(QFileInfo(Settings::applicationFolder()).isDir());
        }

        TestFiles::write(Settings::filePath(), R"({ "archiveFolderPath" : "\/Users\/me", "days" : 0, "extra" : {"ignored": true},
            "neverSweep" : ["b.example", "a.example"], "paused" : true, "pollSeconds" : 1 })");
        Settings settings = Settings::load();
        QCOMPARE(settings, (Settings{0, u"/Users/me"_qs, {"b.example", "a.example"}, 1, true}));
        settings.save();
        QCOMPARE(Settings::load(), settings);
        QCOMPARE(QFile::permissions(Settings::filePath()),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const QByteArray saved = TestFiles::read(Settings::filePath());
        settings.neverSweep = QStringList(50, u"a-long-pattern.example"_qs);
        {
            const FileSizeLimit full(16);
            settings.save();
        }
        QCOMPARE(TestFiles::read(Settings::filePath()), saved);
        QCOMPARE(QDir(Settings::applicationFolder()).entryList(QDir::Files), QStringList{"settings.json"});
        settings.archiveFolderPath = u"~/Archive"_qs;
        QCOMPARE(settings.archiveFolder(), QDir::currentPath() + u"/~/Archive"_qs);
    }
};

DROWSEWICK_TEST_MAIN(TestSettings, QCoreApplication)
#include "tst_Settings.moc"
