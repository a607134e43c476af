#include "SingleInstance.h"

#include "Settings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace {

const QString lockName = QStringLiteral("drowsewick.lock");
const QString channelName = QStringLiteral("drowsewick.channel");
const QByteArray activateMessage = QByteArrayLiteral("activate\n");

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(activateMessage.trimmed()))
                    emit activated();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : Settings::applicationFolder();
}

bool SingleInstance::claim()
{
    if (!QDir().mkpath(m_folder))
        return true;
    m_lock = std::make_unique<QLockFile>(m_folder + u'/' + lockName);
    // A lock left by a process that died is taken over; a lock of a live process is not.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return false;
        return true;
    }
    listen();
    return true;
}

void SingleInstance::listen()
{
    const QString channel = m_folder + u'/' + channelName;
    QLocalServer::removeServer(channel); // left over by a process that died
    m_server.listen(channel);
}

bool SingleInstance::handOver(int timeoutMilliseconds) const
{
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_folder + u'/' + channelName);
        if (socket.waitForConnected(250)) {
            socket.write(activateMessage);
            socket.waitForBytesWritten(1000);
            socket.waitForDisconnected(1000);
            return true;
        }
        // The running instance may still be starting up.
        QThread::msleep(100);
    }
    return false;
}
