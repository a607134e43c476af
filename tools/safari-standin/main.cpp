#include "DurableFile.h"
#include "StandinEngine.h"
#include "StandinTool.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

// Without arguments the stand-in is a script engine reading the script on standard input, as
// osascript does; with arguments it is the tool that tests use to set up and inspect Safari.
namespace {

StandinOutput runEngine(const StandinStore &store)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {1, {}, QByteArrayLiteral("safari-standin: cannot read the script\n")};
    return StandinEngine(store).run(QString::fromUtf8(input.readAll()));
}

int deliver(const StandinOutput &output)
{
    std::fwrite(output.standardOutput.constData(), 1, size_t(output.standardOutput.size()), stdout);
    std::fwrite(output.standardError.constData(), 1, size_t(output.standardError.size()), stderr);
    return output.exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const StandinStore store;
    try {
        return deliver(arguments.isEmpty() ? runEngine(store) : StandinTool(store).run(arguments));
    } catch (const FileSystemError &error) {
        std::fprintf(stderr, "safari-standin: %s\n", error.what());
        return 3;
    }
}
