#include "Bundles.h"

#include "ToolPaths.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>

namespace Bundles {

Publisher makePublisher(const QString &folder, const QString &name)
{
    if (macOSFlavour()) {
        const QString team = name.toUpper().leftJustified(10, u'0', true);
        return {QStringLiteral("Developer ID Application: %1 (%2)").arg(name, team), team.toLatin1()};
    }
    const QString key = folder + u'/' + name + QStringLiteral(".pem");
    runTool(QStringLiteral("openssl"),
            {QStringLiteral("genpkey"), QStringLiteral("-algorithm"), QStringLiteral("ed25519"), QStringLiteral("-out"), key});
    return {key,
            runTool(QStringLiteral("openssl"), {QStringLiteral("pkey"), QStringLiteral("-in"), key, QStringLiteral("-pubout")})
                    .output};
}

ToolRun sign(const Publisher &publisher, const QString &bundle)
{
    if (macOSFlavour())
        return runTool(ToolPaths::codesign(), {QStringLiteral("--force"), QStringLiteral("--sign"), publisher.signer, bundle});
    return runTool(QCoreApplication::applicationDirPath() + QStringLiteral("/sign-bundle"), {bundle, publisher.signer});
}

void make(const QString &path, const QByteArray &label, const QString &marker, const QByteArray &version)
{
    TestFiles::write(UpdatePlatform::executable(path),
                     "#!/bin/sh\n[ \"$1\" = --version ] && echo " + version + " && exit\necho " + label + " \"$0\" > '"
                         + QFile::encodeName(marker) + "'\n",
                     true);
    TestFiles::write(path + QStringLiteral("/safari-standin"), "#!/bin/sh\nexit 0\n", true);
    TestFiles::write(path + QStringLiteral("/resources/notes.txt"), "bundle " + label + "\n");
}

QByteArray startedAs(const QByteArray &label, const QString &bundle)
{
    return label + ' ' + QFile::encodeName(UpdatePlatform::executable(bundle)) + '\n';
}

QByteArray zip(const QString &folder)
{
    const QString archive = folder + QStringLiteral(".zip");
    QFile::remove(archive);
    runTool(QStringLiteral("zip"),
            {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-y"), archive, QStringLiteral(".")}, folder);
    return TestFiles::read(archive);
}

} // namespace Bundles
