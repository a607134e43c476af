#include "DrowsewickModel.h"

#include "Archive.h"
#include "DurableFile.h"
#include "BuildConfig.h"
#include "LiveSafariBridge.h"
#include "SelfUpdater.h"
#include "platform/AutomationSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocale>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <climits>

namespace {

const QString hasAutoSweptKey = QStringLiteral("nimbrel.drowsewick.hasAutoSwept");
const QString promptedVersionKey = QStringLiteral("nimbrel.drowsewick.update.promptedVersion");
constexpr qint64 minimumPollSeconds = 15;

TabTracker loadTracker()
{
    QFile file(DrowsewickModel::trackerPath());
    if (!file.open(QIODevice::ReadOnly))
        return TabTracker();
    return TabTracker::fromJson(file.readAll()).value_or(TabTracker());
}

QString runningVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("1.0") : version;
}

// The polling interval: at least 15 seconds, at most what a millisecond timer can hold.
int pollIntervalMilliseconds(qint64 pollSeconds)
{
    const qint64 seconds = std::clamp<qint64>(pollSeconds, minimumPollSeconds, INT_MAX / 1000);
    return int(seconds * 1000);
}

// The archive writes an address unchanged, so one that its reader would not give back whole (a
// line feed, an unmatched ")") would be lost once closed, and part of it could pass for an entry
// of its own. Such a tab is treated as one the user protected: never idle, never swept.
QList<SafariTab> archivable(QList<SafariTab> tabs)
{
    tabs.removeIf([](const SafariTab &tab) { return !Archive::canArchive(tab); });
    return tabs;
}

QString plural(qint64 count, const QString &word)
{
    return QString::number(count) + u' ' + word + (count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

DrowsewickModel::DrowsewickModel(Services services, QObject *parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_settings(Settings::load()),
      m_tracker(loadTracker()),
      m_version(runningVersion())
{
    // Quitting stops a running installation at once; its swap then never starts.
    if (const QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            m_quitting = true;
            m_installation.cancel();
        });
}

DrowsewickModel::~DrowsewickModel() = default;

DrowsewickModel &DrowsewickModel::shared()
{
    // Made on first use and never released: it lives as long as the program.
    static DrowsewickModel *const instance = new DrowsewickModel(Services{
        std::make_unique<LiveSafariBridge>(),
        std::make_unique<SystemClock>(),
        NotificationPoster::createForPlatform(),
        UserDefaults::createForPlatform(),
        Dialogs::createForPlatform(),
        UrlOpener::createForPlatform(),
        std::make_unique<QNetworkAccessManager>(),
        QUrl(QString::fromLatin1(BuildConfig::manifestURL)),
        [](const UpdateInfo &update) { return SelfUpdater::install(update); },
        [] { QCoreApplication::quit(); },
        BuildConfig::selfUpdate,
    });
    return *instance;
}

QString DrowsewickModel::trackerPath()
{
    return Settings::applicationFolder() + QStringLiteral("/tracker.json");
}

std::optional<int> DrowsewickModel::timerInterval() const
{
    if (!m_timer)
        return std::nullopt;
    return m_timer->interval();
}

void DrowsewickModel::setSettings(const Settings &settings)
{
    m_settings = settings;
    m_settings.save();
    emit settingsChanged();
}

void DrowsewickModel::setPaused(bool paused)
{
    Settings changed = m_settings;
    changed.paused = paused;
    setSettings(changed);
}

void DrowsewickModel::start()
{
    m_services.notifications->requestPermission();
    tick();
    restartTimer();
    if (m_services.checksForUpdates)
        checkForUpdatesOnLaunch();
}

void DrowsewickModel::restartTimer()
{
    delete m_timer;
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(pollIntervalMilliseconds(m_settings.pollSeconds));
    // The poll runs as a call of its own on the main loop, never inside the timer's signal, and
    // not at all once the controller is gone.
    connect(m_timer, &QTimer::timeout, this, [self = QPointer<DrowsewickModel>(this)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->tick();
            },
            Qt::QueuedConnection);
    });
    m_timer->start();
}

void DrowsewickModel::tick()
{
    poll(FollowUp::maySweep);
}

