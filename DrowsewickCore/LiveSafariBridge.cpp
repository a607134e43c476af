#include "LiveSafariBridge.h"

#include "DecimalNumber.h"

#include <QProcess>

#include <optional>

namespace {

constexpr qint64 notAuthorizedNumber = -1743;

struct Finished
{
    int exitCode;
    QByteArray standardOutput;
    QByteArray standardError;
};

QString describe(const ProcessCommand &command)
{
    return (QStringList{command.program} + command.arguments).join(u' ');
}

// Runs the command to its end; a command that cannot start, crashes or outlives the limit is a
// failed script.
Finished runToEnd(const ProcessCommand &command, const QByteArray &input, std::chrono::milliseconds limit)
{
    QProcess process;
    process.start(command.program, command.arguments);
    if (!process.waitForStarted(int(limit.count())))
        throw SafariError::engineUnavailable(QStringLiteral("Cannot run %1: %2").arg(describe(command), process.errorString()));
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(int(limit.count()))) {
        process.kill();
        process.waitForFinished();
        const QString seconds = QString::number(std::chrono::duration<double>(limit).count());
        throw SafariError::engineUnavailable(QStringLiteral("%1 did not finish within %2 seconds").arg(describe(command), seconds));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        throw SafariError::scriptFailed(QStringLiteral("%1 crashed").arg(describe(command)));
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QString withoutFinalLineFeed(QString text)
{
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

// "0:35: execution error: Safari got an error: … (-1728)": the number is in the final
// parentheses, the message runs from the first "error: " to the last " (".
std::optional<qint64> errorNumber(QStringView line)
{
    const qsizetype open = line.lastIndexOf(u" (");
    qint64 number = 0;
    if (open < 0 || !line.endsWith(u')') || !DecimalNumber::parseInt64(line.sliced(open + 2).chopped(1), &number))
        return std::nullopt;
    return number;
}

QString errorMessage(QStringView line)
{
    constexpr QStringView marker = u"error: ";
    const qsizetype start = line.indexOf(marker);
    const qsizetype end = line.lastIndexOf(u" (");
    if (start < 0 || end < start + marker.size())
        return line.toString();
    return line.sliced(start + marker.size(), end - start - marker.size()).toString();
}

SafariError engineFailure(const Finished &finished)
{
    const QString line = withoutFinalLineFeed(QString::fromUtf8(finished.standardError));
    const std::optional<qint64> number = errorNumber(line);
    if (number == notAuthorizedNumber)
        return SafariError::notAuthorized();
    if (line.isEmpty())
        return SafariError::scriptFailed(QStringLiteral("The script engine ended with exit code %1").arg(finished.exitCode));
    return SafariError::scriptFailed(number ? errorMessage(line) : line);
}

} // namespace

LiveSafariBridge::LiveSafariBridge() : LiveSafariBridge(SafariEngine::platformDefault())
{
}

LiveSafariBridge::LiveSafariBridge(SafariEngine engine) : m_engine(std::move(engine))
{
}

SafariSnapshot LiveSafariBridge::snapshot()
{
    if (!safariIsRunning())
        return {};
    return SafariScript::parseSnapshot(run(SafariScript::snapshot()));
}

void LiveSafariBridge::close(const SafariTab &tab)
{
    if (safariIsRunning())
        run(SafariScript::close(tab));
}

void LiveSafariBridge::open(const QString &url)
{
    run(SafariScript::open(url));
}

// Asked without sending Safari an event, which would start it. A check that fails is a failed
// operation, never "not running": an empty snapshot would reset every tab's idle time.
bool LiveSafariBridge::safariIsRunning() const
{
    const Finished finished = runToEnd(m_engine.runningCheck, {}, m_engine.timeLimit);
    if (finished.exitCode == 0 || finished.exitCode == 1)
        return finished.exitCode == 0;
    QString message = QStringLiteral("%1 ended with exit code %2")
                          .arg(describe(m_engine.runningCheck), QString::number(finished.exitCode));
    const QString detail = withoutFinalLineFeed(QString::fromUtf8(finished.standardError));
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + detail;
    throw SafariError::scriptFailed(message);
}

QString LiveSafariBridge::run(const QString &script) const
{
    const Finished finished = runToEnd(m_engine.script, script.toUtf8(), m_engine.timeLimit);
    if (finished.exitCode != 0)
        throw engineFailure(finished);
    return withoutFinalLineFeed(QString::fromUtf8(finished.standardOutput));
}
