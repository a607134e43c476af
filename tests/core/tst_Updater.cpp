#include "LocalHttpsServer.h"
#include "Standin.h"
#include "TestHome.h"
#include "Updater.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>

static const QByteArray validManifest
        = Standin::json("{'version': '2.0', 'url': 'https://updates.example/Drowsewick-2.0.zip', 'notes': 'Faster sweeps'}");

// What a check for version 1.9 offered; a check that does not call back in time fails the test.
static std::optional<UpdateInfo> checkOnce(QNetworkAccessManager &network, const QUrl &manifest)
{
    QObject context;
    std::optional<std::optional<UpdateInfo>> delivery;
    Updater::check(manifest, u"1.9"_qs, network, &context, [&](std::optional<UpdateInfo> update) { delivery = update; });
    if (!QTest::qWaitFor([&] { return delivery.has_value(); }, 20000))
        QTest::qFail("the check did not call back", __FILE__, __LINE__);
    return delivery.value_or(std::nullopt);
}

class TestUpdater : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;

private slots:
    // Each row both ways: "a > b" is newer one way only, "a = b" neither way.
    void isNewerComparesNumbersPieceByPiece()
    {
        for (const char *row : {"1.10 > 1.9", "1.2 = 1.2.0", "1.2.1 > 1.2", "1.2.3 > 1.2.3-beta", " = ", ".. = 0", "0.0.1 > ",
                                "1 > 1.-1", "007 = 7", "+2 > 1", "1.0 = 1.99999999999999999999999",
                                "9223372036854775807 > 9223372036854775806"}) {
            const QStringList parts = QString::fromLatin1(row).split(u' ');
            const QString first = parts[0], relation = parts[1], second = parts.value(2);
            QVERIFY2(Updater::isNewer(first, second) == (relation == u">"_qs) && !Updater::isNewer(second, first), row);
        }
    }

    // What a check offers to version 1.9 ("version notes"): the manifest's body is used whatever the
    // status; anything below HTTP, or over 64 KiB, is no answer. Status 0: nothing listens.
    void offers()
    {
        const auto manifest = [](const char *members) {
            return Standin::json("{'url': 'https://updates.example/Drowsewick-2.0.zip', ") + Standin::json(members) + '}';
        };
        QList<std::tuple<int, QByteArray, QString>> rows {
                {301, {}, u"2.0 Faster sweeps"_qs},
                {0, validManifest, {}},
                {200, validManifest + QByteArray(64 * 1024 + 1 - validManifest.size(), ' '), {}},
                {200, manifest("'version': '2.0', 'notes': 3, 'size': 1"), u"2.0 "_qs},
                {200, manifest("'version': '2.0-beta'"), u"2.0-beta "_qs}};
        for (int status : {200, 404, 500, 400, 407, 418, 302})
            rows.append({status, validManifest, u"2.0 Faster sweeps"_qs});
        for (const char *version : {"'1.9.0'", "'1.8.10'", "2.0"})
            rows.append({200, manifest(("'version': " + QByteArray(version)).constData()), {}});
        for (const char *url :
             {"http://updates.example/a.zip", "HTTPS://updates.example/a.zip", "/drowsewick/a.zip", "https:a.zip",
              " https://updates.example/a.zip", "file:///etc/passwd", "https:javascript:alert(1)", "https:///etc/passwd",
              "ftp://updates.example/a.zip", "https://updates.example\\n.evil.example/a.zip"})
            rows.append({200, Standin::json("{'version': '2.0', 'url': '") + url + "\"}", {}});
        m_server.answer(u"/moved/latest.json"_qs, 200, validManifest);
        for (const auto &[status, body, offered] : rows) {
            m_server.answer(u"/latest.json"_qs, status, body, status == 301 ? "Location: /moved/latest.json\r\n" : "");
            QNetworkAccessManager network;
            const std::optional<UpdateInfo> update
                    = checkOnce(network, status ? m_server.url(u"/latest.json"_qs) : QUrl(u"https://127.0.0.1:9/latest.json"_qs));
            QVERIFY2((update ? update->version + u' ' + update->notes : QString()) == offered,
                     qPrintable(u"%1 %2"_qs.arg(status).arg(body)));
        }
    }

    // Never from a cache, which could hide a new release; and never to a controller that is gone.
    void asksTheServerEveryTimeAndOnlyAListener()
    {
        const QUrl manifest = m_server.url(u"/cacheable/latest.json"_qs);
        m_server.answer(manifest.path(), 200, validManifest, "Cache-Control: public, max-age=3600\r\n");
        QNetworkAccessManager network;
        auto *cache = new QNetworkDiskCache(&network);
        cache->setCacheDirectory(QDir::homePath() + u"/cache"_qs);
        network.setCache(cache);
        network.get(QNetworkRequest(manifest)); // an ordinary request, which fills the cache
        QTRY_VERIFY_WITH_TIMEOUT(cache->metaData(manifest).isValid(), 20000);
        const int before = m_server.requestCount();
        QVERIFY(checkOnce(network, manifest));
        QCOMPARE(m_server.requestCount(), before + 1);
        {
            QObject gone;
            Updater::check(manifest, u"1.9"_qs, network, &gone, [](auto) { QFAIL("delivered to a controller that is gone"); });
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), before + 2, 20000);
        QTest::qWait(200);
    }
};

DROWSEWICK_TEST_MAIN(TestUpdater, QCoreApplication)
#include "tst_Updater.moc"
