#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <optional>

class DrowsewickModel;

// What the menu shows, taken from the controller each time it changes.
struct MenuInputs
{
    bool permissionDenied = false;
    qint64 trackedCount = 0;
    qint64 staleCount = 0;
    qint64 days = 7;
    bool paused = false;
    QString lastSweepSummary;
    std::optional<QString> updateVersion;
    bool isUpdating = false;
    bool isCheckingForUpdate = false;
    bool selfUpdate = true;

    static MenuInputs of(const DrowsewickModel &model, bool selfUpdate);
};

struct MenuEntryState
{
    QString text;
    bool visible = true;
    bool enabled = true;

    friend bool operator==(const MenuEntryState &, const MenuEntryState &) = default;
};

struct MenuState
{
    QString statusLine;
    bool allowAccessVisible = false;
    bool paused = false;
    MenuEntryState summary;
    MenuEntryState update;
    MenuEntryState checkForUpdates;

    static MenuState of(const MenuInputs &inputs);
};

// The menu-bar item and its menu. The menu keeps no state of its own: it is redrawn from the
// controller whenever one of its published fields changes.
class DrowsewickApp : public QObject
{
    Q_OBJECT

public:
    explicit DrowsewickApp(DrowsewickModel &model, bool selfUpdate);

    QMenu &menu() { return m_menu; }
    void showSettings();
    // Draws the menu for the given state; the controller's changes redraw it again.
    void showState(const MenuState &state);

private:
    void buildMenu();
    void refresh();
    void trayClicked(QSystemTrayIcon::ActivationReason reason);
    QAction *addCommand(const QString &text, void (DrowsewickApp::*action)());
    void showArchive();
    void quit();

    DrowsewickModel &m_model;
    const bool m_selfUpdate;
    QMenu m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    QAction *m_status = nullptr;
    QAction *m_allowAccess = nullptr;
    QAction *m_pause = nullptr;
    QAction *m_summary = nullptr;
    QAction *m_updateSeparator = nullptr;
    QAction *m_update = nullptr;
    QAction *m_checkForUpdates = nullptr;
};
