#include "DiskLimits.h"
#include "ModelHarness.h"
#include "TestHome.h"

#include <QCoreApplication>

// The controller on a full disk, and with a file where its application folder should be: nothing
// is closed that the archive does not hold, and no file is left half written.
namespace {

using Standin::Tab;
using Standin::Window;

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

} // namespace

class TestFullDisk : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(dataHome()).removeRecursively();
        Standin::reset();
    }

    // A sweep and a settings change on a full disk: the status says so, no tab is closed, and the
    // day's file, the tracker and the settings keep their bytes. With room again the next poll
    // sweeps, and the next change saves the settings.
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
        if (memoryVolume && !volume.emplace(dataHome()).isMounted())
            QSKIP("this system does not let tests mount a volume");
        const Tab first = idleTab(QStringLiteral("first"));
        const Tab later = idleTab(QStringLiteral("later"));
        Standin::setWindows({Window{1, 1, {Tab{current, QStringLiteral("Current")}, first, later}}});
        ModelHarness h;
        h.changeSettings([](Settings &s) {
            s.archiveFolderPath = dataHome() + QStringLiteral("/Archive");
            s.neverSweep = {QStringLiteral("later")};
        });
        h.pollAgainAfter(8);
        h.model->removeNeverSweep(QStringLiteral("later"));
        QCOMPARE(h.archivedUrls(), QStringList{first.url});

        const QMap<QString, QByteArray> before = TestFiles::contents(dataHome());
        Standin::clearLog();
        {
            std::optional<FileSizeLimit> limit;
            if (volume)
                volume->fill();
            else
                limit.emplace(64);
            h.model->tick();
            h.model->addNeverSweep(QStringLiteral("unrelated.example"));
        }
        if (volume)
            volume->unfill();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Couldn't save the archive — tabs left open."));
        QVERIFY(!Standin::log().join(u'\n').contains(QStringLiteral("close")));
        QCOMPARE(TestFiles::contents(dataHome()), before);

        h.model->tick();
        QCOMPARE(Standin::openUrls(), QStringList{current});
        QCOMPARE(h.archivedUrls(), (QStringList{first.url, later.url}));
        h.model->setPaused(false);
        QCOMPARE(Settings::load().neverSweep, QStringList{"unrelated.example"});
    }

    // Settings and tracker cannot be saved at all: sweeping goes on, the file stays, and the next
    // start has the defaults.
    void aFileWhereTheApplicationFolderShouldBeStopsNoSweep()
    {
        const Tab idle = idleTab(QStringLiteral("idle"));
        Standin::setWindows({Window{1, 1, {Tab{current, QStringLiteral("Current")}, idle}}});
        const QString blocker = dataHome() + QStringLiteral("/com.nimbrel.drowsewick");
        TestFiles::write(blocker, "not a folder");
        ModelHarness h;
        h.pollAgainAfter(8);
        QCOMPARE(Standin::openUrls(), QStringList{current});
        QCOMPARE(h.archivedUrls(), QStringList{idle.url});
        h.model->setPaused(true);
        QVERIFY(h.model->settings().paused);
        QCOMPARE(TestFiles::read(blocker), QByteArray("not a folder"));
        h.makeModel();
        QCOMPARE(h.model->settings(), Settings());
    }
};

DROWSEWICK_TEST_MAIN(TestFullDisk, QCoreApplication)
#include "tst_FullDisk.moc"