// The menu commands change nothing when their snapshot fails; only the polling tick reports a
// refused permission.
std::optional<SafariSnapshot> DrowsewickModel::trySnapshot()
{
    try {
        return m_services.bridge->snapshot();
    } catch (const SafariError &) {
        return std::nullopt;
    }
}

QList<SafariTab> DrowsewickModel::idleTabs(const QList<SafariTab> &tabs) const
{
    return archivable(m_tracker.staleTabs(tabs, m_settings.days, m_services.clock->now(), m_settings.neverSweep));
}

void DrowsewickModel::poll(FollowUp followUp)
{
    SafariSnapshot snapshot;
    try {
        snapshot = m_services.bridge->snapshot();
    } catch (const SafariError &error) {
        if (error.kind() == SafariError::Kind::notAuthorized)
            setPermissionDenied(true);
        setCounts(0, 0);
        return;
    }
    setPermissionDenied(false);
    m_tracker.record(snapshot.tabs, snapshot.activeKeys, m_services.clock->now());
    m_lastTabs = snapshot.tabs;
    m_lastActiveKeys = snapshot.activeKeys;
    emit lastTabsChanged();
    saveTracker();

    const QList<SafariTab> idle = idleTabs(snapshot.tabs);
    setCounts(snapshot.tabs.size(), idle.size());

    // A tab archived earlier in this run is forgotten here once it has really gone.
    m_archivedStillOpen.removeIf([this](const QString &key) { return !m_tracker.lastActive().contains(key); });
    if (followUp == FollowUp::countOnly || m_settings.paused)
        return;
    const QList<SafariTab> toSweep = notYetArchived(idle);
    if (!toSweep.isEmpty())
        sweep(toSweep, SweepMode::automatic);
}

QList<SafariTab> DrowsewickModel::notYetArchived(const QList<SafariTab> &tabs) const
{
    QList<SafariTab> result;
    std::copy_if(tabs.cbegin(), tabs.cend(), std::back_inserter(result),
                 [this](const SafariTab &tab) { return !m_archivedStillOpen.contains(tab.key()); });
    return result;
}

void DrowsewickModel::saveTracker() const
{
    try {
        DurableFile::writeAtomically(trackerPath(), m_tracker.toJson());
    } catch (const FileSystemError &) {
        // The tracker in memory stays current; the file keeps its previous contents.
    }
}

void DrowsewickModel::sweepNow()
{
    const std::optional<SafariSnapshot> snapshot = trySnapshot();
    if (!snapshot)
        return;
    // Not recorded first: a tab no poll has seen yet is never idle here.
    sweep(idleTabs(snapshot->tabs), SweepMode::manual);
}

void DrowsewickModel::sweep(const QList<SafariTab> &tabs, SweepMode mode)
{
    if (tabs.isEmpty()) {
        setLastSweepSummary(QStringLiteral("Nothing idle to sweep."));
        return;
    }
    if (!appendToArchive(tabs)) {
        setLastSweepSummary(QStringLiteral("Couldn't save the archive — tabs left open."));
        return;
    }
    closeArchived(tabs);
    const QString time = QLocale().toString(m_services.clock->now().toLocalTime(), QStringLiteral("HH:mm"));
    setLastSweepSummary(QStringLiteral("Swept ") + plural(tabs.size(), QStringLiteral("tab")) + QStringLiteral(" · ") + time);
    if (mode == SweepMode::automatic)
        notifyAutoSweep(tabs.size());
    poll(FollowUp::countOnly);
}

bool DrowsewickModel::appendToArchive(const QList<SafariTab> &tabs) const
{
    try {
        Archive::append(tabs, m_settings.archiveFolder(), m_services.clock->now());
        return true;
    } catch (const FileSystemError &) {
        return false;
    }
}

void DrowsewickModel::closeArchived(const QList<SafariTab> &tabs)
{
    bool engineUnavailable = false;
    for (const SafariTab &tab : tabs) {
        m_archivedStillOpen.insert(tab.key());
        // An engine that timed out would keep the app waiting as long again for every tab left:
        // those stay archived and open, and the next polls see them.
        if (engineUnavailable)
            continue;
        try {
            m_services.bridge->close(tab);
        } catch (const SafariError &error) {
            // It stays open and archived; the next poll still sees it.
            engineUnavailable = error.isEngineUnavailable();
        }
    }
}

