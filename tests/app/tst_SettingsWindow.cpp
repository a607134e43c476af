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
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace {

// The patterns as the user sees them, top to bottom, once new rows have come up.
QStringList shownPatterns(QWidget &view)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QList<QLabel *> labels = view.findChildren<QLabel *>(QStringLiteral("pattern"));
    labels.removeIf([](QLabel *label) { return !label->isVisible(); });
    std::sort(labels.begin(), labels.end(), [&](QLabel *a, QLabel *b) { return a->mapTo(&view, QPoint()).y() < b->mapTo(&view, QPoint()).y(); });
    QStringList patterns;
    for (const QLabel *label : labels)
        patterns.append(label->text());
    return patterns;
}

void click(QWidget &parent, const QString &text)
{
    for (QAbstractButton *button : parent.findChildren<QAbstractButton *>()) {
        if (button->text() == text)
            return button->click();
    }
    for (QLabel *label : parent.findChildren<QLabel *>()) {
        if (label->text().contains(u'>' + text + QStringLiteral("</a>")))
            return QTest::mouseClick(label, Qt::LeftButton, {}, label->contentsRect().center());
    }
    QFAIL(qPrintable(QStringLiteral("nothing to click named ") + text));
}

// A controller on the stand-in, and a settings window of its own.
struct Fixture
{
    ModelHarness harness;
    SettingsWindowController windows;

