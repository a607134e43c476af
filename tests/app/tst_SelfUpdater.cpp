#include "Bundles.h"
#include "DiskLimits.h"
#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "TestHome.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QtEndian>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How an installation ended: "installed", the name of an UpdateError, or "platform: " and the message.
QString outcomeOf(QFuture<void> installation)
{
    if (!QTest::qWaitFor([&] { return installation.isFinished(); }, 30000))
        return u"still running"_qs;
    try {
        installation.waitForFinished();
        return u"installed"_qs;
    } catch (const SelfUpdater::Failure &failure) {
        return QStringList{"download", "unpack", "notFound", "badSignature", "readOnlyLocation"}.value(int(failure.error()));
    } catch (const SelfUpdater::PlatformFailure &failure) {
        return u"platform: "_qs + failure.message();
    }
}

mode_t modeOf(const QString &path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

void chmod(const QString &path, mode_t mode)
{
    ::chmod(QFile::encodeName(path).constData(), mode);
}

// Puts a folder of tools in front of PATH for as long as it lives; the swap script inherits it.
struct ToolsFirstOnPath
{
    const QByteArray previous = qgetenv("PATH");
    explicit ToolsFirstOnPath(const QString &folder) { qputenv("PATH", QFile::encodeName(folder) + ':' + previous); }
    ~ToolsFirstOnPath() { qputenv("PATH", previous); }
};

} // namespace

class TestSelfUpdater;
using Change = std::function<void(TestSelfUpdater &)>;

// The installer from the running app's location to the swap script, against a local HTTPS
// server, and the swap script itself, run for real.
class TestSelfUpdater : public QObject
{
    Q_OBJECT

public:
    LocalHttpsServer m_server;
    QTemporaryDir m_keys;
    Bundles::Publisher m_publisher = Bundles::makePublisher(m_keys.path(), u"publisher"_qs);
    std::unique_ptr<QTemporaryDir> m_root;
    SelfUpdater::Environment m_environment;
    // What the server answers with, and how slowly.
    int m_status = 200;
    QByteArray m_archive;
    int m_bytesPerTick = 0;

