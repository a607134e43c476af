#include "platform/UpdatePlatform.h"

#include "SelfUpdater.h"
#include "ToolPaths.h"
#include "UpdatePublisher.h"

#include <QCoreApplication>
#include <QDir>

namespace UpdatePlatform {

using SelfUpdater::UpdateError;

QString runningBundle()
{
    // The executable sits in Drowsewick.app/Contents/MacOS.
    const QString bundle = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
    return bundle.endsWith(QLatin1String(".app")) ? bundle : QString();
}

QString privateRoot()
{
    // $TMPDIR: a folder of this user's own, unlike the shared /tmp.
    return QDir::tempPath();
}

QString workRoot()
{
    return privateRoot();
}

QByteArray publisher()
{
    return QByteArray(UpdatePublisher::teamId);
}

void unpack(const QString &archive, const QString &folder, const SelfUpdater::Attempt &attempt)
{
    SelfUpdater::run(ToolPaths::ditto(), {QStringLiteral("-x"), QStringLiteral("-k"), archive, folder}, UpdateError::unpack,
                     attempt, attempt.limits().unpackedBytes);
}

void verifySignature(const QString &bundle, const QByteArray &publisher, const SelfUpdater::Attempt &attempt)
{
    // A leading "=" tells codesign that the requirement is text, not a file.
    const QString requirement = QStringLiteral("=anchor apple generic and certificate leaf[subject.OU] = \"%1\"")
                                    .arg(QString::fromUtf8(publisher));
    SelfUpdater::run(ToolPaths::codesign(), {QStringLiteral("--verify"), QStringLiteral("-R"), requirement, bundle},
                     UpdateError::badSignature, attempt);
}

QString executable(const QString &bundle)
{
    return bundle + QStringLiteral("/Contents/MacOS/Drowsewick");
}

QString swapScriptTail()
{
    // "$2" is touched only after it was renamed to "$2.bak"; a failed copy is removed before the
    // backup goes back, so the user always ends with a working bundle.
    return QStringLiteral(
               "%1 -dr com.apple.quarantine \"$1\" 2>/dev/null\n"
               "if rm -rf \"$2.bak\" && mv \"$2\" \"$2.bak\" 2>/dev/null; then\n"
               "  if %2 \"$1\" \"$2\" 2>/dev/null; then\n"
               "    rm -rf \"$2.bak\"\n"
               "  else\n"
               "    rm -rf \"$2\" && mv \"$2.bak\" \"$2\"\n"
               "  fi\n"
               "fi\n"
               "%3 \"$2\"")
        .arg(ToolPaths::xattr(), ToolPaths::ditto(), ToolPaths::open());
}

} // namespace UpdatePlatform