    DrowsewickModel &model() { return *harness.model; }
    SettingsView &show()
    {
        windows.show(model());
        QCoreApplication::processEvents();
        return *windows.window();
    }
};

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(Settings::filePath());
        Standin::setWindows({});
    }

    // Showing a stored value, even one outside the range, writes nothing. A step moves by the
    // stepper's unit and lands on the range's nearer end; a new interval restarts the timer.
    void steppersKeepToTheirRanges_data()
    {
        QTest::addColumn<bool>("days");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<QString>("direction");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<QString>("label");
        QTest::newRow("1 day, down") << true << qint64(1) << "stepDown" << qint64(1) << "Sweep tabs idle for 1 days";
        QTest::newRow("500 days, down") << true << qint64(500) << "stepDown" << qint64(90) << "Sweep tabs idle for 90 days";
        QTest::newRow("60 min, down") << false << qint64(3600) << "stepDown" << qint64(3300) << "Check Safari every 55 min";
        QTest::newRow("90 s, up") << false << qint64(90) << "stepUp" << qint64(360) << "Check Safari every 6 min";
    }
    void steppersKeepToTheirRanges()
    {
        QFETCH(bool, days);
        QFETCH(qint64, stored);
        QFETCH(QString, direction);
        QFETCH(qint64, expected);
        QFETCH(QString, label);
        Settings settings;
        (days ? settings.days : settings.pollSeconds) = stored;
        settings.save();
        Fixture f;
        QVERIFY(QFile::remove(Settings::filePath()));
        QWidget &box = child<QWidget>(f.show(), days ? QStringLiteral("daysStepper") : QStringLiteral("intervalStepper"));
        QTest::mouseClick(&child<QToolButton>(box, direction), Qt::LeftButton);
        QCOMPARE(box.findChild<QLabel *>()->text(), label);
        QCOMPARE(days ? f.model().settings().days : f.model().settings().pollSeconds, expected);
        QCOMPARE(QFile::exists(Settings::filePath()), expected != stored);
        QCOMPARE(f.model().timerInterval(), expected != stored && !days ? std::optional<int>(int(expected) * 1000) : std::nullopt);
    }

    // Add takes more than spaces and tabs; Return clears the field even when nothing was added;
    // the sites open in Safari are offered and leave what is typed; the list, sorted for the eye,
    // grows to three rows and scrolls; a row's button removes its own pattern.
    void theNeverSweepList()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &field = child<QLineEdit>(view, "patternField");
        auto &add = child<QPushButton>(view, "addPatternButton");
        auto &openSite = child<QToolButton>(view, "openSiteButton");
        field.setText(QStringLiteral(" \t "));
        QVERIFY(!add.isEnabled());
        QTest::keyClick(&field, Qt::Key_Return);
        QCOMPARE(field.text(), QString());
        QVERIFY(!openSite.isVisible());
        QTest::keyClicks(&field, " Zeta.Example ");
        Standin::setWindows({Standin::Window{1, 1, {{"https://b.example/x", "B"}, {"https://a.example/", "A"}, {"https://c.example/", "C"}}}});
        f.model().tick();
        for (QAction *site : openSite.menu()->actions())
            site->trigger();
        QCOMPARE(field.text(), QStringLiteral(" Zeta.Example "));
        add.click();
        QCOMPARE(field.text(), QString());
        QCOMPARE(Settings::load().neverSweep, (QStringList{"a.example", "b.example", "c.example", "zeta.example"}));
        QCOMPARE(shownPatterns(view), Settings::load().neverSweep);
        auto &list = child<QScrollArea>(view, "patternList");
        QCOMPARE(list.height(), 88);
        QVERIFY(list.verticalScrollBar()->maximum() > 0);

        f.harness.changeSettings([](Settings &s) { s.neverSweep = {QStringLiteral("zeta.example"), QStringLiteral("alpha.example")}; });
        QCOMPARE(shownPatterns(view), (QStringList{"alpha.example", "zeta.example"}));
        for (QLabel *pattern : view.findChildren<QLabel *>(QStringLiteral("pattern"))) {
            if (pattern->isVisible() && pattern->text() == QLatin1String("alpha.example"))
                QTest::mouseClick(&child<QToolButton>(*pattern->parentWidget(), "removePatternButton"), Qt::LeftButton);
        }
        QCOMPARE(shownPatterns(view), QStringList{"zeta.example"});
        QCOMPARE(Settings::load().neverSweep, QStringList{"zeta.example"});
        QCOMPARE(list.height(), 32);
    }

    // Every other control reaches the controller; the window comes back the same, with what was
    // typed in it. "Open at login" is the autostart entry itself, shown as the desktop left it.
    void theOtherControls()
    {
        Fixture f;
        SettingsView &view = f.show();
        QTest::keyClicks(&child<QLineEdit>(view, "patternField"), "half.exa");
        child<QCheckBox>(view, "pauseSwitch").click();
        QVERIFY(Settings::load().paused);
        f.model().setPaused(false);
        QVERIFY(!child<QCheckBox>(view, "pauseSwitch").isChecked());

        const QString chosen = QDir::homePath() + QStringLiteral("/Chosen");
        f.harness.dialogs.folders.enqueue(chosen);
        click(view, QStringLiteral("Choose…"));
        QCOMPARE(child<QLabel>(view, "archiveFolder").text(), chosen);
        const QUrl maker(QString::fromLatin1(BuildConfig::makerHomeURL));
        for (const QString &text : {QStringLiteral("Open"), maker.host(), QStringLiteral("Send feedback"), QStringLiteral("Website")})
            click(view, text);
        QCOMPARE(f.harness.openedUrls, (QList<QUrl>{QUrl::fromLocalFile(chosen), maker, QUrl(QString::fromLatin1(BuildConfig::feedbackURL)),
                                                    QUrl(QString::fromLatin1(BuildConfig::productPageURL))}));
        const QList<QLabel *> labels = view.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [](const QLabel *l) { return l->text() == QStringLiteral("Drowsewick 1.0"); }));

        auto &open = child<QCheckBox>(view, "openAtLoginSwitch");
        open.click();
        QCOMPARE(TestFiles::read(LoginItem::entryPath()), LoginItem::entry(QCoreApplication::applicationFilePath()));
        QVERIFY(view.close());
        QVERIFY(QFile::remove(LoginItem::entryPath()));
        QCOMPARE(&f.show(), &view);
        QVERIFY(!open.isChecked());
        QCOMPARE(child<QLineEdit>(view, "patternField").text(), QStringLiteral("half.exa"));
        QDir(QFileInfo(LoginItem::entryPath()).absolutePath()).removeRecursively();
        TestFiles::write(QFileInfo(LoginItem::entryPath()).absolutePath(), "a file where the folder should be");
        open.click();
        QVERIFY(!open.isChecked());
    }

    // One argument however odd the path, in the key file's own quoting.
    void autostartEntryQuotesThePath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("space, dollar and backtick") << "/home/Ann Lee/$HOME/`id`" << QByteArray("Exec=\"/home/Ann Lee/\\\\$HOME/\\\\`id\\\\`\"");
        QTest::newRow("double quote, backslash and percent") << "/opt/a\"b\\c%u" << QByteArray("Exec=\"/opt/a\\\\\"b\\\\\\\\c%%u\"");
    }
    void autostartEntryQuotesThePath()
    {
        if (macOSFlavour())
            QSKIP("the XDG autostart entry is the Linux login item; tst_MacPackaging reads the LaunchAgent");
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        QVERIFY(LoginItem::entry(program).contains('\n' + exec + '\n'));
    }
};

DROWSEWICK_TEST_MAIN(TestSettingsWindow, QApplication)
#include "tst_SettingsWindow.moc"
