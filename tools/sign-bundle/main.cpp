// sign-bundle <bundle-folder> <private-key.pem>: writes the attributes, the manifest and the Ed25519
// signature that Drowsewick checks before it installs an update on Linux.

#include "BundleSignature.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <exception>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "sign-bundle: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: sign-bundle <bundle-folder> <private-key.pem>\n");
        return 2;
    }
    QFile key(arguments.at(1));
    if (!key.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(key.fileName(), key.errorString()));
    try {
        BundleSignature::sign(arguments.at(0), key.readAll());
    } catch (const std::exception &error) {
        return fail(QString::fromStdString(error.what()));
    }
    return 0;
}
