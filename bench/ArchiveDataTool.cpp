// Makes the archive the benchmarks read: bench-archive-data FOLDER [FILES ENTRIES-PER-FILE].
#include "BenchData.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() != 1 && arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench-archive-data FOLDER [FILES ENTRIES-PER-FILE]\n");
        return 2;
    }
    const int files = arguments.size() == 3 ? arguments[1].toInt() : 1000;
    const int entriesPerFile = arguments.size() == 3 ? arguments[2].toInt() : 1000;
    const qint64 entries = BenchData::writeArchive(arguments[0], files, entriesPerFile);
    std::printf("%lld entries in %d files\n", static_cast<long long>(entries), files);
    return 0;
}
