#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

// The publisher's signature over an application bundle where the platform has no code signing of
// its own, stored inside the bundle in ".signature/": "manifest" lists every file with its
// SHA-256, "signature" is the Ed25519 signature of the manifest, and "attributes", a file the
// manifest covers like any other, lists every entry's type and permission bits, folders
// included, so the signature also covers what an unpacked copy will run as.
namespace BundleSignature {

// A bundle or key that cannot be signed with; the message says why.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// One line per regular file, "<sha256 in hex>  <path relative to the bundle>\n", sorted by path;
// the stored manifest and signature themselves are left out. Empty when the bundle holds a
// symbolic link, a special file, a name with a line break, or a file that cannot be read.
std::optional<QByteArray> manifest(const QString &bundle);

// Writes the attributes, the manifest and its signature with the Ed25519 private key (PEM) into
// the bundle, each readable by all. Throws Error for an unusable key or bundle, FileSystemError
// when the files cannot be written.
void sign(const QString &bundle, const QByteArray &privateKeyPem);

// Whether the stored signature is the key's over the stored manifest, that manifest still
// describes the bundle's files exactly, and the stored attributes its entries, their types and
// permission bits. The public key is PEM, also run together on one line, or its bare base64; an
// empty or unusable key verifies nothing.
bool verify(const QString &bundle, const QByteArray &publicKey);

} // namespace BundleSignature
