#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "SelfUpdater.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

const int later = Dialogs::firstButton + 1; // the offer's second button
const QString putOffKey = u"nimbrel.drowsewick.update.promptedVersion"_qs;
using Installation = std::function<void()>; // none: it does not end by itself

// An alert as one text: its message, its informative text and its buttons, a line each.
static QString textOf(const Alert &alert)
{
    return QStringList({alert.message, alert.informative, alert.buttons.join(u", "_qs)}).join(u'\n');
}

class TestUpdateFlow : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;

    // A controller whose update host is the local server, offering `version`; the offer, when
    // shown, is answered with `answer`.
    std::unique_ptr<ModelHarness> harnessOffering(const QByteArray &version, int answer)
    {
        m_server.answer(u"/latest.json"_qs, 200,
                        "{\"version\":\"" + version + "\",\"url\":\"https://127.0.0.1/D.zip\",\"notes\":\"n\"}");
        auto h = std::make_unique<ModelHarness>();
        h->manifest = m_server.url(u"/latest.json"_qs);
        h->makeModel();
        h->dialogs.answers.enqueue(answer);
        return h;
    }

private slots:
    // At launch, once, the check offers a new version unless the user put this very
    // version off with "Later", which then puts it off. By hand it always answers, in front: the
    // offer, also of a version put off, or "up to date"; a second check while one runs is dropped.
    void aCheckOffersWhatIsNew_data()
    {
        QTest::addColumn<bool>("byHand");
        QTest::addColumn<QString>("putOffVersion");
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<QString>("alert");
        const QString offer
                = u"A new version of Drowsewick is available\nDrowsewick 2.0 is ready to install — you have 1.0. The app will update itself and relaunch.\nInstall, Later"_qs;
        QTest::newRow("at launch, this version put off") << false << "2.0" << QByteArray("2.0") << QString();
        QTest::newRow("at launch, an older version put off") << false << "1.5" << QByteArray("2.0") << offer;
        QTest::newRow("by hand, this version put off") << true << "2.0" << QByteArray("2.0") << offer;
        QTest::newRow("by hand, nothing newer")
                << true << QString() << QByteArray("1.0") << u"You're up to date\nDrowsewick 1.0 is the latest version.\n"_qs;
    }
    void aCheckOffersWhatIsNew()
    {
        QFETCH(bool, byHand);
        QFETCH(QString, putOffVersion);
        QFETCH(QByteArray, served);
        QFETCH(QString, alert);
        UserDefaults::createForPlatform()->setString(putOffKey, putOffVersion);
        auto h = harnessOffering(served, later);
        const int before = m_server.requestCount();
        for (int twice = 0; twice < 2; ++twice)
            byHand ? h->model->checkForUpdatesManually() : h->model->start();
        QTRY_VERIFY(h->model->availableUpdate() || !h->dialogs.shown.isEmpty());
        QTest::qWait(100);
        QCOMPARE(m_server.requestCount() - before, 1);
        QCOMPARE(textOf(h->dialogs.shown.value(0)), alert.isEmpty() ? u"\n\n"_qs : alert);
        QCOMPARE(std::pair(h->dialogs.shown.size(), h->dialogs.activations),
                 std::pair(qsizetype(!alert.isEmpty()), int(!alert.isEmpty()))); // in front
        QCOMPARE(UserDefaults::createForPlatform()->stringValue(putOffKey),
                 alert.startsWith(u"A new"_qs) ? u"2.0"_qs : putOffVersion);
    }

    // "Install": the app quits once the swap script runs, and no second installation starts
    // meanwhile; a failure says why, in front of nothing, and the update can be tried again;
    // quitting during an installation cancels it and neither quits again nor says anything.
    void installing_data()
    {
        QTest::addColumn<Installation>("installation");
        QTest::addColumn<QString>("failure");
        const QString failed
                = u"Update failed\nCouldn't install the update. Please try again later, or download it from apps.nimbrel.example/drowsewick.\n"_qs;
        QTest::newRow("success") << Installation([] {}) << QString();
        QTest::newRow("read-only location")
                << Installation([] { throw SelfUpdater::Failure(SelfUpdater::UpdateError::readOnlyLocation); })
                << u"Move Drowsewick to Applications\n"
                   "Drowsewick is running from a read-only location (like a disk image or the Downloads folder). Drag it to your Applications folder, reopen it, then check for updates again.\n"_qs;
        QTest::newRow("signature") << Installation([] { throw SelfUpdater::Failure(SelfUpdater::UpdateError::badSignature); })
                                   << failed;
        QTest::newRow("system") << Installation([] { throw SelfUpdater::PlatformFailure(u"no space left"_qs); }) << failed;
        QTest::newRow("quit meanwhile") << Installation() << QString();
    }
    void installing()
    {
        QFETCH(Installation, installation);
        QFETCH(QString, failure);
        auto h = harnessOffering("2.0", Dialogs::firstButton) /* "Install" */;
        QFutureInterface<void> pending(QFutureInterfaceBase::Started);
        h->install = [&](const UpdateInfo &) {
            return installation ? QtFuture::makeReadyFuture().then(installation) : pending.future();
        };
        h->model->checkForUpdatesManually();
        QTRY_VERIFY(!h->installed.isEmpty());
        QTest::qWait(100);
        h->model->installUpdate(); // dropped while one runs; after a failure, tried again
        if (!installation) { // the user quits
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
        }
        QCOMPARE(pending.isCanceled(), !installation);
        QCOMPARE(h->installed.size(), failure.isEmpty() ? 1 : 2);
        QCOMPARE(h->quits, installation && failure.isEmpty() ? 1 : 0);
        QCOMPARE(textOf(h->dialogs.shown.value(1)), failure.isEmpty() ? u"\n\n"_qs : failure);
        QCOMPARE(h->dialogs.activations, 1);
    }

    // The real alerts: the offer, asked to come to the front, takes the focus; a failure, not
    // asked, opens quietly.
    void onlyTheAlertsAskedForComeToTheFront()
    {
        const std::unique_ptr<Dialogs> dialogs = Dialogs::createForPlatform();
        QList<bool> quiet; // whether each alert opened without taking the focus
        const auto answerWithTheLastButton = [&quiet] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            quiet.append(box->testAttribute(Qt::WA_ShowWithoutActivating));
            box->buttons().constLast()->click();
        };
        dialogs->activateApplication();
        QTimer::singleShot(0, answerWithTheLastButton);
        QCOMPARE(dialogs->alert({u"Offer"_qs, QString(), {"Install", "Later"}}), later);
        QTimer::singleShot(0, answerWithTheLastButton);
        QCOMPARE(dialogs->alert({u"Update failed"_qs, QString(), {}}), Dialogs::firstButton);
        QCOMPARE(quiet, (QList<bool>{false, true}));
    }
};

DROWSEWICK_TEST_MAIN(TestUpdateFlow, QApplication)
#include "tst_UpdateFlow.moc"
