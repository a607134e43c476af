#pragma once

#include "Archive.h"
#include "DrowsewickModel.h"
#include "LiveSafariBridge.h"
#include "StandinControl.h"

#include <QQueue>
#include <QWidget>

#include <stdexcept>

// A window's widget by its object name; a missing one fails the test with its name.
template <typename Widget>
Widget &child(QWidget &parent, const QString &name)
{
    Widget *found = parent.findChild<Widget *>(name);
    if (!found)
        throw std::runtime_error("no child named " + name.toStdString());
    return *found;
}

// Test stand-ins for what the controller needs from the platform.
class FakeClock : public Clock
{
public:
    explicit FakeClock(QDateTime *time) : m_time(time) {}
    QDateTime now() const override { return *m_time; }

private:
    QDateTime *m_time;
};

struct PostedNotification
{
    QString identifier;
    QString title;
    QString body;
};

class RecordingNotifications : public NotificationPoster
{
public:
    explicit RecordingNotifications(QList<PostedNotification> *posted, int *permissionRequests)
        : m_posted(posted), m_permissionRequests(permissionRequests)
    {
    }
    void requestPermission() override { ++*m_permissionRequests; }
    void post(const QString &identifier, const QString &title, const QString &body) override
    {
        m_posted->append({identifier, title, body});
    }

private:
    QList<PostedNotification> *m_posted;
    int *m_permissionRequests;
};

class RecordingUrlOpener : public UrlOpener
{
public:
    explicit RecordingUrlOpener(QList<QUrl> *opened) : m_opened(opened) {}
    void open(const QUrl &url) override { m_opened->append(url); }

private:
    QList<QUrl> *m_opened;
};

// Answers dialogs from a script and remembers what was shown.
class ScriptedDialogs : public Dialogs
{
public:
    struct Script
    {
        QQueue<int> answers;
        QQueue<std::optional<QString>> folders;
        QList<Alert> shown;
        QStringList folderPrompts;
        int activations = 0;
    };
    explicit ScriptedDialogs(Script *script) : m_script(script) {}
    void activateApplication() override { ++m_script->activations; }
    int alert(const Alert &alert) override
    {
        m_script->shown.append(alert);
        return m_script->answers.isEmpty() ? firstButton : m_script->answers.dequeue();
    }
    std::optional<QString> chooseFolder(const QString &start, const QString &prompt, const QString &message) override
    {
        m_script->folderPrompts.append(start + u'|' + prompt + u'|' + message);
        return m_script->folders.isEmpty() ? std::nullopt : m_script->folders.dequeue();
    }

private:
    Script *m_script;
};

// The live bridge, checking at every close that the tab is already in the archive: the one
// promise that must never break.
class ArchiveFirstBridge : public SafariBridge
{
public:
    ArchiveFirstBridge(const SafariEngine &engine, std::function<QString()> archiveFolder, QStringList *unarchivedCloses)
        : m_live(engine), m_archiveFolder(std::move(archiveFolder)), m_unarchivedCloses(unarchivedCloses)
    {
    }
    SafariSnapshot snapshot() override { return m_live.snapshot(); }
    void open(const QString &url) override { m_live.open(url); }
    void close(const SafariTab &tab) override
    {
        const ArchivedTab expected{Archive::cleanTitle(tab), tab.url()};
        if (!Archive::all(m_archiveFolder()).contains(expected))
            m_unarchivedCloses->append(tab.url());
        m_live.close(tab);
    }

private:
    LiveSafariBridge m_live;
    std::function<QString()> m_archiveFolder;
    QStringList *m_unarchivedCloses;
};

// One controller on the live bridge and the stand-in, with a clock the test moves.
struct ModelHarness
{
    QDateTime now = QDateTime(QDate(2026, 3, 14), QTime(9, 0), Qt::UTC);
    QList<PostedNotification> notifications;
    int permissionRequests = 0;
    QStringList unarchivedCloses;
    ScriptedDialogs::Script dialogs;
    QList<QUrl> openedUrls;
    // Where the manifest is looked for: nothing listens there unless a test starts a server.
    QUrl manifest = QUrl(QStringLiteral("https://127.0.0.1:9/drowsewick/latest.json"));
    std::function<QFuture<void>(const UpdateInfo &)> install;
    QList<UpdateInfo> installed;
    int quits = 0;
    QNetworkAccessManager *network = nullptr;
    SafariEngine engine = StandinControl::engine();
    std::unique_ptr<DrowsewickModel> model;

    ModelHarness() { makeModel(); }

    // A new controller on the same files and user defaults, as after a restart.
    void makeModel()
    {
        model.reset();
        auto ownNetwork = std::make_unique<QNetworkAccessManager>();
        network = ownNetwork.get();
        model = std::make_unique<DrowsewickModel>(DrowsewickModel::Services{
            std::make_unique<ArchiveFirstBridge>(engine, [this] { return model->settings().archiveFolder(); }, &unarchivedCloses),
            std::make_unique<FakeClock>(&now),
            std::make_unique<RecordingNotifications>(&notifications, &permissionRequests),
            UserDefaults::createForPlatform(),
            std::make_unique<ScriptedDialogs>(&dialogs),
            std::make_unique<RecordingUrlOpener>(&openedUrls),
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

    void advanceDays(double days) { now = now.addMSecs(qint64(days * 86400 * 1000)); }
};
