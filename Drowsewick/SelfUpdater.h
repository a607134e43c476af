#pragma once

#include "Updater.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QException>
#include <QFuture>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

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

// What one installation may take. Tests make them small.
struct Limits
{
    // Bytes received for the download, whatever its status.
    qint64 downloadBytes = qint64(512) << 20;
    // What the archive's listing may total, and what the unpacking tool may write to one file.
    qint64 unpackedBytes = qint64(1) << 30;
    // For the whole installation, up to the start of the swap script.
    std::chrono::milliseconds deadline = std::chrono::minutes(15);
    // A download that receives less than stallBytes in any stallWindow stops.
    qint64 stallBytes = 64 * 1024;
    std::chrono::milliseconds stallWindow = std::chrono::seconds(60);
    // For the new bundle's executable to answer --version.
    std::chrono::milliseconds versionCheck = std::chrono::seconds(10);
};

// Where an installation reads and writes; current() describes the running application, tests
// describe folders of their own.
struct Environment
{
    // The installed bundle that the update replaces; empty when the app runs outside a bundle.
    QString bundlePath;
    // The folder from which down to workRoot no one but this user (or root) may change anything:
    // the cache folder on Linux, the per-user temporary folder on macOS.
    QString privateRoot;
    // Holds the work folders and the swap scripts.
    QString workRoot;
    // Who updates must be signed by: the team identifier on macOS, the Ed25519 public key (PEM)
    // on Linux.
    QByteArray publisher;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    // The process the swap script waits for; it also names the work folder.
    qint64 pid = 0;
    Limits limits;

    static Environment current();
};

// What bounds one installation while it runs: its limits, its deadline, and the caller's
// cancelling it (the app quits).
class Attempt
{
public:
    Attempt(const Limits &limits, std::function<bool()> cancelled);
    const Limits &limits() const { return m_limits; }
    QDeadlineTimer deadline() const { return m_deadline; }
    bool cancelled() const { return m_cancelled(); }
    bool stopped() const { return cancelled() || m_deadline.hasExpired(); }
    // Throws PlatformFailure once the attempt is cancelled or past its deadline.
    void check() const;

private:
    Limits m_limits;
    std::function<bool()> m_cancelled;
    QDeadlineTimer m_deadline;
};

// Checks the location, downloads and unpacks the update, verifies the new bundle, makes sure it
// runs and is the version offered, and starts the swap script, all on a worker thread. The
// future finishes once the script runs (the caller must then quit) or fails with Failure or
// PlatformFailure; a failed attempt leaves no work folder behind. Cancelling the future stops
// the attempt at once, and then the swap never starts.
QFuture<void> install(const UpdateInfo &update, const Environment &environment = Environment::current());

// The swap script: waits for pid to end, swaps the bundles ("$1" new, "$2" installed), rolls back
// a failed copy, and starts whatever bundle is then in place.
QString swapScript(qint64 pid);

// Writes the swap script for environment.pid and starts it in a session of its own; does not
// wait. Returns the script's process identifier.
qint64 launchSwap(const QString &newApp, const QString &installed, const Environment &environment);

// Runs tool with arguments to its end and returns its standard output. Throws Failure(fail) when
// it ends unsuccessfully, or writes past fileSizeLimit bytes into a file (when one is given);
// PlatformFailure when it cannot be started, or the attempt stops first.
QByteArray run(const QString &tool, const QStringList &arguments, UpdateError fail, const Attempt &attempt,
               qint64 fileSizeLimit = 0);

// Removes the work folders and swap scripts of earlier runs whose process has ended. A run that
// still goes on keeps them: its swap script may yet copy from its work folder.
void removeLeftovers(const Environment &environment);

} // namespace SelfUpdater
