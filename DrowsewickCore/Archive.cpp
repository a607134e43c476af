#include "Archive.h"

#include "DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

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
qsizetype balancedAddressEnd(QStringView rest)
{
    qsizetype firstClose = -1;
    int depth = 0;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QChar c = rest[i];
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (depth == 0)
                return i;
            if (firstClose < 0)
                firstClose = i;
            --depth;
        }
    }
    return firstClose;
}

qsizetype addressEnd(QStringView rest)
{
    // Most addresses hold no "(" before their first ")", which then ends them; only the others
    // need counting. Both searches are the library's vectorised ones.
    const qsizetype firstClose = rest.indexOf(u')');
    if (firstClose < 0 || !rest.left(firstClose).contains(u'('))
        return firstClose;
    return balancedAddressEnd(rest);
}

// Where the title ends: the first "](" after the leading "- [".
qsizetype titleEnd(QStringView line)
{
    for (qsizetype bracket = line.indexOf(u']', 3); bracket >= 0; bracket = line.indexOf(u']', bracket + 1)) {
        if (bracket + 1 < line.size() && line[bracket + 1] == u'(')
            return bracket;
    }
    return -1;
}

// Where an entry's title and address end in its line; the title starts after "- [", the address
// after the "](" that ends the title.
struct EntryBounds
{
    qsizetype titleEnd;
    qsizetype urlEnd;

    qsizetype urlBegin() const { return titleEnd + 2; }
};

