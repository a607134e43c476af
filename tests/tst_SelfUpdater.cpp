#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QtEndian>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace UpdateTest;
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
        // In the order UpdateError declares them.
        const QStringList names{"download", "unpack", "notFound", "badSignature", "readOnlyLocation"};
        return names.value(int(failure.error()), QStringLiteral("unknown error"));
    } catch (const SelfUpdater::PlatformFailure &failure) {
        return QStringLiteral("platform: ") + failure.message();
    }
}

constexpr uid_t unprivilegedUser = 65534;

mode_t modeOf(const QString &path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

// A size as a zip archive's headers hold it.
QByteArray zipSize(quint32 size)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(size, bytes.data());
    return bytes;
}

} // namespace

class TestSelfUpdater : public QObject
{
    Q_OBJECT

private:
    LocalHttpsServer m_server;
    QTemporaryDir m_keys;
    Publisher m_publisher;
    Publisher m_stranger;
    std::unique_ptr<QTemporaryDir> m_root;
    SelfUpdater::Environment m_environment;
    int m_archives = 0;

    QString root(const QString &relative) const { return m_root->filePath(relative); }
    QString workFolder() const
    {
        return m_environment.workRoot + QStringLiteral("/nimbrel-update-%1").arg(m_environment.pid);
    }

