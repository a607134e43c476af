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

using Standin::Tab;
using Standin::Window;

QString autostartEntry()
{
    return QDir::homePath() + QStringLiteral("/.config/autostart/drowsewick.desktop");
}

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

QAbstractButton &button(QWidget &parent, const QString &text)
{
    for (QAbstractButton *candidate : parent.findChildren<QAbstractButton *>()) {
        if (candidate->text() == text)
            return *candidate;
    }
    throw std::runtime_error("no button " + text.toStdString());
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
        QFile::remove(autostartEntry());
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
        QTest::newRow("89 days, up") << true << qint64(89) << "stepUp" << qint64(90) << "Sweep tabs idle for 90 days";
        QTest::newRow("500 days, down") << true << qint64(500) << "stepDown" << qint64(90) << "Sweep tabs idle for 90 days";
        QTest::newRow("0 days, up") << true << qint64(0) << "stepUp" << qint64(1) << "Sweep tabs idle for 1 days";
        QTest::newRow("60 min, down") << false << qint64(3600) << "stepDown" << qint64(3300) << "Check Safari every 55 min";
        QTest::newRow("5 min, down") << false << qint64(300) << "stepDown" << qint64(300) << "Check Safari every 5 min";
        QTest::newRow("235 min, up") << false << qint64(14100) << "stepUp" << qint64(14400) << "Check Safari every 240 min";
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
        const bool changed = expected != stored;
        QCOMPARE(QFile::exists(Settings::filePath()), changed);
        QCOMPARE(f.model().timerInterval(), changed && !days ? std::optional<int>(int(expected) * 1000) : std::nullopt);
    }

    // Add takes more than spaces and tabs; Return hands any text to the controller and clears
    // the field even when nothing was added. The list grows by a row for each of the first three
    // patterns, then scrolls; it is sorted for the eye only.
    void theAddRowAndThePatternList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("spaces and tabs") << " \t " << false << QStringList();
        QTest::newRow("line break") << "\n" << true << QStringList();
        QTest::newRow("capitals, padded") << " News.Example.org\t" << true << QStringList{"news.example.org"};
    }
    void theAddRowAndThePatternList()
    {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(QStringList, added);
        Fixture f;
        SettingsView &view = f.show();
        auto &field = child<QLineEdit>(view, "patternField");
        field.setText(text);
        QCOMPARE(child<QPushButton>(view, "addPatternButton").isEnabled(), enabled);
        QTest::keyClick(&field, Qt::Key_Return);
        QCOMPARE(field.text(), QString());
        QCOMPARE(Settings::load().neverSweep, added);
        QCOMPARE(shownPatterns(view), added);

        auto &list = child<QScrollArea>(view, "patternList");
        const QList<std::pair<int, bool>> heightAndScrolls{{32, false}, {60, false}, {88, false}, {88, true}};
        for (int i = int(added.size()); i < heightAndScrolls.size(); ++i)
            f.model().addNeverSweep(QStringLiteral("site%1.example").arg(3 - i));
        QCOMPARE(shownPatterns(view).first(), added.isEmpty() ? QStringLiteral("site0.example") : added.first());
        QCOMPARE(list.height(), 88);
        QVERIFY(list.verticalScrollBar()->maximum() > 0);
        f.model().removeNeverSweep(f.model().settings().neverSweep.last());
        f.model().removeNeverSweep(f.model().settings().neverSweep.last());
        f.model().removeNeverSweep(f.model().settings().neverSweep.last());
        shownPatterns(view);
        QCOMPARE(list.height(), 32);
    }

    // The menu of open sites adds a host and leaves what is typed; a row's remove button takes
    // its own pattern out of the list and the file.
    void openSitesAndRemoveButtons()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &openSite = child<QToolButton>(view, "openSiteButton");
        QVERIFY(!openSite.isVisible());
        auto &field = child<QLineEdit>(view, "patternField");
        QTest::keyClicks(&field, "half");
        Standin::setWindows({Window{1, 1, {Tab{"https://b.example/x", "B"}, Tab{"https://a.example/", "A"}}}});
        f.model().tick();
        QVERIFY(openSite.isVisible());
        QStringList offered;
        for (const QAction *action : openSite.menu()->actions())
            offered.append(action->text());
        QCOMPARE(offered, (QStringList{"a.example", "b.example"}));
        openSite.menu()->actions().at(1)->trigger();
        openSite.menu()->actions().at(0)->trigger();
        QCOMPARE(field.text(), QStringLiteral("half"));
        QCOMPARE(shownPatterns(view), (QStringList{"a.example", "b.example"}));
        QCOMPARE(Settings::load().neverSweep, (QStringList{"b.example", "a.example"}));

        for (QLabel *label : view.findChildren<QLabel *>(QStringLiteral("pattern"))) {
            if (label->isVisible() && label->text() == QLatin1String("a.example"))
                QTest::mouseClick(&child<QToolButton>(*label->parentWidget(), QStringLiteral("removePatternButton")), Qt::LeftButton);
        }
        QCOMPARE(Settings::load().neverSweep, QStringList{"b.example"});
        QCOMPARE(shownPatterns(view), QStringList{"b.example"});
        Standin::setWindows({});
        f.model().tick();
        QVERIFY(!openSite.isVisible());
    }

    // Every other control reaches the controller; the window comes back the same, with what was
    // typed in it.
    void theControlsReachTheController()
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
        button(view, QStringLiteral("Choose…")).click();
        QCOMPARE(child<QLabel>(view, "archiveFolder").text(), chosen);
        button(view, QStringLiteral("Open")).click();
        QVERIFY(QFileInfo(chosen).isDir());
        const QUrl maker(QString::fromLatin1(BuildConfig::makerHomeURL));
        for (const QString &text : {maker.host(), QStringLiteral("Send feedback"), QStringLiteral("Website")}) {
            for (QLabel *label : view.findChildren<QLabel *>()) {
                if (label->text().contains(u'>' + text + QStringLiteral("</a>")))
                    QTest::mouseClick(label, Qt::LeftButton, {}, label->contentsRect().center());
            }
        }
        QCOMPARE(f.harness.openedUrls, (QList<QUrl>{QUrl::fromLocalFile(chosen), maker, QUrl(QString::fromLatin1(BuildConfig::feedbackURL)),
                                                    QUrl(QString::fromLatin1(BuildConfig::productPageURL))}));
        const QList<QLabel *> labels = view.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                            [&](const QLabel *label) { return label->text() == QStringLiteral("Drowsewick ") + f.model().version(); }));

        QVERIFY(view.close());
        QCOMPARE(&f.show(), &view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(child<QLineEdit>(view, "patternField").text(), QStringLiteral("half.exa"));
    }

    // "Open at login" is the autostart entry itself: the switch writes and removes it, shows what
    // the desktop changed meanwhile, and stays off when the entry cannot be written.
    void openAtLoginIsTheAutostartEntry()
    {
        Fixture f;
        auto &open = child<QCheckBox>(f.show(), "openAtLoginSwitch");
        QVERIFY(!open.isChecked());
        open.click();
        QCOMPARE(TestFiles::read(autostartEntry()), LoginItem::entry(QCoreApplication::applicationFilePath()));
        QVERIFY(!QFile::exists(Settings::filePath()));
        f.windows.window()->hide();
        QVERIFY(QFile::remove(autostartEntry()));
        f.show();
        QVERIFY(!open.isChecked());

        QDir(QFileInfo(autostartEntry()).absolutePath()).removeRecursively();
        TestFiles::write(QFileInfo(autostartEntry()).absolutePath(), "a file where the folder should be");
        open.click();
        QVERIFY(!open.isChecked());
        QVERIFY(QFile::remove(QFileInfo(autostartEntry()).absolutePath()));
        open.click();
        open.click();
        QVERIFY(!QFile::exists(autostartEntry()));
    }

    // One argument however odd the path, in the key file's own quoting.
    void autostartEntryQuotesThePath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("space") << "/home/Ann Lee/bin/drowsewick" << QByteArray("Exec=\"/home/Ann Lee/bin/drowsewick\"");
        QTest::newRow("dollar and backtick") << "/opt/$HOME/`id`" << QByteArray("Exec=\"/opt/\\\\$HOME/\\\\`id\\\\`\"");
        QTest::newRow("double quote and backslash") << "/opt/a\"b\\c" << QByteArray("Exec=\"/opt/a\\\\\"b\\\\\\\\c\"");
        QTest::newRow("percent") << "/opt/100%u" << QByteArray("Exec=\"/opt/100%%u\"");
    }
    void autostartEntryQuotesThePath()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        QVERIFY(LoginItem::entry(program).contains('\n' + exec + '\n'));
        QCOMPARE(LoginItem::entryPath(), autostartEntry());
    }
};

DROWSEWICK_TEST_MAIN(TestSettingsWindow, QApplication)
#include "tst_SettingsWindow.moc"
