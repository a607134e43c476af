#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>

#include <cstdio>
#include <stdexcept>

namespace Bench {

Arguments Arguments::parse(int argc, char *argv[])
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"--smoke")
            arguments.smoke = true;
        else
            arguments.data = argument;
    }
    return arguments;
}

void runCommand(const QString &program, const QStringList &arguments, const QStringList &environment)
{
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : environment)
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(variables);
    // Output goes to a pipe that is read, never to the null device: grep stops at the first
    // match when it sees that nobody reads what it writes.
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() > 1)
        throw std::runtime_error("failed: " + program.toStdString());
    process.readAllStandardOutput();
}

double statusMegabytes(qint64 pid, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the process status");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    throw std::runtime_error("no " + field.toStdString());
}

namespace {
volatile qint64 kept = 0;
} // namespace

void keep(qint64 value)
{
    kept = value;
}

QString duration(double seconds)
{
    if (seconds < 0.001)
        return QString::number(seconds * 1e6, 'f', 0) + QStringLiteral(" µs");
    if (seconds < 1)
        return QString::number(seconds * 1e3, 'f', seconds < 0.1 ? 2 : 1) + QStringLiteral(" ms");
    return QString::number(seconds, 'f', 2) + QStringLiteral(" s");
}

QString count(qint64 number)
{
    return QLocale(QLocale::English).toString(number);
}

QString ratio(double value)
{
    return QString::number(value, 'f', 2) + QStringLiteral("×");
}

void print(const Row &row, const Arguments &arguments)
{
    const QString verdict = arguments.smoke ? QStringLiteral("(smoke run)") : row.holds ? QStringLiteral("yes") : QStringLiteral("**no**");
    const QStringList cells = {row.hotPath, row.data, row.figure, row.floor, row.ratio, row.target, verdict};
    std::printf("| %s |\n", qPrintable(cells.join(QStringLiteral(" | "))));
    std::fflush(stdout);
}

int exitStatus(const QList<bool> &holds, const Arguments &arguments)
{
    return arguments.smoke || !holds.contains(false) ? 0 : 1;
}

} // namespace Bench
