#include "StandinEngine.h"

#include "StandinScript.h"

#include <QThread>

#include <optional>

namespace {

struct ScriptFailure
{
    qint64 number;
    QString message;
};

// A script run ends with a result text, with no result at all, or with an error.
struct ScriptRun
{
    std::optional<QString> result;
    std::optional<ScriptFailure> failure;
};

constexpr qint64 notAuthorizedNumber = -1743;
constexpr qint64 genericErrorNumber = -10000;
const ScriptFailure unknownScript{-2741, QStringLiteral("Unknown script.")};

ScriptRun failed(qint64 number, const QString &message)
{
    return {std::nullopt, ScriptFailure{number, message}};
}

ScriptRun snapshot(const StandinState &state)
{
    if (state.snapshotError != 0)
        return failed(state.snapshotError, QStringLiteral("Simulated failure"));
    return {state.snapshotText(), std::nullopt};
}

ScriptRun close(StandinState &state, const StandinScript &script)
{
    if (state.closeTab(script.windowID, script.address, script.addressCase) == StandinState::CloseOutcome::refused)
        return failed(genericErrorNumber, QStringLiteral("Simulated close failure"));
    return {};
}

ScriptRun open(StandinState &state, const StandinScript &script)
{
    state.openTab(script.address, script.address);
    return {};
}

// Unknown scripts fail to compile and never get this far.
ScriptRun execute(StandinState &state, const StandinScript &script)
{
    if (state.automationDenied)
        return failed(notAuthorizedNumber, QStringLiteral("Not authorized to send Apple events to Safari."));
    if (script.kind == StandinScript::Kind::snapshot)
        return snapshot(state);
    if (script.kind == StandinScript::Kind::close)
        return close(state, script);
    return open(state, script);
}

// Sending any event to Safari launches it first; the running-check exists to avoid that.
ScriptRun executeStartingSafari(const StandinStore &store, const StandinStore::Lock &lock, const StandinScript &script)
{
    StandinState state;
    try {
        state = store.load(lock);
    } catch (const InvalidState &) {
        return failed(genericErrorNumber, QStringLiteral("Unreadable state"));
    }
    const StandinState before = state;
    if (!state.running) {
        state.start();
        store.log(lock, QStringLiteral("start"));
    }
    const ScriptRun run = execute(state, script);
    if (state != before)
        store.save(lock, state);
    return run;
}

QString withFailure(const QString &entry, const std::optional<ScriptFailure> &failure)
{
    return failure ? QStringLiteral("%1 error %2").arg(entry).arg(failure->number) : entry;
}

QByteArray errorLine(QStringView kind, const ScriptFailure &failure)
{
    return QStringLiteral("%1: %2 (%3)\n").arg(kind, failure.message, QString::number(failure.number)).toUtf8();
}

StandinOutput output(const ScriptRun &run)
{
    if (run.failure) {
        return {1, {}, errorLine(u"0:35: execution error", *run.failure)};
    }
    // Like osascript: a result is printed with a line feed; no result prints nothing.
    return {0, run.result ? (*run.result + u'\n').toUtf8() : QByteArray(), {}};
}

} // namespace

StandinOutput StandinEngine::run(const QString &scriptText) const
{
    const StandinScript script = StandinScript::recognise(scriptText);
    if (script.kind == StandinScript::Kind::unknown) {
        const StandinStore::Lock lock(m_store);
        m_store.log(lock, withFailure(script.logEntry(), unknownScript));
        return {1, {}, errorLine(u"0:0: syntax error", unknownScript)};
    }
    QThread::msleep(m_store.delayMs());
    const StandinStore::Lock lock(m_store);
    const ScriptRun run = executeStartingSafari(m_store, lock, script);
    m_store.log(lock, withFailure(script.logEntry(), run.failure));
    return output(run);
}
