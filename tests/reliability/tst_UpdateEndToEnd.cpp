#include "AppProcess.h"
#include "BuildConfig.h"
#include "BundleSignature.h"
#include "Bundles.h"
#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestHome.h"

#include <QApplication>

namespace {

QString builtTool(const QString &name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

} // namespace

// One update on Linux from end to end: the publisher's release script makes the zip and the
// manifest, the controller offers it and the user chooses "Install", the installer hands over to
// the swap script, the app quits, and the new version takes the old one's place and starts. The
// next start clears what the update left.
class TestUpdateEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void installingSwapsInTheNewVersionOnceTheAppHasQuit()
    {
        LocalHttpsServer server;
        QTemporaryDir work;
        // This build's executables, laid out as a per-user install has them.
        const QString installed = QDir::homePath() + QStringLiteral("/.local/lib/Drowsewick.app");
        QDir().mkpath(installed);
        for (const QString &name : {QStringLiteral("drowsewick"), QStringLiteral("safari-standin")})
            QFile::copy(builtTool(name), installed + u'/' + name);
        const QMap<QString, QByteArray> versionN = TestFiles::contents(installed);

        // The next version: this build's stand-in, and an executable that records its start.
        ModelHarness h;
        const QByteArray next = h.model->version().toUtf8() + ".1";
        const QString marker = work.filePath(QStringLiteral("started"));
        const QString staged = work.filePath(QStringLiteral("staging/Drowsewick.app"));
        Bundles::make(staged, next, marker, next);
        QVERIFY(QFile::remove(staged + QStringLiteral("/safari-standin")) && QFile::copy(builtTool(QStringLiteral("safari-standin")), staged + QStringLiteral("/safari-standin")));
        const Bundles::Publisher publisher = Bundles::makePublisher(work.path(), QStringLiteral("publisher"));
        const QString zipPath = QStringLiteral("/drowsewick/Drowsewick-%1.zip").arg(QString::fromUtf8(next));
        const ToolRun released = runTool(QStringLiteral("bash"), {QStringLiteral(RELEASE_SCRIPT_PATH), QStringLiteral("--key"), publisher.signer,
            QStringLiteral("--url"), server.url(zipPath).toString(), QStringLiteral("--notes"), QStringLiteral("Quieter sweeps"),
            QStringLiteral("--bundle"), staged, QStringLiteral("--version"), QString::fromUtf8(next),
            QStringLiteral("--sign-bundle"), builtTool(QStringLiteral("sign-bundle")), QStringLiteral("--out"), work.filePath(QStringLiteral("release"))});
        QVERIFY2(released.exitCode == 0, released.output.constData());
        server.answer(QStringLiteral("/drowsewick/latest.json"), 200, TestFiles::read(work.filePath(QStringLiteral("release/latest.json"))));
        server.answer(zipPath, 200, TestFiles::read(work.filePath(QStringLiteral("release")) + QStringLiteral("/Drowsewick-%1.zip").arg(QString::fromUtf8(next))));

        // The app that quits: a process that lives until the test lets it end.
        QProcess app;
        app.start(QStringLiteral("cat"), QStringList());
        QVERIFY(app.waitForStarted());
        SelfUpdater::Environment environment = SelfUpdater::Environment::current();
        environment.bundlePath = installed;
        environment.publisher = publisher.trusted;
        environment.pid = app.processId();
        h.manifest = server.url(QStringLiteral("/drowsewick/latest.json"));
        h.install = [environment](const UpdateInfo &update) { return SelfUpdater::install(update, environment); };
        h.makeModel();
        h.dialogs.answers.enqueue(Dialogs::firstButton); // "Install"
        h.model->checkForUpdatesManually();
        QTRY_COMPARE_WITH_TIMEOUT(h.quits, 1, 30000);
        QCOMPARE(h.installed.first().notes, QStringLiteral("Quieter sweeps"));
        QTest::qWait(500);
        QCOMPARE(TestFiles::contents(installed), versionN);

        app.closeWriteChannel();
        QVERIFY(app.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(marker), Bundles::startedAs(next, installed), 10000);
        QVERIFY(BundleSignature::verify(installed, publisher.trusted));
        QVERIFY(!QFileInfo::exists(installed + QStringLiteral(".bak")));

        const QString leftover = environment.workRoot + QStringLiteral("/nimbrel-update-%1").arg(environment.pid);
        QVERIFY(QFileInfo::exists(leftover));
        AppProcess nextStart;
        QVERIFY(nextStart.start());
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(leftover) && !QFileInfo::exists(leftover + QStringLiteral(".sh")), 10000);
        // --version answers while that instance runs, and needs no display.
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        noDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        noDisplay.remove(QStringLiteral("DISPLAY"));
        const ToolRun version = runTool(builtTool(QStringLiteral("drowsewick")), {QStringLiteral("--version")}, {}, noDisplay);
        QCOMPARE(version.output, QByteArray(BuildConfig::version) + '\n');
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateEndToEnd, QApplication)
#include "tst_UpdateEndToEnd.moc"
