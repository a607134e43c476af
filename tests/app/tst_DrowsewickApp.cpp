#include "DrowsewickApp.h"
#include "ModelHarness.h"
#include "SingleInstance.h"
#include "TestHome.h"

#include <QApplication>
#include <QSignalSpy>

namespace {

using Standin::Tab;
using Standin::Window;

// The visible entries of the menu, as the user reads them.
QStringList visibleTexts(QMenu &menu)
{
    QStringList texts;
    for (QAction *action : menu.actions()) {
        if (action->isVisible())
            texts.append(action->isSeparator() ? QStringLiteral("—") : action->text() + (action->isEnabled() ? "" : " (off)"));
    }
    return texts;
}

QAction *actionNamed(QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    throw std::runtime_error("no menu entry " + text.toStdString());
}

} // namespace

Q_DECLARE_METATYPE(MenuInputs)

class TestDrowsewickApp : public QObject
{
    Q_OBJECT

private slots:
    // The status line, the summary and the update entries for each state the controller can be in.
    void menuState_data()
    {
        QTest::addColumn<MenuInputs>("inputs");
        QTest::addColumn<QStringList>("texts"); // status, summary, update entry, check entry; "(off)" when disabled
        MenuInputs denied;
        denied.permissionDenied = true;
        denied.trackedCount = 5;
        QTest::newRow("permission refused, whatever the counts")
            << denied << QStringList{"Safari access needed — click below", "", "", "Check for Updates…"};
        MenuInputs counting;
        counting.trackedCount = 14;
        counting.staleCount = 3;
        counting.days = 30;
        counting.lastSweepSummary = QStringLiteral("Nothing idle to sweep.");
        const QString counts = QStringLiteral("14 tabs · 3 idle ≥ 30d");
        QTest::newRow("counts and a summary") << counting << QStringList{counts, "Nothing idle to sweep. (off)", "", "Check for Updates…"};
        MenuInputs update = counting;
        update.updateVersion = QStringLiteral("1.5");
        update.isCheckingForUpdate = true;
        QTest::newRow("update found, checking again")
            << update << QStringList{counts, "Nothing idle to sweep. (off)", "Update to 1.5…", "Checking for Updates… (off)"};
        update.isCheckingForUpdate = false;
        update.isUpdating = true;
        QTest::newRow("installing") << update << QStringList{counts, "Nothing idle to sweep. (off)", "Installing update… (off)",
                                                             "Check for Updates… (off)"};
        update.selfUpdate = false;
        QTest::newRow("updates left to a package manager") << update << QStringList{counts, "Nothing idle to sweep. (off)", "", ""};
    }
    void menuState()
    {
        QFETCH(MenuInputs, inputs);
        QFETCH(QStringList, texts);
        const MenuState state = MenuState::of(inputs);
        const auto shown = [](const MenuEntryState &entry) {
            return entry.visible ? entry.text + (entry.enabled ? "" : " (off)") : QString();
        };
        QCOMPARE((QStringList{state.statusLine, shown(state.summary), shown(state.update), shown(state.checkForUpdates)}), texts);
        QCOMPARE(state.allowAccessVisible, inputs.permissionDenied);
    }

    // The menu is redrawn from the controller, and its commands reach the controller; a left
    // click on the icon opens it as a right click does.
    void theMenuFollowsTheController()
    {
        const QList<Window> twoTabs{Window{1, 1, {Tab{"https://a.example/", "A"}, Tab{"https://b.example/", "B"}}}};
        Standin::setWindows(twoTabs, QJsonObject{{"automation", "denied"}});
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        QCOMPARE(visibleTexts(app.menu()),
                 (QStringList{"Safari not open (off)", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping", "—",
                              "Archived tabs…", "Open archive folder", "Settings…", "—", "Check for Updates…", "—", "Quit Drowsewick"}));
        h.model->tick();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 2), (QStringList{"Safari access needed — click below (off)", "Allow Safari access…"}));
        // It leads to where the permission is given: the privacy settings of macOS, or here the
        // stand-in's own command.
        actionNamed(app.menu(), QStringLiteral("Allow Safari access…"))->trigger();
        if (macOSFlavour())
            QCOMPARE(h.openedUrls.takeFirst(), QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Automation")));
        else
            QCOMPARE(h.dialogs.shown.value(0).message, QStringLiteral("Allow Drowsewick to control Safari"));
        Standin::setWindows(twoTabs);
        h.model->tick();
        actionNamed(app.menu(), QStringLiteral("Sweep idle tabs now"))->trigger();
        QCOMPARE(visibleTexts(app.menu()).mid(0, 6), (QStringList{"2 tabs · 0 idle ≥ 7d (off)", "—", "Save all open tabs",
                                                                  "Sweep idle tabs now", "Pause sweeping", "Nothing idle to sweep. (off)"}));

        actionNamed(app.menu(), QStringLiteral("Pause sweeping"))->trigger();
        QVERIFY(Settings::load().paused);
        h.model->setPaused(false);
        QVERIFY(!actionNamed(app.menu(), QStringLiteral("Pause sweeping"))->isChecked());
        actionNamed(app.menu(), QStringLiteral("Open archive folder"))->trigger();
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(h.model->settings().archiveFolder())});

        QSystemTrayIcon *tray = app.findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(app.menu().isVisible());
    }

    // A second launch tells the running one to come forward; with none listening, it gives up.
    void aSecondLaunchHandsOverToTheFirst()
    {
        SingleInstance first(QDir::homePath() + u"/runtime"_qs);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activated);
        SingleInstance second(QDir::homePath() + u"/runtime"_qs);
        QVERIFY(!second.claim() && second.handOver());
        QTRY_COMPARE(activated.size(), 1);
        QVERIFY(!SingleInstance(QDir::homePath() + u"/nobody"_qs).handOver(300));
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickApp, QApplication)
#include "tst_DrowsewickApp.moc"
