#pragma once

#include "TestHome.h"

// Application bundles as the publisher signs them and the installer takes them: on Linux a
// bundle signed with an Ed25519 key by sign-bundle, on macOS one codesign signed for a team
// (here its stand-in).
namespace Bundles {

struct Publisher
{
    QString signer;     // the private key's path, or the signing identity
    QByteArray trusted; // what SelfUpdater::Environment::publisher holds: the public key, or the team
};

Publisher makePublisher(const QString &folder, const QString &name);
ToolRun sign(const Publisher &publisher, const QString &bundle);

// A stand-in for an installed Drowsewick.app whose executable answers --version with version
// and, when started, writes its label and the path it was started at into the marker file.
void make(const QString &path, const QByteArray &label, const QString &marker, const QByteArray &version = "2.0");
// What that executable writes when started from the bundle at path.
QByteArray startedAs(const QByteArray &label, const QString &bundle);
// The folder's contents as a zip archive, each entry at its place.
QByteArray zip(const QString &folder);

} // namespace Bundles
