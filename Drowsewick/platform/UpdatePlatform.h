#pragma once

#include <QByteArray>
#include <QString>

// The parts of self-updating that differ between macOS and Linux, one implementation each: where
// the bundle and the work folder are, how an archive is unpacked, how a signature is checked,
// and how the swap script copies and starts a bundle.
namespace UpdatePlatform {

// The bundle the running executable belongs to, or empty when it runs outside one.
QString runningBundle();

// The private per-user folder for the work folder and the swap script.
QString workRoot();

// Who the build trusts to sign updates (see SelfUpdater::Environment::publisher).
QByteArray publisher();

// Extracts the zip archive into folder, which it creates. Throws Failure(unpack) for an archive
// that is damaged or would write outside folder.
void unpack(const QString &archive, const QString &folder);

// Throws Failure(badSignature) unless publisher signed the bundle as it is now.
void verifySignature(const QString &bundle, const QByteArray &publisher);

// The swap script after its two fixed first lines: swap "$2" for "$1", restore the old bundle
// when that fails, start "$2".
QString swapScriptTail();

} // namespace UpdatePlatform
