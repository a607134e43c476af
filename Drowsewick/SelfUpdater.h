#pragma once

#include "Updater.h"

#include <QByteArray>
#include <QException>
#include <QFuture>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

// Replaces the running application bundle with a downloaded, signature-checked one: everything
// up to a detached swap script happens here; the script swaps the bundles once the app has quit.
namespace SelfUpdater {

enum class UpdateError { download, unpack, notFound, badSignature, readOnlyLocation };

// The installer's own failures, without texts: the caller maps them to its messages.
class Failure : public QException
{
public:
    explicit Failure(UpdateError error) : m_error(error) {}
    UpdateError error() const { return m_error; }
    void raise() const override { throw *this; }
    Failure *clone() const override { return new Failure(*this); }

private:
    UpdateError m_error;
};

// What the system refused: a file that cannot be written, a transfer that broke off, a tool that
// cannot be started. The message is for people debugging, not for the user.
class PlatformFailure : public QException
{
public:
    explicit PlatformFailure(const QString &message) : m_message(message) {}
    QString message() const { return m_message; }
    void raise() const override { throw *this; }
    PlatformFailure *clone() const override { return new PlatformFailure(*this); }

private:
    QString m_message;
};

// Where an installation reads and writes; current() describes the running application, tests
// describe folders of their own.
struct Environment
{
    // The installed bundle that the update replaces; empty when the app runs outside a bundle.
    QString bundlePath;
    // A folder only this user can enter, holding the work folder and the swap script.
    QString workRoot;
    // Who updates must be signed by: the team identifier on macOS, the Ed25519 public key (PEM)
    // on Linux.
    QByteArray publisher;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    // The process the swap script waits for; it also names the work folder.
    qint64 pid = 0;

    static Environment current();
};

// Checks the location, downloads and unpacks the update, verifies the new bundle and starts the
// swap script, all on a worker thread. The future finishes once the script runs (the caller must
// then quit) or fails with Failure or PlatformFailure.
QFuture<void> install(const UpdateInfo &update, const Environment &environment = Environment::current());

// The swap script: waits for pid to end, swaps the bundles ("$1" new, "$2" installed), rolls back
// a failed copy, and starts whatever bundle is then in place.
QString swapScript(qint64 pid);

// Writes the swap script for environment.pid and starts it in a session of its own; does not wait.
void launchSwap(const QString &newApp, const QString &installed, const Environment &environment);

// Runs tool with arguments to its end and returns its standard output. Throws Failure(fail) when
// it ends unsuccessfully, PlatformFailure when it cannot be started.
QByteArray run(const QString &tool, const QStringList &arguments, UpdateError fail);

} // namespace SelfUpdater
