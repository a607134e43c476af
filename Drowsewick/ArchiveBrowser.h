#pragma once

#include "Archive.h"
#include "ArchiveSearch.h"

#include <QAbstractListModel>
#include <QPersistentModelIndex>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QWidget>

#include <memory>
#include <vector>

class DrowsewickModel;
class QLabel;
class QLineEdit;
class QListView;
class QStackedWidget;
class QToolButton;

// Every archived tab that was loaded, and the ones the search keeps, in archive order. A row's
// texts are made when it is asked for, which is when it is painted.
class ArchiveListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { UrlRole = Qt::UserRole };

    using QAbstractListModel::QAbstractListModel;

    // Takes these entries in place of the ones it had; none lets go of them all.
    void setTabs(ArchivedTabs tabs);
    // Keeps the entries whose title, or else address, holds the query, case folded. Spaces count.
    void setQuery(const QString &query);
    qsizetype totalCount() const { return m_tabs.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void filter();

    ArchivedTabs m_tabs;
    ArchiveSearch m_search;
    QString m_lowerQuery;
    // The entries the search kept; unused while there is no query and every entry is a row.
    std::vector<int> m_matches;
};

// Paints every row of the list: the title, the address below it, and a "Reopen" button at the
// trailing edge. One delegate for all rows, so a row costs no widget.
class ArchiveRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ArchiveRowDelegate(QAbstractItemView *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // Where the button of a row lies, given the row's rectangle.
    QRect reopenButtonRect(const QRect &row) const;

signals:
    void reopenRequested(const QModelIndex &index);

private:
    QStyleOptionButton reopenButton(const QRect &row, bool pressed) const;
    QSize reopenButtonSize() const;

    QAbstractItemView *m_view;
    QPersistentModelIndex m_pressed;
};

// The archive window's content: a search bar, the list of archived tabs, and a footer.
class ArchiveBrowserView : public QWidget
{
    Q_OBJECT

public:
    explicit ArchiveBrowserView(DrowsewickModel &model, QWidget *parent = nullptr);

    // Reads every archive file again. The search text stays.
    void reload();

protected:
    // A hidden window holds no entries: the next show reads the archive again anyway.
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makeSearchBar();
    // The list of a shown window; made by reload().
    QWidget *makeList();
    QWidget *makeEmptyState();
    QWidget *makeFooter();
    void search(const QString &query);
    void showEntries();
    void reopen(const QModelIndex &index);

    DrowsewickModel &m_model;
    ArchiveListModel *m_entries = nullptr;
    QLineEdit *m_query = nullptr;
    QToolButton *m_clear = nullptr;
    QStackedWidget *m_content = nullptr;
    QListView *m_list = nullptr;
    QWidget *m_emptyState = nullptr;
    QLabel *m_emptyTitle = nullptr;
    QLabel *m_emptyCaption = nullptr;
    QLabel *m_count = nullptr;
};

// Owns the one archive window: made on the first show(), then only hidden and shown again.
class ArchiveBrowserController
{
public:
    ArchiveBrowserController();
    ~ArchiveBrowserController();

    // The application's one instance.
    static ArchiveBrowserController &shared();

    // Brings the window to the front with a fresh read of the archive, making it on first use for
    // this controller. The window stays on the controller it was made with.
    void show(DrowsewickModel &model);
    // The window, once show() has made it.
    ArchiveBrowserView *window() const { return m_window.get(); }

private:
    std::unique_ptr<ArchiveBrowserView> m_window;
};