std::optional<EntryBounds> entryBounds(QStringView line)
{
    if (!line.startsWith(u"- ["))
        return std::nullopt;
    const qsizetype open = titleEnd(line);
    if (open < 0)
        return std::nullopt;
    const qsizetype end = addressEnd(line.sliced(open + 2));
    if (end < 0)
        return std::nullopt;
    return EntryBounds{open, open + 2 + end};
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

// A block of many megabytes is fresh memory that the system hands out one 4 KB page fault at a
// time, and on a virtual machine a page fault is dear: asked for, Linux backs it with 2 MB pages
// instead. Only a hint; where there is no such hint, nothing changes.
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

qsizetype workerCount(qsizetype jobs)
{
    return std::clamp<qsizetype>(QThread::idealThreadCount(), 1, std::max<qsizetype>(jobs, 1));
}

// Calls work(state, i) for every i below count, on every core of the machine, each core taking
// the next i as it becomes free and keeping a state of its own; returns when all are done.
template <typename MakeState, typename Work>
void forEachInParallel(qsizetype count, const MakeState &makeState, const Work &work)
{
    std::atomic<qsizetype> next = 0;
    const auto worker = [&] {
        auto state = makeState();
        for (qsizetype i = next++; i < count; i = next++)
            work(state, i);
    };
    std::vector<std::jthread> helpers;
    for (qsizetype n = 1; n < workerCount(count); ++n)
        helpers.emplace_back(worker);
    worker();
}

template <typename Work>
void forEachInParallel(qsizetype count, const Work &work)
{
    forEachInParallel(count, [] { return std::monostate(); }, [&work](std::monostate, qsizetype i) { work(i); });
}

// Text decoded from many files into few large blocks, filled from the front. Titles and
// addresses become parts of a block that share its memory, so reading an archive makes a
// handful of allocations instead of two for every entry. A block lives as long as any part of
// it; changing a part copies it first, as with any shared QString.
class TextBlocks
{
public:
    explicit TextBlocks(qsizetype blockSize) : m_blockSize(blockSize) {}

    // Room for size characters after the text kept so far, in a new block when this one is full.
    QChar *room(qsizetype size)
    {
        if (m_block.size() - m_used < size)
            startBlock(std::max(size, m_blockSize));
        return m_characters + m_used;
    }

    // Keeps the first size characters written into the room.
    void keep(qsizetype size) { m_used += size; }

    const QString &block() const { return m_block; }

private:
    void startBlock(qsizetype size)
    {
        m_block = QString(size, Qt::Uninitialized);
        // Taken while the block is not shared: data() of a shared string would copy it.
        m_characters = m_block.data();
        preferLargePages(m_characters, size * qsizetype(sizeof(QChar)));
        m_used = 0;
    }

    qsizetype m_blockSize;
    QString m_block;
    QChar *m_characters = nullptr;
    qsizetype m_used = 0;
};

// One file's text, decoded into a block that its entries will share, and the most entries it
// can hold: one per line.
struct DecodedFile
{
    QString block;
    QChar *text = nullptr;
    qsizetype size = 0;
    qsizetype lines = 0;
};

// Reads and decodes one file after another, keeping its byte buffer from file to file.
class FileDecoder
{
public:
    explicit FileDecoder(qsizetype blockSize) : m_blocks(blockSize) {}

    // Nothing when the file cannot be read. A line that is not UTF-8 (a character torn by a
    // crash, a line typed in another encoding) is read as an empty line: it costs only itself.
    DecodedFile decode(const QString &path)
    {
        if (!readBytes(path))
            return {};
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QChar *text = m_blocks.room(decoder.requiredSpace(m_bytes.size()));
        const QChar *end = QByteArrayView(m_bytes).isValidUtf8() ? decoder.appendToBuffer(text, m_bytes)
                                                                 : decodeValidLines(decoder, text);
        m_blocks.keep(end - text);
        return {m_blocks.block(), text, end - text, lineCount()};
    }

    // Enough for every worker's share of the files, as far as their sizes tell now.
    static qsizetype blockSize(const QDir &dir, const QStringList &names)
    {
        const QStringDecoder decoder(QStringDecoder::Utf8);
        qsizetype total = 0;
        for (const QString &name : names)
            total += decoder.requiredSpace(QFileInfo(dir, name).size());
        return total / workerCount(names.size()) + total / 8;
    }

private:
    // memchr is vectorised in the C library, and lines are long: far quicker than counting bytes.
    qsizetype lineCount() const
    {
        qsizetype lines = 1;
        const char *end = m_bytes.cend();
        for (const char *at = m_bytes.cbegin(); (at = static_cast<const char *>(std::memchr(at, '\n', end - at))); ++at)
            ++lines;
        return lines;
    }

    QChar *decodeValidLines(QStringDecoder &decoder, QChar *out) const
    {
        for (QByteArrayView rest(m_bytes);;) {
            const qsizetype newline = rest.indexOf('\n');
            const QByteArrayView line = newline < 0 ? rest : rest.first(newline);
            if (line.isValidUtf8())
                out = decoder.appendToBuffer(out, line);
            if (newline < 0)
                return out;
            *out++ = u'\n';
            rest = rest.sliced(newline + 1);
        }
    }

    // Only a regular file is read, and only one small enough to be an archive file: a pipe would
    // block, and a link to a device could be endless. Opening does not wait for a pipe's writer.
    bool readBytes(const QString &path)
    {
        const DurableFile::Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxFileBytes)
            return false;
        // What the file holds now; lines a sweep appends meanwhile are read by the next reload.
        m_bytes.resize(std::max(m_bytes.size(), qsizetype(info.st_size)));
        qsizetype used = 0;
        while (used < info.st_size) {
            const ssize_t read = ::read(file.get(), m_bytes.data() + used, size_t(info.st_size - used));
            if (read < 0 && errno == EINTR)
                continue;
            if (read < 0)
                return false;
            if (read == 0)
                break;
            used += read;
        }
        m_bytes.truncate(used);
        return true;
    }

    QByteArray m_bytes;
    TextBlocks m_blocks;
};

// A part of the file's block that does not count itself as one of the block's users yet: the
// caller adds all the parts it made to the block's count at once. Counting them one by one is an
// atomic addition per part to a count that every core making parts of that block shares, and
// the cores then spend their time waiting for each other.
QString uncountedPart(DecodedFile &file, QChar *begin, qsizetype size)
{
    return QString(QString::DataPointer(file.block.data_ptr().d_ptr(), reinterpret_cast<char16_t *>(begin), size));
}

