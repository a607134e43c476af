#pragma once

#include "DurableFile.h"

#include <QLocalServer>
#include <QObject>

#include <memory>

// One running Drowsewick per user: the first launch holds a lock and listens; a later launch
// finds the lock taken, tells the running one to come forward, and leaves.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The lock and the channel live in `folder` (the per-user runtime folder).
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);

    // The per-user runtime folder, else the application folder.
    static QString defaultFolder();

    // True when this process is the one that runs. Also true when the lock cannot be set up at
    // all: better two controllers than none.
    bool claim();
    // Tells the running instance that someone launched the program again; false when no running
    // instance answered in time (it may still be starting, or be busy with a poll).
    bool handOver(int timeoutMilliseconds = 5000) const;

signals:
    void activated();

private:
    void listen();

    QString m_folder;
    // Held open for as long as this instance runs: the system's lock on it is the claim.
    std::unique_ptr<DurableFile::Descriptor> m_lock;
    QLocalServer m_server;
};
