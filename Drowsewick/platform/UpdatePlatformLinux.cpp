#include "platform/UpdatePlatform.h"

#include "BundleSignature.h"
#include "SelfUpdater.h"
#include "ToolPaths.h"
#include "UpdatePublisher.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>

namespace UpdatePlatform {

namespace {

using SelfUpdater::Failure;
using SelfUpdater::UpdateError;

// Relative, without "..", and without backslashes, which an archiver from another system may
// have meant as separators.
bool staysInside(QStringView name)
{
    if (name.startsWith(u'/') || name.contains(u'\\'))
        return false;
    for (QStringView part : name.tokenize(u'/')) {
        if (part == u"..")
            return false;
    }
    return true;
}

// zipinfo's short listing begins every entry's line with its mode as ls -l writes it; the header
// and total lines begin otherwise.
bool holdsSymbolicLink(const QByteArray &shortListing)
{
    const QList<QByteArray> lines = shortListing.split('\n');
    return std::any_of(lines.begin(), lines.end(), [](const QByteArray &line) { return line.startsWith('l'); });
}

bool isSafeToUnpack(const QString &archive, const SelfUpdater::Attempt &attempt)
{
    const QStringList names = QString::fromUtf8(SelfUpdater::run(ToolPaths::zipinfo(), {QStringLiteral("-1"), archive}, UpdateError::unpack, attempt))
                                  .split(u'\n', Qt::SkipEmptyParts);
    return std::all_of(names.begin(), names.end(), staysInside)
           && !holdsSymbolicLink(SelfUpdater::run(ToolPaths::zipinfo(), {QStringLiteral("-s"), archive}, UpdateError::unpack, attempt));
}

} // namespace

QString runningBundle()
{
    // An installed copy runs from Drowsewick.app, the folder that holds its executables. A build
    // folder or a copy that a package manager owns is no bundle, and is not replaced.
    const QString folder = QCoreApplication::applicationDirPath();
    return folder.endsWith(QLatin1String(".app")) ? folder : QString();
}

QString privateRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

QString workRoot()
{
    // Not /tmp: it is shared, so predictable names there are unsafe.
    return privateRoot() + QStringLiteral("/com.nimbrel.drowsewick/update");
}

QByteArray publisher()
{
    return QByteArray(UpdatePublisher::publicKey);
}

void unpack(const QString &archive, const QString &folder, const SelfUpdater::Attempt &attempt)
{
    // Every name is checked before anything is written: no entry may land outside folder, and no
    // symbolic link may lead a later entry out of it.
    if (!isSafeToUnpack(archive, attempt))
        throw Failure(UpdateError::unpack);
    SelfUpdater::run(ToolPaths::unzip(), {QStringLiteral("-q"), QStringLiteral("-n"), archive, QStringLiteral("-d"), folder},
                     UpdateError::unpack, attempt, attempt.limits().unpackedBytes);
}

void verifySignature(const QString &bundle, const QByteArray &publisher, const SelfUpdater::Attempt &)
{
    if (!BundleSignature::verify(bundle, publisher))
        throw Failure(UpdateError::badSignature);
}

QString executable(const QString &bundle)
{
    return bundle + QStringLiteral("/drowsewick");
}

QString swapScriptTail()
{
    // "$2" is touched only after it was renamed to "$2.bak"; a failed copy is removed before the
    // backup goes back, so the user always ends with a working bundle.
    return QStringLiteral(
        "if rm -rf \"$2.bak\" && mv -T \"$2\" \"$2.bak\" 2>/dev/null; then\n"
        "  if cp -R -T \"$1\" \"$2\" 2>/dev/null; then\n"
        "    rm -rf \"$2.bak\"\n"
        "  else\n"
        "    rm -rf \"$2\" && mv -T \"$2.bak\" \"$2\"\n"
        "  fi\n"
        "fi\n"
        "setsid \"$2/drowsewick\" >/dev/null 2>&1 </dev/null &");
}

} // namespace UpdatePlatform
