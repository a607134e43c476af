#include "AppProcess.h"
#include "BuildConfig.h"
#include "Bundles.h"
#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestHome.h"

#include <QApplication>

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
        // The version that runs, installed per user.
        const QString installed = QDir::homePath() + u"/.local/lib/Drowsewick.app"_qs;
        Bundles::make(installed, "old", work.filePath(u"old-started"_qs));

        // The next version: an executable that records its start.
        ModelHarness h;
        const QString next = h.model->version() + u".1"_qs;
        const QString marker = work.filePath(u"started"_qs), staged = work.filePath(u"staging/Drowsewick.app"_qs);
        Bundles::make(staged, next.toUtf8(), marker, next.toUtf8());
        const Bundles::Publisher publisher = Bundles::makePublisher(work.path(), u"publisher"_qs);
        const QString zip = u"Drowsewick-%1.zip"_qs.arg(next);
        runTool(u"bash"_qs,
                {QStringLiteral(RELEASE_SCRIPT_PATH), u"--key"_qs, publisher.signer, u"--url"_qs,
                 server.url(u"/drowsewick/"_qs + zip).toString(), u"--notes"_qs, u"Quieter sweeps"_qs, u"--bundle"_qs, staged,
                 u"--version"_qs, next, u"--sign-bundle"_qs, QCoreApplication::applicationDirPath() + u"/sign-bundle"_qs,
                 u"--out"_qs, work.filePath(u"release"_qs)});
        server.answer(u"/drowsewick/latest.json"_qs, 200, TestFiles::read(work.filePath(u"release/latest.json"_qs)));
        server.answer(u"/drowsewick/"_qs + zip, 200, TestFiles::read(work.filePath(u"release/"_qs + zip)));

        // The app that quits: a process that lives until the test lets it end.
        QProcess app;
        app.start(u"cat"_qs, QStringList());
        QVERIFY(app.waitForStarted());
        SelfUpdater::Environment environment = SelfUpdater::Environment::current();
        environment.bundlePath = installed;
        environment.publisher = publisher.trusted;
        environment.pid = app.processId();
        h.manifest = server.url(u"/drowsewick/latest.json"_qs);
        h.install = [environment](const UpdateInfo &update) { return SelfUpdater::install(update, environment); };
        h.makeModel();
        h.dialogs.answers.enqueue(Dialogs::firstButton); // "Install"
        h.model->checkForUpdatesManually();
        QTRY_COMPARE_WITH_TIMEOUT(h.quits, 1, 30000);
        QCOMPARE(h.installed.first().notes, u"Quieter sweeps"_qs);

        app.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(marker), Bundles::startedAs(next.toUtf8(), installed), 10000);

        const QString leftover = environment.workRoot + u"/nimbrel-update-%1"_qs.arg(environment.pid);
        QVERIFY(QFileInfo::exists(leftover));
        AppProcess nextStart;
        QVERIFY(nextStart.start());
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(leftover) && !QFileInfo::exists(leftover + u".sh"_qs), 10000);
        // --version answers while that instance runs, and needs no display.
        QCOMPARE(runTool(u"env"_qs,
                         {u"-u"_qs, u"DISPLAY"_qs, u"QT_QPA_PLATFORM=xcb"_qs,
                          QCoreApplication::applicationDirPath() + u"/drowsewick"_qs, u"--version"_qs})
                         .output,
                 QByteArray(BuildConfig::version) + '\n');
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateEndToEnd, QApplication)
#include "tst_UpdateEndToEnd.moc"
