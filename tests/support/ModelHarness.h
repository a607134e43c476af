#pragma once

#include "DrowsewickModel.h"
#include "Standin.h"

#include <QQueue>
#include <QWidget>

#include <functional>
#include <memory>
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

struct PostedNotification
{
    QString identifier;
    QString title;
    QString body;
};

// Answers dialogs from a queue and remembers what was shown.
struct DialogScript
{
    QQueue<int> answers;
    QQueue<std::optional<QString>> folders;
    QList<Alert> shown;
    QStringList folderPrompts;
    int activations = 0;
};

// One controller with a clock the test moves and platform services that only record. Its
// bridge is the live one on the stand-in, checking at every close that the tab is already in the
// archive: the one promise that must never break.
struct ModelHarness
{
    QDateTime now = QDateTime(QDate(2026, 3, 14), QTime(9, 0), Qt::UTC);
    QList<PostedNotification> notifications;
    int permissionRequests = 0;
    QStringList unarchivedCloses;
    DialogScript dialogs;
    QList<QUrl> openedUrls;
    // Where the manifest is looked for: nothing listens there unless a test starts a server.
    QUrl manifest = QUrl(QStringLiteral("https://127.0.0.1:9/drowsewick/latest.json"));
    std::function<QFuture<void>(const UpdateInfo &)> install;
    QList<UpdateInfo> installed;
    int quits = 0;
    SafariEngine engine = Standin::engine();
    // Made anew with every controller; the live bridge on the engine unless a test says otherwise.
    std::function<std::unique_ptr<SafariBridge>()> makeBridge;
    std::unique_ptr<DrowsewickModel> model;

    ModelHarness() { makeModel(); }
    // A new controller on the same files and user defaults, as after a restart.
    void makeModel();
    void advanceDays(double days) { now = now.addMSecs(qint64(days * 86400 * 1000)); }
    // A poll now and another one the given number of days later.
    void pollAgainAfter(double days);
    // As the settings window changes them.
    void changeSettings(const std::function<void(Settings &)> &change);
    // The addresses the archive lists, in its order.
    QStringList archivedUrls() const;
};
