#include "SingleInstance.h"

#include "Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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
    const QByteArray path = QFile::encodeName(m_folder + u'/' + lockName);
    auto lock = std::make_unique<DurableFile::Descriptor>(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock->get() < 0)
        return true;
    // The system releases the lock when its holder ends, however it ends, so whatever a file
    // left by a crash contains never stands in the way.
    if (::flock(lock->get(), LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK;
    // Who holds it, for anyone who looks; nothing reads it back.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (::ftruncate(lock->get(), 0) == 0)
        DurableFile::writeAll(lock->get(), pid.constData(), pid.size());
    m_lock = std::move(lock);
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
