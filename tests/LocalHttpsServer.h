#pragma once

#include <QHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTemporaryDir>
#include <QUrl>

class QNetworkAccessManager;
class QSslSocket;

// An HTTPS server on 127.0.0.1 with a throw-away certificate. It answers every path with the
// status and body chosen for it (404 for paths it was not told of) and counts the requests.
class LocalHttpsServer
{
public:
    LocalHttpsServer();
    bool isListening() const { return m_server.isListening(); }
    // With bytesPerTick, the body goes out that many bytes every 100 ms, as over a slow line.
    void answer(const QString &path, int status, const QByteArray &body, const QByteArray &extraHeaders = {}, int bytesPerTick = 0);
    QUrl url(const QString &path) const;
    int requestCount() const { return m_requests; }
    // The default configuration with this server's certificate trusted.
    QSslConfiguration trustingConfiguration() const;
    // Makes network accept this server's certificate, and no other unknown one.
    void trustOn(QNetworkAccessManager &network) const;

private:
    struct Answer
    {
        int status = 404;
        QByteArray body;
        QByteArray extraHeaders;
        int bytesPerTick = 0;
    };
    bool makeCertificate();
    void serve(QSslSocket *socket);

    QTemporaryDir m_keys;
    QSslCertificate m_certificate;
    QSslServer m_server;
    QHash<QString, Answer> m_answers;
    int m_requests = 0;
};

// An address on this machine where nothing listens.
QUrl unreachableUrl(const QString &path);
