#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPromise>
#include <QTimer>

namespace {

const QString manifestPath = QStringLiteral("/drowsewick/latest.json");
const QString offerMessage = QStringLiteral("A new version of Drowsewick is available");
const int install = Dialogs::firstButton; // the offer's buttons: "Install", "Later"
const int later = Dialogs::firstButton + 1;
const QString putOffKey = QStringLiteral("nimbrel.drowsewick.update.promptedVersion"); // the version offered last

QByteArray manifestFor(const char *version)
{
    return QByteArray("{\"version\":\"") + version + "\",\"url\":\"https://127.0.0.1/Drowsewick.zip\",\"notes\":\"n\"}";
}

QFuture<void> failedInstall(const QException &error)
{
    QPromise<void> promise;
    promise.start();
    promise.setException(error);
    promise.finish();
    return promise.future();
}

} // namespace

class TestUpdateFlow : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;

    // A controller whose update host is the local server, trusted, offering `version`; the
    // offer, when shown, is answered with `answer`.
    std::unique_ptr<ModelHarness> harnessOffering(const char *version, int answer)
    {
        m_server.answer(manifestPath, 200, manifestFor(version));
        auto h = std::make_unique<ModelHarness>();
        h->manifest = m_server.url(manifestPath);
        h->makeModel();
        m_server.trustOn(*h->network);
        h->dialogs.answers.enqueue(answer);
        return h;
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "no local HTTPS server"); }
    void init()
    {
        QFile::remove(QDir::homePath() + QStringLiteral("/.config/nimbrel/drowsewick.conf"));
        StandinControl::setWindows({});
    }

    void theLaunchCheckOffersANewVersionUnlessPutOff_data()
    {
        QTest::addColumn<QString>("putOffVersion");
        QTest::addColumn<bool>("offered");
        QTest::newRow("nothing put off") << QString() << true;
        QTest::newRow("this version put off") << "2.0" << false;
        QTest::newRow("an older version put off") << "1.5" << true;
    }
    void theLaunchCheckOffersANewVersionUnlessPutOff()
    {
        QFETCH(QString, putOffVersion);
        QFETCH(bool, offered);
        if (!putOffVersion.isEmpty())
            UserDefaults::createForPlatform()->setString(putOffKey, putOffVersion);
        auto h = harnessOffering("2.0", later);
        h->model->start();
        QTRY_VERIFY(h->model->availableUpdate().has_value());
        QCOMPARE(h->model->availableUpdate()->version, QStringLiteral("2.0"));
        QCOMPARE(h->model->availableUpdate()->notes, QStringLiteral("n"));
        QCOMPARE(h->dialogs.shown.size(), offered ? 1 : 0);
        if (offered) {
            const Alert &offer = h->dialogs.shown.first();
            QCOMPARE(offer.message, offerMessage);
            QCOMPARE(offer.informative, QStringLiteral("Drowsewick 2.0 is ready to install — you have 1.0. "
                                                       "The app will update itself and relaunch."));
            QCOMPARE(offer.buttons, (QStringList{"Install", "Later"}));
            QCOMPARE(UserDefaults::createForPlatform()->stringValue(putOffKey), QStringLiteral("2.0"));
        }
        QVERIFY(!h->model->isCheckingForUpdate());
    }

    void theLaunchCheckRunsOnceAndSilently()
    {
        auto h = std::make_unique<ModelHarness>(); // no server: offline
        h->model->start();
        h->model->start();
        QTest::qWait(300);
        QVERIFY(!h->model->availableUpdate());
        h->model->promptForUpdate(); // nothing to offer or install
        h->model->installUpdate();
        QVERIFY(h->dialogs.shown.isEmpty());
        QVERIFY(h->installed.isEmpty());

        auto online = harnessOffering("2.0", later);
        const int before = m_server.requestCount();
        online->model->start();
        online->model->start();
        QTRY_VERIFY(online->model->availableUpdate().has_value());
        QTest::qWait(100);
        QCOMPARE(m_server.requestCount() - before, 1);
    }

    void aManualCheckAlwaysAnswers()
    {
        UserDefaults::createForPlatform()->setString(putOffKey, QStringLiteral("2.0"));
        auto h = harnessOffering("2.0", later);
        const int before = m_server.requestCount();
        h->model->checkForUpdatesManually();
        QVERIFY(h->model->isCheckingForUpdate());
        h->model->checkForUpdatesManually(); // dropped while the first runs
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QCOMPARE(m_server.requestCount() - before, 1);
        QCOMPARE(h->dialogs.shown.size(), 1); // offered although put off
        QCOMPARE(h->dialogs.shown.first().message, offerMessage);

        m_server.answer(manifestPath, 200, manifestFor("1.0"));
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QVERIFY(!h->model->availableUpdate());
        QCOMPARE(h->dialogs.shown.size(), 2);
        QCOMPARE(h->dialogs.shown.last().message, QStringLiteral("You're up to date"));
        QCOMPARE(h->dialogs.shown.last().informative, QStringLiteral("Drowsewick 1.0 is the latest version."));
        QVERIFY(h->dialogs.shown.last().buttons.isEmpty());
    }

    void installingQuitsOnlyOnSuccess()
    {
        auto h = harnessOffering("2.0", install);
        h->model->checkForUpdatesManually();
        QTRY_COMPARE(h->quits, 1);
        QVERIFY(h->model->isUpdating());
        QCOMPARE(h->installed.size(), 1);
        QCOMPARE(h->installed.first().downloadURL, QUrl(QStringLiteral("https://127.0.0.1/Drowsewick.zip")));
        QVERIFY(!UserDefaults::createForPlatform()->stringValue(putOffKey));
        // While installing, nothing else starts.
        h->model->installUpdate();
        h->model->promptForUpdate();
        h->model->checkForUpdatesManually();
        QCOMPARE(h->installed.size(), 1);
        QCOMPARE(h->dialogs.shown.size(), 1);
        QVERIFY(!h->model->isCheckingForUpdate());
    }

    void quittingCancelsTheInstallation()
    {
        auto h = harnessOffering("2.0", install);
        QPromise<void> installation;
        installation.start();
        h->install = [&](const UpdateInfo &) { return installation.future(); };
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(h->model->isUpdating());
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY(installation.isCanceled());
        installation.finish();
        QTest::qWait(100);
        QCOMPARE(h->quits, 0);
        QCOMPARE(h->dialogs.shown.size(), 1); // the offer alone
    }

    void aFailedInstallSaysWhy_data()
    {
        QTest::addColumn<int>("error"); // -1: an error of the system
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");
        const QString failed = QStringLiteral("Couldn't install the update. Please try again later, or download it from "
                                              "apps.nimbrel.example/drowsewick.");
        QTest::newRow("read-only location") << int(SelfUpdater::UpdateError::readOnlyLocation)
                                            << "Move Drowsewick to Applications"
                                            << "Drowsewick is running from a read-only location (like a disk image or the "
                                               "Downloads folder). Drag it to your Applications folder, reopen it, then "
                                               "check for updates again.";
        QTest::newRow("download") << int(SelfUpdater::UpdateError::download) << "Update failed" << failed;
        QTest::newRow("signature") << int(SelfUpdater::UpdateError::badSignature) << "Update failed" << failed;
        QTest::newRow("system") << -1 << "Update failed" << failed;
    }
    void aFailedInstallSaysWhy()
    {
        QFETCH(int, error);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        auto h = harnessOffering("2.0", install);
        h->install = [error](const UpdateInfo &) {
            return error < 0 ? failedInstall(SelfUpdater::PlatformFailure(QStringLiteral("no space left")))
                             : failedInstall(SelfUpdater::Failure(SelfUpdater::UpdateError(error)));
        };
        h->model->checkForUpdatesManually();
        QTRY_COMPARE(h->dialogs.shown.size(), 2);
        QVERIFY(!h->model->isUpdating());
        QCOMPARE(h->quits, 0);
        QCOMPARE(h->dialogs.shown.last().message, message);
        QCOMPARE(h->dialogs.shown.last().informative, informative);
        QVERIFY(h->model->availableUpdate().has_value()); // can be tried again
    }

    // The real alerts: the offer, asked to come to the front, takes the focus; the failure
    // after it, not asked, opens quietly.
    void onlyTheAlertsAskedForComeToTheFront()
    {
        const std::unique_ptr<Dialogs> dialogs = Dialogs::createForPlatform();
        // Presses `title` (or the only button) on the alert that opens next, noting how it opened.
        const auto answerNext = [](const QString &title, bool &quiet) {
            QTimer::singleShot(0, [title, &quiet] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                quiet = box->testAttribute(Qt::WA_ShowWithoutActivating);
                const QList<QAbstractButton *> buttons = box->buttons();
                const auto named = std::find_if(buttons.begin(), buttons.end(),
                                                [&](QAbstractButton *button) { return button->text() == title; });
                (named == buttons.end() ? buttons.first() : *named)->click();
            });
        };
        bool quiet = true;
        dialogs->activateApplication();
        answerNext(QStringLiteral("Later"), quiet);
        QCOMPARE(dialogs->alert({offerMessage, QStringLiteral("Drowsewick 2.0 is ready to install"), {"Install", "Later"}}),
                 later);
        QVERIFY(!quiet);
        answerNext(QString(), quiet);
        QCOMPARE(dialogs->alert({QStringLiteral("Update failed"), QStringLiteral("Couldn't install the update."), {}}),
                 Dialogs::firstButton);
        QVERIFY(quiet);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateFlow, QApplication)
#include "tst_UpdateFlow.moc"
