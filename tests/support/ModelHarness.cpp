#include "ModelHarness.h"

#include "Archive.h"
#include "LiveSafariBridge.h"

namespace {

class FakeClock : public Clock
{
public:
    explicit FakeClock(const QDateTime *time) : m_time(time) {}
    QDateTime now() const override { return *m_time; }

private:
    const QDateTime *m_time;
};

class RecordingNotifications : public NotificationPoster
{
public:
    explicit RecordingNotifications(ModelHarness &h) : m_h(h) {}
    void requestPermission() override { ++m_h.permissionRequests; }
    void post(const QString &identifier, const QString &title, const QString &body) override
    {
        m_h.notifications.append({identifier, title, body});
    }

private:
    ModelHarness &m_h;
};

class RecordingUrlOpener : public UrlOpener
{
public:
    explicit RecordingUrlOpener(QList<QUrl> &opened) : m_opened(opened) {}
    void open(const QUrl &url) override { m_opened.append(url); }

private:
    QList<QUrl> &m_opened;
};

class ScriptedDialogs : public Dialogs
{
public:
    explicit ScriptedDialogs(DialogScript &script) : m_script(script) {}
    void activateApplication() override { ++m_script.activations; }
    int alert(const Alert &alert) override
    {
        m_script.shown.append(alert);
        return m_script.answers.isEmpty() ? firstButton : m_script.answers.dequeue();
    }
    std::optional<QString> chooseFolder(const QString &start, const QString &prompt, const QString &message) override
    {
        m_script.folderPrompts.append(start + u'|' + prompt + u'|' + message);
        return m_script.folders.isEmpty() ? std::nullopt : m_script.folders.dequeue();
    }

private:
    DialogScript &m_script;
};

class ArchiveFirstBridge : public SafariBridge
{
public:
    ArchiveFirstBridge(const SafariEngine &engine, std::function<QString()> archiveFolder, QStringList &unarchivedCloses)
        : m_live(engine), m_archiveFolder(std::move(archiveFolder)), m_unarchivedCloses(unarchivedCloses)
    {
    }
    SafariSnapshot snapshot() override { return m_live.snapshot(); }
    void open(const QString &url) override { m_live.open(url); }
    void close(const SafariTab &tab) override
    {
        if (!Archive::all(m_archiveFolder()).contains(ArchivedTab{Archive::cleanTitle(tab), tab.url()}))
            m_unarchivedCloses.append(tab.url());
        m_live.close(tab);
    }

private:
    LiveSafariBridge m_live;
    std::function<QString()> m_archiveFolder;
    QStringList &m_unarchivedCloses;
};

} // namespace

void ModelHarness::makeModel()
{
    model.reset();
    auto ownNetwork = std::make_unique<QNetworkAccessManager>();
    network = ownNetwork.get();
    std::unique_ptr<SafariBridge> bridge = makeBridge ? makeBridge()
        : std::make_unique<ArchiveFirstBridge>(engine, [this] { return model->settings().archiveFolder(); }, unarchivedCloses);
    model = std::make_unique<DrowsewickModel>(DrowsewickModel::Services{
        std::move(bridge),
        std::make_unique<FakeClock>(&now),
        std::make_unique<RecordingNotifications>(*this),
        UserDefaults::createForPlatform(),
        std::make_unique<ScriptedDialogs>(dialogs),
        std::make_unique<RecordingUrlOpener>(openedUrls),
        std::move(ownNetwork),
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
