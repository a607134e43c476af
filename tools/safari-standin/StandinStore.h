#pragma once

#include "StandinState.h"

#include <QString>

// Where the stand-in keeps Safari's state and the log of what was asked of it. Every change
// replaces the state file whole, under an advisory lock, so that concurrent runs never lose an
// update and a reader never sees a torn file.
class StandinStore
{
public:
    StandinStore();

    // Holds the store's lock for as long as it lives.
    class Lock
    {
    public:
        explicit Lock(const StandinStore &store);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        int m_fd;
    };

    // A missing file is a Safari that does not run. Throws InvalidState.
    StandinState load(const Lock &) const;
    void save(const Lock &, const StandinState &state) const;
    void log(const Lock &, const QString &line) const;

    // Read without the lock (the file is only ever replaced whole), so a delayed run waits without
    // holding up anyone else. An unreadable state gives no delay; the run then fails under the lock.
    qint64 delayMs() const;

private:
    QString path(QStringView name) const;

    QString m_folder;
};