    QString root(const QString &relative) const { return m_root->filePath(relative); }
    QString staged() const { return root(u"staging/Drowsewick.app"_qs); }
    QString workFolder() const { return m_environment.workRoot + u"/nimbrel-update-%1"_qs.arg(m_environment.pid); }
    void stage(const QString &bundle, const QByteArray &label = "new", const QByteArray &version = "2.0")
    {
        Bundles::make(bundle, label, root(u"started"_qs), version);
        Bundles::sign(m_publisher, bundle);
    }
    QString serveAndInstall()
    {
        const QString path = u"/%1.zip"_qs.arg(m_server.requestCount());
        m_server.answer(path, m_status, m_archive.isNull() ? Bundles::zip(root(u"staging"_qs)) : m_archive, {}, m_bytesPerTick);
        return outcomeOf(SelfUpdater::install(UpdateInfo{u"2.0"_qs, m_server.url(path), {}}, m_environment));
    }
private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "cannot make a certificate with openssl or listen on 127.0.0.1"); }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_environment = {.bundlePath = root(u"Applications/Drowsewick.app"_qs), .privateRoot = root(u"cache"_qs),
                         .workRoot = root(u"cache/com.nimbrel.drowsewick/update"_qs), .publisher = m_publisher.trusted,
                         .pid = Bundles::endedProcess(), .limits = {}};
        Bundles::make(m_environment.bundlePath, "old", root(u"started"_qs));
        m_status = 200;
        m_archive = QByteArray();
        m_bytesPerTick = 0;
        stage(staged());
    }

    // The app outside a bundle (as here, in the build) is not replaced; the work goes into the
    // user's own temporary folder on macOS, below the cache on Linux.
    void currentEnvironment()
    {
        const SelfUpdater::Environment current = SelfUpdater::Environment::current();
        QCOMPARE(current.bundlePath, QString());
        const QString root = macOSFlavour() ? QDir::tempPath() : qEnvironmentVariable("XDG_CACHE_HOME");
        QCOMPARE(current.privateRoot, root);
        QCOMPARE(current.workRoot, macOSFlavour() ? root : root + u"/com.nimbrel.drowsewick/update"_qs);
    }

    // Each row changes one thing: the installed bundle stays as it is, the attempt leaves no work
    // behind, and a place it cannot use is refused before the server is asked anything.
    void refusals_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("outcome");
        const auto executable = [](const QByteArray &script) {
            return [script](TestSelfUpdater &t) {
                TestFiles::write(UpdatePlatform::executable(t.staged()), script, true);
                Bundles::sign(t.m_publisher, t.staged());
            };
        };
        const auto add = [](qsizetype bytes, std::function<QByteArray(QByteArray)> zipped) {
            return [=](TestSelfUpdater &t) {
                for (const char *name : {"1", "2", "3"})
                    TestFiles::write(t.staged() + u"/resources/part"_qs + QLatin1String(name), QByteArray(bytes, 'x'));
                Bundles::sign(t.m_publisher, t.staged());
                t.m_archive = zipped(Bundles::zip(t.root(u"staging"_qs)));
                t.m_environment.limits.unpackedBytes = 64 * 1024;
            };
        };
        QByteArray size(4, '\0'), understated(4, '\0');
        qToLittleEndian(quint32(200'000), size.data());
        qToLittleEndian(quint32(1'000), understated.data());
        QTest::newRow("answered 404") << Change([](TestSelfUpdater &t) { t.m_status = 404; }) << "download";
        QTest::newRow("no zip") << Change([](TestSelfUpdater &t) { t.m_archive = "<html>Not a zip</html>"; }) << "unpack";
        QTest::newRow("bundle only in a subfolder, or its extension in capitals") << Change([](TestSelfUpdater &t) {
            QDir().rename(t.staged(), t.root(u"staging/Drowsewick.APP"_qs));
            t.stage(t.root(u"staging/Release/Drowsewick.app"_qs));
        }) << "notFound";
        QTest::newRow("signed by another") << Change([](TestSelfUpdater &t) {
            Bundles::sign(Bundles::makePublisher(t.m_keys.path(), u"stranger"_qs), t.staged());
        }) << "badSignature";
        QTest::newRow("older release served as new") << Change([](TestSelfUpdater &t) { t.stage(t.staged(), "older", "1.5"); }) << "badSignature";
        QTest::newRow("executable that fails") << Change(executable("#!/bin/sh\necho 2.0\nexit 1\n")) << "badSignature";
        QTest::newRow("executable that does not answer in time") << Change([executable](TestSelfUpdater &t) {
            executable("#!/bin/sh\nexec sleep 30\n")(t);
            t.m_environment.limits.versionCheck = 300ms;
        }) << "badSignature";
        QTest::newRow("download past its size") << Change([](TestSelfUpdater &t) { t.m_environment.limits.downloadBytes = 512; }) << "download";
        QTest::newRow("listing past the unpacked size") << Change(add(30'000, [](QByteArray zip) { return zip; })) << "unpack";
        QTest::newRow("a file past it, the listing understating it")
            << Change(add(200'000, [=](QByteArray zip) { return zip.replace(size, understated); })) << "unpack";
        QTest::newRow("download that stalls") << Change([](TestSelfUpdater &t) {
            t.m_bytesPerTick = 50;
            t.m_environment.limits.stallWindow = 500ms;
            t.m_environment.limits.stallBytes = 4096;
        }) << "platform: the download stalled";
        QTest::newRow("installation past its deadline") << Change([](TestSelfUpdater &t) {
            t.m_bytesPerTick = 50;
            t.m_environment.limits.deadline = 500ms;
        }) << "platform: the installation took too long";
        QTest::newRow("cache folder writable by all") << Change([](TestSelfUpdater &t) {
            QDir().mkpath(t.m_environment.workRoot);
            chmod(t.root(u"cache"_qs), 0777);
        }) << "platform: @/cache is not a folder of this user alone";
        QTest::newRow("translocated") << Change([](TestSelfUpdater &t) {
            t.m_environment.bundlePath = t.root(u"private/var/folders/T/AppTranslocation/0F1E/d/Drowsewick.app"_qs);
            Bundles::make(t.m_environment.bundlePath, "old", t.root(u"started"_qs));
        }) << "readOnlyLocation";
        QTest::newRow("not in a bundle") << Change([](TestSelfUpdater &t) { t.m_environment.bundlePath.clear(); }) << "readOnlyLocation";
    }
    void refusals()
    {
        QFETCH(Change, change);
        QFETCH(QString, outcome);
        const QMap<QString, QByteArray> installed = TestFiles::contents(root(u"Applications"_qs));
        change(*this);
        const int requests = m_server.requestCount();
        QCOMPARE(serveAndInstall(), QString(outcome).replace(u'@', m_root->path()));
        QCOMPARE(TestFiles::contents(root(u"Applications"_qs)), installed);
        QVERIFY(!QFileInfo::exists(workFolder()) && !QFileInfo::exists(workFolder() + u".sh"_qs));
        QCOMPARE(m_server.requestCount() == requests, outcome == u"readOnlyLocation"_qs || outcome.contains(u"user alone"_qs));
    }

    // Beside the bundle the archive holds an entry zip itself will not write, made by renaming one
    // of the same length in the archive's bytes ("@": a folder outside, without its leading "/"),
    // or a link leading out.
    void entriesLeadingOutAreRefused_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("renamedTo");
        QTest::newRow("parent folder") << QByteArray("zz/escaped") << QByteArray("../escaped");
        QTest::newRow("absolute name") << QByteArray("z@/escaped") << QByteArray("/@/escaped");
        QTest::newRow("backslash") << QByteArray("zz_escaped") << QByteArray("..\\escaped");
        QTest::newRow("symbolic link leading out") << QByteArray() << QByteArray();
    }
    void entriesLeadingOutAreRefused()
    {
        if (macOSFlavour())
            QSKIP("what ditto unpacks is Apple's to decide; these are the Linux unpacking's own checks");
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, renamedTo);
        const QString outside = root(u"outside"_qs);
        QDir().mkpath(outside);
        const QByteArray outsideName = QFile::encodeName(outside).mid(1);
        if (written.isEmpty())
            QVERIFY(QFile::link(outside, staged() + u"/link"_qs));
        else
            TestFiles::write(root(u"staging/"_qs) + QFile::decodeName(written.replace('@', outsideName)), "out");
        m_archive = Bundles::zip(root(u"staging"_qs)).replace(written, renamedTo.replace('@', outsideName));
        QCOMPARE(serveAndInstall(), u"unpack"_qs);
        QCOMPARE(TestFiles::contents(outside), (QMap<QString, QByteArray>()));
    }

    // The first bundle listed goes in, with modes of its own: readable by all, written by its
    // owner, executable as signed; a backup in the way goes first, though no one may write to it.
    // The swap waits for the app, in a session of its own, and starts the new bundle; the next
    // start clears what an ended run left, never what a running one has.
    void installsTheFirstListedBundle()
    {
        const QString beta = root(u"staging/Beta.app"_qs);
        Bundles::make(beta, "beta", root(u"started"_qs));
        chmod(beta + u"/resources"_qs, 0775);
        chmod(beta + u"/resources/notes.txt"_qs, 0600);
        Bundles::sign(m_publisher, beta);
        const QString backup = m_environment.bundlePath + u".bak"_qs;
        TestFiles::write(backup + u"/resources/notes.txt"_qs, "older");
        chmod(backup + u"/resources"_qs, 0555);
        QProcess app;
        app.start(u"sleep"_qs, {u"30"_qs});
        QVERIFY(app.waitForStarted());
        m_environment.pid = app.processId();
        const QMap<QString, QByteArray> installed = TestFiles::contents(m_environment.bundlePath);
        QCOMPARE(serveAndInstall(), u"installed"_qs);
        QVERIFY(!QFileInfo::exists(backup));
        QTest::qWait(500);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), installed);
        if (QFileInfo::exists(u"/proc/self"_qs)) {
            const QByteArray script = QFile::encodeName(workFolder() + u".sh"_qs);
            const QStringList processes = QDir(u"/proc"_qs).entryList(QDir::Dirs);
            const auto swap = std::find_if(processes.begin(), processes.end(), [&](const QString &pid) {
                return TestFiles::read(u"/proc/%1/cmdline"_qs.arg(pid)).split('\0').contains(script);
            });
            QVERIFY2(swap != processes.end() && ::getsid(swap->toInt()) != ::getsid(0), "the swap script shares the app's session");
        }
        app.kill();
        app.waitForFinished();

        QList<QByteArray> listed = runTool(u"ls"_qs, {u"-f"_qs, workFolder() + u"/unpacked"_qs}).output.split('\n');
        listed.removeIf([](const QByteArray &name) { return !name.endsWith(".app"); });
        const QString first = workFolder() + u"/unpacked/"_qs + QString::fromUtf8(listed.value(0));
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(root(u"started"_qs)), Bundles::startedAs(first.endsWith(u"Beta.app"_qs) ? "beta" : "new", m_environment.bundlePath), 10000);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), TestFiles::contents(first));
        QCOMPARE(modeOf(m_environment.bundlePath + u"/resources"_qs), mode_t(0755));
        QCOMPARE(modeOf(m_environment.bundlePath + u"/resources/notes.txt"_qs), mode_t(0644));
        QCOMPARE(modeOf(UpdatePlatform::executable(m_environment.bundlePath)), mode_t(0755));

        const QString running = u"nimbrel-update-%1.sh"_qs.arg(QCoreApplication::applicationPid());
        TestFiles::write(m_environment.workRoot + u'/' + running, "waiting");
        TestFiles::write(workFolder() + u".sh.tmp-x1Y2z3"_qs, "left by a crash");
        SelfUpdater::removeLeftovers(m_environment);
        QCOMPARE(QDir(m_environment.workRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{running});
    }

    void cancellingStopsAtOnce()
    {
        m_server.answer(u"/slow.zip"_qs, 200, Bundles::zip(root(u"staging"_qs)), {}, 1);
        QFuture<void> installation = SelfUpdater::install(UpdateInfo{u"2.0"_qs, m_server.url(u"/slow.zip"_qs), {}}, m_environment);
        QTest::qWait(300);
        installation.cancel();
        // The download alone would take minutes.
        QTRY_VERIFY_WITH_TIMEOUT(installation.isFinished(), 2000);
        QVERIFY(!QFileInfo::exists(workFolder()));
    }

    // One step of the swap fails through a tool of that name first on PATH (the copy is cp, also
    // inside ditto's stand-in): the old bundle comes back, whole, and starts.
    void failedSwapStartsTheOldBundle_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QByteArray>("behaviour");
        QTest::newRow("old backup cannot be removed") << "rm" << QByteArray("exit 1");
        QTest::newRow("installed bundle cannot be renamed") << "mv" << QByteArray("exit 1");
        QTest::newRow("copy fails before writing") << "cp" << QByteArray("exit 1");
        QTest::newRow("copy fails halfway") << "cp" << QByteArray("for last; do :; done\nmkdir -p \"$last\" && echo part > \"$last/part\"\nexit 1");
    }
    void failedSwapStartsTheOldBundle()
    {
        QFETCH(QString, tool);
        QFETCH(QByteArray, behaviour);
        TestFiles::write(root(u"tools/"_qs) + tool, "#!/bin/sh\n" + behaviour + "\n", true);
        const QMap<QString, QByteArray> before = TestFiles::contents(m_environment.bundlePath);
        QDir().mkpath(m_environment.workRoot);
        {
            ToolsFirstOnPath failing(root(u"tools"_qs));
            SelfUpdater::launchSwap(staged(), m_environment.bundlePath, m_environment);
        }
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(root(u"started"_qs)), Bundles::startedAs("old", m_environment.bundlePath), 10000);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), before);
        QVERIFY(!QFileInfo::exists(m_environment.bundlePath + u".bak"_qs));
    }

    // The bundle a volume of its own, mounted read-only, in a mount namespace of a child's own so
    // that nothing stays mounted whatever becomes of the test.
    void refusesReadOnlyVolume()
    {
        if (!qEnvironmentVariableIsSet("DROWSEWICK_TEST_PRIVATE_MOUNTS")) {
            const QStringList privateMounts = {u"--mount"_qs, u"--propagation"_qs, u"private"_qs};
            if (::geteuid() != 0 || runTool(u"unshare"_qs, privateMounts + QStringList{u"true"_qs}).exitCode != 0)
                QSKIP("mounting a read-only volume needs root and a mount namespace of the test's own");
            qputenv("DROWSEWICK_TEST_PRIVATE_MOUNTS", "1");
            const ToolRun child = runTool(u"unshare"_qs, privateMounts + QStringList{QCoreApplication::applicationFilePath(), u"refusesReadOnlyVolume"_qs});
            QVERIFY2(child.exitCode == 0, child.output.constData());
            if (child.output.contains("\nSKIP"))
                QSKIP("this system does not let tests mount a volume");
            return;
        }
        MemoryVolume volume(m_environment.bundlePath);
        if (!volume.isMounted())
            QSKIP("this system does not let tests mount a volume");
        Bundles::make(m_environment.bundlePath, "old", root(u"started"_qs));
        QVERIFY(volume.makeReadOnly());
        QCOMPARE(serveAndInstall(), u"readOnlyLocation"_qs);
    }
};

DROWSEWICK_TEST_MAIN(TestSelfUpdater, QCoreApplication)
#include "tst_SelfUpdater.moc"
