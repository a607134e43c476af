#include "Archive.h"
#include "FuzzCheck.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

QString folder()
{
    static const QTemporaryDir dir;
    return dir.path();
}

// What the reader must find in a file: the entries of its lines in order, where a line that is
// not UTF-8 costs only itself.
QList<ArchivedTab> entriesOf(const QByteArray &bytes)
{
    QList<ArchivedTab> entries;
    for (const QByteArray &line : bytes.split('\n')) {
        if (!QByteArrayView(line).isValidUtf8())
            continue;
        if (std::optional<ArchivedTab> entry = Archive::readLine(QString::fromUtf8(line)))
            entries.append(*entry);
    }
    return entries;
}

} // namespace

// A whole day file, whatever it holds, read back through the folder reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Fuzz::bytes(data, size);
    QFile file(folder() + QStringLiteral("/2026-03-14.md"));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    FUZZ_CHECK(Archive::all(folder()) == entriesOf(bytes));
    return 0;
}
