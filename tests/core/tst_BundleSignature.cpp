#include "BundleSignature.h"
#include "Bundles.h"
#include "TestHome.h"

#include <QCoreApplication>

// The publisher's Ed25519 signature over a bundle's files, their modes and its folders.
class TestBundleSignature : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_bundle = m_root.filePath(u"Drowsewick.app"_qs);
    QByteArray m_publicKey;

    // Run in the folder that holds the bundle and the keys.
    ToolRun shell(const QString &command) { return runTool(u"sh"_qs, {u"-c"_qs, command}, m_root.path()); }
    ToolRun signBundle(const QStringList &arguments) { return runTool(QCoreApplication::applicationDirPath() + u"/sign-bundle"_qs, arguments, m_root.path()); }

private slots:
    void initTestCase()
    {
        m_publicKey = shell(u"for k in stranger publisher; do openssl genpkey -algorithm ed25519 -out $k.pem; done; openssl pkey -in publisher.pem -pubout"_qs).output;
        QVERIFY(m_publicKey.startsWith("-----BEGIN PUBLIC KEY"));
    }

    void init()
    {
        QDir(m_bundle).removeRecursively();
        Bundles::make(m_bundle, "new", m_root.filePath(u"marker"_qs));
        // Named relatively, as the publisher may: the listed paths do not depend on it.
        QCOMPARE(signBundle({u"Drowsewick.app"_qs, u"publisher.pem"_qs}).exitCode, 0);
    }

    // Each row one tampering, a shell command in the bundle's folder ($0: the signing tool).
    void tamperingIsFound_data()
    {
        QTest::addColumn<QString>("tampering");
        QTest::newRow("file changed") << "echo evil > resources/notes.txt";
        QTest::newRow("file added") << "echo extra > resources/extra.txt";
        QTest::newRow("file added beside the signature") << "echo extra > .signature/extra";
        QTest::newRow("file removed") << "rm safari-standin";
        QTest::newRow("symbolic link added") << "ln -s /etc etc";
        QTest::newRow("empty folder added") << "mkdir resources/empty";
        QTest::newRow("executable no longer executable") << "chmod 644 safari-standin";
        QTest::newRow("folder closed to others") << "chmod 700 resources";
        QTest::newRow("signature removed") << "rm .signature/signature";
        QTest::newRow("manifest edited to match a changed file")
            << "echo evil > resources/notes.txt && sed -i \"s|^.*  resources/notes.txt\\$|$(sha256sum resources/notes.txt)|\" .signature/manifest";
        QTest::newRow("signed again by another key") << "\"$0\" . ../stranger.pem";
    }
    void tamperingIsFound()
    {
        QFETCH(QString, tampering);
        runTool(u"sh"_qs, {u"-c"_qs, tampering, QCoreApplication::applicationDirPath() + u"/sign-bundle"_qs}, m_bundle);
        QVERIFY(!BundleSignature::verify(m_bundle, m_publicKey));
    }

    // The key as a build setting may hold it verifies the bundle as signed; none, or another,
    // verifies nothing. The manifest is what a copy that checks nothing else makes, so that
    // copies installed today keep verifying; the attributes are a file of the bundle like any
    // other. The signer refuses what it cannot verify.
    void theSignatureAsThePublisherMakesIt()
    {
        const QByteArray bare = m_publicKey.split('\n').value(1);
        QVERIFY(BundleSignature::verify(m_bundle, m_publicKey));
        QVERIFY(BundleSignature::verify(m_bundle, QByteArray(m_publicKey).replace('\n', "")));
        QVERIFY(BundleSignature::verify(m_bundle, bare));
        QVERIFY(!BundleSignature::verify(m_bundle, QByteArray(bare).replace(4, 1, "*")));
        QVERIFY(!BundleSignature::verify(m_bundle, QByteArray()));

        const ToolRun listing = shell(u"cd Drowsewick.app && find . -type f ! -name manifest ! -name signature | cut -c3- | LC_ALL=C sort | xargs sha256sum"_qs);
        QCOMPARE(TestFiles::read(m_bundle + u"/.signature/manifest"_qs), listing.output);
        QVERIFY(listing.output.contains("  .signature/attributes\n"));

        QFile::link(u"/etc"_qs, m_bundle + u"/etc"_qs);
        QCOMPARE(signBundle({m_bundle, u"publisher.pem"_qs}).exitCode, 1);
        TestFiles::write(m_root.filePath(u"public.pem"_qs), m_publicKey);
        QVERIFY(signBundle({m_bundle, u"public.pem"_qs}).output.contains("not an Ed25519 private key"));
    }
};

DROWSEWICK_TEST_MAIN(TestBundleSignature, QCoreApplication)
#include "tst_BundleSignature.moc"
