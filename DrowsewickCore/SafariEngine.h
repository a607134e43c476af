#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

struct ProcessCommand
{
    QString program;
    QStringList arguments;

    friend bool operator==(const ProcessCommand &, const ProcessCommand &) = default;
};

// How the live bridge reaches Safari: an engine that runs a script given on standard input the way
// osascript does, and a command that tells whether Safari runs without starting it (exit 0 it
// runs, 1 it does not).
struct SafariEngine
{
    ProcessCommand script;
    ProcessCommand runningCheck;
    // Longer than AppleScript's own 120 s for an unanswered event, so only a wedged engine hits it.
    std::chrono::milliseconds timeLimit = std::chrono::seconds(150);

    // osascript and pgrep on macOS; the safari-standin next to the executable elsewhere.
    static SafariEngine platformDefault();

    friend bool operator==(const SafariEngine &, const SafariEngine &) = default;
};
