// Reading the snapshot script's result into tabs and current keys, against one pass over the
// same text that only counts its separators.
#include "BenchData.h"
#include "BenchSupport.h"

#include <QCoreApplication>

namespace {

void countSeparators(QStringView text)
{
    qsizetype count = 0;
    for (QChar c : text)
        count += c == SafariScript::fieldSeparator || c == SafariScript::recordSeparator;
    Bench::keep(count);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const Bench::Arguments arguments = Bench::Arguments::parse(argc, argv);
    const int tabs = arguments.smoke ? 200 : 10'000;
    const QString text = BenchData::snapshotText(BenchData::snapshot(tabs, 40, 1));

    const Bench::Comparison parse = Bench::compare(
        arguments.smoke ? 1 : 50, [&] { return SafariScript::parseSnapshot(text); },
        [&] { countSeparators(text); });

    constexpr double limit = 10.0;
    const bool holds = parse.ratio() <= limit;
    Bench::print({.hotPath = QStringLiteral("snapshot parse"),
                  .data = Bench::count(tabs) + QStringLiteral(" tabs (") + QString::number(double(text.toUtf8().size()) / 1e6, 'f', 1)
                      + QStringLiteral(" MB of text)"),
                  .figure = Bench::duration(parse.figure),
                  .floor = Bench::duration(parse.floor) + QStringLiteral(" counting the separators"),
                  .ratio = Bench::ratio(parse.ratio()),
                  .target = QStringLiteral("≤ 10× the floor"),
                  .holds = holds},
                 arguments);
    return Bench::exitStatus({holds}, arguments);
}
