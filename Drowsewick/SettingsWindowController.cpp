#include "SettingsWindowController.h"

#include "AppWindow.h"
#include "Appearance.h"
#include "BuildConfig.h"
#include "DrowsewickModel.h"
#include "platform/LoginItem.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

// Everything the settings window says.
namespace Text {
const QString windowTitle = QStringLiteral("Drowsewick Settings");
const QString sweeping = QStringLiteral("Sweeping");
const QString daysBefore = QStringLiteral("Sweep tabs idle for ");
const QString daysAfter = QStringLiteral(" days");
const QString intervalBefore = QStringLiteral("Check Safari every ");
const QString intervalAfter = QStringLiteral(" min");
const QString pause = QStringLiteral("Pause sweeping");
const QString openAtLogin = QStringLiteral("Open at login");
const QString neverSweep = QStringLiteral("Never sweep");
const QString neverSweepHelp =
    QStringLiteral("Tabs whose address contains one of these are never swept. A bare domain protects the whole site.");
const QString remove = QStringLiteral("Remove");
const QString patternField = QStringLiteral("Never sweep pattern");
const QString patternExample = QStringLiteral("example.com");
const QString add = QStringLiteral("Add");
const QString openSite = QStringLiteral("Open site");
const QString archive = QStringLiteral("Archive");
const QString choose = QStringLiteral("Choose…");
const QString open = QStringLiteral("Open");
const QString about = QStringLiteral("About");
const QString productName = QStringLiteral("Drowsewick");
const QString sendFeedback = QStringLiteral("Send feedback");
const QString website = QStringLiteral("Website");
// The maker's home page is named by its host.
QString makerHome()
{
    return QUrl(QString::fromLatin1(BuildConfig::makerHomeURL)).host();
}
} // namespace Text

constexpr QSize windowSize(460, 560);
constexpr QSize formMinimumSize(460, 420);
constexpr qint64 secondsPerMinute = 60;

// The list of patterns grows by one row pitch per pattern until three fit, then scrolls.
constexpr int patternRowHeight = 20;
constexpr int patternRowItemSpacing = 10;
constexpr int patternRowSpacing = 8;
constexpr int patternListPadding = 2;
constexpr int patternRowPitch = 28;
constexpr int patternListMaxHeight = 88;
constexpr int symbolSize = 16;

// Spaces and tabs alone are no pattern. A line break is left for the controller to trim.
bool holdsMoreThanBlanks(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c != u' ' && c != u'\t'; });
}

void changeSettings(DrowsewickModel &model, const std::function<void(Settings &)> &change)
{
    Settings settings = model.settings();
    change(settings);
    model.setSettings(settings);
}

QGroupBox *makeSection(const QString &title, QLayout *rows)
{
    auto *section = new QGroupBox(title);
    section->setLayout(rows);
    return section;
}

} // namespace

// A number with its label and two step buttons. Showing a number never changes it, not even one
// outside the range (a hand-edited settings file). From there only the step toward the range is
// offered, and it lands on the range's nearer end, so the user can always step back into it.
class SettingsView::Stepper : public QWidget
{
public:
    struct Range
    {
        qint64 minimum;
        qint64 maximum;
        qint64 step;
    };

    Stepper(QString before, QString after, Range range, std::function<void(qint64)> stepped)
        : m_before(std::move(before)),
          m_after(std::move(after)),
          m_range(range),
          m_stepped(std::move(stepped)),
          m_label(new QLabel),
          m_down(makeButton(Qt::DownArrow, QStringLiteral("stepDown"))),
          m_up(makeButton(Qt::UpArrow, QStringLiteral("stepUp")))
    {
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_label);
        layout->addStretch();
        layout->addWidget(m_down);
        layout->addWidget(m_up);
        connect(m_down, &QToolButton::clicked, this, [this] { step(-m_range.step); });
        connect(m_up, &QToolButton::clicked, this, [this] { step(m_range.step); });
    }

    void setValue(qint64 value)
    {
        m_value = value;
        m_label->setText(m_before + QString::number(value) + m_after);
        m_down->setEnabled(value > m_range.minimum);
        m_up->setEnabled(value < m_range.maximum);
    }

