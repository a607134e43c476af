#include "BuildConfig.h"
#include "BundleSignature.h"
#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QApplication>

using namespace UpdateTest;

namespace {

const QString manifestPath = QStringLiteral("/drowsewick/latest.json");

QString builtTool(const QString &name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

// This build's executables in a bundle folder, laid out as a per-user install has them.
void installBundle(const QString &bundle)
{
    QDir().mkpath(bundle);
    for (const QString &name : {QStringLiteral("drowsewick"), QStringLiteral("safari-standin")})
        QFile::copy(builtTool(name), bundle + u'/' + name);
}

QMap<QString, QByteArray> withoutSignature(QMap<QString, QByteArray> entries)
{
    entries.removeIf([](const auto &entry) { return entry.key().startsWith(QLatin1String(".signature")); });
    return entries;
}

} // namespace

// One update on Linux from end to end: the publisher's release script makes the zip and the
// manifest, the controller offers it and the user chooses "Install", the installer hands over to
// the swap script, the app quits, and the new version takes the old one's place and starts.
class TestUpdateEndToEnd : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;
    QTemporaryDir m_work;

    // The next version as the publisher releases it: a copy of the bundle whose executable
    // stands in for the new build, answers --version and records its version in marker when
    // started.
    QString stageNextVersion(const QString &version, const QString &marker)
    {
        const QString bundle = m_work.filePath(QStringLiteral("staging/Drowsewick.app"));
        installBundle(bundle);
        QFile::remove(bundle + QStringLiteral("/drowsewick"));
        writeFile(bundle + QStringLiteral("/drowsewick"), standInExecutable(version.toUtf8(), marker, version.toUtf8()), true);
        return bundle;
    }

    ToolRun release(const QString &bundle, const QString &version, const SigningKey &key, const QString &out)
    {
        return runTool(QStringLiteral("bash"),
                       {QStringLiteral(RELEASE_SCRIPT_PATH), QStringLiteral("--key"), key.privateKeyPath, QStringLiteral("--url"),
                        m_server.url(QStringLiteral("/drowsewick/Drowsewick-%1.zip").arg(version)).toString(),
                        QStringLiteral("--notes"), QStringLiteral("Quieter sweeps"), QStringLiteral("--bundle"), bundle,
                        QStringLiteral("--version"), version, QStringLiteral("--sign-bundle"), builtTool(QStringLiteral("sign-bundle")),
                        QStringLiteral("--out"), out});
    }

    void publish(const QString &out, const QString &version)
    {
        m_server.answer(manifestPath, 200, readFile(out + QStringLiteral("/latest.json")));
        m_server.answer(QStringLiteral("/drowsewick/Drowsewick-%1.zip").arg(version), 200,
                        readFile(out + QStringLiteral("/Drowsewick-%1.zip").arg(version)));
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "cannot make a certificate with openssl or listen on 127.0.0.1"); }

    void installingSwapsInTheNewVersionOnceTheAppHasQuit()
    {
        const QString installed = QDir::homePath() + QStringLiteral("/.local/lib/Drowsewick.app");
        installBundle(installed);
        const QMap<QString, QByteArray> versionN = contents(installed);

        ModelHarness h;
        const QString next = h.model->version() + QStringLiteral(".1");
        const QString marker = m_work.filePath(QStringLiteral("started"));
        const QString staged = stageNextVersion(next, marker);
        const SigningKey publisher = makeSigningKey(m_work.path(), QStringLiteral("publisher"));
        const QString out = m_work.filePath(QStringLiteral("release"));
        const ToolRun released = release(staged, next, publisher, out);
        QVERIFY2(released.exitCode == 0, released.output.constData());
        publish(out, next);

        // The app that quits: a process that lives until the test lets it end.
        QProcess app;
        app.start(QStringLiteral("cat"), QStringList());
        QVERIFY(app.waitForStarted());
        SelfUpdater::Environment environment = SelfUpdater::Environment::current();
        environment.bundlePath = installed;
        environment.publisher = publisher.publicKey;
        environment.ssl = m_server.trustingConfiguration();
        environment.pid = app.processId();
        h.manifest = m_server.url(manifestPath);
        h.install = [environment](const UpdateInfo &update) { return SelfUpdater::install(update, environment); };
        h.makeModel();
        m_server.trustOn(*h.network);
        h.dialogs.answers.enqueue(Dialogs::firstButton); // "Install"

        h.model->checkForUpdatesManually();
        QTRY_COMPARE_WITH_TIMEOUT(h.quits, 1, 30000);
        QVERIFY(h.dialogs.shown.first().informative.contains(next));
        QCOMPARE(h.installed.first().notes, QStringLiteral("Quieter sweeps"));
        // While the app runs, the swap script waits and the installed bundle stays as it was.
        QTest::qWait(500);
        QCOMPARE(contents(installed), versionN);
        QVERIFY(!QFileInfo::exists(marker));

        app.closeWriteChannel();
        QVERIFY(app.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), startedAs(next.toUtf8(), installed), 10000);
        QCOMPARE(withoutSignature(contents(installed)), contents(staged));
        QVERIFY(BundleSignature::verify(installed, publisher.publicKey));
        QVERIFY(!QFileInfo::exists(installed + QStringLiteral(".bak")));

        // The next start removes what the update left, once it holds the single-instance lock.
        const QString work = environment.workRoot + QStringLiteral("/nimbrel-update-%1").arg(environment.pid);
        QVERIFY(QFileInfo::exists(work));
        QProcess nextStart;
        nextStart.start(builtTool(QStringLiteral("drowsewick")), QStringList());
        QVERIFY(nextStart.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(work) && !QFileInfo::exists(work + QStringLiteral(".sh")), 10000);
        // --version answers while that instance runs, and needs no display.
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        noDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        noDisplay.remove(QStringLiteral("DISPLAY"));
        noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const ToolRun version = runTool(builtTool(QStringLiteral("drowsewick")), {QStringLiteral("--version")}, {}, noDisplay);
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.output, QByteArray(BuildConfig::version) + '\n');
        nextStart.kill();
        nextStart.waitForFinished();
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateEndToEnd, QApplication)
#include "tst_UpdateEndToEnd.moc"
