#include "ArchiveBrowser.h"

#include "AppWindow.h"
#include "Appearance.h"
#include "DrowsewickModel.h"
#include "platform/FreedMemory.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Everything the archive window says.
namespace Text {
const QString windowTitle = QStringLiteral("Archived Tabs");
const QString searchPlaceholder = QStringLiteral("Search archived tabs");
const QString reload = QStringLiteral("Reload");
const QString reopen = QStringLiteral("Reopen");
const QString nothingArchived = QStringLiteral("No archived tabs yet.");
const QString noMatches = QStringLiteral("No matches.");
const QString nothingArchivedHelp =
    QStringLiteral("Idle Safari tabs land here as Markdown — or use “Save all open tabs”.");
const QString archivedAfterCount = QStringLiteral(" archived");
const QString openArchiveFolder = QStringLiteral("Open archive folder");
} // namespace Text

constexpr QSize windowSize(540, 480);
constexpr QSize minimumContentSize(440, 340);
constexpr int searchBarPadding = 10;
constexpr int searchBarSpacing = 8;
constexpr int footerPadding = 8;
constexpr int emptyStateSpacing = 6;
constexpr int symbolSize = 16;
constexpr int largeSymbolSize = 48;

// A row: inset from the list's edges, its two lines beside the button.
constexpr int rowInset = 10;
constexpr int rowPadding = 2;
constexpr int columnSpacing = 12;
constexpr int lineSpacing = 2;

QFrame *makeDivider()
{
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

bool isPress(const QEvent &event)
{
    return event.type() == QEvent::MouseButtonPress || event.type() == QEvent::MouseButtonDblClick;
}

} // namespace

void ArchiveListModel::setTabs(ArchivedTabs tabs)
{
    beginResetModel();
    m_tabs = std::move(tabs);
    m_search.forget();
    m_matches = {};
    filter();
    endResetModel();
}

void ArchiveListModel::setQuery(const QString &query)
{
    beginResetModel();
    m_lowerQuery = query.toLower();
    filter();
    endResetModel();
}

void ArchiveListModel::filter()
{
    if (m_lowerQuery.isEmpty())
        m_matches = {};
    else
        m_search.find(m_tabs, m_lowerQuery, m_matches);
}

int ArchiveListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_lowerQuery.isEmpty() ? m_tabs.size() : qsizetype(m_matches.size()));
}

QVariant ArchiveListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const qsizetype entry = m_lowerQuery.isEmpty() ? index.row() : m_matches[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return ArchivedTabs::text(m_tabs.title(entry));
    case UrlRole:
        return ArchivedTabs::text(m_tabs.url(entry));
    default:
        return {};
    }
}

ArchiveRowDelegate::ArchiveRowDelegate(QAbstractItemView *view) : QStyledItemDelegate(view), m_view(view)
{
}

void ArchiveRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyle *style = m_view->style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, m_view);

    const QFont caption = Appearance::captionFont(option.font);
    const QFontMetrics titleMetrics(option.font);
    const QFontMetrics captionMetrics(caption);
    const QRect button = reopenButtonRect(option.rect);
    const int left = option.rect.left() + rowInset;
    const int width = button.left() - columnSpacing - left;
    const int top = option.rect.center().y() - (titleMetrics.height() + lineSpacing + captionMetrics.height()) / 2;
    const QString title = titleMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, width);
    const QString url = captionMetrics.elidedText(index.data(ArchiveListModel::UrlRole).toString(), Qt::ElideMiddle, width);

    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(QRect(left, top, width, titleMetrics.height()), Qt::AlignLeft | Qt::TextSingleLine, title);
    painter->setFont(caption);
    painter->setPen(option.palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(left, top + titleMetrics.height() + lineSpacing, width, captionMetrics.height()),
                      Qt::AlignLeft | Qt::TextSingleLine, url);
    painter->restore();

    const QStyleOptionButton reopen = reopenButton(option.rect, m_pressed == index);
    style->drawControl(QStyle::CE_PushButton, &reopen, painter, m_view);
}