private:
    static QToolButton *makeButton(Qt::ArrowType arrow, const QString &name)
    {
        auto *button = new QToolButton;
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setObjectName(name);
        return button;
    }

    void step(qint64 delta)
    {
        setValue(std::clamp(m_value + delta, m_range.minimum, m_range.maximum));
        m_stepped(m_value);
    }

    QString m_before;
    QString m_after;
    Range m_range;
    std::function<void(qint64)> m_stepped;
    qint64 m_value = 0;
    QLabel *m_label;
    QToolButton *m_down;
    QToolButton *m_up;
};

// One line of text that gives up its middle, not its ends, when the window is too narrow: the
// start and the last folder of a path are what tell it apart.
class SettingsView::PathLabel : public QLabel
{
public:
    void setFullText(const QString &text)
    {
        m_fullText = text;
        setToolTip(text);
        elide();
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(m_fullText), QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, width())); }

    QString m_fullText;
};

NeverSweepAdd::NeverSweepAdd(DrowsewickModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_text(new QLineEdit), m_add(new QPushButton(Text::add)), m_openSite(new QToolButton)
{
    m_text->setObjectName(QStringLiteral("patternField"));
    m_text->setAccessibleName(Text::patternField);
    m_text->setPlaceholderText(Text::patternExample);
    m_add->setObjectName(QStringLiteral("addPatternButton"));
    m_openSite->setObjectName(QStringLiteral("openSiteButton"));
    m_openSite->setText(Text::openSite);
    m_openSite->setPopupMode(QToolButton::InstantPopup);
    m_openSite->setMenu(new QMenu(m_openSite));
    m_openSite->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    layout->addWidget(m_add);
    layout->addWidget(m_openSite);

    connect(m_text, &QLineEdit::textChanged, this, &NeverSweepAdd::enableAdd);
    connect(m_text, &QLineEdit::returnPressed, this, &NeverSweepAdd::add);
    connect(m_add, &QPushButton::clicked, this, &NeverSweepAdd::add);
    connect(m_openSite->menu(), &QMenu::triggered, this, [this](QAction *host) { m_model.addNeverSweep(host->text()); });
    enableAdd();
    showOpenSites();
}

void NeverSweepAdd::showOpenSites()
{
    const QStringList hosts = m_model.openHosts();
    QMenu *menu = m_openSite->menu();
    menu->clear();
    for (const QString &host : hosts)
        menu->addAction(host);
    m_openSite->setVisible(!hosts.isEmpty());
}

void NeverSweepAdd::add()
{
    // Cleared even when the controller took nothing (a duplicate, only blanks).
    m_model.addNeverSweep(m_text->text());
    m_text->clear();
}

void NeverSweepAdd::enableAdd()
{
    m_add->setEnabled(holdsMoreThanBlanks(m_text->text()));
}

SettingsView::SettingsView(DrowsewickModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *form = new QWidget;
    auto *sections = new QVBoxLayout(form);
    sections->addWidget(makeSweepingSection());
    sections->addWidget(makeNeverSweepSection());
    sections->addWidget(makeArchiveSection());
    sections->addWidget(makeAboutSection());
    sections->addStretch();

    // The form scrolls when the window is made shorter than the form.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(form);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    setMinimumSize(formMinimumSize);

    connect(&m_model, &DrowsewickModel::settingsChanged, this, &SettingsView::showSettings);
    connect(&m_model, &DrowsewickModel::lastTabsChanged, m_addRow, &NeverSweepAdd::showOpenSites);
    showSettings();
}

QWidget *SettingsView::makeSweepingSection()
{
    constexpr Stepper::Range dayRange{1, 90, 1};
    constexpr Stepper::Range minuteRange{5, 240, 5};
    m_days = new Stepper(Text::daysBefore, Text::daysAfter, dayRange, [this](qint64 days) { setDays(days); });
    m_days->setObjectName(QStringLiteral("daysStepper"));
    m_interval = new Stepper(Text::intervalBefore, Text::intervalAfter, minuteRange,
                             [this](qint64 minutes) { setIntervalMinutes(minutes); });
    m_interval->setObjectName(QStringLiteral("intervalStepper"));
    m_pause = new QCheckBox(Text::pause);
    m_pause->setObjectName(QStringLiteral("pauseSwitch"));
    // Only what the user clicks is written, never what the window shows.
    connect(m_pause, &QCheckBox::clicked, this, [this](bool paused) { m_model.setPaused(paused); });
    m_openAtLogin = new QCheckBox(Text::openAtLogin);
    m_openAtLogin->setObjectName(QStringLiteral("openAtLoginSwitch"));
    // The switch shows what is in place afterwards, so a refused write leaves it as it was.
    connect(m_openAtLogin, &QCheckBox::clicked, this, [this](bool open) {
        LoginItem::setEnabled(open);
        showOpenAtLogin();
    });

    auto *rows = new QVBoxLayout;
    rows->addWidget(m_days);
    rows->addWidget(m_interval);
    rows->addWidget(m_pause);
    rows->addWidget(m_openAtLogin);
    return makeSection(Text::sweeping, rows);
}

QWidget *SettingsView::makeNeverSweepSection()
{
    auto *help = new QLabel(Text::neverSweepHelp);
    help->setWordWrap(true);
    Appearance::makeCaption(*help);

    auto *rows = new QWidget;
    m_patternRows = new QVBoxLayout(rows);
    m_patternRows->setSpacing(patternRowSpacing);
    m_patternRows->setContentsMargins(0, patternListPadding, 0, patternListPadding);
    m_patternRows->addStretch();
    m_patternList = new QScrollArea;
    m_patternList->setObjectName(QStringLiteral("patternList"));
    m_patternList->setFrameShape(QFrame::NoFrame);
    m_patternList->setWidgetResizable(true);
    m_patternList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_patternList->setWidget(rows);

    m_addRow = new NeverSweepAdd(m_model);
    auto *layout = new QVBoxLayout;
    layout->addWidget(help);
    layout->addWidget(m_patternList);
    layout->addWidget(m_addRow);
    return makeSection(Text::neverSweep, layout);
}

QWidget *SettingsView::makeArchiveSection()
{
    m_folder = new PathLabel;
    m_folder->setObjectName(QStringLiteral("archiveFolder"));
    Appearance::makeCaption(*m_folder);
    auto *choose = new QPushButton(Text::choose);
    connect(choose, &QPushButton::clicked, this, [this] { m_model.chooseArchiveFolder(); });
    auto *open = new QPushButton(Text::open);
    connect(open, &QPushButton::clicked, this, [this] { m_model.openArchiveFolder(); });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(choose);
    buttons->addStretch();
    buttons->addWidget(open);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_folder);
    layout->addLayout(buttons);
    return makeSection(Text::archive, layout);
}

