// The application left alone between two polls: how much processor time and memory it takes
// while it only waits. bench-idle DROWSEWICK-EXECUTABLE; safari-standin lies beside it.
#include "BenchData.h"
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <stdexcept>
#include <unistd.h>

namespace {

// A few windows of tabs in the stand-in's state file.
void openTabs(const QString &home, int tabs, int tabsPerWindow)
{
    QJsonArray windows;
    const SafariSnapshot snapshot = BenchData::snapshot(tabs, tabsPerWindow, 5);
    for (qsizetype first = 0; first < snapshot.tabs.size(); first += tabsPerWindow) {
        QJsonArray list;
        for (const SafariTab &tab : snapshot.tabs.mid(first, tabsPerWindow))
            list.append(QJsonObject{{"url", tab.url()}, {"title", tab.title()}});
        windows.append(QJsonObject{{"id", snapshot.tabs[first].windowID()}, {"current", 1}, {"tabs", list}});
    }
    const QString folder = home + QStringLiteral("/.local/state/safari-standin");
    QDir().mkpath(folder);
    QFile state(folder + QStringLiteral("/state.json"));
    if (!state.open(QIODevice::WriteOnly) || state.write(QJsonDocument(QJsonObject{{"windows", windows}}).toJson()) < 0)
        throw std::runtime_error("cannot write the stand-in's state");
}

// Waits for the first poll: it leaves the tracker file behind.
void waitForFirstPoll(const QString &home, const QProcess &app)
{
    const QString tracker = home + QStringLiteral("/.local/share/com.nimbrel.drowsewick/tracker.json");
    for (int i = 0; i < 300 && !QFile::exists(tracker); ++i) {
        if (app.state() != QProcess::Running)
            throw std::runtime_error("the application ended");
        QThread::msleep(100);
    }
    if (!QFile::exists(tracker))
        throw std::runtime_error("no first poll");
}

// User and system time of the process so far, threads that have ended included.
double processorSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the process times");
    const QByteArray text = stat.readAll();
    // After the name in parentheses: the state is field 3, utime and stime are fields 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

struct Idle
{
    double processorSecondsPerMinute;
    double residentMegabytes;
};

Idle measureIdle(const QString &executable, const QString &home, int settleSeconds, int seconds)
{
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(environment);
    app.start(executable, {});
    if (!app.waitForStarted())
        throw std::runtime_error("cannot start " + executable.toStdString());
    waitForFirstPoll(home, app);
    // Start-up work that ends on its own (the update check) is not idle time.
    QThread::sleep(settleSeconds);
    const double before = processorSeconds(app.processId());
    QThread::sleep(seconds);
    const Idle idle{(processorSeconds(app.processId()) - before) * 60.0 / seconds, Bench::statusMegabytes(app.processId(), "VmRSS")};
    app.terminate();
    if (!app.waitForFinished(5000))
        app.kill();
    return idle;
}

} // namespace

int main(int argc, char *argv[])
{
    const Bench::Arguments arguments = Bench::Arguments::parse(argc, argv);
    const TestHome home;
    QCoreApplication application(argc, argv);
    openTabs(home.path(), 60, 20);
    const Idle idle = measureIdle(arguments.data, home.path(), arguments.smoke ? 0 : 2, arguments.smoke ? 1 : 60);

    const bool holds = idle.processorSecondsPerMinute <= 0.05 && idle.residentMegabytes <= 80;
    Bench::print({.hotPath = QStringLiteral("idle program between polls"),
                  .data = QStringLiteral("`drowsewick`, offscreen, ") + QString::number(arguments.smoke ? 1 : 60)
                      + QStringLiteral(" s, stand-in with 60 tabs"),
                  .figure = QString::number(idle.processorSecondsPerMinute, 'f', 2) + QStringLiteral(" s CPU per minute, ")
                      + QString::number(idle.residentMegabytes, 'f', 1) + QStringLiteral(" MB resident"),
                  .target = QStringLiteral("≤ 0.05 s CPU per minute; ≤ 80 MB resident"),
                  .holds = holds},
                 arguments);
    return Bench::exitStatus({holds}, arguments);
}
