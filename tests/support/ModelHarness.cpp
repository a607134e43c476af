#include "ModelHarness.h"

#include "Archive.h"
#include "LiveSafariBridge.h"

namespace {

struct FakeClock : Clock
{
    explicit FakeClock(const QDateTime *time) : time(time) {}
    QDateTime now() const override { return *time; }
    const QDateTime *time;
};

struct RecordingNotifications : NotificationPoster
{
    explicit RecordingNotifications(ModelHarness &h) : h(h) {}
    void requestPermission() override { ++h.permissionRequests; }
    void post(const QString &id, const QString &title, const QString &body) override
    {
        h.notifications.append({id, title, body});
    }
    ModelHarness &h;
};

struct RecordingUrlOpener : UrlOpener
{
    explicit RecordingUrlOpener(QList<QUrl> &opened) : opened(opened) {}
    void open(const QUrl &url) override { opened.append(url); }
    QList<QUrl> &opened;
};

struct ScriptedDialogs : Dialogs
{
    explicit ScriptedDialogs(DialogScript &script) : script(script) {}
    void activateApplication() override { ++script.activations; }
    int alert(const Alert &alert) override
    {
        script.shown.append(alert);
        return script.answers.isEmpty() ? firstButton : script.answers.dequeue();
    }
    std::optional<QString> chooseFolder(const QString &start, const QString &prompt, const QString &message) override
    {
        script.folderPrompts.append(start + u'|' + prompt + u'|' + message);
        return script.folders.isEmpty() ? std::nullopt : script.folders.dequeue();
    }
    DialogScript &script;
};

struct ArchiveFirstBridge : SafariBridge
{
    explicit ArchiveFirstBridge(ModelHarness &h) : live(h.engine), h(h) {}
    SafariSnapshot snapshot() override { return live.snapshot(); }
    void open(const QString &url) override { live.open(url); }
    void close(const SafariTab &tab) override
    {
        if (!Archive::all(h.model->settings().archiveFolder()).contains(ArchivedTab{Archive::cleanTitle(tab), tab.url()}))
            h.unarchivedCloses.append(tab.url());
        live.close(tab);
    }
    LiveSafariBridge live;
    ModelHarness &h;
};

} // namespace

void ModelHarness::makeModel()
{
    model.reset();
    std::unique_ptr<SafariBridge> bridge = makeBridge ? makeBridge() : std::make_unique<ArchiveFirstBridge>(*this);
    model = std::make_unique<DrowsewickModel>(DrowsewickModel::Services{
        std::move(bridge),
        std::make_unique<FakeClock>(&now),
        std::make_unique<RecordingNotifications>(*this),
        UserDefaults::createForPlatform(),
        std::make_unique<ScriptedDialogs>(dialogs),
        std::make_unique<RecordingUrlOpener>(openedUrls),
        std::make_unique<QNetworkAccessManager>(),
        manifest,
        [this](const UpdateInfo &update) {
            installed.append(update);
            return install ? install(update) : QtFuture::makeReadyFuture();
        },
        [this] { ++quits; },
        true,
    });
}

void ModelHarness::pollAgainAfter(double days)
{
    model->tick();
    advanceDays(days);
    model->tick();
}

void ModelHarness::changeSettings(const std::function<void(Settings &)> &change)
{
    Settings settings = model->settings();
    change(settings);
    model->setSettings(settings);
}

QStringList ModelHarness::archivedUrls() const
{
    QStringList urls;
    for (const ArchivedTab &entry : Archive::all(model->settings().archiveFolder()))
        urls.append(entry.url);
    return urls;
}
