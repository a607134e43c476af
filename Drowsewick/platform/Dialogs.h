#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// A modal alert: a bold message, smaller informative text, and buttons in order. No buttons
// means the platform's single default button.
struct Alert
{
    QString message;
    QString informative;
    QStringList buttons;
};

// The modal dialogs the controller shows.
class Dialogs
{
public:
    // What alert() answers for the first button; the second is one more, and so on.
    static constexpr int firstButton = 1000;

    virtual ~Dialogs() = default;
    // Brings the application in front of other applications with the next dialog it shows. A
    // dialog shown without asking opens without taking the focus from whatever has it.
    virtual void activateApplication() = 0;
    virtual int alert(const Alert &alert) = 0;
    // A folder chooser for one existing folder; nothing when cancelled.
    virtual std::optional<QString> chooseFolder(const QString &startFolder, const QString &prompt,
                                                const QString &message) = 0;

    static std::unique_ptr<Dialogs> createForPlatform();
};
