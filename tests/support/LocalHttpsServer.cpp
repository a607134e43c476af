#include "LocalHttpsServer.h"

#include "TestHome.h"

#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <memory>

LocalHttpsServer::LocalHttpsServer()
{
    if (!makeCertificate() || !m_server.listen(QHostAddress::LocalHost))
        qFatal("cannot make a certificate with openssl or listen on 127.0.0.1");
    QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(qobject_cast<QSslSocket *>(socket));
    });
}

bool LocalHttpsServer::makeCertificate()
{
    const QString key = m_keys.filePath(u"key.pem"_qs);
    const QString certificatePath = m_keys.filePath(u"certificate.pem"_qs);
    const QStringList arguments
            = u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
              "-addext subjectAltName=IP:127.0.0.1 -keyout"_qs.split(u' ')
            + QStringList{key, u"-out"_qs, certificatePath};
    if (runTool(u"openssl"_qs, arguments).exitCode != 0)
        return false;
    const QSslCertificate certificate(TestFiles::read(certificatePath));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(QSslKey(TestFiles::read(key), QSsl::Ec));
    m_server.setSslConfiguration(configuration);
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    return !certificate.isNull();
}

void LocalHttpsServer::answer(const QString &path, int status, const QByteArray &body, const QByteArray &extraHeaders,
                              int bytesPerTick)
{
    m_answers.insert(path, {status, body, extraHeaders, bytesPerTick});
}

QUrl LocalHttpsServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void LocalHttpsServer::serve(QSslSocket *socket)
{
    QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    auto request = std::make_shared<QByteArray>();
    const auto respond = [this, socket, request] {
        if (request->contains("\r\n\r\n"))
            return; // answered already; one request per connection
        *request += socket->readAll();
        if (!request->contains("\r\n\r\n"))
            return;
        ++m_requests;
        const Answer answer = m_answers.value(QUrl::fromPercentEncoding(request->split(' ').value(1)));
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Answer\r\nContent-Length: "
                      + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n" + answer.extraHeaders + "\r\n");
        if (answer.bytesPerTick <= 0) {
            socket->write(answer.body);
            socket->disconnectFromHost();
            return;
        }
        auto *tick = new QTimer(socket);
        QObject::connect(tick, &QTimer::timeout, socket,
                         [socket, tick, rest = answer.body, step = answer.bytesPerTick]() mutable {
                             socket->write(rest.left(step));
                             rest.remove(0, step);
                             if (rest.isEmpty()) {
                                 tick->stop();
                                 socket->disconnectFromHost();
                             }
                         });
        tick->start(100);
    };
    QObject::connect(socket, &QSslSocket::readyRead, socket, respond);
    respond();
}
