#include "LocalHttpsServer.h"
#include "TestEnvironment.h"
#include "Updater.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QThread>

#include <memory>

namespace {

// JSON written with single quotes, which read better inside C++ strings.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// What a finished check delivered; empty while it has not called back.
using Delivery = std::optional<std::optional<UpdateInfo>>;

const QByteArray validManifest = json("{'version': '2.0', 'url': 'https://updates.example/Drowsewick-2.0.zip', 'notes': 'Faster sweeps'}");

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private:
    LocalHttpsServer m_server;

    Delivery checkOnce(QNetworkAccessManager &network, const QUrl &manifest)
    {
        QObject context;
        Delivery delivery;
        Updater::check(manifest, QStringLiteral("1.9"), network, &context, [&](std::optional<UpdateInfo> update) {
            delivery = update;
        });
        // An empty result tells the caller that no answer came in time.
        static_cast<void>(QTest::qWaitFor([&] { return delivery.has_value(); }, 20000));
        return delivery;
    }

    // Serves the valid manifest at /latest.json to a network that trusts the server.
    QUrl serveManifest(QNetworkAccessManager &network)
    {
        m_server.answer(QStringLiteral("/latest.json"), 200, validManifest);
        m_server.trustOn(network);
        return m_server.url(QStringLiteral("/latest.json"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.isListening(), "cannot make a certificate with openssl or listen on 127.0.0.1");
    }

    void isNewer_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("newer");
        const struct { const char *first, *second; bool newer; } table[] = {
            {"1.10", "1.9", true},       {"1.9", "1.10", false},       {"1.2", "1.2.0", false},
            {"1.2.0", "1.2", false},     {"1.2.1", "1.2", true},       {"1.2.0.1", "1.2", true},
            {"1.2.3-beta", "1.2.3", false}, {"1.2.3", "1.2.3-beta", true}, {"rc1", "1.0", false},
            {"", "", false},             {"..", "0", false},           {"0.0.1", "", true},
            {"1.-1", "1", false},        {"1", "1.-1", true},          {"2", "1.9.9", true},
            {"1..2", "1.1", true},       {"007", "7", false},          {"8", "007", true},
            {"+2", "1", true},           {"1.99999999999999999999999", "1.0", false},
            {" 2", "1", false},          {"9223372036854775807", "9223372036854775806", true},
            {"-9223372036854775808", "0", false},
        };
        for (const auto &row : table)
            QTest::addRow("'%s' vs '%s'", row.first, row.second)
                << QString::fromLatin1(row.first) << QString::fromLatin1(row.second) << row.newer;
    }
    void isNewer()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, newer);
        QCOMPARE(Updater::isNewer(first, second), newer);
    }

    void parseManifest_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("current");
        QTest::addColumn<std::optional<UpdateInfo>>("expected");
        const QUrl address(QStringLiteral("https://updates.example/Drowsewick-2.0.zip"));
        const auto offer = [&](const char *version, const char *notes) {
            return std::optional(UpdateInfo{QString::fromUtf8(version), address, QString::fromUtf8(notes)});
        };
        const auto manifest = [](const char *members) {
            return json("{'url': 'https://updates.example/Drowsewick-2.0.zip', ") + json(members) + "}";
        };
        const std::optional<UpdateInfo> none;
        QTest::newRow("newer") << validManifest << "1.9" << offer("2.0", "Faster sweeps");
        QTest::newRow("notes absent") << manifest("'version': '2.0'") << "1.9" << offer("2.0", "");
        QTest::newRow("notes null") << manifest("'version': '2.0', 'notes': null") << "1.9" << offer("2.0", "");
        QTest::newRow("notes a number") << manifest("'version': '2.0', 'notes': 3") << "1.9" << offer("2.0", "");
        QTest::newRow("other members ignored") << manifest("'version': '2.0', 'size': 12") << "1.9" << offer("2.0", "");
        QTest::newRow("version kept as written") << manifest("'version': '2.0-beta'") << "1.9" << offer("2.0-beta", "");
        QTest::newRow("same version") << validManifest << "2.0" << none;
        QTest::newRow("older version") << validManifest << "2.1" << none;
        QTest::newRow("version a number") << manifest("'version': 2.0") << "1.9" << none;
        QTest::newRow("version absent") << manifest("'notes': 'x'") << "1.9" << none;
        QTest::newRow("http") << json("{'version': '2.0', 'url': 'http://updates.example/a.zip'}") << "1.9" << none;
        QTest::newRow("HTTPS in capitals") << json("{'version': '2.0', 'url': 'HTTPS://updates.example/a.zip'}") << "1.9" << none;
        QTest::newRow("relative") << json("{'version': '2.0', 'url': '/drowsewick/a.zip'}") << "1.9" << none;
        QTest::newRow("no host") << json("{'version': '2.0', 'url': 'https:a.zip'}") << "1.9" << none;
        QTest::newRow("space before scheme") << json("{'version': '2.0', 'url': ' https://updates.example/a.zip'}") << "1.9" << none;
        QTest::newRow("url a number") << json("{'version': '2.0', 'url': 7}") << "1.9" << none;
        QTest::newRow("url absent") << json("{'version': '2.0'}") << "1.9" << none;
        QTest::newRow("top-level array") << QByteArray("[" + validManifest + "]") << "1.9" << none;
        QTest::newRow("top-level string") << json("'2.0'") << "1.9" << none;
        QTest::newRow("empty body") << QByteArray() << "1.9" << none;
        QTest::newRow("HTML page") << QByteArray("<html><body>Not Found</body></html>") << "1.9" << none;
        QTest::newRow("cut short") << validManifest.left(40) << "1.9" << none;
    }
    void parseManifest()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, current);
        QFETCH(std::optional<UpdateInfo>, expected);
        QCOMPARE(Updater::parseManifest(body, current), expected);
    }

    void check_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("found");
        const QByteArray padded = validManifest + QByteArray(64 * 1024 - validManifest.size(), ' ');
        QTest::newRow("200 with a manifest") << 200 << validManifest << QByteArray() << true << true << true;
        for (int status : {404, 500, 400, 407, 418, 302})
            QTest::addRow("%d with a manifest", status) << status << validManifest << QByteArray() << true << true << true;
        QTest::newRow("301 to a manifest") << 301 << QByteArray() << QByteArray("Location: /moved/latest.json\r\n") << true << true << true;
        QTest::newRow("64 KiB") << 200 << padded << QByteArray() << true << true << true;
        QTest::newRow("over 64 KiB") << 200 << padded + ' ' << QByteArray() << true << true << false;
        QTest::newRow("404 with an HTML page") << 404 << QByteArray("<html>Not Found</html>") << QByteArray() << true << true << false;
        QTest::newRow("200 with nothing") << 200 << QByteArray() << QByteArray() << true << true << false;
        QTest::newRow("nothing listens") << 200 << validManifest << QByteArray() << true << false << false;
        QTest::newRow("certificate not trusted") << 200 << validManifest << QByteArray() << false << true << false;
    }
    void check()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, headers);
        QFETCH(bool, trusted);
        QFETCH(bool, reachable);
        QFETCH(bool, found);
        const QString path = QStringLiteral("/%1/latest.json").arg(QTest::currentDataTag());
        m_server.answer(path, status, body, headers);
        m_server.answer(QStringLiteral("/moved/latest.json"), 200, validManifest);
        QNetworkAccessManager network;
        if (trusted)
            m_server.trustOn(network);
        const Delivery delivery = checkOnce(network, reachable ? m_server.url(path) : unreachableUrl(path));
        QVERIFY(delivery);
        QCOMPARE(delivery->has_value(), found);
    }

    void bypassesTheCache()
    {
        const QUrl manifest = m_server.url(QStringLiteral("/cacheable/latest.json"));
        m_server.answer(manifest.path(), 200, validManifest, "Cache-Control: public, max-age=3600\r\n");
        QNetworkAccessManager network;
        m_server.trustOn(network);
        QTemporaryDir cacheFolder;
        auto *cache = new QNetworkDiskCache(&network);
        cache->setCacheDirectory(cacheFolder.path());
        network.setCache(cache);
        QVERIFY(checkOnce(network, manifest).value_or(std::nullopt));
        QVERIFY(!cache->metaData(manifest).isValid());

        std::unique_ptr<QNetworkReply> ordinary(network.get(QNetworkRequest(manifest)));
        QTRY_VERIFY_WITH_TIMEOUT(ordinary->isFinished(), 20000);
        QVERIFY(cache->metaData(manifest).isValid());
        const int before = m_server.requestCount();
        QVERIFY(checkOnce(network, manifest).value_or(std::nullopt));
        QCOMPARE(m_server.requestCount(), before + 1);
    }

    void deliversOnTheContextsThread()
    {
        QNetworkAccessManager network;
        const QUrl manifest = serveManifest(network);
        QThread worker;
        worker.start();
        QObject context;
        context.moveToThread(&worker);
        std::atomic<QThread *> deliveredOn = nullptr;
        Updater::check(manifest, QStringLiteral("1.9"), network, &context,
                       [&](std::optional<UpdateInfo>) { deliveredOn = QThread::currentThread(); });
        QTRY_VERIFY_WITH_TIMEOUT(deliveredOn.load() != nullptr, 20000);
        QCOMPARE(deliveredOn.load(), &worker);
        worker.quit();
        worker.wait();
    }

    void staysSilentOnceTheContextIsGone()
    {
        QNetworkAccessManager network;
        const QUrl manifest = serveManifest(network);
        auto context = std::make_unique<QObject>();
        bool delivered = false;
        const int before = m_server.requestCount();
        Updater::check(manifest, QStringLiteral("1.9"), network, context.get(),
                       [&](std::optional<UpdateInfo>) { delivered = true; });
        context.reset();
        // By the time a second check has its answer, the first one's has long arrived too.
        QVERIFY(checkOnce(network, manifest));
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), before + 2, 20000);
        QTest::qWait(100);
        QVERIFY(!delivered);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdater, QCoreApplication)
#include "tst_Updater.moc"
