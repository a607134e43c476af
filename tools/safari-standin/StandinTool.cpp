#include "StandinTool.h"

#include "DecimalNumber.h"

#include <QFile>

namespace {

enum ExitCode { success = 0, notRunning = 1, usageError = 2, unreadableState = 3 };

const QByteArray usage = QByteArrayLiteral(
    "usage: safari-standin                    run the script on standard input\n"
    "       safari-standin state\n"
    "       safari-standin load FILE\n"
    "       safari-standin running\n"
    "       safari-standin open URL [TITLE]\n"
    "       safari-standin select WINDOW-ID INDEX\n"
    "       safari-standin quit\n"
    "       safari-standin automation allow|deny\n");

StandinOutput failure(int exitCode, const QString &message)
{
    return {exitCode, {}, ("safari-standin: " + message + u'\n').toUtf8()};
}

StandinOutput unreadable(const InvalidState &error)
{
    return failure(unreadableState, QStringLiteral("unreadable state (%1); replace it with 'load'")
                                        .arg(QString::fromStdString(error.what())));
}

} // namespace

StandinOutput StandinTool::run(const QStringList &arguments) const
{
    const QString command = arguments.value(0);
    const qsizetype count = arguments.size();
    if (command == u"state" && count == 1)
        return change([](StandinState &state) { return StandinOutput{success, state.toJson(), {}}; });
    if (command == u"load" && count == 2)
        return load(arguments[1]);
    if (command == u"running" && count == 1)
        return running();
    if (command == u"open" && (count == 2 || count == 3)) {
        return change([&](StandinState &state) {
            state.start();
            state.openTab(arguments[1], arguments.value(2, arguments[1]));
            return StandinOutput{};
        });
    }
    if (command == u"select" && count == 3)
        return select(arguments[1], arguments[2]);
    if (command == u"quit" && count == 1)
        return change([](StandinState &state) {
            state.quit();
            return StandinOutput{};
        });
    if (command == u"automation" && count == 2 && (arguments[1] == u"allow" || arguments[1] == u"deny")) {
        return change([&](StandinState &state) {
            state.automationDenied = arguments[1] == u"deny";
            return StandinOutput{};
        });
    }
    return {usageError, {}, usage};
}

// Loads the state, applies the change and saves the state when the change succeeded and did
// change something; an unreadable state is left exactly as it is.
StandinOutput StandinTool::change(const Change &change) const
{
    const StandinStore::Lock lock(m_store);
    StandinState state;
    try {
        state = m_store.load(lock);
    } catch (const InvalidState &error) {
        return unreadable(error);
    }
    const StandinState before = state;
    const StandinOutput output = change(state);
    if (output.exitCode == success && state != before)
        m_store.save(lock, state);
    return output;
}

StandinOutput StandinTool::load(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(usageError, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    StandinState state;
    try {
        state = StandinState::fromJson(file.readAll());
    } catch (const InvalidState &error) {
        return failure(usageError, QStringLiteral("%1: %2").arg(path, QString::fromStdString(error.what())));
    }
    const StandinStore::Lock lock(m_store);
    m_store.save(lock, state);
    return {};
}

StandinOutput StandinTool::running() const
{
    const StandinStore::Lock lock(m_store);
    try {
        const bool running = m_store.load(lock).running;
        m_store.log(lock, QStringLiteral("running"));
        return {running ? success : notRunning, {}, {}};
    } catch (const InvalidState &error) {
        m_store.log(lock, QStringLiteral("running error -10000"));
        return unreadable(error);
    }
}

StandinOutput StandinTool::select(const QString &windowText, const QString &indexText) const
{
    qint64 windowID = 0;
    qint64 index = 0;
    if (!DecimalNumber::parseInt64(windowText, &windowID) || !DecimalNumber::parseInt64(indexText, &index))
        return {usageError, {}, usage};
    return change([&](StandinState &state) {
        if (!state.select(windowID, index))
            return failure(usageError, QStringLiteral("window %1 has no tab %2").arg(windowText, indexText));
        return StandinOutput{};
    });
}
