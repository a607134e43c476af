#pragma once

#include "TestHome.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <type_traits>

// What every benchmark program shares: its arguments, a throw-away home, timing, and one row of
// the results table.
namespace Bench {

// "--smoke" runs on tiny data only to show that the program still works; otherwise the first
// other argument, where the program takes one, names the data.
struct Arguments
{
    bool smoke = false;
    QString data;

    static Arguments parse(int argc, char *argv[]);
};

// The time one run takes. What the run returns is released only after the clock has stopped, so
// freeing a large result is not counted.
template <typename Run>
double seconds(Run &&run)
{
    QElapsedTimer timer;
    timer.start();
    if constexpr (std::is_void_v<std::invoke_result_t<Run>>) {
        run();
        return double(timer.nsecsElapsed()) / 1e9;
    } else {
        [[maybe_unused]] const auto result = run();
        return double(timer.nsecsElapsed()) / 1e9;
    }
}

// The best of several runs of a figure and of its floor, taken in turns so that a burst of load
// from elsewhere on the machine weighs on both alike.
struct Comparison
{
    double figure = std::numeric_limits<double>::infinity();
    double floor = std::numeric_limits<double>::infinity();

    double ratio() const { return figure / floor; }
};

template <typename Figure, typename Floor>
Comparison compare(int repetitions, Figure &&figure, Floor &&floor)
{
    Comparison best;
    for (int i = 0; i < repetitions; ++i) {
        best.figure = std::min(best.figure, seconds(figure));
        best.floor = std::min(best.floor, seconds(floor));
    }
    return best;
}

template <typename Run>
double fastest(int repetitions, Run &&run)
{
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < repetitions; ++i)
        best = std::min(best, seconds(run));
    return best;
}

// Runs a command to its end, its output read and dropped, with the environment variables given
// ("NAME=value") added; throws when it cannot run or fails. Exit status 1 counts as success, as
// grep gives it when nothing matched.
void runCommand(const QString &program, const QStringList &arguments, const QStringList &environment = {});

// A memory figure of a process from /proc/PID/status ("VmRSS", "VmHWM", ...), in megabytes.
double statusMegabytes(qint64 pid, const QByteArray &field);

// Keeps a computation whose result nothing else reads from being optimised away.
void keep(qint64 value);

QString duration(double seconds);
QString count(qint64 number);
QString ratio(double value);

// One row of the results table, in Markdown: what was measured, on what, its figure and floor,
// their ratio, the target and whether it holds.
struct Row
{
    QString hotPath;
    QString data;
    QString figure;
    QString floor = QStringLiteral("—");
    QString ratio = QStringLiteral("—");
    QString target;
    bool holds = false;
};

// Prints the row; on tiny smoke data no verdict is given.
void print(const Row &row, const Arguments &arguments);
// The program's exit status: failure when a target was missed on real data.
int exitStatus(const QList<bool> &holds, const Arguments &arguments);

} // namespace Bench