void DrowsewickModel::notifyAutoSweep(qint64 count)
{
    const bool seenBefore = m_services.userDefaults->boolValue(hasAutoSweptKey);
    m_services.userDefaults->setBool(hasAutoSweptKey, true);
    const QString title = QStringLiteral("Swept ") + plural(count, QStringLiteral("idle tab"));
    const QString body = seenBefore
        ? QStringLiteral("Archived to your folder and closed. Reopen any from the menu.")
        : QStringLiteral("Tabs untouched for %1 days were archived to your folder and closed — nothing is lost, "
                         "reopen any from the menu.")
              .arg(m_settings.days);
    m_services.notifications->post(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), title, body);
}

void DrowsewickModel::saveAllOpenTabs()
{
    const std::optional<SafariSnapshot> snapshot = trySnapshot();
    if (!snapshot)
        return;
    // A tab whose line would not read back is left out, so that no part of it passes for an entry.
    const QList<SafariTab> tabs = archivable(snapshot->tabs);
    if (tabs.isEmpty()) {
        setLastSweepSummary(QStringLiteral("No open tabs to save."));
        return;
    }
    try {
        const QString path = Archive::saveSnapshot(tabs, m_settings.archiveFolder(), m_services.clock->now());
        setLastSweepSummary(QStringLiteral("Saved %1 open tabs → %2").arg(tabs.size()).arg(QFileInfo(path).fileName()));
    } catch (const FileSystemError &) {
        setLastSweepSummary(QStringLiteral("Couldn't save the open tabs."));
    }
}

QStringList DrowsewickModel::openHosts() const
{
    QStringList hosts;
    QSet<QString> seen;
    for (const SafariTab &tab : m_lastTabs) {
        // Tolerant: a query with spaces, "|" or braces is common, and the host is fine all the same.
        const QString host = QUrl(tab.url(), QUrl::TolerantMode).host().toLower();
        if (host.isEmpty() || seen.contains(host))
            continue;
        seen.insert(host);
        hosts.append(host);
    }
    std::sort(hosts.begin(), hosts.end());
    return hosts;
}

void DrowsewickModel::addNeverSweep(const QString &pattern)
{
    const QString normalized = pattern.trimmed().toLower();
    if (normalized.isEmpty() || m_settings.neverSweep.contains(normalized))
        return;
    Settings changed = m_settings;
    changed.neverSweep.append(normalized);
    setSettings(changed);
}

void DrowsewickModel::removeNeverSweep(const QString &pattern)
{
    Settings changed = m_settings;
    changed.neverSweep.removeAll(pattern);
    setSettings(changed);
}

void DrowsewickModel::chooseArchiveFolder()
{
    m_services.dialogs->activateApplication();
    const std::optional<QString> folder = m_services.dialogs->chooseFolder(
        m_settings.archiveFolderPath, QStringLiteral("Choose"), QStringLiteral("Choose where Drowsewick saves your archived tabs"));
    if (!folder)
        return;
    Settings changed = m_settings;
    changed.archiveFolderPath = *folder;
    setSettings(changed);
}

void DrowsewickModel::openArchiveFolder()
{
    const QString folder = m_settings.archiveFolder();
    QDir().mkpath(folder);
    openUrl(QUrl::fromLocalFile(folder));
}

void DrowsewickModel::openUrl(const QUrl &url)
{
    m_services.urlOpener->open(url);
}

void DrowsewickModel::openAutomationSettings()
{
    AutomationSettings::show(*m_services.urlOpener, *m_services.dialogs);
}

void DrowsewickModel::checkForUpdates(std::function<void(std::optional<UpdateInfo>)> done)
{
    // The controller is the context: an answer that arrives after it is gone is dropped.
    Updater::check(m_services.manifest, m_version, *m_services.network, this, std::move(done));
}

