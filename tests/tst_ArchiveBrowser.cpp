#include "ArchiveBrowser.h"
#include "ModelHarness.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>

#include <stdexcept>

namespace {

using StandinControl::Tab;
using StandinControl::Window;

QStringList listedTitles(QWidget &view)
{
    const QAbstractItemModel *rows = child<QListView>(view, "archiveList").model();
    QStringList titles;
    for (int row = 0; row < rows->rowCount(); ++row)
        titles.append(rows->index(row, 0).data().toString());
    return titles;
}

// Three tabs swept one morning, in this order.
const QList<SafariTab> sweptTabs = {
    SafariTab(1, QStringLiteral("https://docs.example.org/guide"), QStringLiteral("Guide")),
    SafariTab(1, QStringLiteral("https://news.example.com/today"), QStringLiteral("Morning News")),
    SafariTab(1, QStringLiteral("https://files.example.net/a b"), QStringLiteral("Files")),
};

// A controller on the stand-in, and an archive window of its own.
struct Fixture
{
    ModelHarness harness;
    ArchiveBrowserController windows;

    QString folder() const { return harness.model->settings().archiveFolder(); }
    void archive(const QList<SafariTab> &tabs) { Archive::append(tabs, folder(), harness.now); }
    ArchiveBrowserView &show()
    {
        windows.show(*harness.model);
        QCoreApplication::processEvents();
        return *windows.window();
    }
};

void clickReopen(QWidget &view, int row)
{
    auto &list = child<QListView>(view, "archiveList");
    const auto *rows = qobject_cast<ArchiveRowDelegate *>(list.itemDelegate());
    const QRect button = rows->reopenButtonRect(list.visualRect(list.model()->index(row, 0)));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, button.center());
}

} // namespace

