#include "Bundles.h"
#include "DiskLimits.h"
#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "TestHome.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QtEndian>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How an installation ended: "installed", the name of an UpdateError, or "platform: " and the
// message.
QString outcomeOf(QFuture<void> installation)
{
    if (!QTest::qWaitFor([&] { return installation.isFinished(); }, 30000))
        return QStringLiteral("still running");
    try {
        installation.waitForFinished();
        return QStringLiteral("installed");
    } catch (const SelfUpdater::Failure &failure) {
        const QStringList names{"download", "unpack", "notFound", "badSignature", "readOnlyLocation"};
        return names.value(int(failure.error()));
    } catch (const SelfUpdater::PlatformFailure &failure) {
        return QStringLiteral("platform: ") + failure.message();
    }
}

mode_t modeOf(const QString &path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

// Puts a folder of tools in front of PATH for as long as it lives; the swap script inherits it.
class ToolsFirstOnPath
{
public:
    explicit ToolsFirstOnPath(const QString &folder) : m_previous(qgetenv("PATH")) { qputenv("PATH", QFile::encodeName(folder) + ':' + m_previous); }
    ~ToolsFirstOnPath() { qputenv("PATH", m_previous); }

private:
    QByteArray m_previous;
};

constexpr uid_t unprivilegedUser = 65534;

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
    Bundles::Publisher m_publisher = Bundles::makePublisher(m_keys.path(), QStringLiteral("publisher"));
    std::unique_ptr<QTemporaryDir> m_root;
    SelfUpdater::Environment m_environment;
    // What the server answers with, and how slowly.
    int m_status = 200;
    QByteArray m_archive;
    int m_bytesPerTick = 0;

    QString root(const QString &relative) const { return m_root->filePath(relative); }
    QString staging() const { return root(QStringLiteral("staging")); }
    QString workFolder() const { return m_environment.workRoot + QStringLiteral("/nimbrel-update-%1").arg(m_environment.pid); }
    QString stage(const QString &relative, const QByteArray &label = "new", const QByteArray &version = "2.0")
    {
        const QString bundle = staging() + u'/' + relative;
        Bundles::make(bundle, label, root(QStringLiteral("started")), version);
        Bundles::sign(m_publisher, bundle);
        return bundle;
    }
    QString serveAndInstall()
    {
        const QString path = QStringLiteral("/%1.zip").arg(m_server.requestCount());
        m_server.answer(path, m_status, m_archive.isNull() ? Bundles::zip(staging()) : m_archive, {}, m_bytesPerTick);
        return outcomeOf(SelfUpdater::install(UpdateInfo{QStringLiteral("2.0"), m_server.url(path), {}}, m_environment));
    }
    // Runs the current test function of this binary again as another process, started by
    // launcher; it passes, fails or skips as that run did.
    void rerunAs(const QString &launcher, const QStringList &arguments, const QString &binary, const QProcessEnvironment &environment)
    {
        const ToolRun child = runTool(launcher, arguments + QStringList{binary, QString::fromLatin1(QTest::currentTestFunction())}, {}, environment);
        QVERIFY2(child.exitCode == 0, child.output.constData());
        if (child.output.contains("\nSKIP"))
            QSKIP("skipped in the child run");
    }
    // Refused before anything is asked of the server, the installed bundle untouched.
    void expectRefusedLocation()
    {
        const int requests = m_server.requestCount();
        QCOMPARE(serveAndInstall(), QStringLiteral("readOnlyLocation"));
        QCOMPARE(m_server.requestCount(), requests);
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "cannot make a certificate with openssl or listen on 127.0.0.1"); }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        const QString installed = root(QStringLiteral("Applications/Drowsewick.app"));
        Bundles::make(installed, "old", root(QStringLiteral("started")));
        m_environment = {.bundlePath = installed, .privateRoot = root(QStringLiteral("cache")),
                         .workRoot = root(QStringLiteral("cache/com.nimbrel.drowsewick/update")), .publisher = m_publisher.trusted,
                         .pid = Bundles::endedProcess(), .limits = {}};
        m_status = 200;
        m_archive = QByteArray();
        m_bytesPerTick = 0;
        stage(QStringLiteral("Drowsewick.app"));
    }

    // The running app outside a bundle (as here, in the build) is not replaced; the work goes into
    // the user's own temporary folder on macOS, below the cache on Linux.
    void currentEnvironment()
    {
        const SelfUpdater::Environment current = SelfUpdater::Environment::current();
        QCOMPARE(current.bundlePath, QString());
        const QString root = macOSFlavour() ? QDir::tempPath() : qEnvironmentVariable("XDG_CACHE_HOME");
        QCOMPARE(current.privateRoot, root);
        QCOMPARE(current.workRoot, macOSFlavour() ? root : root + QStringLiteral("/com.nimbrel.drowsewick/update"));
    }

    // Each row changes one thing: the installed bundle stays as it is, and the attempt leaves no
    // work behind.
    void refusals_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("outcome");
        const auto limit = [](const std::function<void(SelfUpdater::Limits &)> &set) {
            return Change([set](TestSelfUpdater &t) { set(t.m_environment.limits); });
        };
        const auto executable = [](const QByteArray &script) {
            return Change([script](TestSelfUpdater &t) {
                const QString bundle = t.staging() + QStringLiteral("/Drowsewick.app");
                TestFiles::write(UpdatePlatform::executable(bundle), script, true);
                Bundles::sign(t.m_publisher, bundle);
            });
        };
        QTest::newRow("download answered 404") << Change([](TestSelfUpdater &t) { t.m_status = 404; }) << "download";
        QTest::newRow("download answered 201") << Change([](TestSelfUpdater &t) { t.m_status = 201; }) << "download";
        QTest::newRow("no zip") << Change([](TestSelfUpdater &t) { t.m_archive = "<html>Not a zip</html>"; }) << "unpack";
        QTest::newRow("bundle only in a subfolder") << Change([](TestSelfUpdater &t) {
            QVERIFY(QDir(t.staging()).rename(QStringLiteral("Drowsewick.app"), QStringLiteral("Drowsewick.APP")));
            t.stage(QStringLiteral("Release/Drowsewick.app"));
        }) << "notFound";
        QTest::newRow("signed by another") << Change([](TestSelfUpdater &t) {
            Bundles::sign(Bundles::makePublisher(t.m_keys.path(), QStringLiteral("stranger")), t.staging() + QStringLiteral("/Drowsewick.app"));
        }) << "badSignature";
        QTest::newRow("older release served as new") << Change([](TestSelfUpdater &t) { t.stage(QStringLiteral("Drowsewick.app"), "older", "1.5"); })
                                                     << "badSignature";
        QTest::newRow("executable that fails") << executable("#!/bin/sh\necho 2.0\nexit 1\n") << "badSignature";
        QTest::newRow("executable that does not answer in time")
            << Change([executable](TestSelfUpdater &t) { executable("#!/bin/sh\nexec sleep 30\n")(t); t.m_environment.limits.versionCheck = 300ms; })
            << "badSignature";
        QTest::newRow("download past its size") << limit([](SelfUpdater::Limits &l) { l.downloadBytes = 512; }) << "download";
        QTest::newRow("listing past the unpacked size") << Change([](TestSelfUpdater &t) {
            for (const char *name : {"1", "2", "3"})
                TestFiles::write(t.staging() + QStringLiteral("/Drowsewick.app/resources/part") + QLatin1String(name), QByteArray(30'000, 'x'));
            Bundles::sign(t.m_publisher, t.staging() + QStringLiteral("/Drowsewick.app"));
            t.m_environment.limits.unpackedBytes = 64 * 1024;
        }) << "unpack";
        QTest::newRow("a file past it, its listing understating that") << Change([](TestSelfUpdater &t) {
            TestFiles::write(t.staging() + QStringLiteral("/Drowsewick.app/resources/large"), QByteArray(200'000, 'x'));
            Bundles::sign(t.m_publisher, t.staging() + QStringLiteral("/Drowsewick.app"));
            QByteArray size(4, '\0'), understated(4, '\0');
            qToLittleEndian(quint32(200'000), size.data());
            qToLittleEndian(quint32(1'000), understated.data());
            t.m_archive = Bundles::zip(t.staging()).replace(size, understated);
            t.m_environment.limits.unpackedBytes = 64 * 1024;
        }) << "unpack";
        QTest::newRow("download that stalls") << Change([](TestSelfUpdater &t) {
            t.m_bytesPerTick = 50;
            t.m_environment.limits.stallWindow = 500ms;
            t.m_environment.limits.stallBytes = 4096;
        }) << "platform: the download stalled";
        QTest::newRow("installation past its deadline")
            << Change([](TestSelfUpdater &t) { t.m_bytesPerTick = 50; t.m_environment.limits.deadline = 500ms; })
            << "platform: the installation took too long";
        QTest::newRow("cache folder writable by all")
            << Change([](TestSelfUpdater &t) { QDir().mkpath(t.m_environment.workRoot); ::chmod(QFile::encodeName(t.root("cache")).constData(), 0777); })
            << "platform: @/cache is not a folder of this user alone";
        QTest::newRow("translocated") << Change([](TestSelfUpdater &t) {
            t.m_environment.bundlePath = t.root(QStringLiteral("private/var/folders/T/AppTranslocation/0F1E/d/Drowsewick.app"));
            Bundles::make(t.m_environment.bundlePath, "old", t.root(QStringLiteral("started")));
        }) << "readOnlyLocation";
        QTest::newRow("not in a bundle") << Change([](TestSelfUpdater &t) { t.m_environment.bundlePath.clear(); }) << "readOnlyLocation";
    }
    void refusals()
    {
        QFETCH(Change, change);
        QFETCH(QString, outcome);
        const QMap<QString, QByteArray> installed = TestFiles::contents(root(QStringLiteral("Applications")));
        change(*this);
        const int requests = m_server.requestCount();
        QCOMPARE(serveAndInstall(), QString(outcome).replace(u'@', m_root->path()));
        QCOMPARE(TestFiles::contents(root(QStringLiteral("Applications"))), installed);
        QVERIFY(!QFileInfo::exists(workFolder()) && !QFileInfo::exists(workFolder() + QStringLiteral(".sh")));
        // A place it cannot use is refused before the server is asked anything.
        QCOMPARE(m_server.requestCount() == requests, outcome == QLatin1String("readOnlyLocation") || outcome.contains(QLatin1String("user alone")));
    }

    // Beside a signed Drowsewick.app the archive holds an entry that zip itself will not write,
    // made by renaming one of the same length in the archive's bytes; "@" stands for the path of a
    // folder outside, without its leading "/". A link leading out is refused too.
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
        const QString outside = root(QStringLiteral("outside"));
        QDir().mkpath(outside);
        const QByteArray outsideName = QFile::encodeName(outside).mid(1);
        if (written.isEmpty())
            QVERIFY(QFile::link(outside, staging() + QStringLiteral("/Drowsewick.app/link")));
        else
            TestFiles::write(staging() + u'/' + QFile::decodeName(written.replace('@', outsideName)), "out");
        m_archive = Bundles::zip(staging()).replace(written, renamedTo.replace('@', outsideName));
        QCOMPARE(serveAndInstall(), QStringLiteral("unpack"));
        QCOMPARE(TestFiles::contents(outside), (QMap<QString, QByteArray>()));
    }

    // The first bundle listed goes in, with modes of its own: readable by all, written by its
    // owner, executable as signed; a backup left in the way goes first, though no one may write
    // to it. The swap waits for the app, in a session of its own, and starts the new bundle; the
    // next start clears what an ended run left, never what a running one has.
    void installsTheFirstListedBundle()
    {
        stage(QStringLiteral("Beta.app"), "beta");
        ::chmod(QFile::encodeName(staging() + QStringLiteral("/Beta.app/resources")).constData(), 0775);
        ::chmod(QFile::encodeName(staging() + QStringLiteral("/Beta.app/resources/notes.txt")).constData(), 0600);
        Bundles::sign(m_publisher, staging() + QStringLiteral("/Beta.app"));
        const QString backup = m_environment.bundlePath + QStringLiteral(".bak");
        TestFiles::write(backup + QStringLiteral("/resources/notes.txt"), "older");
        ::chmod(QFile::encodeName(backup + QStringLiteral("/resources")).constData(), 0555);
        QProcess app;
        app.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(app.waitForStarted());
        m_environment.pid = app.processId();
        const QMap<QString, QByteArray> installed = TestFiles::contents(m_environment.bundlePath);
        QCOMPARE(serveAndInstall(), QStringLiteral("installed"));
        QVERIFY(!QFileInfo::exists(backup));
        QTest::qWait(500);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), installed);
        if (QFileInfo::exists(QStringLiteral("/proc/self"))) {
            const QByteArray script = QFile::encodeName(workFolder() + QStringLiteral(".sh"));
            const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
            const auto swap = std::find_if(processes.begin(), processes.end(), [&](const QString &pid) {
                return TestFiles::read(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').contains(script);
            });
            QVERIFY2(swap != processes.end() && ::getsid(swap->toInt()) != ::getsid(0), "the swap script shares the app's session");
        }
        app.kill();
        app.waitForFinished();

        QList<QByteArray> listed = runTool(QStringLiteral("ls"), {QStringLiteral("-f"), workFolder() + QStringLiteral("/unpacked")}).output.split('\n');
        listed.removeIf([](const QByteArray &name) { return !name.endsWith(".app"); });
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(root(QStringLiteral("started"))),
                                  Bundles::startedAs(listed.value(0) == "Beta.app" ? "beta" : "new", m_environment.bundlePath), 10000);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), TestFiles::contents(workFolder() + QStringLiteral("/unpacked/") + QString::fromUtf8(listed.value(0))));
        QCOMPARE(modeOf(m_environment.bundlePath + QStringLiteral("/resources")), mode_t(0755));
        QCOMPARE(modeOf(m_environment.bundlePath + QStringLiteral("/resources/notes.txt")), mode_t(0644));
        QCOMPARE(modeOf(UpdatePlatform::executable(m_environment.bundlePath)), mode_t(0755));

        const QString running = QStringLiteral("nimbrel-update-%1.sh").arg(QCoreApplication::applicationPid());
        TestFiles::write(m_environment.workRoot + u'/' + running, "waiting");
        TestFiles::write(workFolder() + QStringLiteral(".sh.tmp-x1Y2z3"), "left by a crash");
        SelfUpdater::removeLeftovers(m_environment);
        QCOMPARE(QDir(m_environment.workRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{running});
    }

    void cancellingStopsAtOnce()
    {
        m_bytesPerTick = 1;
        const QString path = QStringLiteral("/slow.zip");
        m_server.answer(path, 200, Bundles::zip(staging()), {}, 1);
        QFuture<void> installation = SelfUpdater::install(UpdateInfo{QStringLiteral("2.0"), m_server.url(path), {}}, m_environment);
        QTest::qWait(300);
        installation.cancel();
        // The download alone would take minutes.
        QTRY_VERIFY_WITH_TIMEOUT(installation.isFinished(), 2000);
        QVERIFY(!QFileInfo::exists(workFolder()));
    }

    // Each row makes one step of the swap fail through a tool of that name first on PATH (the
    // copy is cp, also inside ditto's stand-in): the old bundle comes back, whole, and starts.
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
        TestFiles::write(root(QStringLiteral("tools/")) + tool, "#!/bin/sh\n" + behaviour + "\n", true);
        const QMap<QString, QByteArray> before = TestFiles::contents(m_environment.bundlePath);
        QDir().mkpath(m_environment.workRoot);
        {
            ToolsFirstOnPath failing(root(QStringLiteral("tools")));
            SelfUpdater::launchSwap(staging() + QStringLiteral("/Drowsewick.app"), m_environment.bundlePath, m_environment);
        }
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(root(QStringLiteral("started"))), Bundles::startedAs("old", m_environment.bundlePath), 10000);
        QCOMPARE(TestFiles::contents(m_environment.bundlePath), before);
        QVERIFY(!QFileInfo::exists(m_environment.bundlePath + QStringLiteral(".bak")));
    }

    // Root may write anywhere, so this runs again as an unprivileged user, from a copy of the
    // binary in a folder that user owns.
    void refusesFolderTheUserCannotWrite()
    {
        if (::geteuid() == 0) {
            QTemporaryDir place(QDir::tempPath() + QStringLiteral("/drowsewick-unprivileged-XXXXXX"));
            const QString binary = place.filePath(QStringLiteral("tst_SelfUpdater"));
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), binary));
            QCOMPARE(::chown(QFile::encodeName(place.path()).constData(), unprivilegedUser, unprivilegedUser), 0);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("TMPDIR"), place.path());
            const QStringList asUnprivileged = {QStringLiteral("--reuid=%1").arg(unprivilegedUser), QStringLiteral("--regid=%1").arg(unprivilegedUser),
                                                QStringLiteral("--clear-groups")};
            if (runTool(QStringLiteral("setpriv"), asUnprivileged + QStringList{binary, QStringLiteral("-functions")}, {}, environment).exitCode != 0)
                QSKIP("cannot run this test binary as user 65534");
            return rerunAs(QStringLiteral("setpriv"), asUnprivileged, binary, environment);
        }
        const QString holder = QFileInfo(m_environment.bundlePath).absolutePath();
        const auto reopen = qScopeGuard([&] { QFile::setPermissions(holder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        QVERIFY(QFile::setPermissions(holder, QFile::ReadOwner | QFile::ExeOwner));
        expectRefusedLocation();
    }

    // The bundle a volume of its own, mounted read-only, in a mount namespace of a child's own
    // so that nothing stays mounted whatever becomes of the test.
    void refusesReadOnlyVolume()
    {
        if (!qEnvironmentVariableIsSet("DROWSEWICK_TEST_PRIVATE_MOUNTS")) {
            const QStringList privateMounts = {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private")};
            if (::geteuid() != 0 || runTool(QStringLiteral("unshare"), privateMounts + QStringList{QStringLiteral("true")}).exitCode != 0)
                QSKIP("mounting a read-only volume needs root and a mount namespace of the test's own");
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DROWSEWICK_TEST_PRIVATE_MOUNTS"), QStringLiteral("1"));
            return rerunAs(QStringLiteral("unshare"), privateMounts, QCoreApplication::applicationFilePath(), environment);
        }
        MemoryVolume volume(m_environment.bundlePath);
        if (!volume.isMounted())
            QSKIP("this system does not let tests mount a volume");
        Bundles::make(m_environment.bundlePath, "old", root(QStringLiteral("started")));
        QVERIFY(volume.makeReadOnly());
        expectRefusedLocation();
    }
};

DROWSEWICK_TEST_MAIN(TestSelfUpdater, QCoreApplication)
#include "tst_SelfUpdater.moc"
