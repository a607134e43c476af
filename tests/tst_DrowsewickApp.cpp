#include "DrowsewickApp.h"
#include "ModelHarness.h"
#include "SingleInstance.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QSignalSpy>

namespace {

using StandinControl::Tab;
using StandinControl::Window;

struct Expected
{
    QString statusLine;
    bool allowAccess;
    MenuEntryState summary;
    MenuEntryState update;
    MenuEntryState check;
};

// The visible entries of the menu, as the user reads them.
QStringList visibleTexts(QMenu &menu)
{
    QStringList texts;
    for (QAction *action : menu.actions()) {
        if (action->isVisible())
            texts.append(action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    return texts;
}

QAction *actionNamed(QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(MenuInputs)
Q_DECLARE_METATYPE(Expected)

class TestDrowsewickApp : public QObject
{
    Q_OBJECT

private slots:
    void menuState_data()
    {
        QTest::addColumn<MenuInputs>("inputs");
        QTest::addColumn<Expected>("expected");
        const MenuEntryState noSummary{QString(), false, false};
        const MenuEntryState noUpdate{QStringLiteral("Update to …"), false, true};
        const MenuEntryState check{QStringLiteral("Check for Updates…"), true, true};

        MenuInputs closed;
        QTest::newRow("Safari closed") << closed << Expected{"Safari not open", false, noSummary, noUpdate, check};

        MenuInputs denied;
        denied.permissionDenied = true;
        denied.trackedCount = 5;
        QTest::newRow("permission refused") << denied
                                            << Expected{"Safari access needed — click below", true, noSummary, noUpdate, check};

        MenuInputs counting;
        counting.trackedCount = 14;
        counting.staleCount = 3;
        counting.lastSweepSummary = QStringLiteral("Nothing idle to sweep.");
        QTest::newRow("counts and a summary")
            << counting
            << Expected{"14 tabs · 3 idle ≥ 7d", false, {"Nothing idle to sweep.", true, false}, noUpdate, check};

        MenuInputs one;
        one.trackedCount = 1;
        one.days = 1;
        QTest::newRow("one tab") << one << Expected{"1 tabs · 0 idle ≥ 1d", false, noSummary, noUpdate, check};

        MenuInputs update = counting;
        update.lastSweepSummary.clear();
        update.updateVersion = QStringLiteral("1.5");
        QTest::newRow("update available")
            << update << Expected{"14 tabs · 3 idle ≥ 7d", false, noSummary, {"Update to 1.5…", true, true}, check};

        MenuInputs checking = update;
        checking.isCheckingForUpdate = true;
        QTest::newRow("checking") << checking
                                  << Expected{"14 tabs · 3 idle ≥ 7d", false, noSummary, {"Update to 1.5…", true, true},
                                              {"Checking for Updates…", true, false}};

        MenuInputs installing = update;
        installing.isUpdating = true;
        QTest::newRow("installing") << installing
                                    << Expected{"14 tabs · 3 idle ≥ 7d", false, noSummary, {"Installing update…", true, false},
                                                {"Check for Updates…", true, false}};

        MenuInputs packaged = update;
        packaged.selfUpdate = false;
        QTest::newRow("updates left to a package manager")
            << packaged << Expected{"14 tabs · 3 idle ≥ 7d", false, noSummary, {"Update to 1.5…", false, true},
                                    {"Check for Updates…", false, true}};
    }
    void menuState()
    {
        QFETCH(MenuInputs, inputs);
        QFETCH(Expected, expected);
        const MenuState state = MenuState::of(inputs);
        QCOMPARE(state.statusLine, expected.statusLine);
        QCOMPARE(state.allowAccessVisible, expected.allowAccess);
        QCOMPARE(state.summary, expected.summary);
        QCOMPARE(state.update, expected.update);
        QCOMPARE(state.checkForUpdates, expected.check);
    }

    void theMenuFollowsTheController()
    {
        StandinControl::setWindows({Window{1, 1, {Tab{"https://a.example/", "A"}, Tab{"https://b.example/", "B"}}}},
                                   QJsonObject{{"automation", "denied"}});
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        QCOMPARE(visibleTexts(app.menu()),
                 (QStringList{"Safari not open", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping", "—",
                              "Archived tabs…", "Open archive folder", "Settings…", "—", "Check for Updates…", "—",
                              "Quit Drowsewick"}));
        h.model->tick();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 2), (QStringList{"Safari access needed — click below", "Allow Safari access…"}));

        QJsonObject allowed = StandinControl::state();
        allowed.insert(QStringLiteral("automation"), QStringLiteral("allowed"));
        StandinControl::writeState(allowed);
        h.model->tick();
        h.model->sweepNow();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 7),
                 (QStringList{"2 tabs · 0 idle ≥ 7d", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping",
                              "Nothing idle to sweep.", "—"}));
        QVERIFY(!actionNamed(app.menu(), QStringLiteral("Nothing idle to sweep."))->isEnabled());
    }

    void pauseInTheMenuIsTheSavedSetting()
    {
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        QAction *pause = actionNamed(app.menu(), QStringLiteral("Pause sweeping"));
        QVERIFY(pause->isCheckable() && !pause->isChecked());
        pause->trigger();
        QVERIFY(h.model->settings().paused);
        QVERIFY(Settings::load().paused);
        h.model->setPaused(false);
        QVERIFY(!pause->isChecked());
    }

    void menuCommandsReachTheController()
    {
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        actionNamed(app.menu(), QStringLiteral("Open archive folder"))->trigger();
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(h.model->settings().archiveFolder())});
        StandinControl::setWindows({});
        actionNamed(app.menu(), QStringLiteral("Save all open tabs"))->trigger();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("No open tabs to save."));
    }

    void aSecondLaunchHandsOverToTheFirst()
    {
        const QString folder = QDir::homePath() + QStringLiteral("/runtime");
        SingleInstance first(folder);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activated);
        SingleInstance second(folder);
        QVERIFY(!second.claim());
        QVERIFY(second.handOver());
        QTRY_COMPARE(activated.size(), 1);
    }

    void aLockWithoutAnInstanceIsNoHandOver()
    {
        SingleInstance lonely(QDir::homePath() + QStringLiteral("/elsewhere"));
        QVERIFY(lonely.claim());
        SingleInstance unreachable(QDir::homePath() + QStringLiteral("/nobody"));
        QVERIFY(!unreachable.handOver(300));
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickApp, QApplication)
#include "tst_DrowsewickApp.moc"
