#include "LocalHttpsServer.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <memory>

LocalHttpsServer::LocalHttpsServer()
{
    if (!makeCertificate())
        return;
    QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(qobject_cast<QSslSocket *>(socket));
    });
    m_server.listen(QHostAddress::LocalHost);
}

bool LocalHttpsServer::makeCertificate()
{
    const QString key = m_keys.filePath(QStringLiteral("key.pem"));
    const QString certificate = m_keys.filePath(QStringLiteral("certificate.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        return false;
    QFile keyFile(key);
    QFile certificateFile(certificate);
    if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly))
        return false;
    m_certificate = QSslCertificate(certificateFile.readAll());
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_certificate);
    configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    m_server.setSslConfiguration(configuration);
    return !m_certificate.isNull();
}

void LocalHttpsServer::answer(const QString &path, int status, const QByteArray &body, const QByteArray &extraHeaders, int bytesPerTick)
{
    m_answers.insert(path, {status, body, extraHeaders, bytesPerTick});
}

QUrl LocalHttpsServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

QSslConfiguration LocalHttpsServer::trustingConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(m_certificate);
    return configuration;
}

void LocalHttpsServer::trustOn(QNetworkAccessManager &network) const
{
    QObject::connect(&network, &QNetworkAccessManager::sslErrors, &network,
                     [certificate = m_certificate](QNetworkReply *reply, const QList<QSslError> &errors) {
                         const bool onlyOurs = std::all_of(errors.begin(), errors.end(), [&](const QSslError &error) {
                             return error.error() == QSslError::SelfSignedCertificate && error.certificate() == certificate;
                         });
                         if (onlyOurs)
                             reply->ignoreSslErrors();
                     });
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
        QObject::connect(tick, &QTimer::timeout, socket, [socket, tick, rest = answer.body, step = answer.bytesPerTick]() mutable {
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

QUrl unreachableUrl(const QString &path)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(port).arg(path));
}
