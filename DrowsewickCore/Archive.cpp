#include "Archive.h"

#include "DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <QtConcurrent>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Archive {

namespace {

// Far beyond any archive file a person keeps: something else that happens to end in ".md".
constexpr qsizetype maxFileBytes = qsizetype(256) * 1024 * 1024;

// File names and stamps use fixed patterns in the C locale, in the local time zone.
QString formatLocal(const QDateTime &time, const QString &pattern)
{
    return QLocale::c().toString(time.toLocalTime(), pattern);
}

QString dayText(const QDateTime &time) { return formatLocal(time, QStringLiteral("yyyy-MM-dd")); }
QString timeText(const QDateTime &time) { return formatLocal(time, QStringLiteral("HH:mm")); }
QString stampText(const QDateTime &time) { return formatLocal(time, QStringLiteral("yyyy-MM-dd-HHmmss")); }
QString prettyText(const QDateTime &time) { return formatLocal(time, QStringLiteral("yyyy-MM-dd HH:mm")); }

QString entryLine(const SafariTab &tab, const QString &suffix)
{
    return QStringLiteral("- [") + cleanTitle(tab) + QStringLiteral("](") + tab.url() + u')' + suffix + u'\n';
}

// Whether the file's last byte is something other than a line feed: a tail torn by a crash,
// or a line a user typed without ending it.
bool endsMidLine(int fd, off_t size)
{
    char last = '\n';
    return size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
}

// Where the day's file does not exist yet, it is created here with its heading; otherwise the
// lines go after what is there.
// A shared or synced folder may hold anything under the day's name: only a regular file is
// written to, never the target of a link there, and opening never waits for a pipe's reader.
void appendDurably(const QString &path, const QString &day, const QString &lines)
{
    const QByteArray native = QFile::encodeName(path);
    constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(native.constData(), flags | O_CREAT | O_EXCL, 0644);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::open(native.constData(), flags);
    if (fd < 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot open"), path);
    const DurableFile::Descriptor file(fd);

    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot look at"), path);
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        throw FileSystemError::fromErrno(QStringLiteral("Not a regular file:"), path);
    }
    QString text;
    if (created)
        text = QStringLiteral("# Swept tabs — ") + day + QStringLiteral("\n\n");
    else if (endsMidLine(fd, info.st_size))
        text = QStringLiteral("\n");
    text += lines;
    const QByteArray bytes = text.toUtf8();

    if (!DurableFile::writeAll(fd, bytes.constData(), bytes.size()) || !DurableFile::syncDescriptor(fd)) {
        const FileSystemError error = FileSystemError::fromErrno(QStringLiteral("Cannot write"), path);
        // Leave the file exactly as it was: no half block for the reader to find.
        if (created)
            ::unlink(native.constData());
        else if (::ftruncate(fd, info.st_size) == 0)
            DurableFile::syncDescriptor(fd);
        throw error;
    }
    if (created)
        DurableFile::syncFolder(QFileInfo(path).absolutePath());
}

// Creates the file only if no file of that name exists; returns its descriptor, or -1 when the
// name is taken.
int createExclusive(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno != EEXIST)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot create"), path);
    return fd;
}

// The offset of the ")" that ends an address, counting parentheses: the first one that closes no
// "(" opened after the "](", else the first one at all, else -1.
qsizetype balancedAddressEnd(QByteArrayView rest)
{
    qsizetype firstClose = -1;
    int depth = 0;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == '(') {
            ++depth;
        } else if (rest[i] == ')') {
            if (depth == 0)
                return i;
            if (firstClose < 0)
                firstClose = i;
            --depth;
        }
    }
    return firstClose;
}

qsizetype addressEnd(QByteArrayView rest)
{
    // Most addresses hold no "(" before their first ")", which then ends them; only the others
    // need counting.
    const qsizetype firstClose = rest.indexOf(')');
    if (firstClose < 0 || !rest.first(firstClose).contains('('))
        return firstClose;
    return balancedAddressEnd(rest);
}

// Where an entry's title and address end in its line; the title starts after "- [", the address
// after the first "](", which ends the title. The text is UTF-8, whose bytes below 0x80 are
// always the ASCII characters themselves: the brackets are found among the bytes.
struct EntryBounds
{
    qsizetype titleEnd;
    qsizetype urlEnd;

    qsizetype urlBegin() const { return titleEnd + 2; }
};

// Where the title ends: the first "](" after the leading "- [". A "]" is rare, and looking for one
// byte is the C library's quickest search.
qsizetype titleEnd(QByteArrayView line)
{
    for (qsizetype bracket = line.indexOf(']', 3); bracket >= 0; bracket = line.indexOf(']', bracket + 1)) {
        if (bracket + 1 < line.size() && line[bracket + 1] == '(')
            return bracket;
    }
    return -1;
}

