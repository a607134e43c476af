#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <memory>
#include <unistd.h>

using namespace UpdateTest;

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

} // namespace

class TestSelfUpdater : public QObject
{
    Q_OBJECT

private:
    LocalHttpsServer m_server;
    QTemporaryDir m_keys;
    SigningKey m_publisher;
    SigningKey m_stranger;
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
    QString serveAndInstall(int status, const QByteArray &archive)
    {
        const QString path = QStringLiteral("/Drowsewick-%1.zip").arg(++m_archives);
        m_server.answer(path, status, archive);
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
    QString stageBundle(const QString &relative, const QByteArray &label)
    {
        const QString bundle = root(QStringLiteral("staging/") + relative);
        makeBundle(bundle, label, root(QStringLiteral("started")));
        const ToolRun signing = signBundle(bundle, m_publisher.privateKeyPath);
        if (signing.exitCode != 0)
            qWarning("sign-bundle: %s", signing.output.constData());
        return bundle;
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
        m_publisher = makeSigningKey(m_keys.path(), QStringLiteral("publisher"));
        m_stranger = makeSigningKey(m_keys.path(), QStringLiteral("stranger"));
        QVERIFY(!m_publisher.publicKey.isEmpty());
    }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        const QString installed = root(QStringLiteral("Applications/Drowsewick.app"));
        makeBundle(installed, "old", root(QStringLiteral("started")));
        m_environment = {
            .bundlePath = installed,
            .workRoot = root(QStringLiteral("cache/com.nimbrel.drowsewick/update")),
            .publisher = m_publisher.publicKey,
            .ssl = m_server.trustingConfiguration(),
            .pid = endedProcess(),
        };
    }

    void currentEnvironmentOutsideABundle()
    {
        // Tests run from the build's bin folder, which is no bundle and must not be replaced.
        const SelfUpdater::Environment current = SelfUpdater::Environment::current();
        QCOMPARE(current.bundlePath, QString());
        QCOMPARE(current.workRoot, qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/com.nimbrel.drowsewick/update"));
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
        // A first attempt makes the work folders; what it leaves is gone when the next one starts.
        QCOMPARE(serveAndInstall(404, {}), QStringLiteral("download"));
        writeFile(workFolder() + QStringLiteral("/unpacked/Old.app/drowsewick"), "left by the first attempt");
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        const QByteArray archive = status == 304 ? QByteArray() : zipOf(root(QStringLiteral("staging")));
        QCOMPARE(serveAndInstall(status, archive), QStringLiteral("download"));
        QCOMPARE(contents(workFolder()), (QMap<QString, QByteArray>()));
        QCOMPARE(QFileInfo(m_environment.workRoot).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    void refusesWorkRootOthersCanEnter()
    {
        QDir().mkpath(m_environment.workRoot);
        QFile::setPermissions(m_environment.workRoot, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
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

    void signatureMustBeThePublishers_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("signed by another key") << "stranger";
        QTest::newRow("unsigned") << "unsigned";
        QTest::newRow("file changed") << "changed";
        QTest::newRow("file added") << "added";
        QTest::newRow("file removed") << "removed";
    }
    void signatureMustBeThePublishers()
    {
        QFETCH(QString, change);
        const QString bundle = stageBundle(QStringLiteral("Drowsewick.app"), "new");
        if (change == QLatin1String("stranger"))
            QCOMPARE(signBundle(bundle, m_stranger.privateKeyPath).exitCode, 0);
        else if (change == QLatin1String("unsigned"))
            QDir(bundle + QStringLiteral("/.signature")).removeRecursively();
        else if (change == QLatin1String("changed"))
            writeFile(bundle + QStringLiteral("/drowsewick"), "#!/bin/sh\necho tampered\n", true);
        else if (change == QLatin1String("added"))
            writeFile(bundle + QStringLiteral("/resources/extra.txt"), "extra");
        else
            QFile::remove(bundle + QStringLiteral("/safari-standin"));
        const auto installedBefore = contents(m_environment.bundlePath);
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("badSignature"));
        QCOMPARE(contents(m_environment.bundlePath), installedBefore);
        QVERIFY(!QFileInfo::exists(workFolder() + QStringLiteral(".sh")));
    }

    void firstListedBundleIsInstalled()
    {
        stageBundle(QStringLiteral("Alpha.app"), "alpha");
        stageBundle(QStringLiteral("Beta.app"), "beta");
        QCOMPARE(serveAndInstall(200, zipOf(root(QStringLiteral("staging")))), QStringLiteral("installed"));

        const QString unpacked = workFolder() + QStringLiteral("/unpacked");
        const QByteArray first = runTool(QStringLiteral("ls"), {QStringLiteral("-U"), unpacked}).output.split('\n').value(0);
        const QByteArray label = first == "Alpha.app" ? "alpha\n" : "beta\n";
        QTRY_COMPARE_WITH_TIMEOUT(readFile(root(QStringLiteral("started"))), label, 10000);
        QCOMPARE(contents(m_environment.bundlePath), contents(unpacked + QLatin1Char('/') + QString::fromUtf8(first)));
        QVERIFY(!QFileInfo::exists(m_environment.bundlePath + QStringLiteral(".bak")));
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
