#include "DrowsewickApp.h"
#include "ModelHarness.h"
#include "SingleInstance.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QSignalSpy>

namespace {

using StandinControl::Tab;
using StandinControl::Window;

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
Q_DECLARE_METATYPE(MenuState)

class TestDrowsewickApp : public QObject
{
    Q_OBJECT

private slots:
    // Safari closed, and a plain count at the default seven days, are in theMenuFollowsTheController.
    void menuState_data()
    {
        QTest::addColumn<MenuInputs>("inputs");
        QTest::addColumn<MenuState>("expected");
        const QString counts = QStringLiteral("14 tabs · 3 idle ≥ 30d");
        const MenuEntryState noSummary{QString(), false, false};
        const MenuEntryState summary{QStringLiteral("Nothing idle to sweep."), true, false};
        const MenuEntryState noUpdate{QStringLiteral("Update to …"), false, true};
        const MenuEntryState check{QStringLiteral("Check for Updates…"), true, true};

        MenuInputs denied;
        denied.permissionDenied = true;
        denied.trackedCount = 5;
        QTest::newRow("permission refused, whatever the counts")
            << denied << MenuState{"Safari access needed — click below", true, false, noSummary, noUpdate, check};

        MenuInputs counting;
        counting.trackedCount = 14;
        counting.staleCount = 3;
        counting.days = 30;
        counting.paused = true;
        counting.lastSweepSummary = summary.text;
        QTest::newRow("counts and a summary") << counting << MenuState{counts, false, true, summary, noUpdate, check};

        MenuInputs update = counting;
        update.updateVersion = QStringLiteral("1.5");
        const MenuEntryState offer{QStringLiteral("Update to 1.5…"), true, true};
        QTest::newRow("update available") << update << MenuState{counts, false, true, summary, offer, check};

        MenuInputs checking = update;
        checking.isCheckingForUpdate = true;
        QTest::newRow("checking")
            << checking << MenuState{counts, false, true, summary, offer, {"Checking for Updates…", true, false}};

        MenuInputs installing = update;
        installing.isUpdating = true;
        QTest::newRow("installing") << installing
                                    << MenuState{counts, false, true, summary, {"Installing update…", true, false},
                                                 {"Check for Updates…", true, false}};

        MenuInputs packaged = update;
        packaged.selfUpdate = false;
        QTest::newRow("updates left to a package manager")
            << packaged << MenuState{counts, false, true, summary, {"Update to 1.5…", false, true},
                                     {"Check for Updates…", false, true}};
    }
    void menuState()
    {
        QFETCH(MenuInputs, inputs);
        QFETCH(MenuState, expected);
        const MenuState state = MenuState::of(inputs);
        QCOMPARE(state.statusLine, expected.statusLine);
        QCOMPARE(state.allowAccessVisible, expected.allowAccessVisible);
        QCOMPARE(state.paused, expected.paused);
        QCOMPARE(state.summary, expected.summary);
        QCOMPARE(state.update, expected.update);
        QCOMPARE(state.checkForUpdates, expected.checkForUpdates);
    }

    void theMenuFollowsTheController()
    {
        const QList<Window> twoTabs{Window{1, 1, {Tab{"https://a.example/", "A"}, Tab{"https://b.example/", "B"}}}};
        StandinControl::setWindows(twoTabs, QJsonObject{{"automation", "denied"}});
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        QCOMPARE(visibleTexts(app.menu()),
                 (QStringList{"Safari not open", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping", "—",
                              "Archived tabs…", "Open archive folder", "Settings…", "—", "Check for Updates…", "—",
                              "Quit Drowsewick"}));
        h.model->tick();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 2), (QStringList{"Safari access needed — click below", "Allow Safari access…"}));
        // It leads to where the permission is given: the privacy settings of macOS, or here the
        // stand-in's own command.
        actionNamed(app.menu(), QStringLiteral("Allow Safari access…"))->trigger();
        if (macOSFlavour())
            QCOMPARE(h.openedUrls, QList<QUrl>{QUrl(u"x-apple.systempreferences:com.apple.preference.security?Privacy_Automation"_qs)});
        else
            QCOMPARE(h.dialogs.shown.value(0).message, QStringLiteral("Allow Drowsewick to control Safari"));

        StandinControl::setWindows(twoTabs);
        h.model->tick();
        h.model->sweepNow();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 7),
                 (QStringList{"2 tabs · 0 idle ≥ 7d", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping",
                              "Nothing idle to sweep.", "—"}));
        QVERIFY(!actionNamed(app.menu(), QStringLiteral("Nothing idle to sweep."))->isEnabled());
    }

    // A left click on the tray icon opens the menu. Pause is the saved setting both ways; the
    // other commands go straight to the controller.
    void menuCommandsReachTheController()
    {
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        QSystemTrayIcon *tray = app.findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(app.menu().isVisible());
        app.menu().hide();
        QAction *pause = actionNamed(app.menu(), QStringLiteral("Pause sweeping"));
        QVERIFY(pause->isCheckable() && !pause->isChecked());
        pause->trigger();
        QVERIFY(h.model->settings().paused);
        QVERIFY(Settings::load().paused);
        h.model->setPaused(false);
        QVERIFY(!pause->isChecked());

        actionNamed(app.menu(), QStringLiteral("Open archive folder"))->trigger();
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(h.model->settings().archiveFolder())});
        StandinControl::setWindows({});
        actionNamed(app.menu(), QStringLiteral("Save all open tabs"))->trigger();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("No open tabs to save."));
    }

    // A second launch hands over to the first; with no first one listening, it gives up.
    void aSecondLaunchHandsOverOnlyToARunningFirst()
    {
        const QString folder = QDir::homePath() + QStringLiteral("/runtime");
        SingleInstance first(folder);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activated);
        SingleInstance second(folder);
        QVERIFY(!second.claim());
        QVERIFY(second.handOver());
        QTRY_COMPARE(activated.size(), 1);

        SingleInstance unreachable(QDir::homePath() + QStringLiteral("/nobody"));
        QVERIFY(!unreachable.handOver(300));
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickApp, QApplication)
#include "tst_DrowsewickApp.moc"
