#include "BuildConfig.h"
#include "ModelHarness.h"
#include "SettingsWindowController.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

namespace {

using StandinControl::Tab;
using StandinControl::Window;

QString settingsPath()
{
    return Settings::applicationFolder() + QStringLiteral("/settings.json");
}

void emptyHome()
{
    QFile::remove(settingsPath());
    QFile::remove(DrowsewickModel::trackerPath());
    StandinControl::setWindows({});
}

// Settings as a hand-edited or earlier-saved file holds them, before the controller reads them.
void storeSettings(const std::function<void(Settings &)> &change)
{
    Settings settings;
    change(settings);
    settings.save();
}

QPushButton &button(QWidget &parent, const QString &text)
{
    const QList<QPushButton *> buttons = parent.findChildren<QPushButton *>();
    const auto found = std::find_if(buttons.cbegin(), buttons.cend(), [&](QPushButton *b) { return b->text() == text; });
    if (found == buttons.cend())
        throw std::runtime_error("no button " + text.toStdString());
    return **found;
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// The patterns as the user sees them, top to bottom, once new rows have come up.
QStringList shownPatterns(QWidget &view)
{
    settle();
    QList<QLabel *> labels = view.findChildren<QLabel *>(QStringLiteral("pattern"));
    labels.removeIf([](QLabel *label) { return !label->isVisible(); });
    std::sort(labels.begin(), labels.end(), [&](QLabel *a, QLabel *b) {
        return a->mapTo(&view, QPoint()).y() < b->mapTo(&view, QPoint()).y();
    });
    QStringList patterns;
    for (const QLabel *label : labels)
        patterns.append(label->text());
    return patterns;
}

QToolButton &removeButtonOf(QWidget &view, const QString &pattern)
{
    for (QLabel *label : view.findChildren<QLabel *>(QStringLiteral("pattern")))
        if (label->text() == pattern && label->isVisible())
            return child<QToolButton>(*label->parentWidget(), QStringLiteral("removePatternButton"));
    throw std::runtime_error("no row for " + pattern.toStdString());
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
        settle();
        return *windows.window();
    }
};

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { emptyHome(); }

    // Showing a stored value, even one outside the range, writes nothing and leaves it as it is. A
    // step moves by the stepper's unit and lands on the range's nearer end; only a change is written,
    // and a new interval restarts the timer.
    void steppersKeepToTheirRanges_data()
    {
        QTest::addColumn<QString>("stepper");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<QString>("direction");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<QString>("label");
        const QString days = QStringLiteral("daysStepper");
        const QString interval = QStringLiteral("intervalStepper");
        const QString down = QStringLiteral("stepDown");
        const QString up = QStringLiteral("stepUp");
        QTest::newRow("1 day, down") << days << qint64(1) << down << qint64(1) << "Sweep tabs idle for 1 days";
        QTest::newRow("89 days, up") << days << qint64(89) << up << qint64(90) << "Sweep tabs idle for 90 days";
        QTest::newRow("500 days, up") << days << qint64(500) << up << qint64(500) << "Sweep tabs idle for 500 days";
        QTest::newRow("500 days, down") << days << qint64(500) << down << qint64(90) << "Sweep tabs idle for 90 days";
        QTest::newRow("0 days, up") << days << qint64(0) << up << qint64(1) << "Sweep tabs idle for 1 days";
        QTest::newRow("60 min, down") << interval << qint64(3600) << down << qint64(3300) << "Check Safari every 55 min";
        QTest::newRow("5 min, down") << interval << qint64(300) << down << qint64(300) << "Check Safari every 5 min";
        QTest::newRow("235 min, up") << interval << qint64(14100) << up << qint64(14400) << "Check Safari every 240 min";
        QTest::newRow("240 min, up") << interval << qint64(14400) << up << qint64(14400) << "Check Safari every 240 min";
        QTest::newRow("90 s, up") << interval << qint64(90) << up << qint64(360) << "Check Safari every 6 min";
        QTest::newRow("90 s, down") << interval << qint64(90) << down << qint64(90) << "Check Safari every 1 min";
        QTest::newRow("1000 min, down") << interval << qint64(60000) << down << qint64(14400) << "Check Safari every 240 min";
    }
    void steppersKeepToTheirRanges()
    {
        QFETCH(QString, stepper);
        QFETCH(qint64, stored);
        QFETCH(QString, direction);
        QFETCH(qint64, expected);
        QFETCH(QString, label);
        const bool isDays = stepper == QLatin1String("daysStepper");
        const auto valueOf = [isDays](const Settings &s) { return isDays ? s.days : s.pollSeconds; };
        storeSettings([&](Settings &s) { (isDays ? s.days : s.pollSeconds) = stored; });
        Fixture f;
        QVERIFY(QFile::remove(settingsPath()));
        SettingsView &view = f.show();
        emit f.model().settingsChanged(); // a redraw
        QWidget &box = child<QWidget>(view, stepper);
        QTest::mouseClick(&child<QToolButton>(box, direction), Qt::LeftButton);
        QCOMPARE(valueOf(f.model().settings()), expected);
        QCOMPARE(box.findChild<QLabel *>()->text(), label);
        const bool changed = expected != stored;
        QCOMPARE(QFile::exists(settingsPath()), changed);
        if (changed)
            QCOMPARE(valueOf(Settings::load()), expected);
        const bool restarted = changed && !isDays;
        QCOMPARE(f.model().timerInterval(), restarted ? std::optional<int>(int(expected) * 1000) : std::nullopt);
    }