    QString installFrom(const QUrl &url)
    {
        return outcomeOf(SelfUpdater::install(UpdateInfo{QStringLiteral("2.0"), url, {}}, m_environment));
    }
    QString serveAndInstall(int status, const QByteArray &archive, int bytesPerTick = 0)
    {
        const QString path = QStringLiteral("/Drowsewick-%1.zip").arg(++m_archives);
        m_server.answer(path, status, archive, {}, bytesPerTick);
        return installFrom(m_server.url(path));
    }
    // Installation must stop before it asks the server for anything.
    void expectRefusedLocation()
    {
        const int requests = m_server.requestCount();
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("readOnlyLocation"));
        QCOMPARE(m_server.requestCount(), requests);
    }

    // A signed bundle in the staging folder, whose executable writes label when started.
    QString stageBundle(const QString &relative, const QByteArray &label, const QByteArray &version = "2.0")
    {
        const QString bundle = root(QStringLiteral("staging/") + relative);
        makeBundle(bundle, label, root(QStringLiteral("started")), version);
        signAgain(bundle);
        return bundle;
    }
    void signAgain(const QString &bundle)
    {
        const ToolRun signing = signAs(m_publisher, bundle);
        if (signing.exitCode != 0)
            qWarning("signing: %s", signing.output.constData());
    }
    // The staging folder as a zip archive; each rename swaps an entry's name for another of the
    // same length in the archive's bytes, to make names that zip itself will not write.
    QByteArray zipOf(const QString &staging, const QList<std::pair<QByteArray, QByteArray>> &renames = {})
    {
        QDir().mkpath(staging);
        const QString archive = root(QStringLiteral("archive-%1.zip").arg(++m_archives));
        runTool(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-y"), archive, QStringLiteral(".")}, staging);
        QByteArray bytes = readFile(archive);
        for (const auto &[from, to] : renames)
            bytes.replace(from, to);
        return bytes;
    }

    // Runs the current test function of this binary again as another process, started by
    // launcher; it passes, fails or skips as that run did.
    void rerunAs(const QString &launcher, const QStringList &launcherArguments, const QString &binary,
                 const QProcessEnvironment &environment)
    {
        const QStringList arguments = launcherArguments + QStringList{binary, QString::fromLatin1(QTest::currentTestFunction())};
        const ToolRun child = runTool(launcher, arguments, {}, environment);
        QVERIFY2(child.exitCode == 0, child.output.constData());
        for (const QByteArray &line : child.output.split('\n')) {
            if (line.startsWith("SKIP"))
                QSKIP(line.constData());
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.isListening(), "cannot make a certificate with openssl or listen on 127.0.0.1");
        m_publisher = makePublisher(m_keys.path(), QStringLiteral("publisher"));
        m_stranger = makePublisher(m_keys.path(), QStringLiteral("stranger"));
        QVERIFY(!m_publisher.trusted.isEmpty());
    }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        const QString installed = root(QStringLiteral("Applications/Drowsewick.app"));
        makeBundle(installed, "old", root(QStringLiteral("started")));
        m_environment = {
            .bundlePath = installed,
            .privateRoot = root(QStringLiteral("cache")),
            .workRoot = root(QStringLiteral("cache/com.nimbrel.drowsewick/update")),
            .publisher = m_publisher.trusted,
            .ssl = m_server.trustingConfiguration(),
            .pid = endedProcess(),
            .limits = {},
        };
    }

    void currentEnvironmentOutsideABundle()
    {
        // Tests run from the build's bin folder, which is no bundle and must not be replaced. The
        // work goes into the user's own temporary folder on macOS, below the cache on Linux.
        const SelfUpdater::Environment current = SelfUpdater::Environment::current();
        QCOMPARE(current.bundlePath, QString());
        const QString root = macOSFlavour() ? QDir::tempPath() : qEnvironmentVariable("XDG_CACHE_HOME");
        QCOMPARE(current.privateRoot, root);
        QCOMPARE(current.workRoot, macOSFlavour() ? root : root + QStringLiteral("/com.nimbrel.drowsewick/update"));
        QCOMPARE(current.pid, QCoreApplication::applicationPid());
    }

    void downloadNeedsStatus200_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("304") << 304;
        QTest::newRow("201") << 201;
    }
    void downloadNeedsStatus200()
    {
        QFETCH(int, status);
        // A failed attempt leaves no work folder; what an earlier one left goes when the next starts.
        QCOMPARE(serveAndInstall(404, {}), QStringLiteral("download"));
        QVERIFY(!QFileInfo::exists(workFolder()));
        writeFile(workFolder() + QStringLiteral("/unpacked/Old.app/drowsewick"), "left by an earlier attempt");
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        const QByteArray archive = status == 304 ? QByteArray() : zipOf(root(QStringLiteral("staging")));
        QCOMPARE(serveAndInstall(status, archive), QStringLiteral("download"));
        QVERIFY(!QFileInfo::exists(workFolder()));
        QCOMPARE(modeOf(m_environment.workRoot), mode_t(0700));
    }

    void refusesWorkPathOthersCanChange_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ownedByAnother");
        QTest::newRow("cache folder writable by all") << "cache" << 0777 << false;
        QTest::newRow("work root writable by its group") << "cache/com.nimbrel.drowsewick/update" << 0770 << false;
        QTest::newRow("folder of another user on the way") << "cache/com.nimbrel.drowsewick" << 0755 << true;
    }
    void refusesWorkPathOthersCanChange()
    {
        QFETCH(QString, folder);
        QFETCH(int, mode);
        QFETCH(bool, ownedByAnother);
        QDir().mkpath(m_environment.workRoot);
        const QByteArray path = QFile::encodeName(root(folder));
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        if (ownedByAnother && (::geteuid() != 0 || ::chown(path.constData(), unprivilegedUser, unprivilegedUser) != 0))
            QSKIP("only root can give a folder to another user");
        const int requests = m_server.requestCount();
        QVERIFY(serveAndInstall(200, {}).startsWith(QLatin1String("platform: ")));
        QCOMPARE(m_server.requestCount(), requests);
    }

    void transportFailureIsPlatformFailure()
    {
        QVERIFY(installFrom(unreachableUrl(QStringLiteral("/Drowsewick.zip"))).startsWith(QLatin1String("platform: ")));
    }

    void archiveThatIsNoZip()
    {
        QCOMPARE(serveAndInstall(200, "<html>Not a zip</html>"), QStringLiteral("unpack"));
    }

    void bundleNotAtTopLevel_data()
    {
        QTest::addColumn<QString>("staged");
        QTest::newRow("only in a subfolder") << "Release/Drowsewick.app";
        QTest::newRow("extension in capitals") << "Drowsewick.APP";
        QTest::newRow("extension alone") << ".app";
        QTest::newRow("no bundle") << "Drowsewick";
    }
    void bundleNotAtTopLevel()
    {
        QFETCH(QString, staged);
        stageBundle(staged, "new");
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("notFound"));
    }

    // Beside a signed Drowsewick.app the archive holds the entry "written", renamed to "renamedTo";
    // "@" in either stands for the path of a folder outside, without its leading "/".
    void entriesLeadingOutAreRefused_data()
    {
        if (macOSFlavour())
            QSKIP("what ditto unpacks is Apple's to decide; these are the Linux unpacking's own checks");
        QTest::addColumn<bool>("link"); // Drowsewick.app/link, a symbolic link to the folder outside
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("renamedTo");
        QTest::newRow("parent folder") << false << QByteArray("zz/escaped") << QByteArray("../escaped");
        QTest::newRow("absolute name") << false << QByteArray("z@/escaped") << QByteArray("/@/escaped");
        QTest::newRow("symbolic link leading out") << true << QByteArray("Drowsewick.app/linq/escaped")
                                                   << QByteArray("Drowsewick.app/link/escaped");
        QTest::newRow("symbolic link alone") << true << QByteArray() << QByteArray();
        QTest::newRow("parent folder deeper in the name") << false << QByteArray("Drowsewick.app/zz/zz/escaped")
                                                          << QByteArray("Drowsewick.app/../../escaped");
        QTest::newRow("backslash") << false << QByteArray("zz_escaped") << QByteArray("..\\escaped");
    }
    void entriesLeadingOutAreRefused()
    {
        QFETCH(bool, link);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, renamedTo);
        const QString staging = root(QStringLiteral("staging"));
        const QString outside = root(QStringLiteral("outside"));
        QDir().mkpath(outside);
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        if (link)
            QVERIFY(QFile::link(outside, staging + QStringLiteral("/Drowsewick.app/link")));
        const QByteArray outsideName = QFile::encodeName(outside).mid(1);
        QList<std::pair<QByteArray, QByteArray>> renames;
        if (!written.isEmpty()) {
            renames.append({written.replace('@', outsideName), renamedTo.replace('@', outsideName)});
            writeFile(staging + u'/' + QFile::decodeName(written), "out");
        }
        QCOMPARE(serveAndInstall(200, zipOf(staging, renames)), QStringLiteral("unpack"));
        QCOMPARE(contents(outside), (QMap<QString, QByteArray>()));
        QVERIFY(!QFileInfo::exists(workFolder() + QStringLiteral("/escaped")));
    }

    // The staged bundle, signed, is changed as the row says. What the signature itself covers is
    // the bundle signature's own test; here, that the installer asks the publisher's key.
    void refusesAllButTheOfferedSignedBundle_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("signed by another key") << "stranger";
        QTest::newRow("older release served as new") << "older";
        QTest::newRow("executable that does not start") << "no start";
        QTest::newRow("executable that fails") << "fails";
    }
    void refusesAllButTheOfferedSignedBundle()
    {
        QFETCH(QString, change);
        const QString bundle = stageBundle(QStringLiteral("Drowsewick.app"), "new");
        const QString executable = UpdatePlatform::executable(bundle);
        const QMap<QString, std::function<void()>> changes = {
            {QStringLiteral("stranger"), [&] { QCOMPARE(signAs(m_stranger, bundle).exitCode, 0); }},
            {QStringLiteral("older"), [&] { stageBundle(QStringLiteral("Drowsewick.app"), "old release", "1.5"); }},
            {QStringLiteral("no start"), [&] {
                 writeFile(executable, "#!/no/such/shell\n", true);
                 signAgain(bundle);
             }},
            {QStringLiteral("fails"), [&] {
                 writeFile(executable, "#!/bin/sh\necho 2.0\nexit 1\n", true);
                 signAgain(bundle);
             }},
        };
        changes.value(change)();
        const auto installedBefore = contents(m_environment.bundlePath);
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("badSignature"));
        QCOMPARE(contents(m_environment.bundlePath), installedBefore);
        QVERIFY(!QFileInfo::exists(workFolder()));
        QVERIFY(!QFileInfo::exists(workFolder() + QStringLiteral(".sh")));
    }

    // Each row makes one limit small and serves what goes past it.
    void stopsAtItsLimits_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("download past its size") << "download" << "download";
        QTest::newRow("listing past the unpacked size") << "listing" << "unpack";
        QTest::newRow("file past the unpacked size, listing understating it") << "file" << "unpack";
        QTest::newRow("download that stalls") << "stall" << "platform: the download stalled";
        QTest::newRow("installation past its deadline") << "deadline" << "platform: the installation took too long";
        QTest::newRow("executable that does not answer in time") << "version" << "badSignature";
    }
    void stopsAtItsLimits()
    {
        QFETCH(QString, limit);
        QFETCH(QString, outcome);
        const QString bundle = stageBundle(QStringLiteral("Drowsewick.app"), "new");
        SelfUpdater::Limits &limits = m_environment.limits;
        QList<std::pair<QByteArray, QByteArray>> renames;
        int bytesPerTick = 0;
        const QMap<QString, std::function<void()>> shrink = {
            {QStringLiteral("download"), [&] { limits.downloadBytes = 512; }},
            {QStringLiteral("listing"), [&] {
                 // Each file below the limit, together above it.
                 for (const char *name : {"1", "2", "3"})
                     writeFile(bundle + QStringLiteral("/resources/part") + QLatin1String(name), QByteArray(30'000, 'x'));
                 limits.unpackedBytes = 64 * 1024;
             }},
            {QStringLiteral("file"), [&] {
                 writeFile(bundle + QStringLiteral("/resources/large"), QByteArray(200'000, 'x'));
                 renames.append({zipSize(200'000), zipSize(1'000)});
                 limits.unpackedBytes = 64 * 1024;
             }},
            {QStringLiteral("stall"), [&] {
                 bytesPerTick = 50;
                 limits.stallWindow = 500ms;
                 limits.stallBytes = 4096;
             }},
            {QStringLiteral("deadline"), [&] {
                 bytesPerTick = 50;
                 limits.deadline = 500ms;
             }},
            {QStringLiteral("version"), [&] {
                 writeFile(UpdatePlatform::executable(bundle), "#!/bin/sh\nexec sleep 30\n", true);
                 limits.versionCheck = 300ms;
             }},
        };
        shrink.value(limit)();
        signAgain(bundle);
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")), renames), bytesPerTick), outcome);
        QVERIFY(!QFileInfo::exists(workFolder()));
    }

    void cancellingStopsAtOnce()
    {
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        m_server.answer(QStringLiteral("/slow.zip"), 200, zipOf(root(QStringLiteral("staging"))), {}, 1);
        const int requests = m_server.requestCount();
        QFuture<void> installation = SelfUpdater::install(UpdateInfo{QStringLiteral("2.0"), m_server.url(QStringLiteral("/slow.zip")), {}},
                                                          m_environment);
        QTRY_COMPARE(m_server.requestCount(), requests + 1);
        installation.cancel();
        // The download alone would take minutes.
        QTRY_VERIFY_WITH_TIMEOUT(installation.isFinished(), 2000);
        QVERIFY(!QFileInfo::exists(workFolder()));
        QVERIFY(!QFileInfo::exists(workFolder() + QStringLiteral(".sh")));
    }

    void firstListedBundleIsInstalled()
    {
        // Modes not to be installed as they are: a folder its group may change, a file only its
        // owner may read.
        for (const QString &name : {QStringLiteral("Alpha.app"), QStringLiteral("Beta.app")}) {
            const QString bundle = stageBundle(name, name == QLatin1String("Alpha.app") ? "alpha" : "beta");
            ::chmod(QFile::encodeName(bundle + QStringLiteral("/resources")).constData(), 0775);
            ::chmod(QFile::encodeName(bundle + QStringLiteral("/resources/notes.txt")).constData(), 0600);
            signAgain(bundle);
        }
        // A backup an earlier swap left, with a folder no one may write to.
        const QString backup = m_environment.bundlePath + QStringLiteral(".bak");
        writeFile(backup + QStringLiteral("/resources/notes.txt"), "older");
        ::chmod(QFile::encodeName(backup + QStringLiteral("/resources")).constData(), 0555);
        QProcess app;
        app.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(app.waitForStarted());
        m_environment.pid = app.processId();
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("installed"));
        QVERIFY(!QFileInfo::exists(backup));
        app.kill();
        app.waitForFinished();

        // ls -f lists in the order the file system gives, "." and ".." among them.
        const QString unpacked = workFolder() + QStringLiteral("/unpacked");
        QList<QByteArray> listed = runTool(QStringLiteral("ls"), {QStringLiteral("-f"), unpacked}).output.split('\n');
        listed.removeIf([](const QByteArray &name) { return !name.endsWith(".app"); });
        const QByteArray first = listed.value(0);
        const QByteArray label = first == "Alpha.app" ? "alpha" : "beta";
        QTRY_COMPARE_WITH_TIMEOUT(readFile(root(QStringLiteral("started"))), startedAs(label, m_environment.bundlePath), 10000);
        QCOMPARE(contents(m_environment.bundlePath), contents(unpacked + QLatin1Char('/') + QString::fromUtf8(first)));
        QVERIFY(!QFileInfo::exists(backup));
        const QString installed = m_environment.bundlePath;
        QCOMPARE(modeOf(installed + QStringLiteral("/resources")), mode_t(0755));
        QCOMPARE(modeOf(installed + QStringLiteral("/resources/notes.txt")), mode_t(0644));
        QCOMPARE(modeOf(UpdatePlatform::executable(installed)), mode_t(0755));

        // The next start removes what the ended run left, not what a running one has.
        const QString running = QStringLiteral("nimbrel-update-%1").arg(QCoreApplication::applicationPid());
        writeFile(m_environment.workRoot + u'/' + running + QStringLiteral(".sh"), "waiting");
        writeFile(workFolder() + QStringLiteral(".sh.tmp-x1Y2z3"), "left by a crash");
        SelfUpdater::removeLeftovers(m_environment);
        QCOMPARE(QDir(m_environment.workRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{running + QStringLiteral(".sh")});
    }

    void refusesLocationItCannotReplace_data()
    {
        QTest::addColumn<QString>("bundle");
        QTest::newRow("translocated") << "private/var/folders/xy/T/AppTranslocation/0F1E/d/Drowsewick.app";
        QTest::newRow("not in a bundle") << "";
    }
    void refusesLocationItCannotReplace()
    {
        QFETCH(QString, bundle);
        m_environment.bundlePath = bundle.isEmpty() ? QString() : root(bundle);
        if (!bundle.isEmpty())
            makeBundle(m_environment.bundlePath, "old", root(QStringLiteral("started")));
        expectRefusedLocation();
    }

    void refusesFolderTheUserCannotWrite()
    {
        if (::geteuid() == 0) {
            // Root may write anywhere, so this runs again as an unprivileged user, from a copy of
            // the binary in a folder that user owns.
            QTemporaryDir place(QDir::tempPath() + QStringLiteral("/drowsewick-unprivileged-XXXXXX"));
            const QString binary = place.filePath(QStringLiteral("tst_SelfUpdater"));
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), binary));
            QCOMPARE(::chown(QFile::encodeName(place.path()).constData(), unprivilegedUser, unprivilegedUser), 0);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("TMPDIR"), place.path());
            const QStringList asUnprivileged = {QStringLiteral("--reuid=%1").arg(unprivilegedUser),
                                                QStringLiteral("--regid=%1").arg(unprivilegedUser), QStringLiteral("--clear-groups")};
            if (runTool(QStringLiteral("setpriv"), asUnprivileged + QStringList{binary, QStringLiteral("-functions")}, {}, environment).exitCode != 0)
                QSKIP("cannot run this test binary as user 65534 (no setpriv, or the temporary folder is closed to that user)");
            return rerunAs(QStringLiteral("setpriv"), asUnprivileged, binary, environment);
        }
        const QString holder = QFileInfo(m_environment.bundlePath).absolutePath();
        const auto reopen = qScopeGuard([&] { QFile::setPermissions(holder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        QVERIFY(QFile::setPermissions(holder, QFile::ReadOwner | QFile::ExeOwner));
        expectRefusedLocation();
    }

    void refusesReadOnlyVolume()
    {
        if (!qEnvironmentVariableIsSet("DROWSEWICK_TEST_PRIVATE_MOUNTS")) {
            // Mounting needs root, and happens in a mount namespace of a child's own, so nothing
            // stays mounted whatever becomes of the test.
            const QStringList privateMounts = {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private")};
            if (::geteuid() != 0 || runTool(QStringLiteral("unshare"), privateMounts + QStringList{QStringLiteral("true")}).exitCode != 0)
                QSKIP("mounting a read-only volume needs root and a mount namespace of the test's own");
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DROWSEWICK_TEST_PRIVATE_MOUNTS"), QStringLiteral("1"));
            return rerunAs(QStringLiteral("unshare"), privateMounts, QCoreApplication::applicationFilePath(), environment);
        }
        // The bundle is a volume of its own, mounted read-only; the folder around it stays writable.
        const QString bundle = m_environment.bundlePath;
        if (runTool(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=1m"),
                                              QStringLiteral("drowsewick-test"), bundle}).exitCode != 0)
            QSKIP("this system does not let tests mount a volume");
        const auto unmount = qScopeGuard([&] { runTool(QStringLiteral("umount"), {bundle}); });
        makeBundle(bundle, "old", root(QStringLiteral("started")));
        QCOMPARE(runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), bundle}).exitCode, 0);
        expectRefusedLocation();
    }
};

DROWSEWICK_TEST_MAIN(TestSelfUpdater, QCoreApplication)
#include "tst_SelfUpdater.moc"
