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
    ToolRun signBundle(const QStringList &arguments)
    {
        return runTool(QCoreApplication::applicationDirPath() + u"/sign-bundle"_qs, arguments, m_root.path());
    }

private slots:
    void initTestCase()
    {
        m_publicKey
                = shell(u"for k in stranger publisher; do openssl genpkey -algorithm ed25519 -out $k.pem; done; openssl pkey -in publisher.pem -pubout"_qs)
                          .output;
        QVERIFY(m_publicKey.startsWith("-----BEGIN PUBLIC KEY"));
    }

    void init()
    {
        QDir(m_bundle).removeRecursively();
        Bundles::make(m_bundle, "new", m_root.filePath(u"marker"_qs));
        // Named relatively, as the publisher may: the listed paths do not depend on it.
        QCOMPARE(signBundle({u"Drowsewick.app"_qs, u"publisher.pem"_qs}).exitCode, 0);
    }

    // The key as a build setting may hold it verifies the bundle as signed; none, or another,
    // verifies nothing. The manifest is what a copy that checks nothing else makes, so that
    // copies installed today keep verifying; the attributes are a file of the bundle like any
    // other. The signer refuses what it cannot verify. Then tamperings, each a shell command in
    // the bundle's folder ($0: the signing tool) on a bundle signed afresh: a file changed, added
    // (also beside the signature), removed, a link or an empty folder added, modes changed, the
    // signature removed, the manifest edited to match, the bundle signed again by another key.
    void onlyTheBundleAsThePublisherSignedItVerifies()
    {
        const QByteArray bare = m_publicKey.split('\n').value(1);
        for (const QByteArray &key : {m_publicKey, QByteArray(m_publicKey).replace('\n', ""), bare})
            QVERIFY(BundleSignature::verify(m_bundle, key));
        for (const QByteArray &key : {QByteArray(bare).replace(4, 1, "*"), QByteArray()})
            QVERIFY(!BundleSignature::verify(m_bundle, key));

        const ToolRun listing = shell(
                u"cd Drowsewick.app && find . -type f ! -name manifest ! -name signature | cut -c3- | LC_ALL=C sort | xargs sha256sum"_qs);
        QCOMPARE(TestFiles::read(m_bundle + u"/.signature/manifest"_qs), listing.output);
        QVERIFY(listing.output.contains("  .signature/attributes\n"));

        QFile::link(u"/etc"_qs, m_bundle + u"/etc"_qs);
        QCOMPARE(signBundle({m_bundle, u"publisher.pem"_qs}).exitCode, 1);
        TestFiles::write(m_root.filePath(u"public.pem"_qs), m_publicKey);
        QVERIFY(signBundle({m_bundle, u"public.pem"_qs}).output.contains("not an Ed25519 private key"));

        for (const char *tampering :
             {"echo evil > resources/notes.txt", "echo extra > resources/extra.txt", "echo extra > .signature/extra",
              "rm safari-standin", "ln -s /etc etc", "mkdir resources/empty", "chmod 644 safari-standin", "chmod 700 resources",
              "rm .signature/signature", "\"$0\" . ../stranger.pem",
              "echo evil > resources/notes.txt && sed -i \"s|^.*  resources/notes.txt\\$|$(sha256sum resources/notes.txt)|\" "
              ".signature/manifest"}) {
            init();
            runTool(u"sh"_qs,
                    {u"-c"_qs, QString::fromUtf8(tampering), QCoreApplication::applicationDirPath() + u"/sign-bundle"_qs},
                    m_bundle);
            QVERIFY2(!BundleSignature::verify(m_bundle, m_publicKey), tampering);
        }
    }
};

DROWSEWICK_TEST_MAIN(TestBundleSignature, QCoreApplication)
#include "tst_BundleSignature.moc"
