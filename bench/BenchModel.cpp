#include "BenchModel.h"

#include "BenchData.h"

namespace BenchModel {

namespace {

// Read before the application is made, which is when the platform is chosen.
Bench::Arguments offscreenArguments(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return Bench::Arguments::parse(argc, argv);
}

} // namespace

ArchiveWindowBench::ArchiveWindowBench(int &argc, char *argv[])
    : arguments(offscreenArguments(argc, argv)),
      application(argc, argv),
      folder(BenchData::archiveFor(arguments.smoke, arguments.data, home.path()))
{
    harness.makeBridge = [] { return std::make_unique<FixedBridge>(); };
    harness.makeModel();
    harness.changeSettings([this](Settings &settings) { settings.archiveFolderPath = folder; });
}

} // namespace BenchModel
