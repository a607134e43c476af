#pragma once

#include <QByteArray>
#include <QString>

// The parts of self-updating that differ between macOS and Linux, one implementation each: where
// the bundle and the work folder are, how an archive is unpacked, how a signature is checked,
// and how the swap script copies and starts a bundle.
namespace SelfUpdater {
class Attempt;
}

namespace UpdatePlatform {

// The bundle the running executable belongs to, or empty when it runs outside one.
QString runningBundle();

// The folder from which down to the work root no one else may change anything.
QString privateRoot();

// The private per-user folder for the work folder and the swap script.
QString workRoot();

// Who the build trusts to sign updates (see SelfUpdater::Environment::publisher).
QByteArray publisher();

// Extracts the zip archive into folder, which it creates, writing no file past the attempt's
// unpacked-size limit. Throws Failure(unpack) for an archive that is damaged, would write outside
// folder, or holds a file over that limit.
void unpack(const QString &archive, const QString &folder, const SelfUpdater::Attempt &attempt);

// Throws Failure(badSignature) unless publisher signed the bundle as it is now.
void verifySignature(const QString &bundle, const QByteArray &publisher, const SelfUpdater::Attempt &attempt);

// The bundle's main executable, which answers --version.
QString executable(const QString &bundle);

// The swap script after its two fixed first lines: swap "$2" for "$1", restore the old bundle
// when that fails, start "$2".
QString swapScriptTail();

} // namespace UpdatePlatform