// Writes the file's entries, in order, from target on, and returns how many there are. A QString
// ends with a null character: the "]" after a title and the ")" after an address become one, and
// are never read again.
qsizetype shareEntries(DecodedFile &file, ArchivedTab *target)
{
    const QStringView text(file.text, file.size);
    qsizetype count = 0;
    for (qsizetype begin = 0; begin <= text.size();) {
        const qsizetype newline = text.indexOf(u'\n', begin);
        const qsizetype end = newline < 0 ? text.size() : newline;
        if (const std::optional<EntryBounds> bounds = entryBounds(text.sliced(begin, end - begin))) {
            QChar *line = file.text + begin;
            line[bounds->titleEnd] = QChar(0);
            line[bounds->urlEnd] = QChar(0);
            target[count++] = {uncountedPart(file, line + 3, bounds->titleEnd - 3),
                               uncountedPart(file, line + bounds->urlBegin(), bounds->urlEnd - bounds->urlBegin())};
        }
        begin = end + 1;
    }
    // The file's own reference keeps the block alive until the parts are counted.
    if (count > 0)
        file.block.data_ptr().d_ptr()->ref_.fetchAndAddRelaxed(int(2 * count));
    return count;
}

std::vector<DecodedFile> decodeFiles(const QDir &dir, const QStringList &names)
{
    std::vector<DecodedFile> files(names.size());
    const qsizetype blockSize = FileDecoder::blockSize(dir, names);
    forEachInParallel(names.size(), [blockSize] { return FileDecoder(blockSize); },
                      [&](FileDecoder &decoder, qsizetype i) { files[i] = decoder.decode(dir.filePath(names[i])); });
    return files;
}

// Where each file's stretch of the list starts when every line might be an entry; the last
// number is the length of the whole list.
std::vector<qsizetype> stretchStarts(const std::vector<DecodedFile> &files)
{
    std::vector<qsizetype> starts(files.size() + 1, 0);
    for (size_t i = 0; i < files.size(); ++i)
        starts[i + 1] = starts[i] + files[i].lines;
    return starts;
}

QList<ArchivedTab> emptyEntries(qsizetype count)
{
    QList<ArchivedTab> entries;
    entries.reserve(count);
    preferLargePages(entries.constData(), count * qsizetype(sizeof(ArchivedTab)));
    entries.resize(count);
    return entries;
}

// Moves the filled part of every stretch up against the one before it, keeping their order.
void closeGaps(QList<ArchivedTab> &entries, const std::vector<qsizetype> &starts, const std::vector<qsizetype> &filled)
{
    ArchivedTab *const first = entries.data();
    ArchivedTab *kept = first;
    for (size_t i = 0; i < filled.size(); ++i) {
        ArchivedTab *const stretch = first + starts[i];
        kept = kept == stretch ? kept + filled[i] : std::move(stretch, stretch + filled[i], kept);
    }
    entries.resize(kept - first);
}

// Every file is decoded into blocks on one of the machine's cores. The list is then made in one
// piece with a stretch for every file, long enough for all its lines, and the files fill their
// stretches, again on all cores.
QList<ArchivedTab> readFiles(const QDir &dir, const QStringList &names)
{
    std::vector<DecodedFile> files = decodeFiles(dir, names);
    const std::vector<qsizetype> starts = stretchStarts(files);
    QList<ArchivedTab> entries = emptyEntries(starts.back());
    ArchivedTab *const first = entries.data();
    std::vector<qsizetype> filled(files.size(), 0);
    forEachInParallel(files.size(), [&](qsizetype i) { filled[i] = shareEntries(files[i], first + starts[i]); });
    closeGaps(entries, starts, filled);
    return entries;
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
    const QString written = QString::fromUtf8(entryLine(tab, QStringLiteral(" · 00:00")).toUtf8());
    const std::optional<ArchivedTab> entry = readLine(QStringView(written).first(written.indexOf(u'\n')));
    return entry && entry->url == tab.url() && entry->title == cleanTitle(tab);
}

std::optional<ArchivedTab> readLine(QStringView line)
{
    const std::optional<EntryBounds> bounds = entryBounds(line);
    if (!bounds)
        return std::nullopt;
    return ArchivedTab{line.sliced(3, bounds->titleEnd - 3).toString(),
                       line.sliced(bounds->urlBegin(), bounds->urlEnd - bounds->urlBegin()).toString()};
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

QList<ArchivedTab> all(const QString &folder)
{
    return readFiles(QDir(folder), archiveFileNames(folder));
}

} // namespace Archive
