#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <memory>
#include <unistd.h>

using namespace UpdateTest;
using SelfUpdater::UpdateError;

namespace {

QString nameOf(UpdateError error)
{
    switch (error) {
    case UpdateError::download: return QStringLiteral("download");
    case UpdateError::unpack: return QStringLiteral("unpack");
    case UpdateError::notFound: return QStringLiteral("notFound");
    case UpdateError::badSignature: return QStringLiteral("badSignature");
    case UpdateError::readOnlyLocation: return QStringLiteral("readOnlyLocation");
    }
    return QStringLiteral("unknown error");
}

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
        return nameOf(failure.error());
    } catch (const SelfUpdater::PlatformFailure &failure) {
        return QStringLiteral("platform: ") + failure.message();
    }
}

// The message of a skipped child run, empty when it did not skip.
QString skipReason(const ToolRun &child)
{
    for (const QByteArray &line : child.output.split('\n')) {
        if (line.startsWith("SKIP"))
            return QString::fromUtf8(line);
    }
    return {};
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

    // Runs one test function of this binary again as another process; it passes, fails or skips
    // as that run did.
    QString runChild(const QString &launcher, const QStringList &launcherArguments, const QString &binary,
                     const QProcessEnvironment &environment, QByteArray *failure)
    {
        const ToolRun child = runTool(launcher, launcherArguments + QStringList{binary, QString::fromLatin1(QTest::currentTestFunction())},
                                      {}, environment);
        *failure = child.exitCode == 0 ? QByteArray() : child.output;
        return skipReason(child);
    }

    // The location checks as they meet a user who may not write: the holding folder is closed.
    void refuseClosedHoldingFolder()
    {
        const QString holder = QFileInfo(m_environment.bundlePath).absolutePath();
        const auto reopen = qScopeGuard([&] { QFile::setPermissions(holder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        QVERIFY(QFile::setPermissions(holder, QFile::ReadOwner | QFile::ExeOwner));
        expectRefusedLocation();
    }

    // The bundle is a volume of its own, mounted read-only; the folder around it stays writable.
    void refuseBundleOnReadOnlyVolume()
    {
        const QString bundle = m_environment.bundlePath;
        if (runTool(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=1m"),
                                              QStringLiteral("drowsewick-test"), bundle}).exitCode != 0)
            QSKIP("this system does not let tests mount a volume");
        const auto unmount = qScopeGuard([&] { runTool(QStringLiteral("umount"), {bundle}); });
        makeBundle(bundle, "old", root(QStringLiteral("started")));
        QCOMPARE(runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), bundle}).exitCode, 0);
        expectRefusedLocation();
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
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        const QByteArray archive = status == 304 ? QByteArray() : zipOf(root(QStringLiteral("staging")));
        QCOMPARE(serveAndInstall(status, archive), QStringLiteral("download"));
        QVERIFY(QFileInfo(workFolder()).isDir());
        QCOMPARE(contents(workFolder()), (QMap<QString, QByteArray>()));
        QCOMPARE(QFileInfo(m_environment.workRoot).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    void retryStartsWithAnEmptyWorkFolder()
    {
        QCOMPARE(serveAndInstall(404, {}), QStringLiteral("download"));
        writeFile(workFolder() + QStringLiteral("/unpacked/Old.app/drowsewick"), "left by the first attempt");
        QCOMPARE(serveAndInstall(404, {}), QStringLiteral("download"));
        QCOMPARE(contents(workFolder()), (QMap<QString, QByteArray>()));
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

    void entriesLeadingOutAreRefused_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("parent folder") << "parent";
        QTest::newRow("absolute name") << "absolute";
        QTest::newRow("symbolic link leading out") << "link";
        QTest::newRow("symbolic link alone") << "lone link";
        QTest::newRow("parent folder deeper in the name") << "deeper";
        QTest::newRow("backslash") << "backslash";
    }
    void entriesLeadingOutAreRefused()
    {
        QFETCH(QString, entry);
        const QString staging = root(QStringLiteral("staging"));
        const QString outside = root(QStringLiteral("outside"));
        QDir().mkpath(outside);
        stageBundle(QStringLiteral("Drowsewick.app"), "new");
        QList<std::pair<QByteArray, QByteArray>> renames;
        if (entry == QLatin1String("parent")) {
            writeFile(staging + QStringLiteral("/zz/escaped"), "out");
            renames = {{"zz/escaped", "../escaped"}};
        } else if (entry == QLatin1String("absolute")) {
            const QByteArray target = QFile::encodeName(outside) + "/escaped";
            writeFile(staging + QLatin1Char('/') + QFile::decodeName(target).replace(0, 1, u'z'), "out");
            renames = {{QByteArray(target).replace(0, 1, "z"), target}};
        } else if (entry == QLatin1String("link")) {
            QFile::link(outside, staging + QStringLiteral("/Drowsewick.app/link"));
            writeFile(staging + QStringLiteral("/Drowsewick.app/linq/escaped"), "out");
            renames = {{"linq/escaped", "link/escaped"}};
        } else if (entry == QLatin1String("lone link")) {
            QFile::link(outside, staging + QStringLiteral("/Drowsewick.app/link"));
        } else if (entry == QLatin1String("deeper")) {
            writeFile(staging + QStringLiteral("/Drowsewick.app/zz/zz/escaped"), "out");
            renames = {{"Drowsewick.app/zz/zz/escaped", "Drowsewick.app/../../escaped"}};
        } else {
            writeFile(staging + QStringLiteral("/zz_escaped"), "out");
            renames = {{"zz_escaped", "..\\escaped"}};
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
        if (::geteuid() != 0) {
            refuseClosedHoldingFolder();
            return;
        }
        // Root may write anywhere, so this runs again as an unprivileged user, from a copy of the
        // binary in a folder that user owns.
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
        QByteArray failure;
        const QString skipped = runChild(QStringLiteral("setpriv"), asUnprivileged, binary, environment, &failure);
        QVERIFY2(failure.isEmpty(), failure.constData());
        if (!skipped.isEmpty())
            QSKIP(qPrintable(skipped));
    }

    void refusesReadOnlyVolume()
    {
        if (qEnvironmentVariableIsSet("DROWSEWICK_TEST_PRIVATE_MOUNTS")) {
            refuseBundleOnReadOnlyVolume();
            return;
        }
        // Mounting needs root, and happens in a mount namespace of a child's own, so nothing
        // stays mounted whatever becomes of the test.
        const QStringList privateMounts = {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private")};
        if (::geteuid() != 0 || runTool(QStringLiteral("unshare"), privateMounts + QStringList{QStringLiteral("true")}).exitCode != 0)
            QSKIP("mounting a read-only volume needs root and a mount namespace of the test's own");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DROWSEWICK_TEST_PRIVATE_MOUNTS"), QStringLiteral("1"));
        QByteArray failure;
        const QString skipped = runChild(QStringLiteral("unshare"), privateMounts, QCoreApplication::applicationFilePath(), environment, &failure);
        QVERIFY2(failure.isEmpty(), failure.constData());
        if (!skipped.isEmpty())
            QSKIP(qPrintable(skipped));
    }
};

DROWSEWICK_TEST_MAIN(TestSelfUpdater, QCoreApplication)
#include "tst_SelfUpdater.moc"