class TestArchiveBrowser : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(Settings::defaultArchiveFolder()).removeRecursively();
        StandinControl::setWindows({});
    }

    // With nothing archived yet, the window says where tabs will come from; its footer's one button
    // opens the archive folder, made first if need be.
    void anEmptyArchiveExplainsItselfAndOffersItsFolder()
    {
        Fixture f;
        ArchiveBrowserView &view = f.show();
        QCOMPARE(view.windowTitle(), QStringLiteral("Archived Tabs"));
        QCOMPARE(view.size(), QSize(540, 480));
        QCOMPARE(view.minimumSize(), QSize(440, 340));
        QVERIFY(!child<QListView>(view, "archiveList").isVisible());
        QVERIFY(child<QLabel>(view, "emptyTitle").isVisible());
        QCOMPARE(child<QLabel>(view, "emptyTitle").text(), QStringLiteral("No archived tabs yet."));
        QVERIFY(child<QLabel>(view, "emptyCaption").isVisible());
        QCOMPARE(child<QLabel>(view, "emptyCaption").text(),
                 QStringLiteral("Idle Safari tabs land here as Markdown — or use “Save all open tabs”."));
        QCOMPARE(child<QLabel>(view, "archivedCount").text(), QStringLiteral("0 archived"));

        const QList<QPushButton *> buttons = view.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons[0]->text(), QStringLiteral("Open archive folder"));
        QTest::mouseClick(buttons[0], Qt::LeftButton);
        QVERIFY(QFileInfo(f.folder()).isDir());
        QCOMPARE(f.harness.openedUrls, QList<QUrl>{QUrl::fromLocalFile(f.folder())});
    }

    // What no entry matches is said in place of the list, without the caption for an empty archive;
    // the count stays that of the whole archive.
    void theSearchFoldsCaseAndKeepsSpaces_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("nothing typed") << "" << QStringList{"Guide", "Morning News", "Files"};
        QTest::newRow("capitals find a lower-case address") << "DOCS.EXAMPLE" << QStringList{"Guide"};
        QTest::newRow("mixed case title") << "mOrNiNg" << QStringList{"Morning News"};
        QTest::newRow("a space") << " " << QStringList{"Morning News", "Files"};
        QTest::newRow("shared by all, order kept") << "example" << QStringList{"Guide", "Morning News", "Files"};
        QTest::newRow("a trailing space counts") << "guide " << QStringList();
        QTest::newRow("no match") << "nowhere" << QStringList();
    }
    void theSearchFoldsCaseAndKeepsSpaces()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, titles);
        Fixture f;
        f.archive(sweptTabs);
        ArchiveBrowserView &view = f.show();
        QTest::keyClicks(&child<QLineEdit>(view, "searchField"), query);
        QCOMPARE(listedTitles(view), titles);
        QCOMPARE(child<QListView>(view, "archiveList").isVisible(), !titles.isEmpty());
        QCOMPARE(child<QLabel>(view, "emptyTitle").text(), QStringLiteral("No matches."));
        QVERIFY(!child<QLabel>(view, "emptyCaption").isVisible());
        QCOMPARE(child<QLabel>(view, "archivedCount").text(), QStringLiteral("3 archived"));
    }

    // A refused reopen changes nothing; an allowed one opens the address. Either way the entry stays
    // in the list and in its file, and a click beside the button reopens nothing.
    void reopenOpensTheAddressAndKeepsTheEntry()
    {
        const QList<Window> oneTab{Window{1, 1, {Tab{"https://open.example/", "Open"}}}};
        StandinControl::setWindows(oneTab, QJsonObject{{"automation", "denied"}});
        Fixture f;
        f.archive(sweptTabs);
        ArchiveBrowserView &view = f.show();
        QTest::keyClicks(&child<QLineEdit>(view, "searchField"), "news");
        clickReopen(view, 0);
        QCOMPARE(StandinControl::openUrls(), QStringList{"https://open.example/"});
        QCOMPARE(listedTitles(view), QStringList{"Morning News"});

        StandinControl::setWindows(oneTab);
        clickReopen(view, 0);
        QCOMPARE(StandinControl::openUrls().size(), 2);
        QVERIFY(StandinControl::openUrls().contains(QStringLiteral("https://news.example.com/today")));
        QCOMPARE(listedTitles(view), QStringList{"Morning News"});
        QCOMPARE(Archive::all(f.folder()).size(), 3);

        // Beside the button, a click reopens nothing.
        auto &list = child<QListView>(view, "archiveList");
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(0, 0)).topLeft() + QPoint(20, 5));
        QCOMPARE(StandinControl::openUrls().size(), 2);
    }

    // The search and its clear button stay as they were while the window is hidden; clearing the
    // search hides the button and lists everything again.
    void showingAgainBringsBackTheSameWindowAndSearch()
    {
        Fixture f;
        f.archive(sweptTabs);
        ArchiveBrowserView &first = f.show();
        auto &field = child<QLineEdit>(first, "searchField");
        auto &clear = child<QToolButton>(first, "clearSearchButton");
        QCOMPARE(field.placeholderText(), QStringLiteral("Search archived tabs"));
        QVERIFY(!clear.isVisible());
        QTest::keyClicks(&field, "G"); // the first character brings the button
        QVERIFY(clear.isVisible());
        QTest::keyClicks(&field, "uide");
        QVERIFY(first.close());
        QVERIFY(!first.isVisible());
        QCOMPARE(&f.show(), &first);
        QVERIFY(first.isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&first));
        QCOMPARE(field.text(), QStringLiteral("Guide"));
        QCOMPARE(listedTitles(first), QStringList{"Guide"});

        QTest::mouseClick(&clear, Qt::LeftButton);
        QCOMPARE(field.text(), QString());
        QVERIFY(!clear.isVisible());
        QCOMPARE(listedTitles(first).size(), 3);
    }

    void aTabArchivedTwiceIsListedTwice()
    {
        Fixture f;
        f.archive({sweptTabs[0]});
        ArchiveBrowserView &view = f.show();
        QCOMPARE(listedTitles(view), QStringList{"Guide"});
        f.archive({sweptTabs[0]});
        QCOMPARE(listedTitles(view), QStringList{"Guide"}); // only a reload reads the archive again
        QTest::mouseClick(&child<QToolButton>(view, "reloadButton"), Qt::LeftButton);
        QCOMPARE(listedTitles(view), (QStringList{"Guide", "Guide"}));
        QCOMPARE(child<QLabel>(view, "archivedCount").text(), QStringLiteral("2 archived"));
    }
};

DROWSEWICK_TEST_MAIN(TestArchiveBrowser, QApplication)
#include "tst_ArchiveBrowser.moc"
