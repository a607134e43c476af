#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPromise>
#include <QTimer>

namespace {

const QString manifestPath = QStringLiteral("/drowsewick/latest.json");
const int install = Dialogs::firstButton; // the offer's buttons: "Install", "Later"
const int later = Dialogs::firstButton + 1;
const QString putOffKey = QStringLiteral("nimbrel.drowsewick.update.promptedVersion");

QByteArray manifestFor(const char *version)
{
    return QByteArray("{\"version\":\"") + version + "\",\"url\":\"https://127.0.0.1/Drowsewick.zip\",\"notes\":\"n\"}";
}

// An installation as the controller sees it, failing with this error.
QFuture<void> failure(const QException &error)
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

    // A controller whose update host is the local server, offering `version`; the offer, when
    // shown, is answered with `answer`.
    std::unique_ptr<ModelHarness> harnessOffering(const char *version, int answer)
    {
        m_server.answer(manifestPath, 200, manifestFor(version));
        auto h = std::make_unique<ModelHarness>();
        h->manifest = m_server.url(manifestPath);
        h->makeModel();
        h->dialogs.answers.enqueue(answer);
        return h;
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "no local HTTPS server"); }
    void init() { QFile::remove(QDir::homePath() + QStringLiteral("/.config/nimbrel/drowsewick.conf")); }

    // At launch, once, silently: an offer unless the user put this very version off with "Later",
    // which then puts it off.
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
        const int before = m_server.requestCount();
        h->model->start();
        h->model->start();
        QTRY_VERIFY(h->model->availableUpdate().has_value());
        QTest::qWait(100);
        QCOMPARE(m_server.requestCount() - before, 1);
        QCOMPARE(h->dialogs.shown.size(), offered ? 1 : 0);
        if (offered) {
            QCOMPARE(h->dialogs.shown.first().message, QStringLiteral("A new version of Drowsewick is available"));
            QCOMPARE(h->dialogs.shown.first().informative,
                     QStringLiteral("Drowsewick 2.0 is ready to install — you have 1.0. The app will update itself and relaunch."));
            QCOMPARE(h->dialogs.shown.first().buttons, (QStringList{"Install", "Later"}));
            QCOMPARE(UserDefaults::createForPlatform()->stringValue(putOffKey), QStringLiteral("2.0"));
        }
    }

    // By hand the check always answers: the offer, also of a version put off, or "up to date",
    // also when the check failed; a second one while the first runs is dropped.
    void aManualCheckAlwaysAnswers()
    {
        UserDefaults::createForPlatform()->setString(putOffKey, QStringLiteral("2.0"));
        auto h = harnessOffering("2.0", later);
        const int before = m_server.requestCount();
        h->model->checkForUpdatesManually();
        QVERIFY(h->model->isCheckingForUpdate());
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QCOMPARE(m_server.requestCount() - before, 1);
        QCOMPARE(h->dialogs.shown.size(), 1);
        QCOMPARE(h->dialogs.activations, 1);

        m_server.answer(manifestPath, 200, manifestFor("1.0"));
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QVERIFY(!h->model->availableUpdate());
        QCOMPARE(h->dialogs.shown.last().message, QStringLiteral("You're up to date"));
        QCOMPARE(h->dialogs.shown.last().informative, QStringLiteral("Drowsewick 1.0 is the latest version."));
        QCOMPARE(h->dialogs.activations, 2);
    }

    // "Install": the app quits once the swap script runs, and nothing else starts meanwhile; a
    // failure says why, in front of nothing, and the update can be tried again; quitting during
    // an installation cancels it and neither quits again nor says anything.
    void installing_data()
    {
        QTest::addColumn<int>("error"); // -1: none, -2: an error of the system, -3: the app quits first
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");
        const QString failed = QStringLiteral("Couldn't install the update. Please try again later, or download it from "
                                              "apps.nimbrel.example/drowsewick.");
        QTest::newRow("success") << -1 << QString() << QString();
        QTest::newRow("read-only location") << int(SelfUpdater::UpdateError::readOnlyLocation) << "Move Drowsewick to Applications"
                                            << "Drowsewick is running from a read-only location (like a disk image or the Downloads "
                                               "folder). Drag it to your Applications folder, reopen it, then check for updates again.";
        QTest::newRow("signature") << int(SelfUpdater::UpdateError::badSignature) << "Update failed" << failed;
        QTest::newRow("system") << -2 << "Update failed" << failed;
        QTest::newRow("quit meanwhile") << -3 << QString() << QString();
    }
    void installing()
    {
        QFETCH(int, error);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        auto h = harnessOffering("2.0", install);
        QPromise<void> pending;
        pending.start();
        h->install = [&](const UpdateInfo &) {
            if (error == -2)
                return failure(SelfUpdater::PlatformFailure(QStringLiteral("no space left")));
            return error >= 0 ? failure(SelfUpdater::Failure(SelfUpdater::UpdateError(error)))
                              : error == -1 ? QtFuture::makeReadyFuture() : pending.future();
        };
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->installed.isEmpty());
        if (error == -1 || error == -3) {
            h->model->installUpdate();
            h->model->checkForUpdatesManually();
        }
        if (error == -3) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
            QVERIFY(pending.isCanceled());
        }
        QTest::qWait(100);
        QCOMPARE(h->installed.size(), 1);
        QCOMPARE(h->quits, error == -1 ? 1 : 0);
        QCOMPARE(h->dialogs.shown.size(), message.isEmpty() ? 1 : 2);
        if (!message.isEmpty()) {
            QCOMPARE(h->dialogs.shown.last().message, message);
            QCOMPARE(h->dialogs.shown.last().informative, informative);
            QCOMPARE(h->dialogs.activations, 1);
            QVERIFY(!h->model->isUpdating() && h->model->availableUpdate());
        }
    }

    // The real alerts: the offer, asked to come to the front, takes the focus; a failure, not
    // asked, opens quietly.
    void onlyTheAlertsAskedForComeToTheFront()
    {
        const std::unique_ptr<Dialogs> dialogs = Dialogs::createForPlatform();
        const auto answerNext = [](const QString &title, bool &quiet) {
            QTimer::singleShot(0, [title, &quiet] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                quiet = box->testAttribute(Qt::WA_ShowWithoutActivating);
                const QList<QAbstractButton *> buttons = box->buttons();
                const auto named = std::find_if(buttons.begin(), buttons.end(), [&](QAbstractButton *b) { return b->text() == title; });
                (named == buttons.end() ? buttons.first() : *named)->click();
            });
        };
        bool quiet = true;
        dialogs->activateApplication();
        answerNext(QStringLiteral("Later"), quiet);
        QCOMPARE(dialogs->alert({QStringLiteral("Offer"), QString(), {"Install", "Later"}}), later);
        QVERIFY(!quiet);
        answerNext(QString(), quiet);
        QCOMPARE(dialogs->alert({QStringLiteral("Update failed"), QString(), {}}), Dialogs::firstButton);
        QVERIFY(quiet);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateFlow, QApplication)
#include "tst_UpdateFlow.moc"
