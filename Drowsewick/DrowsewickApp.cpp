#include "DrowsewickApp.h"

#include "ArchiveBrowser.h"
#include "DrowsewickModel.h"
#include "SettingsWindowController.h"
#include "platform/NotificationPoster.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QPainterPath>

namespace Text {
const QString allowAccess = QStringLiteral("Allow Safari access…");
const QString saveAll = QStringLiteral("Save all open tabs");
const QString sweepNow = QStringLiteral("Sweep idle tabs now");
const QString pause = QStringLiteral("Pause sweeping");
const QString archived = QStringLiteral("Archived tabs…");
const QString openFolder = QStringLiteral("Open archive folder");
const QString settings = QStringLiteral("Settings…");
const QString installing = QStringLiteral("Installing update…");
const QString checkForUpdates = QStringLiteral("Check for Updates…");
const QString checkingForUpdates = QStringLiteral("Checking for Updates…");
const QString quit = QStringLiteral("Quit Drowsewick");
const QString accessNeeded = QStringLiteral("Safari access needed — click below");
const QString safariNotOpen = QStringLiteral("Safari not open");
QString counts(qint64 tracked, qint64 stale, qint64 days)
{
    return QStringLiteral("%1 tabs · %2 idle ≥ %3d").arg(tracked).arg(stale).arg(days);
}
QString updateTo(const QString &version)
{
    return QStringLiteral("Update to ") + version + QStringLiteral("…");
}
} // namespace Text

namespace {

// Two stacked cards: the menu-bar picture of a pile of tabs. Drawn in black only, so that on
// macOS it works as a template image that follows the menu bar's appearance.
QIcon stackIcon()
{
    QPixmap pixmap(44, 44);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 3.5));
    painter.drawRoundedRect(QRectF(6, 16, 32, 22), 4, 4);
    painter.drawLine(QPointF(10, 10), QPointF(34, 10));
    painter.drawLine(QPointF(14, 4.5), QPointF(30, 4.5));
    QIcon icon(pixmap);
    icon.setIsMask(true);
    return icon;
}

QFont captionFont(qreal scale)
{
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * scale);
    return font;
}

} // namespace

MenuInputs MenuInputs::of(const DrowsewickModel &model, bool selfUpdate)
{
    MenuInputs inputs;
    inputs.permissionDenied = model.permissionDenied();
    inputs.trackedCount = model.trackedCount();
    inputs.staleCount = model.staleCount();
    inputs.days = model.settings().days;
    inputs.paused = model.settings().paused;
    inputs.lastSweepSummary = model.lastSweepSummary();
    if (model.availableUpdate())
        inputs.updateVersion = model.availableUpdate()->version;
    inputs.isUpdating = model.isUpdating();
    inputs.isCheckingForUpdate = model.isCheckingForUpdate();
    inputs.selfUpdate = selfUpdate;
    return inputs;
}

MenuState MenuState::of(const MenuInputs &inputs)
{
    MenuState state;
    if (inputs.permissionDenied)
        state.statusLine = Text::accessNeeded;
    else if (inputs.trackedCount == 0)
        state.statusLine = Text::safariNotOpen;
    else
        state.statusLine = Text::counts(inputs.trackedCount, inputs.staleCount, inputs.days);
    state.allowAccessVisible = inputs.permissionDenied;
    state.paused = inputs.paused;
    state.summary = {inputs.lastSweepSummary, !inputs.lastSweepSummary.isEmpty(), false};
    state.update = {inputs.isUpdating ? Text::installing : Text::updateTo(inputs.updateVersion.value_or(QString())),
                    inputs.selfUpdate && inputs.updateVersion.has_value(), !inputs.isUpdating};
    state.checkForUpdates = {inputs.isCheckingForUpdate ? Text::checkingForUpdates : Text::checkForUpdates,
                             inputs.selfUpdate, !inputs.isCheckingForUpdate && !inputs.isUpdating};
    return state;
}

