#include "Archive.h"
#include "FuzzCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QTemporaryDir root;

// Any line: an entry is exactly the text between the first "](" and the ")" that ends it.
void readAnyLine(const QString &line)
{
    const std::optional<ArchivedTab> entry = Archive::readLine(line);
    if (!entry)
        return;
    FUZZ_CHECK(!entry->title.contains(QStringLiteral("](")));
    FUZZ_CHECK(line.startsWith(QStringLiteral("- [") + entry->title + QStringLiteral("](") + entry->url + u')'));
}

// Any day file, read through the folder reader: the entries of its lines in order, where a line
// that is not UTF-8 costs only itself.
void readAnyFile(const QByteArray &bytes)
{
    QList<ArchivedTab> entries;
    for (const QByteArray &line : bytes.split('\n')) {
        if (!QByteArrayView(line).isValidUtf8())
            continue;
        if (std::optional<ArchivedTab> entry = Archive::readLine(QString::fromUtf8(line)))
            entries.append(*entry);
    }
    const QString folder = root.filePath(QStringLiteral("files"));
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/2026-03-14.md"));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    FUZZ_CHECK(Archive::all(folder) == entries);
}

// A tab the archive takes is swept into a day file that then reads back as exactly that tab.
void sweepAndReadBack(const SafariTab &tab)
{
    if (!Archive::canArchive(tab))
        return;
    const QString folder = root.filePath(QStringLiteral("archive"));
    QDir(folder).removeRecursively();
    Archive::append({tab}, folder, QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC));
    FUZZ_CHECK(Archive::all(folder) == QList<ArchivedTab>{(ArchivedTab{Archive::cleanTitle(tab), tab.url()})});
}

} // namespace

// The input as one line, as a whole day file, and cut at a NUL byte into a tab's title and address.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    readAnyLine(Fuzz::text(data, size));
    readAnyFile(Fuzz::bytes(data, size));
    const QStringList parts = Fuzz::texts(data, size, 2);
    sweepAndReadBack(SafariTab(1, parts[1], parts[0]));
    return 0;
}
