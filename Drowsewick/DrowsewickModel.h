#pragma once

#include "SafariBridge.h"
#include "Settings.h"
#include "TabTracker.h"
#include "Updater.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/NotificationPoster.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"

#include <QFuture>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <memory>
#include <optional>

// The one long-lived controller: owns the settings, the bridge, the tracker and the polling
// timer, runs the polling tick and the sweeps, and publishes what the menu and windows show.
// Everything runs on the main thread.
class DrowsewickModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint64 trackedCount READ trackedCount NOTIFY trackedCountChanged)
    Q_PROPERTY(qint64 staleCount READ staleCount NOTIFY staleCountChanged)
    Q_PROPERTY(QString lastSweepSummary READ lastSweepSummary NOTIFY lastSweepSummaryChanged)
    Q_PROPERTY(bool permissionDenied READ permissionDenied NOTIFY permissionDeniedChanged)
    Q_PROPERTY(bool isUpdating READ isUpdating NOTIFY isUpdatingChanged)
    Q_PROPERTY(bool isCheckingForUpdate READ isCheckingForUpdate NOTIFY isCheckingForUpdateChanged)

public:
    // What the controller needs from the platform; tests hand in their own.
    struct Services
    {
        std::unique_ptr<SafariBridge> bridge;
        std::unique_ptr<Clock> clock;
        std::unique_ptr<NotificationPoster> notifications;
        std::unique_ptr<UserDefaults> userDefaults;
        std::unique_ptr<Dialogs> dialogs;
        std::unique_ptr<UrlOpener> urlOpener;
        // Updates: where the manifest is, how it is fetched, how an update is installed, and
        // how the application ends so that the installed update can take its place.
        std::unique_ptr<QNetworkAccessManager> network;
        QUrl manifest;
        std::function<QFuture<void>(const UpdateInfo &)> install;
        std::function<void()> quit;
        bool checksForUpdates = true;
    };

    explicit DrowsewickModel(Services services, QObject *parent = nullptr);
    ~DrowsewickModel() override;

    // The application's controller, made on first use with the live Safari bridge.
    static DrowsewickModel &shared();

    qint64 trackedCount() const { return m_trackedCount; }
    qint64 staleCount() const { return m_staleCount; }
    const QString &lastSweepSummary() const { return m_lastSweepSummary; }
    const QList<SafariTab> &lastTabs() const { return m_lastTabs; }
    bool permissionDenied() const { return m_permissionDenied; }
    const Settings &settings() const { return m_settings; }
    const std::optional<UpdateInfo> &availableUpdate() const { return m_availableUpdate; }
    bool isUpdating() const { return m_isUpdating; }
    bool isCheckingForUpdate() const { return m_isCheckingForUpdate; }
    const QString &version() const { return m_version; }
    SafariBridge &bridge() { return *m_services.bridge; }
    // The polling interval in force, in milliseconds; none before the first restartTimer().
    std::optional<int> timerInterval() const;

    // Every assignment saves the settings file at once.
    void setSettings(const Settings &settings);
    void setPaused(bool paused);

    void start();
    void restartTimer();
    void tick();

    void sweepNow();
    void saveAllOpenTabs();

    QStringList openHosts() const;
    void addNeverSweep(const QString &pattern);
    void removeNeverSweep(const QString &pattern);
    void chooseArchiveFolder();
    // Creates the archive folder if it is missing (a failure is ignored) and shows it.
    void openArchiveFolder();
    void openUrl(const QUrl &url);
    void openAutomationSettings();

    void checkForUpdatesOnLaunch();
    void checkForUpdatesManually();
    void promptForUpdate();
    void installUpdate();

    static QString trackerPath();

signals:
    void trackedCountChanged();
    void staleCountChanged();
    void lastSweepSummaryChanged();
    void lastTabsChanged();
    void permissionDeniedChanged();
    void settingsChanged();
    void availableUpdateChanged();
    void isUpdatingChanged();
    void isCheckingForUpdateChanged();

private:
    enum class SweepMode { automatic, manual };
    enum class FollowUp { maySweep, countOnly };

    void poll(FollowUp followUp);
    void sweep(const QList<SafariTab> &tabs, SweepMode mode);
    bool appendToArchive(const QList<SafariTab> &tabs) const;
    void closeArchived(const QList<SafariTab> &tabs);
    void notifyAutoSweep(qint64 count);
    QList<SafariTab> notYetArchived(const QList<SafariTab> &tabs) const;
    void saveTracker() const;
    std::optional<SafariSnapshot> trySnapshot();
    QList<SafariTab> idleTabs(const QList<SafariTab> &tabs) const;

    void setCounts(qint64 tracked, qint64 stale);
    void setLastSweepSummary(const QString &summary);
    void setPermissionDenied(bool denied);
    void setAvailableUpdate(const std::optional<UpdateInfo> &update);
    void setCheckingForUpdate(bool checking);
    void setUpdating(bool updating);
    void checkForUpdates(std::function<void(std::optional<UpdateInfo>)> done);
    void finishInstall(QFuture<void> installation);

    Services m_services;
    qint64 m_trackedCount = 0;
    qint64 m_staleCount = 0;
    QString m_lastSweepSummary;
    QList<SafariTab> m_lastTabs;
    bool m_permissionDenied = false;
    QSet<QString> m_lastActiveKeys;
    Settings m_settings;
    TabTracker m_tracker;
    QTimer *m_timer = nullptr;
    std::optional<UpdateInfo> m_availableUpdate;
    bool m_isUpdating = false;
    QFuture<void> m_installation;
    bool m_quitting = false;
    bool m_isCheckingForUpdate = false;
    QString m_version;
    bool m_didCheck = false;
    // Tabs a sweep archived that are still open (their close failed): automatic sweeps leave
    // them alone for as long as they stay open, so they are not archived over and over.
    QSet<QString> m_archivedStillOpen;
};
