// One polling tick without the script run: recording the snapshot, rewriting the tracker file
// and finding the idle tabs among 50 never-sweep patterns, at three sizes, to see that it grows
// in step with the number of tabs.
#include "BenchData.h"
#include "BenchModel.h"
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

constexpr qint64 minute = 60 * 1000;

// Ticks are at least 15 seconds apart in the application, so each one finds the processor's
// caches holding other things: here a buffer larger than any cache is walked before each one.
void coolCaches()
{
    static std::vector<char> elsewhere(64 * 1024 * 1024, 1);
    qint64 sum = 0;
    for (size_t at = 0; at < elsewhere.size(); at += 64)
        sum += ++elsewhere[at];
    Bench::keep(sum);
}

// A controller that has seen these tabs before and finds most of them idle; it is paused, so a
// tick counts them and sweeps nothing. Its settings and tracker file are in a folder of its own,
// as if it were the only one.
class TickingModel
{
public:
    explicit TickingModel(int tabs)
    {
        useOwnFolder();
        m_harness.makeBridge = [tabs] { return std::make_unique<BenchModel::FixedBridge>(BenchData::snapshot(tabs, 50, 3)); };
        m_harness.makeModel();
        m_harness.changeSettings([](Settings &settings) {
            settings.paused = true;
            settings.neverSweep = BenchData::neverSweepPatterns(50);
        });
        m_harness.model->tick();
        m_harness.now = m_harness.now.addDays(8);
    }

    double tickSeconds()
    {
        useOwnFolder();
        m_harness.now = m_harness.now.addMSecs(minute);
        coolCaches();
        return Bench::seconds([this] { m_harness.model->tick(); });
    }

private:
    // The application folder follows XDG_DATA_HOME at every use.
    void useOwnFolder() const { qputenv("XDG_DATA_HOME", QFile::encodeName(m_folder.path())); }

    QTemporaryDir m_folder;
    ModelHarness m_harness;
};

// The best tick of each size, the sizes taking turns so that load from elsewhere on the machine
// weighs on all of them alike.
QList<double> bestTicks(const QList<int> &sizes, int repetitions)
{
    std::vector<std::unique_ptr<TickingModel>> models;
    for (int tabs : sizes)
        models.push_back(std::make_unique<TickingModel>(tabs));
    QList<double> best(sizes.size(), std::numeric_limits<double>::infinity());
    for (int i = 0; i < repetitions; ++i) {
        for (size_t size = 0; size < models.size(); ++size)
            best[size] = std::min(best[size], models[size]->tickSeconds());
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    const Bench::Arguments arguments = Bench::Arguments::parse(argc, argv);
    const TestHome home;
    QCoreApplication application(argc, argv);
    const QList<int> sizes = arguments.smoke ? QList<int>{100, 1'000} : QList<int>{1'000, 10'000, 100'000};

    const QList<double> times = bestTicks(sizes, arguments.smoke ? 2 : 20);
    QStringList counts, figures;
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        counts.append(Bench::count(sizes[i]));
        figures.append(counts.last() + QStringLiteral(": ") + Bench::duration(times[i]));
    }

    constexpr double limit = 12.0;
    const double growth = times.last() / times[times.size() - 2];
    const bool holds = growth <= limit;
    Bench::print({.hotPath = QStringLiteral("one tick without the script run: record, tracker file, `staleTabs` with 50 patterns"),
                  .data = counts.join(QStringLiteral(", ")) + QStringLiteral(" tabs"),
                  .figure = figures.join(QStringLiteral(" · ")),
                  .ratio = Bench::ratio(growth) + QStringLiteral(" (largest / next)"),
                  .target = QStringLiteral("time(100,000) / time(10,000) ≤ 12 (linear)"),
                  .holds = holds},
                 arguments);
    return Bench::exitStatus({holds}, arguments);
}
