#pragma once

#include <QHash>
#include <QSslServer>
#include <QTemporaryDir>
#include <QUrl>

// An HTTPS server on 127.0.0.1 with a throw-away certificate, which it makes trusted by every
// connection of this process; without openssl or a free port the test ends at once. It answers
// every path with the status and body chosen for it (404 for paths it was not told of), and
// counts the requests.
class LocalHttpsServer
{
public:
    LocalHttpsServer();
    // With bytesPerTick, the body goes out that many bytes every 100 ms, as over a slow line.
    void answer(const QString &path, int status, const QByteArray &body, const QByteArray &extraHeaders = {},
                int bytesPerTick = 0);
    QUrl url(const QString &path) const;
    int requestCount() const { return m_requests; }

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
    QSslServer m_server;
    QHash<QString, Answer> m_answers;
    int m_requests = 0;
};
