// Reading the whole archive back, as the archive browser does on every show and reload, against
// grep counting the entry lines of the same files.
#include "Archive.h"
#include "BenchData.h"
#include "BenchSupport.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const Bench::Arguments arguments = Bench::Arguments::parse(argc, argv);
    const TestHome home;
    const QString folder = BenchData::archiveFor(arguments.smoke, arguments.data, home.path());
    const QStringList files = BenchData::archiveFiles(folder);

    const qsizetype entries = Archive::read(folder).size();
    const QStringList grep = QStringList{QStringLiteral("-c"), QStringLiteral("^- \\[")} + files;
    const Bench::Comparison reload = Bench::compare(
        arguments.smoke ? 1 : 11, [&] { return Archive::read(folder); },
        [&] { Bench::runCommand(QStringLiteral("grep"), grep); });

    constexpr double limit = 2.5;
    const bool holds = reload.ratio() <= limit;
    Bench::print({.hotPath = QStringLiteral("`Archive::read` (reload)"),
                  .data = Bench::count(entries) + QStringLiteral(" entries in ") + Bench::count(files.size()) + QStringLiteral(" files"),
                  .figure = Bench::duration(reload.figure),
                  .floor = Bench::duration(reload.floor) + QStringLiteral(" `grep -c '^- \\['`"),
                  .ratio = Bench::ratio(reload.ratio()),
                  .target = QStringLiteral("≤ 2.5× the floor"),
                  .holds = holds},
                 arguments);
    return Bench::exitStatus({holds}, arguments);
}