QWidget *SettingsView::makeAboutSection()
{
    auto *name = new QLabel(Text::productName + u' ' + m_model.version());
    QLabel *maker = makeLink(Text::makerHome(), BuildConfig::makerHomeURL);
    maker->setFont(Appearance::captionFont(maker->font()));
    auto *identity = new QVBoxLayout;
    identity->setSpacing(2);
    identity->addWidget(name);
    identity->addWidget(maker);

    auto *layout = new QHBoxLayout;
    layout->addLayout(identity);
    layout->addStretch();
    layout->addWidget(makeLink(Text::sendFeedback, BuildConfig::feedbackURL));
    layout->addWidget(makeLink(Text::website, BuildConfig::productPageURL));
    return makeSection(Text::about, layout);
}

QLabel *SettingsView::makeLink(const QString &text, const char *url)
{
    const QUrl address(QString::fromLatin1(url));
    auto *link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(address.toString(QUrl::FullyEncoded).toHtmlEscaped(), text.toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(link, &QLabel::linkActivated, this, [this, address] { m_model.openUrl(address); });
    return link;
}

void SettingsView::showSettings()
{
    const Settings &settings = m_model.settings();
    m_days->setValue(settings.days);
    m_interval->setValue(settings.pollSeconds / secondsPerMinute);
    m_pause->setChecked(settings.paused);
    showPatterns(settings.neverSweep);
    m_folder->setFullText(settings.archiveFolder());
}

// The login item can change behind the app's back (the system's own settings), so it is read again
// whenever the window comes up.
void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showOpenAtLogin();
}

