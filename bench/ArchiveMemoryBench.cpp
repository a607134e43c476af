// The archive window's memory: its peak while it shows the whole archive, hidden and shown again
// and again, once on a quiet machine and once with every core busy, and what it still holds once
// hidden, against the resident memory of the same process before the first show. The process
// reads the archive only through the window, so nothing else counts against the peak.
#include "ArchiveBrowser.h"
#include "BenchData.h"
#include "BenchModel.h"
#include "BenchSupport.h"
#include "PaintWatch.h"

#include <QFileInfo>
#include <QListView>
#include <QThread>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

double megabytes(const QByteArray &field)
{
    return Bench::statusMegabytes(QCoreApplication::applicationPid(), field);
}

// The high-water mark starts again from what is resident now.
void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        throw std::runtime_error("cannot reset the peak resident memory");
}

// One thread per core that only computes, for as long as it lives.
class BusyCores
{
public:
    BusyCores()
    {
        for (int core = 0; core < QThread::idealThreadCount(); ++core) {
            m_threads.emplace_back(QThread::create([this] { spin(); }));
            m_threads.back()->start();
        }
    }
    ~BusyCores()
    {
        m_stop = true;
        for (const std::unique_ptr<QThread> &thread : m_threads)
            thread->wait();
    }

private:
    void spin() const
    {
        quint64 state = 1;
        while (!m_stop.load(std::memory_order_relaxed))
            state = state * 6364136223846793005 + 1442695040888963407;
        Bench::keep(qint64(state));
    }

    std::atomic<bool> m_stop = false;
    std::vector<std::unique_ptr<QThread>> m_threads;
};

struct Cycles
{
    double peak;
    double afterClose;
};

// Shows the window until its list is painted and hides it again, `count` times.
Cycles showAndHide(ArchiveBrowserController &windows, DrowsewickModel &model, int count)
{
    resetPeak();
    for (int i = 0; i < count; ++i) {
        PaintWatch::runUntilPainted([&] { windows.show(model); }, [&] {
            return windows.window()->findChild<QListView *>(QStringLiteral("archiveList"))->viewport();
        });
        windows.window()->hide();
    }
    return {megabytes("VmHWM"), megabytes("VmRSS")};
}

QString size(double megabytes)
{
    return QString::number(megabytes, 'f', 1) + QStringLiteral(" MB");
}

double archiveMegabytes(const QString &folder)
{
    qint64 bytes = 0;
    for (const QString &file : BenchData::archiveFiles(folder))
        bytes += QFileInfo(file).size();
    return double(bytes) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char *argv[])
{
    BenchModel::ArchiveWindowBench bench(argc, argv);
    const Bench::Arguments &arguments = bench.arguments;
    ArchiveBrowserController windows;
    const double idle = megabytes("VmRSS");
    const double archive = archiveMegabytes(bench.folder);
    const int count = arguments.smoke ? 2 : 20;

    const Cycles quiet = showAndHide(windows, bench.model(), count);
    const Cycles busy = [&] {
        const BusyCores load;
        return showAndHide(windows, bench.model(), count);
    }();

    constexpr double archiveShare = 1.5;
    constexpr double keptAfterClose = 20;
    const QString data = Bench::count(BenchData::archiveFiles(bench.folder).size()) + QStringLiteral(" files, ")
        + size(archive) + QStringLiteral(" on disk, ") + QString::number(count) + QStringLiteral(" hide/show cycles");
    QList<bool> holds;
    for (const auto &[cycles, when] : {std::pair{quiet, QStringLiteral("")}, std::pair{busy, QStringLiteral(", every core busy")}}) {
        const Bench::Row row{.hotPath = QStringLiteral("archive browser, peak resident memory (VmHWM) while shown") + when,
                             .data = data,
                             .figure = size(cycles.peak),
                             .floor = size(idle) + QStringLiteral(" idle"),
                             .ratio = Bench::ratio((cycles.peak - idle) / archive) + QStringLiteral(" the archive, above idle"),
                             .target = QStringLiteral("≤ idle + 1.5× the archive"),
                             .holds = cycles.peak <= idle + archiveShare * archive};
        Bench::print(row, arguments);
        holds.append(row.holds);
    }
    const double afterClose = std::max(quiet.afterClose, busy.afterClose);
    const Bench::Row closed{.hotPath = QStringLiteral("archive browser, resident memory after the window closes"),
                            .data = data + QStringLiteral(", quiet and with every core busy"),
                            .figure = size(afterClose),
                            .floor = size(idle) + QStringLiteral(" idle"),
                            .target = QStringLiteral("≤ idle + 20 MB"),
                            .holds = afterClose <= idle + keptAfterClose};
    Bench::print(closed, arguments);
    holds.append(closed.holds);
    return Bench::exitStatus(holds, arguments);
}
