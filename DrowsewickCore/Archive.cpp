#include "Archive.h"

#include "DurableFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Archive {

namespace {

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
void appendDurably(const QString &path, const QString &day, const QString &lines)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot open"), path);
    const DurableFile::Descriptor file(fd);

    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot look at"), path);
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST)
        throw FileSystemError::fromErrno(QStringLiteral("Cannot create"), path);
    return fd;
}

// The offset of the ")" that ends an address: the first one that closes no "(" opened after the
// "](", else the first one at all, else -1.
qsizetype addressEnd(QStringView rest)
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

QStringList archiveFileNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    names.removeIf([](const QString &name) { return !name.endsWith(QLatin1String(".md"), Qt::CaseSensitive); });
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.normalized(QString::NormalizationForm_C) > b.normalized(QString::NormalizationForm_C);
    });
    return names;
}

void readFile(const QString &path, QList<ArchivedTab> &entries)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        if (std::optional<ArchivedTab> entry = readLine(line))
            entries.append(std::move(*entry));
    }
}

} // namespace

QString cleanTitle(const SafariTab &tab)
{
    QString title = tab.title().isEmpty() ? tab.url() : QString(tab.title()).replace(u'\n', u' ');
    return title.replace(u'[', u'(').replace(u']', u')');
}

std::optional<ArchivedTab> readLine(QStringView line)
{
    if (!line.startsWith(u"- ["))
        return std::nullopt;
    const qsizetype open = line.indexOf(u"](");
    if (open < 0)
        return std::nullopt;
    const QStringView rest = line.mid(open + 2);
    const qsizetype end = addressEnd(rest);
    if (end < 0)
        return std::nullopt;
    return ArchivedTab{line.mid(3, open - 3).toString(), rest.left(end).toString()};
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
    QList<ArchivedTab> entries;
    const QDir dir(folder);
    for (const QString &name : archiveFileNames(folder))
        readFile(dir.filePath(name), entries);
    return entries;
}

} // namespace Archive
