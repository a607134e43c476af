#include "BundleSignature.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <functional>
#include <sys/stat.h>

using namespace UpdateTest;

class TestBundleSignature : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    SigningKey m_publisher;
    SigningKey m_stranger;
    QString m_bundle;

    QString path(const QString &relative) const { return m_bundle + QLatin1Char('/') + relative; }

private slots:
    void initTestCase()
    {
        m_publisher = makeSigningKey(m_root.path(), QStringLiteral("publisher"));
        m_stranger = makeSigningKey(m_root.path(), QStringLiteral("stranger"));
        QVERIFY(m_publisher.publicKey.contains("BEGIN PUBLIC KEY"));
    }

    void init()
    {
        m_bundle = m_root.filePath(QStringLiteral("Drowsewick.app"));
        QDir(m_bundle).removeRecursively();
        makeBundle(m_bundle, "new", m_root.filePath(QStringLiteral("marker")));
        const ToolRun signing = signBundle(m_bundle, m_publisher.privateKeyPath);
        QVERIFY2(signing.exitCode == 0, signing.output.constData());
    }

    void verify_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("valid");
        QTest::newRow("as signed") << "" << true;
        QTest::newRow("file changed") << "change" << false;
        QTest::newRow("file added") << "add" << false;
        QTest::newRow("file removed") << "remove" << false;
        QTest::newRow("file renamed") << "rename" << false;
        QTest::newRow("file added beside the signature") << "add beside signature" << false;
        QTest::newRow("symbolic link added") << "link" << false;
        QTest::newRow("empty folder added") << "add folder" << false;
        QTest::newRow("executable no longer executable") << "chmod 644" << false;
        QTest::newRow("folder closed to others") << "chmod 700" << false;
        QTest::newRow("signature removed") << "remove signature" << false;
        QTest::newRow("manifest removed") << "remove manifest" << false;
        QTest::newRow("manifest edited to match a changed file") << "forge manifest" << false;
        QTest::newRow("signed again by another key") << "resign" << false;
    }
    void verify()
    {
        QFETCH(QString, change);
        QFETCH(bool, valid);
        const QMap<QString, std::function<void()>> changes = {
            {QStringLiteral(""), [] {}},
            {QStringLiteral("change"), [&] { writeFile(path("resources/notes.txt"), "bundle evil\n"); }},
            {QStringLiteral("add"), [&] { writeFile(path("resources/extra.txt"), "extra\n"); }},
            {QStringLiteral("remove"), [&] { QFile::remove(path("safari-standin")); }},
            {QStringLiteral("rename"), [&] { QFile::rename(path("safari-standin"), path("safari-standin2")); }},
            {QStringLiteral("add beside signature"), [&] { writeFile(path(".signature/extra"), "extra\n"); }},
            {QStringLiteral("link"), [&] { QFile::link(QStringLiteral("/etc"), path("etc")); }},
            {QStringLiteral("add folder"), [&] { QDir().mkpath(path("resources/empty")); }},
            {QStringLiteral("chmod 644"), [&] { ::chmod(QFile::encodeName(UpdatePlatform::executable(m_bundle)).constData(), 0644); }},
            {QStringLiteral("chmod 700"), [&] { ::chmod(QFile::encodeName(path("resources")).constData(), 0700); }},
            {QStringLiteral("remove signature"), [&] { QFile::remove(path(".signature/signature")); }},
            {QStringLiteral("remove manifest"), [&] { QFile::remove(path(".signature/manifest")); }},
            {QStringLiteral("forge manifest"), [&] {
                 writeFile(path("resources/notes.txt"), "bundle evil\n");
                 writeFile(path(".signature/manifest"), *BundleSignature::manifest(m_bundle));
             }},
            {QStringLiteral("resign"), [&] { QCOMPARE(signBundle(m_bundle, m_stranger.privateKeyPath).exitCode, 0); }},
        };
        changes.value(change)();
        QCOMPARE(BundleSignature::verify(m_bundle, m_publisher.publicKey), valid);
    }

    void publicKeyForms_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("valid");
        QByteArray oneLine = m_publisher.publicKey;
        oneLine.replace('\n', "");
        const QByteArray bare = m_publisher.publicKey.split('\n').value(1);
        QTest::newRow("PEM") << m_publisher.publicKey << true;
        QTest::newRow("PEM on one line") << oneLine << true;
        QTest::newRow("bare base64") << bare << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("damaged base64") << QByteArray(bare).replace(4, 1, "*") << false;
        QTest::newRow("another key") << m_stranger.publicKey << false;
    }
    void publicKeyForms()
    {
        QFETCH(QByteArray, key);
        QFETCH(bool, valid);
        QCOMPARE(BundleSignature::verify(m_bundle, key), valid);
    }

    void bundleNamedRelatively()
    {
        const ToolRun signing = runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"),
                                        {QStringLiteral("Drowsewick.app"), m_publisher.privateKeyPath}, m_root.path());
        QVERIFY2(signing.exitCode == 0, signing.output.constData());
        QVERIFY(BundleSignature::verify(m_bundle, m_publisher.publicKey));
        // The manifest as a copy that checks nothing else computes it, the attributes a file like any other.
        QByteArray everyFile;
        for (const auto &[name, content] : contents(m_bundle).asKeyValueRange()) {
            if (content != "/" && name != QLatin1String(".signature/manifest") && name != QLatin1String(".signature/signature"))
                everyFile += QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "  " + name.toUtf8() + '\n';
        }
        QCOMPARE(readFile(path(".signature/manifest")), everyFile);
        QVERIFY(everyFile.contains("  .signature/attributes\n"));
    }

    void refusesToSignWhatItCannotVerify()
    {
        QFile::link(QStringLiteral("/etc"), path("etc"));
        const ToolRun signing = signBundle(m_bundle, m_publisher.privateKeyPath);
        QCOMPARE(signing.exitCode, 1);
        QVERIFY(signing.output.contains("symbolic link"));
    }

    void toolReportsUsageAndKeyErrors()
    {
        QCOMPARE(runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"), {m_bundle}).exitCode, 2);
        writeFile(m_root.filePath(QStringLiteral("public.pem")), m_publisher.publicKey);
        const ToolRun signing = signBundle(m_bundle, m_root.filePath(QStringLiteral("public.pem")));
        QCOMPARE(signing.exitCode, 1);
        QVERIFY(signing.output.contains("not an Ed25519 private key"));
    }
};

DROWSEWICK_TEST_MAIN(TestBundleSignature, QCoreApplication)
#include "tst_BundleSignature.moc"