std::optional<EntryBounds> entryBounds(QByteArrayView line)
{
    if (!line.startsWith("- ["))
        return std::nullopt;
    const qsizetype open = titleEnd(line);
    if (open < 0)
        return std::nullopt;
    const qsizetype end = addressEnd(line.sliced(open + 2));
    if (end < 0)
        return std::nullopt;
    return EntryBounds{open, open + 2 + end};
}

std::optional<ArchivedTab> readUtf8Line(QByteArrayView line)
{
    const std::optional<EntryBounds> bounds = entryBounds(line);
    if (!bounds)
        return std::nullopt;
    return ArchivedTab{ArchivedTabs::text(line.sliced(3, bounds->titleEnd - 3)),
                       ArchivedTabs::text(line.sliced(bounds->urlBegin(), bounds->urlEnd - bounds->urlBegin()))};
}

QStringList archiveFileNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    names.removeIf([](const QString &name) { return !name.endsWith(QLatin1String(".md"), Qt::CaseSensitive); });
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.normalized(QString::NormalizationForm_C) > b.normalized(QString::NormalizationForm_C);
    });
    return names;
}

// Fresh memory in 2 MB pages rather than 4 KB page faults: the reload row of scripts/bench.
void preferLargePages(const void *data, qsizetype bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr quintptr largePage = 2 * 1024 * 1024;
    if (bytes < qsizetype(2 * largePage))
        return;
    const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
    const quintptr begin = (quintptr(data) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + quintptr(bytes)) & ~(page - 1);
    ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}

// One file of the archive: its room in the text block, as large as the file was when the folder
// was listed, what was read into it, and its stretch of the entries.
struct ArchiveFile
{
    QString path;
    char *room = nullptr;
    qsizetype roomSize = 0;
    QByteArrayView text;
    qsizetype lines = 0;
    qsizetype firstEntry = 0;
    qsizetype entries = 0;
};

// memchr is the C library's quickest search, and lines are long: far quicker than counting bytes.
qsizetype lineCount(QByteArrayView text)
{
    qsizetype lines = 1;
    for (const char *at = text.begin(); (at = static_cast<const char *>(std::memchr(at, '\n', size_t(text.end() - at)))); ++at)
        ++lines;
    return lines;
}