    // The list grows by one row for each of the first three patterns; the fourth scrolls.
    void thePatternListGrowsToThreeRowsThenScrolls()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &list = child<QScrollArea>(view, "patternList");
        QVERIFY(!list.isVisible());
        const QList<std::pair<int, bool>> heightAndScrolls{{32, false}, {60, false}, {88, false}, {88, true}};
        for (int i = 0; i < heightAndScrolls.size(); ++i) {
            f.model().addNeverSweep(QStringLiteral("site%1.example").arg(i));
            QCOMPARE(shownPatterns(view).size(), i + 1);
            QCOMPARE(list.height(), heightAndScrolls[i].first);
            QCOMPARE(list.verticalScrollBar()->maximum() > 0, heightAndScrolls[i].second);
        }
    }

    // Add takes more than spaces and tabs; Return hands any text to the controller, which trims and
    // folds it, and clears the field even when nothing was added.
    void theAddRowTakesMoreThanBlanks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("empty") << "" << false << QStringList();
        QTest::newRow("spaces and tabs") << " \t " << false << QStringList();
        QTest::newRow("padded letter") << " a\t" << true << QStringList{"a"};
        QTest::newRow("line break") << "\n" << true << QStringList();
        QTest::newRow("capitals") << "News.Example.org" << true << QStringList{"news.example.org"};
    }
    void theAddRowTakesMoreThanBlanks()
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
        QCOMPARE(f.model().settings().neverSweep, added);
        QCOMPARE(QFile::exists(settingsPath()), !added.isEmpty());
        QCOMPARE(shownPatterns(view), added);
    }

    // The menu adds a host and leaves what is typed; the Add button then adds that and clears it.
    void openSiteOffersTheHostsOfTheLatestSnapshot()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &openSite = child<QToolButton>(view, "openSiteButton");
        QVERIFY(!openSite.isVisible());
        auto &field = child<QLineEdit>(view, "patternField");
        QTest::keyClicks(&field, "half");

        StandinControl::setWindows({Window{1, 1, {Tab{"https://b.example/x", "B"}, Tab{"https://a.example/", "A"}}}});
        f.model().tick();
        QVERIFY(openSite.isVisible());
        QCOMPARE(openSite.text(), QStringLiteral("Open site"));
        QStringList offered;
        for (const QAction *action : openSite.menu()->actions())
            offered.append(action->text());
        QCOMPARE(offered, (QStringList{"a.example", "b.example"}));

        openSite.menu()->actions().at(1)->trigger();
        QCOMPARE(f.model().settings().neverSweep, QStringList{"b.example"});
        QCOMPARE(Settings::load().neverSweep, QStringList{"b.example"});
        QCOMPARE(field.text(), QStringLiteral("half"));
        QCOMPARE(shownPatterns(view), QStringList{"b.example"});
        QTest::mouseClick(&child<QPushButton>(view, "addPatternButton"), Qt::LeftButton);
        QCOMPARE(field.text(), QString());
        QCOMPARE(f.model().settings().neverSweep, (QStringList{"b.example", "half"}));

        StandinControl::setWindows({});
        f.model().tick();
        QVERIFY(!openSite.isVisible());
    }

    // The list is sorted for the eye; the settings keep the order the patterns were added in.
    void removingAPatternTakesItOutOfTheListAndTheFile()
    {
        storeSettings([](Settings &s) { s.neverSweep = {"keep.example", "drop.example"}; });
        Fixture f;
        SettingsView &view = f.show();
        QCOMPARE(shownPatterns(view), (QStringList{"drop.example", "keep.example"}));
        QCOMPARE(f.model().settings().neverSweep, (QStringList{"keep.example", "drop.example"}));
        QToolButton &remove = removeButtonOf(view, "drop.example");
        QCOMPARE(remove.toolTip(), QStringLiteral("Remove"));
        QTest::mouseClick(&remove, Qt::LeftButton);
        QCOMPARE(f.model().settings().neverSweep, QStringList{"keep.example"});
        QCOMPARE(Settings::load().neverSweep, QStringList{"keep.example"});
        QCOMPARE(shownPatterns(view), QStringList{"keep.example"});
        QCOMPARE(child<QScrollArea>(view, "patternList").height(), 32); // and the list shrinks back
    }

    void thePauseSwitchAndTheMenuShareOneSetting()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &pause = child<QCheckBox>(view, "pauseSwitch");
        QCOMPARE(pause.text(), QStringLiteral("Pause sweeping"));
        QVERIFY(!pause.isChecked());
        pause.click();
        QVERIFY(f.model().settings().paused);
        QVERIFY(Settings::load().paused);
        f.model().setPaused(false);
        QVERIFY(!pause.isChecked());
        QVERIFY(!Settings::load().paused);
    }

    void showingAgainBringsBackTheSameWindow()
    {
        Fixture f;
        SettingsView &first = f.show();
        QCOMPARE(first.windowTitle(), QStringLiteral("Drowsewick Settings"));
        QCOMPARE(first.size(), QSize(460, 560));
        QVERIFY(first.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(first.windowFlags() & Qt::WindowMinimizeButtonHint));
        auto &field = child<QLineEdit>(first, "patternField");
        QTest::keyClicks(&field, "half.exa");
        f.model().addNeverSweep(QStringLiteral("other.example")); // a redraw keeps what is typed
        QCOMPARE(field.text(), QStringLiteral("half.exa"));

        QVERIFY(first.close());
        QVERIFY(!first.isVisible());
        QCOMPARE(&f.show(), &first);
        QVERIFY(first.isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&first));
        QCOMPARE(field.text(), QStringLiteral("half.exa"));
    }

    void theArchiveFolderCanBeChosenAndOpened()
    {
        Fixture f;
        SettingsView &view = f.show();
        auto &folder = child<QLabel>(view, "archiveFolder");
        QCOMPARE(folder.toolTip(), f.model().settings().archiveFolder());
        const QString chosen = QDir::homePath() + QStringLiteral("/Chosen");
        f.harness.dialogs.folders.enqueue(chosen);
        QTest::mouseClick(&button(view, QStringLiteral("Choose…")), Qt::LeftButton);
        QCOMPARE(Settings::load().archiveFolderPath, chosen);
        QCOMPARE(folder.text(), chosen);

        QTest::mouseClick(&button(view, QStringLiteral("Open")), Qt::LeftButton);
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(f.harness.openedUrls, QList<QUrl>{QUrl::fromLocalFile(chosen)});
    }

    // The about section names the version, and each link opens its own page.
    void theAboutSectionLinksItsPages()
    {
        Fixture f;
        SettingsView &view = f.show();
        const QList<QLabel *> labels = view.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [&](const QLabel *label) {
            return label->text() == QStringLiteral("Drowsewick ") + f.model().version();
        }));
        const QUrl maker(QString::fromLatin1(BuildConfig::makerHomeURL));
        for (const QString &text : {maker.host(), QStringLiteral("Send feedback"), QStringLiteral("Website")}) {
            const auto link = std::find_if(labels.cbegin(), labels.cend(), [&](const QLabel *label) {
                return label->text().contains(u'>' + text + QStringLiteral("</a>"));
            });
            QVERIFY2(link != labels.cend(), qPrintable(text));
            QTest::mouseClick(*link, Qt::LeftButton, {}, (*link)->contentsRect().center());
        }
        QCOMPARE(f.harness.openedUrls, (QList<QUrl>{maker, QUrl(QString::fromLatin1(BuildConfig::feedbackURL)),
                                                    QUrl(QString::fromLatin1(BuildConfig::productPageURL))}));
    }
};

DROWSEWICK_TEST_MAIN(TestSettingsWindow, QApplication)
#include "tst_SettingsWindow.moc"