void DrowsewickModel::checkForUpdatesOnLaunch()
{
    if (m_didCheck)
        return;
    m_didCheck = true;
    checkForUpdates([this](std::optional<UpdateInfo> update) {
        setAvailableUpdate(update);
        // A version the user put off with "Later" is offered in the menu, not in a dialog.
        if (update && m_services.userDefaults->stringValue(promptedVersionKey) != update->version)
            promptForUpdate();
    });
}

void DrowsewickModel::checkForUpdatesManually()
{
    if (m_isUpdating || m_isCheckingForUpdate)
        return;
    setCheckingForUpdate(true);
    checkForUpdates([this](std::optional<UpdateInfo> update) {
        setCheckingForUpdate(false);
        setAvailableUpdate(update);
        if (update) {
            promptForUpdate();
            return;
        }
        // A failed check looks the same: nothing newer could be found.
        m_services.dialogs->activateApplication();
        m_services.dialogs->alert({QStringLiteral("You're up to date"),
                                   QStringLiteral("Drowsewick ") + m_version + QStringLiteral(" is the latest version."),
                                   {}});
    });
}

void DrowsewickModel::promptForUpdate()
{
    if (!m_availableUpdate || m_isUpdating)
        return;
    const UpdateInfo update = *m_availableUpdate;
    m_services.dialogs->activateApplication();
    const int answer = m_services.dialogs->alert({
        QStringLiteral("A new version of Drowsewick is available"),
        QStringLiteral("Drowsewick ") + update.version + QStringLiteral(" is ready to install — you have ") + m_version
            + QStringLiteral(". The app will update itself and relaunch."),
        {QStringLiteral("Install"), QStringLiteral("Later")},
    });
    if (answer == Dialogs::firstButton)
        installUpdate();
    else
        m_services.userDefaults->setString(promptedVersionKey, update.version);
}

void DrowsewickModel::installUpdate()
{
    if (!m_availableUpdate || m_isUpdating)
        return;
    setUpdating(true);
    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        finishInstall(watcher->future());
    });
    m_installation = m_services.install(*m_availableUpdate);
    watcher->setFuture(m_installation);
}

void DrowsewickModel::finishInstall(QFuture<void> installation)
{
    if (m_quitting)
        return;
    Alert failure{QStringLiteral("Update failed"),
                  QStringLiteral("Couldn't install the update. Please try again later, or download it from ")
                      + QString::fromLatin1(BuildConfig::productPageAddress) + u'.',
                  {}};
    try {
        installation.waitForFinished();
        // The swap script waits for this process to end before it replaces the application.
        m_services.quit();
        return;
    } catch (const SelfUpdater::Failure &error) {
        if (error.error() == SelfUpdater::UpdateError::readOnlyLocation) {
            failure.message = QStringLiteral("Move Drowsewick to Applications");
            failure.informative = QStringLiteral(
                "Drowsewick is running from a read-only location (like a disk image or the Downloads folder). Drag it "
                "to your Applications folder, reopen it, then check for updates again.");
        }
    } catch (const std::exception &) {
        // Network, file system or a tool that would not start: the general message.
    }
    setUpdating(false);
    m_services.dialogs->alert(failure);
}

void DrowsewickModel::setCounts(qint64 tracked, qint64 stale)
{
    m_trackedCount = tracked;
    emit trackedCountChanged();
    m_staleCount = stale;
    emit staleCountChanged();
}

void DrowsewickModel::setLastSweepSummary(const QString &summary)
{
    m_lastSweepSummary = summary;
    emit lastSweepSummaryChanged();
}

void DrowsewickModel::setPermissionDenied(bool denied)
{
    m_permissionDenied = denied;
    emit permissionDeniedChanged();
}

void DrowsewickModel::setAvailableUpdate(const std::optional<UpdateInfo> &update)
{
    m_availableUpdate = update;
    emit availableUpdateChanged();
}

void DrowsewickModel::setCheckingForUpdate(bool checking)
{
    m_isCheckingForUpdate = checking;
    emit isCheckingForUpdateChanged();
}

void DrowsewickModel::setUpdating(bool updating)
{
    m_isUpdating = updating;
    emit isUpdatingChanged();
}