// Only a regular file is read, and only one small enough to be an archive file: a pipe would
// block and a link to a device could be endless. Opening does not wait for a pipe's writer.
// Lines a sweep appends meanwhile are read by the next reload.
void readText(ArchiveFile &file)
{
    const DurableFile::Descriptor descriptor(::open(QFile::encodeName(file.path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (descriptor.get() < 0 || ::fstat(descriptor.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxFileBytes)
        return;
    const qsizetype size = std::min(file.roomSize, qsizetype(info.st_size));
    qsizetype used = 0;
    while (used < size) {
        const ssize_t read = ::read(descriptor.get(), file.room + used, size_t(size - used));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return;
        if (read == 0)
            break;
        used += read;
    }
    file.text = QByteArrayView(file.room, used);
    file.lines = lineCount(file.text);
}

// Writes the file's entries, in file order, from `entries` on; they fit, as a file has no more
// entries than lines. A line that is not UTF-8 (a character torn by a crash, a line typed in
// another encoding) costs only itself.
void findEntries(ArchiveFile &file, ArchivedTabs::Entry *entries)
{
    const bool valid = file.text.isValidUtf8();
    qsizetype found = 0;
    for (qsizetype begin = 0; begin < file.text.size();) {
        const qsizetype newline = file.text.indexOf('\n', begin);
        const qsizetype end = newline < 0 ? file.text.size() : newline;
        QByteArrayView line = file.text.sliced(begin, end - begin);
        // A byte-order mark that an editor put before the line is not part of it.
        if (line.startsWith("\xEF\xBB\xBF"))
            line = line.sliced(3);
        const std::optional<EntryBounds> bounds = entryBounds(line);
        if (bounds && (valid || line.isValidUtf8()))
            entries[found++] = {line.data() + 3, quint32(bounds->titleEnd - 3), quint32(bounds->urlEnd - bounds->urlBegin())};
        begin = end + 1;
    }
    file.entries = found;
}

// Every file gets a room of its own in one block of text, made here, where it is also let go:
// memory that the threads reading the files allocated could stay with them.
QByteArray textBlock(std::vector<ArchiveFile> &files)
{
    qsizetype total = 0;
    for (ArchiveFile &file : files) {
        file.roomSize = std::min(QFileInfo(file.path).size(), maxFileBytes);
        total += file.roomSize;
    }
    QByteArray block(total, Qt::Uninitialized);
    preferLargePages(block.constData(), total);
    char *room = block.data();
    for (ArchiveFile &file : files) {
        file.room = room;
        room += file.roomSize;
    }
    return block;
}

// Every file is read on one of the machine's cores. The list is then made in one piece, with a
// stretch for every file long enough for all its lines, and the files fill their stretches,
// again on all cores; last, the stretches are moved up against each other.
ArchivedTabs readFiles(const QDir &dir, const QStringList &names)
{
    std::vector<ArchiveFile> files(names.size());
    for (qsizetype i = 0; i < names.size(); ++i)
        files[i].path = dir.filePath(names[i]);
    QByteArray block = textBlock(files);
    QtConcurrent::blockingMap(files, readText);

    qsizetype lines = 0;
    for (ArchiveFile &file : files) {
        file.firstEntry = lines;
        lines += file.lines;
    }
    std::vector<ArchivedTabs::Entry> entries(lines);
    QtConcurrent::blockingMap(files, [&entries](ArchiveFile &file) { findEntries(file, entries.data() + file.firstEntry); });

    auto kept = entries.begin();
    for (const ArchiveFile &file : files)
        kept = std::copy(entries.begin() + file.firstEntry, entries.begin() + file.firstEntry + file.entries, kept);
    entries.erase(kept, entries.end());
    return ArchivedTabs(std::move(block), std::move(entries));
}

} // namespace

QString cleanTitle(const SafariTab &tab)
{
    QString title = tab.title().isEmpty() ? tab.url() : QString(tab.title()).replace(u'\n', u' ');
    return title.replace(u'[', u'(').replace(u']', u')');
}

bool canArchive(const SafariTab &tab)
{
    // The line as it is stored and read: in UTF-8, and up to its first line feed.
    const QByteArray written = entryLine(tab, QStringLiteral(" · 00:00")).toUtf8();
    const std::optional<ArchivedTab> entry = readUtf8Line(QByteArrayView(written).first(written.indexOf('\n')));
    return entry && entry->url == tab.url() && entry->title == cleanTitle(tab);
}

std::optional<ArchivedTab> readLine(QStringView line)
{
    return readUtf8Line(line.toUtf8());
}

void append(const QList<SafariTab> &tabs, const QString &folder, const QDateTime &now)
{
    if (tabs.isEmpty())
        return;
    DurableFile::createFolder(folder);
    const QString day = dayText(now);
    const QString suffix = QStringLiteral(" · ") + timeText(now);
    QString lines;
    for (const SafariTab &tab : tabs)
        lines += entryLine(tab, suffix);
    appendDurably(QDir(folder).filePath(day + QStringLiteral(".md")), day, lines);
}

QString saveSnapshot(const QList<SafariTab> &tabs, const QString &folder, const QDateTime &now)
{
    DurableFile::createFolder(folder);
    QString text = QStringLiteral("# All open tabs — ") + prettyText(now) + QStringLiteral("\n\n");
    for (const SafariTab &tab : tabs)
        text += entryLine(tab, QString());
    const QByteArray bytes = text.toUtf8();

    // Two snapshots within one second must not overwrite each other: the later one gets "_2",
    // "_3", ..., which also lists it first.
    const QString stem = QDir(folder).filePath(QStringLiteral("all-tabs-") + stampText(now));
    for (int attempt = 1;; ++attempt) {
        const QString path = stem + (attempt == 1 ? QString() : u'_' + QString::number(attempt)) + QStringLiteral(".md");
        const DurableFile::Descriptor file(createExclusive(path));
        if (file.get() < 0)
            continue;
        if (!DurableFile::writeAll(file.get(), bytes.constData(), bytes.size()) || !DurableFile::syncDescriptor(file.get())) {
            const FileSystemError error = FileSystemError::fromErrno(QStringLiteral("Cannot write"), path);
            ::unlink(QFile::encodeName(path).constData());
            throw error;
        }
        DurableFile::syncFolder(QDir(folder).absolutePath());
        return path;
    }
}

ArchivedTabs read(const QString &folder)
{
    return readFiles(QDir(folder), archiveFileNames(folder));
}

QList<ArchivedTab> all(const QString &folder)
{
    const ArchivedTabs tabs = read(folder);
    QList<ArchivedTab> entries;
    entries.reserve(tabs.size());
    for (qsizetype i = 0; i < tabs.size(); ++i)
        entries.append(tabs.at(i));
    return entries;
}

} // namespace Archive

QString ArchivedTabs::text(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}