QSize ArchiveRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const int text = QFontMetrics(option.font).height() + lineSpacing
        + QFontMetrics(Appearance::captionFont(option.font)).height();
    // No width of its own: a row is as wide as the list.
    return {0, 2 * rowPadding + std::max(text, reopenButtonSize().height())};
}

bool ArchiveRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                                     const QModelIndex &index)
{
    if (!isPress(*event) && event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto *mouse = static_cast<const QMouseEvent *>(event);
    const bool onButton =
        mouse->button() == Qt::LeftButton && reopenButtonRect(option.rect).contains(mouse->position().toPoint());
    // Like a real button: it reopens when the press and the release both land on it.
    const bool clicked = !isPress(*event) && onButton && m_pressed == index;
    m_pressed = isPress(*event) && onButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
    m_view->update(index);
    if (clicked)
        emit reopenRequested(index);
    return onButton;
}

QRect ArchiveRowDelegate::reopenButtonRect(const QRect &row) const
{
    const QSize size = reopenButtonSize();
    return {QPoint(row.right() - rowInset - size.width() + 1, row.center().y() - size.height() / 2), size};
}

QStyleOptionButton ArchiveRowDelegate::reopenButton(const QRect &row, bool pressed) const
{
    QStyleOptionButton button;
    button.initFrom(m_view);
    button.state = QStyle::State_Enabled | (pressed ? QStyle::State_Sunken : QStyle::State_Raised);
    button.rect = reopenButtonRect(row);
    button.text = Text::reopen;
    return button;
}

QSize ArchiveRowDelegate::reopenButtonSize() const
{
    QStyleOptionButton button;
    button.initFrom(m_view);
    button.text = Text::reopen;
    const QSize text = m_view->fontMetrics().size(Qt::TextShowMnemonic, Text::reopen);
    return m_view->style()->sizeFromContents(QStyle::CT_PushButton, &button, text, m_view);
}

ArchiveBrowserView::ArchiveBrowserView(DrowsewickModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    m_entries = new ArchiveListModel(this);
    m_content = new QStackedWidget;
    m_content->addWidget(makeEmptyState());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSearchBar());
    layout->addWidget(makeDivider());
    layout->addWidget(m_content, 1);
    layout->addWidget(makeDivider());
    layout->addWidget(makeFooter());
    setMinimumSize(minimumContentSize);
    showEntries();
}

QWidget *ArchiveBrowserView::makeSearchBar()
{
    auto *magnifier = new QLabel;
    magnifier->setPixmap(Appearance::dimmedPixmap(Appearance::Symbol::magnifyingGlass, symbolSize));
    m_query = new QLineEdit;
    m_query->setObjectName(QStringLiteral("searchField"));
    m_query->setFrame(false);
    m_query->setPlaceholderText(Text::searchPlaceholder);
    m_clear = new QToolButton;
    m_clear->setObjectName(QStringLiteral("clearSearchButton"));
    m_clear->setAutoRaise(true);
    m_clear->setIcon(Appearance::dimmedIcon(Appearance::Symbol::clear, symbolSize));
    m_clear->hide();
    auto *reload = new QToolButton;
    reload->setObjectName(QStringLiteral("reloadButton"));
    reload->setAutoRaise(true);
    reload->setIcon(Appearance::symbol(Appearance::Symbol::reload));
    reload->setToolTip(Text::reload);

    connect(m_query, &QLineEdit::textChanged, this, &ArchiveBrowserView::search);
    connect(m_clear, &QToolButton::clicked, m_query, &QLineEdit::clear);
    connect(reload, &QToolButton::clicked, this, &ArchiveBrowserView::reload);

    auto *bar = new QWidget;
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(searchBarPadding, searchBarPadding, searchBarPadding, searchBarPadding);
    layout->setSpacing(searchBarSpacing);
    layout->addWidget(magnifier);
    layout->addWidget(m_query, 1);
    layout->addWidget(m_clear);
    layout->addWidget(reload);
    return bar;
}

QWidget *ArchiveBrowserView::makeList()
{
    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("archiveList"));
    m_list->setModel(m_entries);
    auto *rows = new ArchiveRowDelegate(m_list);
    m_list->setItemDelegate(rows);
    // Every row has the same height, so the list never measures more than one of them.
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(rows, &ArchiveRowDelegate::reopenRequested, this, &ArchiveBrowserView::reopen);
    return m_list;
}

