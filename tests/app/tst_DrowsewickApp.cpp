#include "DrowsewickApp.h"
#include "ModelHarness.h"
#include "SingleInstance.h"
#include "TestHome.h"

#include <QApplication>
#include <QSignalSpy>

Q_DECLARE_METATYPE(MenuInputs)

class TestDrowsewickApp : public QObject
{
    Q_OBJECT

private slots:
    // The update entries, which only a check or an installation of the controller's changes: the
    // update entry, then the check entry, "(off)" when disabled.
    void menuState_data()
    {
        QTest::addColumn<MenuInputs>("inputs");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("update found, checking again")
                << MenuInputs{.lastSweepSummary = {}, .updateVersion = u"1.5"_qs, .isCheckingForUpdate = true}
                << QStringList{"Update to 1.5…", "Checking for Updates… (off)"};
        QTest::newRow("installing") << MenuInputs{.lastSweepSummary = {}, .updateVersion = u"1.5"_qs, .isUpdating = true}
                                    << QStringList{"Installing update… (off)", "Check for Updates… (off)"};
        QTest::newRow("updates left to a package manager")
                << MenuInputs{.lastSweepSummary = {}, .updateVersion = u"1.5"_qs, .selfUpdate = false} << QStringList{"", ""};
    }
    void menuState()
    {
        QFETCH(MenuInputs, inputs);
        QFETCH(QStringList, texts);
        const auto shown = [](const MenuEntryState &entry) {
            return entry.visible ? entry.text + (entry.enabled ? "" : " (off)") : QString();
        };
        QCOMPARE((QStringList{shown(MenuState::of(inputs).update), shown(MenuState::of(inputs).checkForUpdates)}), texts);
    }

    // The menu is redrawn from the controller, and its commands reach the controller; a left
    // click on the icon opens it as a right click does.
    void theMenuFollowsTheController()
    {
        const QList<Standin::Window> twoTabs{{1, 1, {{"https://a.example/", "A"}, {"https://b.example/", "B"}}}};
        Standin::setWindows(twoTabs, QJsonObject{{"automation", "denied"}});
        ModelHarness h;
        DrowsewickApp app(*h.model, true);
        // The visible entries as the user reads them, "(off)" when disabled.
        const auto texts = [&app] {
            QStringList texts;
            for (QAction *action : app.menu().actions())
                if (action->isVisible())
                    texts.append(action->isSeparator() ? u"—"_qs : action->text() + (action->isEnabled() ? "" : " (off)"));
            return texts;
        };
        // Each command is followed by a check of what it does.
        const auto trigger = [&app](const QString &text) {
            for (QAction *action : app.menu().actions())
                if (action->text() == text) action->trigger();
        };
        QCOMPARE(texts().first(), u"Safari not open (off)"_qs);
        h.model->tick();
        QCOMPARE(texts().mid(0, 2), (QStringList{"Safari access needed — click below (off)", "Allow Safari access…"}));
        // It leads to where the permission is given: the privacy settings of macOS, or here the
        // stand-in's own command.
        trigger(u"Allow Safari access…"_qs);
        QCOMPARE(macOSFlavour() ? h.openedUrls.value(0).toString() : h.dialogs.shown.value(0).message,
                 macOSFlavour() ? u"x-apple.systempreferences:com.apple.preference.security?Privacy_Automation"_qs
                                : u"Allow Drowsewick to control Safari"_qs);
        Standin::setWindows(twoTabs);
        h.model->tick();
        trigger(u"Sweep idle tabs now"_qs);
        QCOMPARE(texts(),
                 (QStringList{"2 tabs · 0 idle ≥ 7d (off)", "—", "Save all open tabs", "Sweep idle tabs now", "Pause sweeping",
                               "Nothing idle to sweep. (off)", "—", "Archived tabs…", "Open archive folder", "Settings…", "—",
                               "Check for Updates…", "—", "Quit Drowsewick"}));
        trigger(u"Pause sweeping"_qs);
        QVERIFY(h.model->settings().paused);
        trigger(u"Open archive folder"_qs);
        QCOMPARE(h.openedUrls.last(), QUrl::fromLocalFile(h.model->settings().archiveFolder()));
        emit app.findChild<QSystemTrayIcon *>()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(app.menu().isVisible());
    }

    // A second launch tells the running one to come forward; with none listening, it gives up.
    void aSecondLaunchHandsOverToTheFirst()
    {
        SingleInstance first(QDir::homePath() + u"/runtime"_qs), second(QDir::homePath() + u"/runtime"_qs);
        QSignalSpy activated(&first, &SingleInstance::activated);
        QVERIFY(first.claim() && !second.claim() && second.handOver());
        QTRY_COMPARE(activated.size(), 1);
        QVERIFY(!SingleInstance(QDir::homePath() + u"/nobody"_qs).handOver(300));
    }
};

DROWSEWICK_TEST_MAIN(TestDrowsewickApp, QApplication)
#include "tst_DrowsewickApp.moc"