void SettingsView::showOpenAtLogin()
{
    m_openAtLogin->setChecked(LoginItem::isEnabled());
}

void SettingsView::showPatterns(QStringList patterns)
{
    std::sort(patterns.begin(), patterns.end());
    const int count = int(patterns.size());
    m_patternList->setFixedHeight(std::min(patternRowPitch * count + 2 * patternListPadding, patternListMaxHeight));
    m_patternList->setVisible(count > 0);
    // Rows are only rebuilt when the list changed, so a selection in them survives other changes.
    if (patterns == m_shownPatterns)
        return;
    m_shownPatterns = patterns;
    // Later: the click that removes a pattern is still being delivered to its row.
    for (QWidget *row : m_patternList->widget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        row->hide();
        row->deleteLater();
    }
    for (const QString &pattern : patterns)
        m_patternRows->insertWidget(m_patternRows->count() - 1, makePatternRow(pattern));
}

QWidget *SettingsView::makePatternRow(const QString &pattern)
{
    auto *icon = new QLabel;
    icon->setPixmap(Appearance::dimmedPixmap(Appearance::Symbol::handRaised, symbolSize));
    icon->setFixedWidth(symbolSize);
    auto *text = new QLabel(pattern);
    text->setObjectName(QStringLiteral("pattern"));
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *remove = new QToolButton;
    remove->setObjectName(QStringLiteral("removePatternButton"));
    remove->setAutoRaise(true);
    remove->setIcon(Appearance::dimmedIcon(Appearance::Symbol::clear, symbolSize));
    remove->setFixedSize(patternRowHeight, patternRowHeight);
    remove->setToolTip(Text::remove);
    connect(remove, &QToolButton::clicked, this, [this, pattern] { m_model.removeNeverSweep(pattern); });

    auto *row = new QWidget;
    row->setFixedHeight(patternRowHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(patternRowItemSpacing);
    layout->addWidget(icon);
    layout->addWidget(text);
    layout->addStretch();
    layout->addWidget(remove);
    return row;
}

void SettingsView::setDays(qint64 days)
{
    changeSettings(m_model, [days](Settings &settings) { settings.days = days; });
}

void SettingsView::setIntervalMinutes(qint64 minutes)
{
    changeSettings(m_model, [minutes](Settings &settings) { settings.pollSeconds = minutes * secondsPerMinute; });
    m_model.restartTimer();
}

SettingsWindowController::SettingsWindowController() = default;
SettingsWindowController::~SettingsWindowController() = default;

SettingsWindowController &SettingsWindowController::shared()
{
    // Never released: the window lives as long as the program.
    static auto *const instance = new SettingsWindowController;
    return *instance;
}

void SettingsWindowController::show(DrowsewickModel &model)
{
    if (!m_window) {
        m_window = std::make_unique<SettingsView>(model);
        AppWindow::setUp(*m_window, Text::windowTitle, windowSize);
    }
    AppWindow::bringToFront(*m_window);
}
