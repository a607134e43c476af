#include "Archive.h"
#include "FuzzCheck.h"

#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {

QString folder()
{
    static const QTemporaryDir dir;
    return dir.path();
}

// What the reader must find in a file: nothing when it is not UTF-8, else the entries of its
// lines in order.
QList<ArchivedTab> entriesOf(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    QList<ArchivedTab> entries;
    if (decoder.hasError())
        return entries;
    for (const QString &line : text.split(u'\n')) {
        if (std::optional<ArchivedTab> entry = Archive::readLine(line))
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
