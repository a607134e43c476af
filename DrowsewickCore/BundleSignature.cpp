#include "BundleSignature.h"

#include "DurableFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <memory>
#include <sys/stat.h>

namespace BundleSignature {

namespace {

const QString manifestPath = QStringLiteral(".signature/manifest");
const QString signaturePath = QStringLiteral(".signature/signature");
const QString attributesPath = QStringLiteral(".signature/attributes");

template <auto release>
struct Releaser
{
    template <typename T>
    void operator()(T *object) const { release(object); }
};
using Key = std::unique_ptr<EVP_PKEY, Releaser<EVP_PKEY_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Releaser<EVP_MD_CTX_free>>;
using MemoryBio = std::unique_ptr<BIO, Releaser<BIO_free>>;

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

std::optional<QByteArray> sha256Hex(const QString &path)
{
    QFile file(path);
    DigestContext context(EVP_MD_CTX_new());
    if (!context || !file.open(QIODevice::ReadOnly) || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    qint64 count = 0;
    while ((count = file.read(chunk.data(), chunk.size())) > 0) {
        if (EVP_DigestUpdate(context.get(), chunk.constData(), size_t(count)) != 1)
            return std::nullopt;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (count < 0 || EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(digest), size).toHex();
}

std::optional<QByteArray> readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

Key onlyEd25519(Key key)
{
    return key && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_ED25519 ? std::move(key) : Key();
}

Key privateKey(const QByteArray &pem)
{
    MemoryBio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    // No password callback given: OpenSSL asks on the terminal for a protected key.
    return onlyEd25519(Key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr));
}

// The base64 between the PEM markers, whatever line breaks a build setting has kept or lost.
QByteArray pemBody(QByteArray text)
{
    static const QByteArray begin = "-----BEGIN PUBLIC KEY-----";
    static const QByteArray end = "-----END PUBLIC KEY-----";
    const qsizetype start = text.indexOf(begin);
    if (start >= 0)
        text.remove(0, start + begin.size());
    const qsizetype stop = text.indexOf(end);
    if (stop >= 0)
        text.truncate(stop);
    text.removeIf([](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
    return text;
}

Key publicKey(const QByteArray &text)
{
    const auto decoded = QByteArray::fromBase64Encoding(pemBody(text), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return Key();
    const unsigned char *der = bytes(decoded.decoded);
    return onlyEd25519(Key(d2i_PUBKEY(nullptr, &der, long(decoded.decoded.size()))));
}

QByteArray signature(EVP_PKEY *key, const QByteArray &data)
{
    DigestContext context(EVP_MD_CTX_new());
    size_t size = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1
        || EVP_DigestSign(context.get(), nullptr, &size, bytes(data), size_t(data.size())) != 1)
        throw Error(QStringLiteral("cannot sign with this key"));
    QByteArray result(qsizetype(size), Qt::Uninitialized);
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(result.data()), &size, bytes(data), size_t(data.size())) != 1)
        throw Error(QStringLiteral("cannot sign with this key"));
    result.truncate(qsizetype(size));
    return result;
}

bool signatureMatches(EVP_PKEY *key, const QByteArray &data, const QByteArray &signature)
{
    DigestContext context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1
           && EVP_DigestVerify(context.get(), bytes(signature), size_t(signature.size()), bytes(data), size_t(data.size())) == 1;
}

struct Entry
{
    QString filePath;
    mode_t mode = 0;
};

// Every entry of the bundle but the stored manifest and signature, keyed by its relative path's
// bytes so the order does not depend on the locale. Empty when the bundle is missing or holds a
// symbolic link, a special file or a name with a line break.
std::optional<QMap<QByteArray, Entry>> entries(const QString &bundle)
{
    // Absolute, so that the listed paths do not depend on how the bundle was named.
    const QDir root(QFileInfo(bundle).absoluteFilePath());
    if (!root.exists())
        return std::nullopt;
    QMap<QByteArray, Entry> found;
    QDirIterator iterator(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString filePath = iterator.next();
        const QString path = root.relativeFilePath(filePath);
        struct stat status {};
        if (path.contains(u'\n') || path.contains(u'\r') || ::lstat(QFile::encodeName(filePath).constData(), &status) != 0
            || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
            return std::nullopt;
        if (path != manifestPath && path != signaturePath)
            found.insert(path.toUtf8(), {filePath, status.st_mode});
    }
    return found;
}

// The bundle's entries in path order, a line each as lineOf writes it (empty to leave one out);
// none when an entry cannot be listed or its line cannot be made.
template <typename LineOf>
std::optional<QByteArray> listing(const QString &bundle, LineOf lineOf)
{
    const std::optional<QMap<QByteArray, Entry>> all = entries(bundle);
    if (!all)
        return std::nullopt;
    QByteArray text;
    for (const auto &[path, entry] : all->asKeyValueRange()) {
        const std::optional<QByteArray> line = lineOf(path, entry);
        if (!line)
            return std::nullopt;
        text += *line;
    }
    return text;
}

// One line per entry, folders included, "<f or d> <permission bits in octal>  <path>\n".
std::optional<QByteArray> attributes(const QString &bundle)
{
    return listing(bundle, [](const QByteArray &path, const Entry &entry) -> std::optional<QByteArray> {
        return (S_ISDIR(entry.mode) ? "d " : "f ") + QByteArray::number(entry.mode & 07777, 8).rightJustified(4, '0') + "  "
            + path + '\n';
    });
}

// Replaces one of the signature's files, readable by all like the rest of an installed bundle.
void store(const QDir &root, const QString &relative, const QByteArray &bytes)
{
    const QString path = root.filePath(relative);
    DurableFile::writeAtomically(path, bytes, 0644);
}

} // namespace

std::optional<QByteArray> manifest(const QString &bundle)
{
    return listing(bundle, [](const QByteArray &path, const Entry &entry) -> std::optional<QByteArray> {
        if (S_ISDIR(entry.mode))
            return QByteArray();
        const std::optional<QByteArray> digest = sha256Hex(entry.filePath);
        return digest ? std::optional(*digest + "  " + path + '\n') : std::nullopt;
    });
}

void sign(const QString &bundle, const QByteArray &privateKeyPem)
{
    const Key key = privateKey(privateKeyPem);
    if (!key)
        throw Error(QStringLiteral("the key is not an Ed25519 private key in PEM"));
    const Error unusable(QStringLiteral("%1 is missing, unreadable, or holds a symbolic link, a special file or a name with a line break").arg(bundle));
    if (!entries(bundle))
        throw unusable;
    const QDir root(bundle);
    if (!root.mkpath(QStringLiteral(".signature")))
        throw Error(QStringLiteral("cannot create %1").arg(root.filePath(QStringLiteral(".signature"))));
    // The attributes list themselves as they will be, and the manifest covers them like any file.
    store(root, attributesPath, {});
    const std::optional<QByteArray> listed = attributes(bundle);
    if (!listed)
        throw unusable;
    store(root, attributesPath, *listed);
    const std::optional<QByteArray> listing = manifest(bundle);
    if (!listing)
        throw unusable;
    store(root, manifestPath, *listing);
    store(root, signaturePath, signature(key.get(), *listing));
}

bool verify(const QString &bundle, const QByteArray &publicKeyText)
{
    const QDir root(bundle);
    const Key key = publicKey(publicKeyText);
    const std::optional<QByteArray> stored = readWhole(root.filePath(manifestPath));
    const std::optional<QByteArray> storedSignature = readWhole(root.filePath(signaturePath));
    return key && stored && storedSignature && signatureMatches(key.get(), *stored, *storedSignature)
           && manifest(bundle) == stored && attributes(bundle) == readWhole(root.filePath(attributesPath));
}

} // namespace BundleSignature
