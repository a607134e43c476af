#include "BundleSignature.h"
#include "Bundles.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <functional>
#include <sys/stat.h>

// The publisher's Ed25519 signature over a bundle's files, their modes and its folders.
class TestBundleSignature : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_bundle = m_root.filePath(QStringLiteral("Drowsewick.app"));
    QString m_key;
    QByteArray m_publicKey;
    QByteArray m_stranger;

    QString path(const char *relative) const { return m_bundle + u'/' + QLatin1String(relative); }
    ToolRun signBundle(const QString &bundle, const QString &key, const QString &folder = {})
    {
        return runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"), {bundle, key}, folder);
    }

private slots:
    void initTestCase()
    {
        const auto makeKey = [this](const char *name) {
            const QString key = m_root.filePath(QLatin1String(name));
            runTool(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"), QStringLiteral("ed25519"), QStringLiteral("-out"), key});
            return key;
        };
        m_key = makeKey("publisher.pem");
        m_stranger = makeKey("stranger.pem").toUtf8();
        m_publicKey = runTool(QStringLiteral("openssl"), {QStringLiteral("pkey"), QStringLiteral("-in"), m_key, QStringLiteral("-pubout")}).output;
        QVERIFY(m_publicKey.contains("BEGIN PUBLIC KEY"));
    }

    void init()
    {
        QDir(m_bundle).removeRecursively();
        Bundles::make(m_bundle, "new", m_root.filePath(QStringLiteral("marker")));
        // Named relatively, as the publisher may: the listed paths do not depend on it.
        const ToolRun signing = signBundle(QStringLiteral("Drowsewick.app"), m_key, m_root.path());
        QVERIFY2(signing.exitCode == 0, signing.output.constData());
    }

    void verify_data()
    {
        QTest::addColumn<std::function<void(TestBundleSignature &)>>("change");
        QTest::addColumn<bool>("valid");
        using Change = std::function<void(TestBundleSignature &)>;
        const auto write = [](const char *relative, const char *text) {
            return Change([=](TestBundleSignature &t) { TestFiles::write(t.path(relative), text); });
        };
        const auto chmod = [](const char *relative, mode_t mode) {
            return Change([=](TestBundleSignature &t) { ::chmod(QFile::encodeName(t.path(relative)).constData(), mode); });
        };
        QTest::newRow("as signed") << Change([](TestBundleSignature &) {}) << true;
        QTest::newRow("file changed") << write("resources/notes.txt", "bundle evil\n") << false;
        QTest::newRow("file added") << write("resources/extra.txt", "extra\n") << false;
        QTest::newRow("file added beside the signature") << write(".signature/extra", "extra\n") << false;
        QTest::newRow("file removed") << Change([](TestBundleSignature &t) { QFile::remove(t.path("safari-standin")); }) << false;
        QTest::newRow("symbolic link added") << Change([](TestBundleSignature &t) { QFile::link(QStringLiteral("/etc"), t.path("etc")); }) << false;
        QTest::newRow("empty folder added") << Change([](TestBundleSignature &t) { QDir().mkpath(t.path("resources/empty")); }) << false;
        QTest::newRow("executable no longer executable") << chmod("safari-standin", 0644) << false;
        QTest::newRow("folder closed to others") << chmod("resources", 0700) << false;
        QTest::newRow("signature removed") << Change([](TestBundleSignature &t) { QFile::remove(t.path(".signature/signature")); }) << false;
        QTest::newRow("manifest edited to match a changed file") << Change([](TestBundleSignature &t) {
            TestFiles::write(t.path("resources/notes.txt"), "bundle evil\n");
            TestFiles::write(t.path(".signature/manifest"), *BundleSignature::manifest(t.m_bundle));
        }) << false;
        QTest::newRow("signed again by another key") << Change([](TestBundleSignature &t) { t.signBundle(t.m_bundle, QString::fromUtf8(t.m_stranger)); }) << false;
    }
    void verify()
    {
        QFETCH(std::function<void(TestBundleSignature &)>, change);
        QFETCH(bool, valid);
        change(*this);
        QCOMPARE(BundleSignature::verify(m_bundle, m_publicKey), valid);
    }

    // The key as a build setting may hold it; none, or another, verifies nothing.
    void publicKeyForms()
    {
        const QByteArray bare = m_publicKey.split('\n').value(1);
        QVERIFY(BundleSignature::verify(m_bundle, QByteArray(m_publicKey).replace('\n', "")));
        QVERIFY(BundleSignature::verify(m_bundle, bare));
        QVERIFY(!BundleSignature::verify(m_bundle, QByteArray(bare).replace(4, 1, "*")));
        QVERIFY(!BundleSignature::verify(m_bundle, QByteArray()));
    }

    // The manifest as a copy that checks nothing else makes it, so that copies installed today
    // keep verifying; the attributes are a file of the bundle like any other.
    void theManifestKeepsItsFormat()
    {
        QByteArray everyFile;
        for (const auto &[name, content] : TestFiles::contents(m_bundle).asKeyValueRange()) {
            if (content != "/" && name != QLatin1String(".signature/manifest") && name != QLatin1String(".signature/signature"))
                everyFile += QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "  " + name.toUtf8() + '\n';
        }
        QCOMPARE(TestFiles::read(path(".signature/manifest")), everyFile);
        QVERIFY(everyFile.contains("  .signature/attributes\n"));
    }

    // What it cannot sign, and how it is asked wrongly.
    void theSignerRefusesWhatItCannotVerify()
    {
        QFile::link(QStringLiteral("/etc"), path("etc"));
        QCOMPARE(signBundle(m_bundle, m_key).exitCode, 1);
        QCOMPARE(runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"), {m_bundle}).exitCode, 2);
        TestFiles::write(m_root.filePath(QStringLiteral("public.pem")), m_publicKey);
        QVERIFY(signBundle(m_bundle, m_root.filePath(QStringLiteral("public.pem"))).output.contains("not an Ed25519 private key"));
    }
};

DROWSEWICK_TEST_MAIN(TestBundleSignature, QCoreApplication)
#include "tst_BundleSignature.moc"