QWidget *ArchiveBrowserView::makeEmptyState()
{
    auto *box = new QLabel;
    box->setPixmap(Appearance::dimmedPixmap(Appearance::Symbol::archiveBox, largeSymbolSize));
    box->setAlignment(Qt::AlignCenter);
    m_emptyTitle = new QLabel;
    m_emptyTitle->setObjectName(QStringLiteral("emptyTitle"));
    m_emptyTitle->setAlignment(Qt::AlignCenter);
    Appearance::makeSecondary(*m_emptyTitle);
    m_emptyCaption = new QLabel(Text::nothingArchivedHelp);
    m_emptyCaption->setObjectName(QStringLiteral("emptyCaption"));
    m_emptyCaption->setAlignment(Qt::AlignCenter);
    m_emptyCaption->setWordWrap(true);
    Appearance::makeCaption(*m_emptyCaption);

    m_emptyState = new QWidget;
    auto *layout = new QVBoxLayout(m_emptyState);
    layout->setSpacing(emptyStateSpacing);
    layout->addStretch();
    layout->addWidget(box);
    layout->addWidget(m_emptyTitle);
    layout->addWidget(m_emptyCaption);
    layout->addStretch();
    return m_emptyState;
}

QWidget *ArchiveBrowserView::makeFooter()
{
    m_count = new QLabel;
    m_count->setObjectName(QStringLiteral("archivedCount"));
    Appearance::makeCaption(*m_count);
    auto *open = new QPushButton(Text::openArchiveFolder);
    connect(open, &QPushButton::clicked, this, [this] { m_model.openArchiveFolder(); });

    auto *footer = new QWidget;
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(footerPadding, footerPadding, footerPadding, footerPadding);
    layout->addWidget(m_count);
    layout->addStretch();
    layout->addWidget(open);
    return footer;
}

void ArchiveBrowserView::reload()
{
    if (!m_list)
        m_content->addWidget(makeList());
    // The entries shown go first: never two archives in memory at once.
    m_entries->setTabs({});
    m_entries->setTabs(Archive::read(m_model.settings().archiveFolder()));
    showEntries();
}

void ArchiveBrowserView::hideEvent(QHideEvent *event)
{
    // Neither entries nor a list: a list view keeps as much memory as the longest list it laid out.
    m_entries->setTabs({});
    delete m_list;
    m_list = nullptr;
    FreedMemory::giveBack();
    QWidget::hideEvent(event);
}

void ArchiveBrowserView::search(const QString &query)
{
    m_entries->setQuery(query);
    m_clear->setVisible(!query.isEmpty());
    showEntries();
}

void ArchiveBrowserView::showEntries()
{
    const bool loaded = m_entries->totalCount() > 0;
    m_content->setCurrentWidget(m_entries->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_emptyState);
    m_emptyTitle->setText(loaded ? Text::noMatches : Text::nothingArchived);
    m_emptyCaption->setVisible(!loaded);
    m_count->setText(QString::number(m_entries->totalCount()) + Text::archivedAfterCount);
}

void ArchiveBrowserView::reopen(const QModelIndex &index)
{
    try {
        m_model.bridge().open(index.data(ArchiveListModel::UrlRole).toString());
    } catch (const SafariError &) {
        // Nothing to tell: the entry stays, in the list and in its file.
    }
}

ArchiveBrowserController::ArchiveBrowserController() = default;
ArchiveBrowserController::~ArchiveBrowserController() = default;

ArchiveBrowserController &ArchiveBrowserController::shared()
{
    // Never released: the window lives as long as the program.
    static auto *const instance = new ArchiveBrowserController;
    return *instance;
}

void ArchiveBrowserController::show(DrowsewickModel &model)
{
    if (!m_window) {
        m_window = std::make_unique<ArchiveBrowserView>(model);
        AppWindow::setUp(*m_window, Text::windowTitle, windowSize);
    }
    // A sweep may have archived tabs since the window was last in front.
    m_window->reload();
    AppWindow::bringToFront(*m_window);
}
