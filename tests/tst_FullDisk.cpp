#include "FileSizeLimit.h"
#include "ModelHarness.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QScopeGuard>

// The controller on a full disk and on paths where a file stands in for a folder or the other way
// round: nothing is closed that the archive does not hold, and no file is left half written.
namespace {

using StandinControl::Tab;
using StandinControl::Window;

const QString current = QStringLiteral("https://current.example/");

QString dataHome()
{
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// Titles long enough that the lines of one sweep need more room than a full volume's last page
// of a file has left.
Tab idleTab(const QString &name)
{
    return {QStringLiteral("https://%1.example/").arg(name), name + u' ' + QString(3000, u'x')};
}

QStringList archivedUrls(const DrowsewickModel &model)
{
    QStringList urls;
    for (const ArchivedTab &entry : Archive::all(model.settings().archiveFolder()))
        urls.append(entry.url);
    return urls;
}

bool closedAny()
{
    return StandinControl::log().join(u'\n').contains(QStringLiteral("close"));
}

// A memory volume mounted on a folder for as long as it lives, where the system lets tests mount.
class MemoryVolume
{
public:
    explicit MemoryVolume(const QString &folder) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted = UpdateTest::runTool(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                                   QStringLiteral("size=1m"), QStringLiteral("drowsewick-test"), folder})
                        .exitCode == 0;
    }
    ~MemoryVolume()
    {
        if (m_mounted)
            UpdateTest::runTool(QStringLiteral("umount"), {m_folder});
    }
    MemoryVolume(const MemoryVolume &) = delete;
    MemoryVolume &operator=(const MemoryVolume &) = delete;
    bool isMounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

// Takes up every free byte of a volume for as long as it lives.
class Filler
{
public:
    explicit Filler(const QString &path) : m_file(path)
    {
        m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        const QByteArray block(65536, 'f');
        for (qint64 size : {qint64(65536), qint64(4096), qint64(1)}) {
            while (m_file.write(block.constData(), size) == size) {
            }
        }
    }
    ~Filler() { m_file.remove(); }
    Filler(const Filler &) = delete;
    Filler &operator=(const Filler &) = delete;

private:
    QFile m_file;
};

} // namespace

class TestFullDisk : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(dataHome()).removeRecursively();
        QDir(QDir::homePath() + QStringLiteral("/Documents")).removeRecursively();
        QDir(StandinControl::folder()).removeRecursively();
    }

    void aFullDiskClosesNothingAndChangesNoFile_data()
    {
        QTest::addColumn<bool>("memoryVolume");
        QTest::newRow("file-size limit") << false;
        QTest::newRow("full memory volume") << true;
    }
    void aFullDiskClosesNothingAndChangesNoFile()
    {
        QFETCH(bool, memoryVolume);
        std::optional<MemoryVolume> volume;
        if (memoryVolume) {
            volume.emplace(dataHome());
            if (!volume->isMounted())
                QSKIP("this system does not let tests mount a volume");
        }
        const Tab first = idleTab(QStringLiteral("first"));
        const Tab laterA = idleTab(QStringLiteral("later-a"));
        const Tab laterB = idleTab(QStringLiteral("later-b"));
        StandinControl::setWindows({Window{1, 1, {Tab{current, QStringLiteral("Current")}, first, laterA, laterB}}});
        ModelHarness h;
        Settings settings = h.model->settings();
        settings.archiveFolderPath = dataHome() + QStringLiteral("/Archive");
        settings.neverSweep = {QStringLiteral("later")};
        h.model->setSettings(settings);
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        h.model->removeNeverSweep(QStringLiteral("later"));
        QCOMPARE(archivedUrls(*h.model), QStringList{first.url});

        // Every file as it stands: the day's file, the tracker and the settings.
        const QMap<QString, QByteArray> before = UpdateTest::contents(dataHome());
        StandinControl::clearLog();
        {
            std::optional<FileSizeLimit> limit;
            std::optional<Filler> filler;
            if (memoryVolume)
                filler.emplace(dataHome() + QStringLiteral("/filler"));
            else
                limit.emplace(64);
            h.model->tick();
            h.model->addNeverSweep(QStringLiteral("unrelated.example"));
        }
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Couldn't save the archive — tabs left open."));
        QVERIFY(!closedAny());
        QCOMPARE(StandinControl::openUrls(), (QStringList{current, laterA.url, laterB.url}));
        QCOMPARE(h.model->settings().neverSweep, QStringList{"unrelated.example"});
        QCOMPARE(UpdateTest::contents(dataHome()), before);

        // With room again the next poll sweeps them, and the settings are saved with the next change.
        h.model->tick();
        QCOMPARE(StandinControl::openUrls(), QStringList{current});
        QCOMPARE(archivedUrls(*h.model), (QStringList{first.url, laterA.url, laterB.url}));
        h.model->setPaused(false);
        QCOMPARE(Settings::load().neverSweep, QStringList{"unrelated.example"});
    }

    void aFolderWhereTheDayFileShouldBeClosesNothing()
    {
        StandinControl::setWindows({Window{1, 1, {Tab{current, QStringLiteral("Current")}, idleTab(QStringLiteral("idle"))}}});
        ModelHarness h;
        const QString folder = h.model->settings().archiveFolder();
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/2026-03-22.md")));
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Couldn't save the archive — tabs left open."));
        QVERIFY(!closedAny());
        QCOMPARE(UpdateTest::contents(folder), (QMap<QString, QByteArray>{{QStringLiteral("2026-03-22.md"), "/"}}));
    }

    void aFileWhereTheApplicationFolderShouldBeStopsNoSweep()
    {
        const Tab idle = idleTab(QStringLiteral("idle"));
        StandinControl::setWindows({Window{1, 1, {Tab{current, QStringLiteral("Current")}, idle}}});
        const QString blocker = dataHome() + QStringLiteral("/com.nimbrel.drowsewick");
        UpdateTest::writeFile(blocker, "not a folder");
        ModelHarness h;
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(StandinControl::openUrls(), QStringList{current});
        QCOMPARE(archivedUrls(*h.model), QStringList{idle.url});
        h.model->setPaused(true);
        QVERIFY(h.model->settings().paused);
        QCOMPARE(UpdateTest::readFile(blocker), QByteArray("not a folder"));
        h.makeModel();
        QCOMPARE(h.model->settings(), Settings());
    }
};

DROWSEWICK_TEST_MAIN(TestFullDisk, QCoreApplication)
#include "tst_FullDisk.moc"
