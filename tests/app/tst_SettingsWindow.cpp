#include "BuildConfig.h"
#include "ModelHarness.h"
#include "SettingsWindowController.h"
#include "TestHome.h"
#include "platform/LoginItem.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    // Showing a stored value, even one outside the range, writes nothing. A step moves by the
    // stepper's unit and lands on the range's nearer end; a new interval restarts the timer.
    void steppersKeepToTheirRanges_data()
    {
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<QString>("button"); // stepper/button
        QTest::addColumn<QString>("label");
        QTest::newRow("1 day, down") << qint64(1) << "daysStepper/stepDown" << "Sweep tabs idle for 1 days";
        QTest::newRow("500 days, down") << qint64(500) << "daysStepper/stepDown" << "Sweep tabs idle for 90 days";
        QTest::newRow("60 min, down") << qint64(3600) << "intervalStepper/stepDown" << "Check Safari every 55 min";
        QTest::newRow("90 s, up") << qint64(90) << "intervalStepper/stepUp" << "Check Safari every 6 min";
    }
    void steppersKeepToTheirRanges()
    {
        QFETCH(qint64, stored);
        QFETCH(QString, button);
        QFETCH(QString, label);
        const bool days = button.startsWith(u"days"_qs);
        Settings{.days = days ? stored : 7, .neverSweep = {}, .pollSeconds = days ? 3600 : stored}.save();
        ModelHarness h;
        SettingsWindowController windows;
        QVERIFY(QFile::remove(Settings::filePath()));
        windows.show(*h.model);
        QWidget &box = child<QWidget>(*windows.window(), button.section(u'/', 0, 0));
        QTest::mouseClick(&child<QToolButton>(box, button.section(u'/', 1)), Qt::LeftButton);
        QCOMPARE(box.findChild<QLabel *>()->text(), label);
        const qint64 shown = label.section(u' ', -2, -2).toLongLong() * (days ? 1 : 60); // in the stored unit
        QCOMPARE(days ? h.model->settings().days : h.model->settings().pollSeconds, shown);
        QCOMPARE(QFile::exists(Settings::filePath()), shown != stored);
        QCOMPARE(h.model->timerInterval(), shown != stored && !days ? std::optional<int>(int(shown) * 1000) : std::nullopt);
    }

    // Every other control reaches the controller, and shows what it holds:
    // - Add takes more than blanks; Return clears the field even when nothing was added; the
    //   sites open in Safari are offered and leave what is typed; the list is sorted for the eye;
    //   a row's button removes its own pattern;
    // - the window comes back the same, with what was typed in it;
    // - "Open at login" is the autostart entry itself, shown as the desktop left it.
    void everyControlReachesTheController()
    {
        ModelHarness h;
        SettingsWindowController windows;
        windows.show(*h.model);
        SettingsView &view = *windows.window();
        auto &field = child<QLineEdit>(view, "patternField");
        field.setText(u" \t "_qs);
        QVERIFY(!child<QAbstractButton>(view, "addPatternButton").isEnabled());
        QTest::keyClick(&field, Qt::Key_Return);
        QCOMPARE(field.text(), QString());
        QTest::keyClicks(&field, "zeta.example");
        Standin::setWindows({Standin::Window{1, 1, {{"https://b.example/x", "B"}, {"https://a.example/", "A"}}}});
        h.model->tick();
        for (QAction *site : child<QToolButton>(view, "openSiteButton").menu()->actions())
            site->trigger();
        QCOMPARE(field.text(), u"zeta.example"_qs);
        child<QAbstractButton>(view, "addPatternButton").click(); // which empties the field, as the end shows
        QCOMPARE(h.model->settings().neverSweep, (QStringList{"a.example", "b.example", "zeta.example"}));
        h.changeSettings([](Settings &s) { s.neverSweep = {u"zeta.example"_qs, u"alpha.example"_qs}; });
        QCoreApplication::sendPostedEvents();
        // Sorted for the eye, the rows as made top to bottom: the first one's button removes alpha.example.
        QList<QLabel *> rows = view.findChildren<QLabel *>(u"pattern"_qs);
        rows.removeIf([](QLabel *label) { return !label->isVisible(); });
        QTest::mouseClick(&child<QToolButton>(*rows.first()->parentWidget(), "removePatternButton"), Qt::LeftButton);
        QCOMPARE(h.model->settings().neverSweep, QStringList{"zeta.example"});

        QTest::keyClicks(&field, "half.exa");
        child<QCheckBox>(view, "pauseSwitch").click();
        QVERIFY(h.model->settings().paused);
        h.dialogs.folders.enqueue(QDir::homePath() + u"/Chosen"_qs);
        for (QAbstractButton *button : view.findChildren<QAbstractButton *>())
            if (QStringList{u"Choose…"_qs, u"Open"_qs}.contains(button->text())) button->click();
        // The links: the maker's home, "Send feedback" and "Website".
        for (QLabel *link : view.findChildren<QLabel *>())
            if (link->text().startsWith(u"<a "_qs)) QTest::mouseClick(link, Qt::LeftButton, {}, link->contentsRect().center());
        QCOMPARE(h.openedUrls,
                 (QList<QUrl> {QUrl::fromLocalFile(QDir::homePath() + u"/Chosen"_qs), QUrl(BuildConfig::makerHomeURL),
                               QUrl(BuildConfig::feedbackURL), QUrl(BuildConfig::productPageURL)}));

        auto &open = child<QCheckBox>(view, "openAtLoginSwitch");
        open.click();
        QCOMPARE(TestFiles::read(LoginItem::entryPath()), LoginItem::entry(QCoreApplication::applicationFilePath()));
        // The desktop's entry goes, and a file takes its folder's place: the switch shows it, and stays off.
        const QString folder = QFileInfo(LoginItem::entryPath()).absolutePath();
        QVERIFY(view.close() && QDir(folder).removeRecursively());
        TestFiles::write(folder, "a file where the folder should be");
        windows.show(*h.model);
        QVERIFY(windows.window() == &view && !open.isChecked() && field.text() == u"half.exa"_qs);
        open.click();
        QVERIFY(!open.isChecked());
    }

    // One argument however odd the path, in the key file's own quoting.
    void autostartEntryQuotesThePath()
    {
        if (macOSFlavour())
            QSKIP("the XDG autostart entry is the Linux login item; tst_MacPackaging reads the LaunchAgent");
        QVERIFY(LoginItem::entry(u"/A B/$H/`id`/\"\\%u"_qs).contains("\nExec=\"/A B/\\\\$H/\\\\`id\\\\`/\\\\\"\\\\\\\\%%u\"\n"));
    }
};

DROWSEWICK_TEST_MAIN(TestSettingsWindow, QApplication)
#include "tst_SettingsWindow.moc"
