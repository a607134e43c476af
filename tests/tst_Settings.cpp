#include "FileSizeLimit.h"
#include "Settings.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

QString settingsPath()
{
    return QDir::homePath() + QStringLiteral("/.local/share/com.nimbrel.drowsewick/settings.json");
}

void writeSettingsFile(const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(settingsPath()).path());
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readSettingsFile()
{
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(QDir::homePath() + QStringLiteral("/.local/share")).removeRecursively(); }

    void defaultsWithoutAFileAndNothingWritten()
    {
        const Settings settings = Settings::load();
        QCOMPARE(settings.days, 7);
        QCOMPARE(settings.archiveFolderPath, QDir::homePath() + QStringLiteral("/Documents/Drowsewick"));
        QVERIFY(settings.neverSweep.isEmpty());
        QCOMPARE(settings.pollSeconds, 3600);
        QCOMPARE(settings.paused, false);
        QVERIFY(QFileInfo(QFileInfo(settingsPath()).path()).isDir());
        QVERIFY(!QFile::exists(settingsPath()));
    }

    void readsFilesWrittenElsewhere()
    {
        writeSettingsFile(R"({
  "archiveFolderPath" : "\/Users\/me\/Archive",
  "days" : 0,
  "extra" : {"ignored": true},
  "neverSweep" : ["b.example", "a.example"],
  "paused" : true,
  "pollSeconds" : 1
})");
        const Settings settings = Settings::load();
        QCOMPARE(settings.archiveFolderPath, QStringLiteral("/Users/me/Archive"));
        QCOMPARE(settings.days, 0);
        QCOMPARE(settings.neverSweep, (QStringList{"b.example", "a.example"}));
        QCOMPARE(settings.paused, true);
        QCOMPARE(settings.pollSeconds, 1);
    }

    void brokenFilesGiveTheFullDefaults_data()
    {
        QTest::addColumn<QByteArray>("json");
        const auto file = [](const char *days, const char *paused, const char *neverSweep) {
            return QStringLiteral(R"({"archiveFolderPath":"/x","days":%1,"neverSweep":%3,"paused":%2,"pollSeconds":60})")
                .arg(QLatin1String(days), QLatin1String(paused), QLatin1String(neverSweep))
                .toUtf8();
        };
        QTest::newRow("missing paused") << QByteArray(R"({"archiveFolderPath":"/x","days":3,"neverSweep":[],"pollSeconds":60})");
        QTest::newRow("days as text") << file("\"3\"", "false", "[]");
        QTest::newRow("days with a fraction") << file("3.5", "false", "[]");
        QTest::newRow("paused as number") << file("3", "0", "[]");
        QTest::newRow("null member") << file("null", "false", "[]");
        QTest::newRow("pattern not a string") << file("3", "false", "[\"a\", 1]");
        QTest::newRow("not an object") << QByteArray("[]");
        QTest::newRow("not JSON") << QByteArray("days = 3");
        QTest::newRow("empty") << QByteArray();
    }
    void brokenFilesGiveTheFullDefaults()
    {
        QFETCH(QByteArray, json);
        writeSettingsFile(json);
        QCOMPARE(Settings::load(), Settings());
        QCOMPARE(readSettingsFile(), json); // a broken file is left for the next save
    }

    void savesSortedAndReadsBackEqual()
    {
        Settings settings;
        settings.days = 12;
        settings.archiveFolderPath = QStringLiteral("/tmp/Ä \"archive\"");
        settings.neverSweep = {QStringLiteral("z.example"), QStringLiteral("a.example")};
        settings.pollSeconds = 900;
        settings.paused = true;
        settings.save();
        QCOMPARE(Settings::load(), settings);
        const QByteArray text = readSettingsFile();
        QList<qsizetype> positions;
        for (const char *key : {"archiveFolderPath", "days", "neverSweep", "paused", "pollSeconds"})
            positions.append(text.indexOf(QByteArray("\"") + key + '"'));
        QVERIFY2(!positions.contains(-1) && std::is_sorted(positions.begin(), positions.end()), text.constData());
        QCOMPARE(QDir(QFileInfo(settingsPath()).path()).entryList(QDir::Files), QStringList{"settings.json"});
        QCOMPARE(QFile::permissions(settingsPath()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    void aFailedSaveKeepsTheOldFile()
    {
        Settings before;
        before.days = 3;
        before.save();
        const QByteArray old = readSettingsFile();
        Settings after = before;
        after.neverSweep = QStringList(50, QStringLiteral("a-long-pattern.example"));
        {
            const FileSizeLimit full(16);
            after.save();
        }
        QCOMPARE(readSettingsFile(), old);
        QCOMPARE(QDir(QFileInfo(settingsPath()).path()).entryList(QDir::Files), QStringList{"settings.json"});
    }

    void archiveFolderIsTakenLiterally_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("absolute") << "/a/b" << "/a/b";
        QTest::newRow("tilde stays a name") << "~/Archive" << QDir::currentPath() + QStringLiteral("/~/Archive");
    }
    void archiveFolderIsTakenLiterally()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        Settings settings;
        settings.archiveFolderPath = path;
        QCOMPARE(settings.archiveFolder(), folder);
    }
};

DROWSEWICK_TEST_MAIN(TestSettings, QCoreApplication)
#include "tst_Settings.moc"
