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

const int install = Dialogs::firstButton; // the offer's buttons: "Install", "Later"
const int later = Dialogs::firstButton + 1;
const QString putOffKey = u"nimbrel.drowsewick.update.promptedVersion"_qs;

// An alert as one text: its message, its informative text and its buttons, a line each.
QString textOf(const Alert &alert) { return QStringList({alert.message, alert.informative, alert.buttons.join(u", "_qs)}).join(u'\n'); }

} // namespace

class TestUpdateFlow : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;

    // A controller whose update host is the local server, offering `version`; the offer, when
    // shown, is answered with `answer`.
    std::unique_ptr<ModelHarness> harnessOffering(const char *version, int answer)
    {
        offer(version);
        auto h = std::make_unique<ModelHarness>();
        h->manifest = m_server.url(u"/latest.json"_qs);
        h->makeModel();
        h->dialogs.answers.enqueue(answer);
        return h;
    }
    void offer(const char *version) { m_server.answer(u"/latest.json"_qs, 200, QByteArray("{\"version\":\"") + version + "\",\"url\":\"https://127.0.0.1/D.zip\",\"notes\":\"n\"}"); }

private slots:
    void initTestCase() { QVERIFY2(m_server.isListening(), "no local HTTPS server"); }
    void init() { QFile::remove(QDir::homePath() + u"/.config/nimbrel/drowsewick.conf"_qs); }

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
        UserDefaults::createForPlatform()->setString(putOffKey, putOffVersion);
        auto h = harnessOffering("2.0", later);
        const int before = m_server.requestCount();
        h->model->start();
        h->model->start();
        QTRY_VERIFY(h->model->availableUpdate().has_value());
        QTest::qWait(100);
        QCOMPARE(m_server.requestCount() - before, 1);
        QCOMPARE(h->dialogs.shown.size(), offered ? 1 : 0);
        QCOMPARE(textOf(h->dialogs.shown.value(0)), offered ? u"A new version of Drowsewick is available\n"
                                                              "Drowsewick 2.0 is ready to install — you have 1.0. The app will update itself and relaunch.\nInstall, Later"_qs
                                                            : u"\n\n"_qs);
        QCOMPARE(UserDefaults::createForPlatform()->stringValue(putOffKey), u"2.0"_qs);
    }

    // By hand the check always answers, in front: the offer, also of a version put off, or "up to
    // date", also when the check failed; a second one while the first runs is dropped.
    void aManualCheckAlwaysAnswers()
    {
        UserDefaults::createForPlatform()->setString(putOffKey, u"2.0"_qs);
        auto h = harnessOffering("2.0", later);
        const int before = m_server.requestCount();
        h->model->checkForUpdatesManually();
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QCOMPARE(m_server.requestCount() - before, 1);
        offer("1.0");
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->model->isCheckingForUpdate());
        QVERIFY(!h->model->availableUpdate());
        QCOMPARE(h->dialogs.shown.size(), 2);
        QCOMPARE(textOf(h->dialogs.shown.last()), u"You're up to date\nDrowsewick 1.0 is the latest version.\n"_qs);
        QCOMPARE(h->dialogs.activations, 2);
    }

    // "Install": the app quits once the swap script runs, and nothing else starts meanwhile; a
    // failure says why, in front of nothing, and the update can be tried again; quitting during
    // an installation cancels it and neither quits again nor says anything.
    void installing_data()
    {
        QTest::addColumn<std::function<void()>>("installation"); // none: it does not end by itself
        QTest::addColumn<QString>("failure");
        const QString failed = u"Update failed\nCouldn't install the update. Please try again later, or download it from apps.nimbrel.example/drowsewick.\n"_qs;
        QTest::newRow("success") << std::function<void()>([] {}) << QString();
        QTest::newRow("read-only location") << std::function<void()>([] { throw SelfUpdater::Failure(SelfUpdater::UpdateError::readOnlyLocation); })
                                            << u"Move Drowsewick to Applications\nDrowsewick is running from a read-only location (like a disk image or the "
                                               "Downloads folder). Drag it to your Applications folder, reopen it, then check for updates again.\n"_qs;
        QTest::newRow("signature") << std::function<void()>([] { throw SelfUpdater::Failure(SelfUpdater::UpdateError::badSignature); }) << failed;
        QTest::newRow("system") << std::function<void()>([] { throw SelfUpdater::PlatformFailure(u"no space left"_qs); }) << failed;
        QTest::newRow("quit meanwhile") << std::function<void()>() << QString();
    }
    void installing()
    {
        QFETCH(std::function<void()>, installation);
        QFETCH(QString, failure);
        auto h = harnessOffering("2.0", install);
        QPromise<void> pending;
        pending.start();
        h->install = [&](const UpdateInfo &) { return installation ? QtFuture::makeReadyFuture().then(installation) : pending.future(); };
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->installed.isEmpty());
        if (failure.isEmpty()) {
            h->model->installUpdate();
            h->model->checkForUpdatesManually();
        }
        if (!installation) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
            QVERIFY(pending.isCanceled());
        }
        QTest::qWait(100);
        QCOMPARE(h->installed.size(), 1);
        QCOMPARE(h->quits, installation && failure.isEmpty() ? 1 : 0);
        QCOMPARE(textOf(h->dialogs.shown.value(1)), failure.isEmpty() ? u"\n\n"_qs : failure);
        QCOMPARE(h->dialogs.activations, 1);
        QVERIFY(failure.isEmpty() || (!h->model->isUpdating() && h->model->availableUpdate()));
    }

    // The real alerts: the offer, asked to come to the front, takes the focus; a failure, not
    // asked, opens quietly.
    void onlyTheAlertsAskedForComeToTheFront()
    {
        const std::unique_ptr<Dialogs> dialogs = Dialogs::createForPlatform();
        bool quiet = true;
        // Answers the next alert with its last button, noting whether it opened quietly.
        const auto answerNext = [&quiet] {
            QTimer::singleShot(0, [&quiet] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                quiet = box->testAttribute(Qt::WA_ShowWithoutActivating);
                box->buttons().constLast()->click();
            });
        };
        dialogs->activateApplication();
        answerNext();
        QCOMPARE(dialogs->alert({u"Offer"_qs, QString(), {"Install", "Later"}}), later);
        QVERIFY(!quiet);
        answerNext();
        QCOMPARE(dialogs->alert({u"Update failed"_qs, QString(), {}}), Dialogs::firstButton);
        QVERIFY(quiet);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateFlow, QApplication)
#include "tst_UpdateFlow.moc"
