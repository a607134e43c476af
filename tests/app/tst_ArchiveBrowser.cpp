#include "ArchiveBrowser.h"
#include "ModelHarness.h"
#include "TestHome.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>

namespace {

QStringList listedTitles(QWidget &view)
{
    const QAbstractItemModel *rows = child<QListView>(view, "archiveList").model();
    QStringList titles;
    for (int row = 0; row < rows->rowCount(); ++row)
        titles.append(rows->index(row, 0).data().toString());
    return titles;
}

void click(QWidget &view, int row, QPoint offset = {})
{
    auto &list = child<QListView>(view, "archiveList");
    const QRect rect = list.visualRect(list.model()->index(row, 0));
    const QRect button = qobject_cast<ArchiveRowDelegate *>(list.itemDelegate())->reopenButtonRect(rect);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, offset.isNull() ? button.center() : rect.topLeft() + offset);
}

} // namespace

class TestArchiveBrowser : public QObject
{
    Q_OBJECT

private slots:
    // With nothing archived, the window says where tabs come from, and its one button opens the
    // archive folder. The search keeps what matches, says when nothing does, and stays while the
    // window is hidden; a hidden window lets go of its entries, and showing or reloading reads the
    // archive again. A refused reopen opens nothing, an allowed one the row's address, and neither
    // drops the entry; a click beside the button reopens nothing.
    void searchReopenAndShowAgain()
    {
        ModelHarness h;
        ArchiveBrowserController windows;
        windows.show(*h.model);
        ArchiveBrowserView &view = *windows.window();
        QCOMPARE(child<QLabel>(view, "emptyTitle").text(), u"No archived tabs yet."_qs);
        QCOMPARE(child<QLabel>(view, "emptyCaption").text(),
                 u"Idle Safari tabs land here as Markdown — or use “Save all open tabs”."_qs);
        QVERIFY(child<QLabel>(view, "emptyCaption").isVisible());
        QTest::mouseClick(view.findChild<QPushButton *>(), Qt::LeftButton);
        const QString folder = h.model->settings().archiveFolder();
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(folder)});

        Archive::append({SafariTab(1, u"https://docs.example.org/guide"_qs, u"Guide"_qs),
                         SafariTab(1, u"https://news.example.com/today"_qs, u"Morning News"_qs)}, folder, h.now);
        QTest::mouseClick(&child<QToolButton>(view, "reloadButton"), Qt::LeftButton);
        auto &field = child<QLineEdit>(view, "searchField");
        auto &clear = child<QToolButton>(view, "clearSearchButton");
        QTest::keyClicks(&field, "nowhere");
        QVERIFY(!child<QListView>(view, "archiveList").isVisible());
        QCOMPARE(child<QLabel>(view, "emptyTitle").text(), u"No matches."_qs);
        QVERIFY(!child<QLabel>(view, "emptyCaption").isVisible());
        QTest::mouseClick(&clear, Qt::LeftButton);
        QVERIFY(!clear.isVisible());
        QCOMPARE(listedTitles(view), (QStringList{"Guide", "Morning News"}));
        QTest::keyClicks(&field, "NEWS");
        QCOMPARE(child<QLabel>(view, "archivedCount").text(), u"2 archived"_qs); // all of them, not the matches

        QVERIFY(view.close());
        QCOMPARE(view.findChild<QListView *>("archiveList"), nullptr);
        Archive::append({SafariTab(1, u"https://later.example/news"_qs, u"Later news"_qs)}, folder, h.now);
        windows.show(*h.model);
        QCOMPARE(windows.window(), &view);
        QCOMPARE(field.text(), u"NEWS"_qs);
        QVERIFY(clear.isVisible());
        QCOMPARE(listedTitles(view), (QStringList{"Morning News", "Later news"}));

        Standin::setWindows({Standin::Window{1, 1, {Standin::Tab{"https://open.example/", "Open"}}}},
                            QJsonObject{{"automation", "denied"}});
        click(view, 1);
        QCOMPARE(Standin::openUrls(), QStringList{"https://open.example/"});
        Standin::setWindows({Standin::Window{1, 1, {Standin::Tab{"https://open.example/", "Open"}}}});
        click(view, 1, QPoint(20, 5));
        click(view, 1);
        QCOMPARE(Standin::openUrls(), (QStringList{"https://open.example/", "https://later.example/news"}));
        QCOMPARE(listedTitles(view).size(), 2);
    }
};

DROWSEWICK_TEST_MAIN(TestArchiveBrowser, QApplication)
#include "tst_ArchiveBrowser.moc"
