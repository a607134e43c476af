// The archive window from "Archived tabs…" to the first painted list, against reading the
// archive alone. The window is made on the first show and afterwards only hidden and shown
// again, as in the application; every show reads the archive again.
#include "ArchiveBrowser.h"
#include "BenchModel.h"
#include "BenchSupport.h"
#include "PaintWatch.h"

#include <QListView>

namespace {

void showUntilPainted(ArchiveBrowserController &windows, DrowsewickModel &model)
{
    PaintWatch::runUntilPainted([&] { windows.show(model); }, [&] {
        return windows.window()->findChild<QListView *>(QStringLiteral("archiveList"))->viewport();
    });
}

Bench::Row row(const QString &hotPath, const QString &data, const Bench::Comparison &show, bool isTarget)
{
    constexpr double limit = 1.5;
    return {.hotPath = hotPath,
            .data = data,
            .figure = Bench::duration(show.figure),
            .floor = Bench::duration(show.floor) + QStringLiteral(" `Archive::read` alone"),
            .ratio = Bench::ratio(show.ratio()),
            .target = isTarget ? QStringLiteral("≤ 1.5× the floor") : QStringLiteral("— (for information)"),
            .holds = !isTarget || show.ratio() <= limit};
}

} // namespace

int main(int argc, char *argv[])
{
    BenchModel::ArchiveWindowBench bench(argc, argv);
    const Bench::Arguments &arguments = bench.arguments;
    const QString &folder = bench.folder;
    DrowsewickModel &model = bench.model();
    const QString entries = Bench::count(Archive::read(folder).size()) + QStringLiteral(" entries, offscreen");

    ArchiveBrowserController windows;
    Bench::Comparison first;
    first.figure = Bench::seconds([&] { showUntilPainted(windows, model); });
    first.floor = Bench::fastest(arguments.smoke ? 1 : 3, [&] { return Archive::read(folder); });
    // Hiding, which lets go of the entries, is not part of showing.
    Bench::Comparison again;
    for (int i = 0; i < (arguments.smoke ? 1 : 11); ++i) {
        windows.window()->hide();
        again.figure = std::min(again.figure, Bench::seconds([&] { showUntilPainted(windows, model); }));
        again.floor = std::min(again.floor, Bench::seconds([&] { return Archive::read(folder); }));
    }

    const Bench::Row shown = row(QStringLiteral("archive browser, `show` to first painted list"),
                                 entries + QStringLiteral(", window shown again"), again, true);
    Bench::print(shown, arguments);
    Bench::print(row(QStringLiteral("archive browser, first `show` (the window made)"), entries, first, false), arguments);
    return Bench::exitStatus({shown.holds}, arguments);
}
