#pragma once

#include "SafariBridge.h"
#include "SafariEngine.h"

// Drives Safari by running the bridge's scripts through a script engine process. Every call
// blocks until the engine has finished or the engine's time limit has passed.
class LiveSafariBridge : public SafariBridge
{
public:
    LiveSafariBridge();
    explicit LiveSafariBridge(SafariEngine engine);

    // Neither snapshot() nor close() starts a Safari that does not run: the snapshot is then empty
    // and there is nothing to close. open() starts it.
    SafariSnapshot snapshot() override;
    void close(const SafariTab &tab) override;
    void open(const QString &url) override;

private:
    bool safariIsRunning() const;
    QString run(const QString &script) const;

    SafariEngine m_engine;
};