DrowsewickApp::DrowsewickApp(DrowsewickModel &model, bool selfUpdate)
    : m_model(model), m_selfUpdate(selfUpdate)
{
    buildMenu();
    refresh();
    for (auto signal : {&DrowsewickModel::trackedCountChanged, &DrowsewickModel::staleCountChanged,
                        &DrowsewickModel::lastSweepSummaryChanged, &DrowsewickModel::permissionDeniedChanged,
                        &DrowsewickModel::settingsChanged, &DrowsewickModel::availableUpdateChanged,
                        &DrowsewickModel::isUpdatingChanged, &DrowsewickModel::isCheckingForUpdateChanged})
        connect(&m_model, signal, this, &DrowsewickApp::refresh);
    // Made even while there is no tray: Qt shows the icon once one appears, as when a panel
    // starts after the program at login.
    m_tray = new QSystemTrayIcon(stackIcon(), this);
    m_tray->setToolTip(QStringLiteral("Drowsewick"));
    m_tray->setContextMenu(&m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, &DrowsewickApp::trayClicked);
    m_tray->show();
    NotificationPoster::useTrayIcon(m_tray);
}

void DrowsewickApp::trayClicked(QSystemTrayIcon::ActivationReason reason)
{
    // The menu is the whole interface, so a left click opens it as a right click does. Qt's macOS
    // status item opens it on every click by itself.
    if (reason == QSystemTrayIcon::Trigger && QGuiApplication::platformName() != QLatin1String("cocoa"))
        m_menu.popup(QCursor::pos());
}

QAction *DrowsewickApp::addCommand(const QString &text, void (DrowsewickApp::*action)())
{
    QAction *command = m_menu.addAction(text);
    connect(command, &QAction::triggered, this, action);
    return command;
}

void DrowsewickApp::buildMenu()
{
    m_status = m_menu.addAction(QString());
    m_status->setEnabled(false);
    m_status->setFont(captionFont(0.9));
    m_allowAccess = m_menu.addAction(Text::allowAccess, &m_model, &DrowsewickModel::openAutomationSettings);
    m_menu.addSeparator();
    m_menu.addAction(Text::saveAll, &m_model, &DrowsewickModel::saveAllOpenTabs);
    m_menu.addAction(Text::sweepNow, &m_model, &DrowsewickModel::sweepNow);
    m_pause = m_menu.addAction(Text::pause);
    m_pause->setCheckable(true);
    connect(m_pause, &QAction::triggered, &m_model, &DrowsewickModel::setPaused);
    m_summary = m_menu.addAction(QString());
    m_summary->setEnabled(false);
    m_summary->setFont(captionFont(0.8));
    m_menu.addSeparator();
    addCommand(Text::archived, &DrowsewickApp::showArchive);
    m_menu.addAction(Text::openFolder, &m_model, &DrowsewickModel::openArchiveFolder);
    addCommand(Text::settings, &DrowsewickApp::showSettings);
    m_updateSeparator = m_menu.addSeparator();
    m_update = m_menu.addAction(QString(), &m_model, &DrowsewickModel::promptForUpdate);
    m_checkForUpdates = m_menu.addAction(QString(), &m_model, &DrowsewickModel::checkForUpdatesManually);
    m_menu.addSeparator();
    addCommand(Text::quit, &DrowsewickApp::quit);
}

void DrowsewickApp::refresh()
{
    showState(MenuState::of(MenuInputs::of(m_model, m_selfUpdate)));
}

void DrowsewickApp::showState(const MenuState &state)
{
    m_status->setText(state.statusLine);
    m_allowAccess->setVisible(state.allowAccessVisible);
    m_pause->setChecked(state.paused);
    const auto apply = [](QAction *action, const MenuEntryState &entry) {
        action->setText(entry.text);
        action->setVisible(entry.visible);
        action->setEnabled(entry.enabled);
    };
    apply(m_summary, state.summary);
    apply(m_update, state.update);
    apply(m_checkForUpdates, state.checkForUpdates);
    // Without the update entries their separator would double the next one.
    m_updateSeparator->setVisible(m_selfUpdate);
}

void DrowsewickApp::showSettings()
{
    SettingsWindowController::shared().show(m_model);
}

void DrowsewickApp::showArchive()
{
    ArchiveBrowserController::shared().show(m_model);
}

void DrowsewickApp::quit()
{
    // Nothing to save first: every change was saved when it was made.
    QApplication::quit();
}
