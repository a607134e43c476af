#pragma once

#include "SafariTab.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// One tab read back from an archive file.
struct ArchivedTab
{
    QString title;
    QString url;

    friend bool operator==(const ArchivedTab &, const ArchivedTab &) = default;
};

// Every entry of an archive folder, kept as the files keep it: their UTF-8 text in one block, and
// for each entry where its title and address lie there (16 bytes). Texts are made only for the
// entries asked for, so a million entries cost little more than the files themselves.
class ArchivedTabs
{
public:
    // The address follows the title's "](".
    struct Entry
    {
        const char *title;
        quint32 titleSize;
        quint32 urlSize;
    };

    ArchivedTabs() = default;
    ArchivedTabs(QByteArray text, std::vector<Entry> entries) : m_text(std::move(text)), m_entries(std::move(entries))
    {
    }

    qsizetype size() const { return qsizetype(m_entries.size()); }
    // The entry's texts in UTF-8, as its file holds them.
    QByteArrayView title(qsizetype i) const { return {m_entries[i].title, m_entries[i].titleSize}; }
    QByteArrayView url(qsizetype i) const { return {m_entries[i].title + m_entries[i].titleSize + 2, m_entries[i].urlSize}; }
    ArchivedTab at(qsizetype i) const { return {text(title(i)), text(url(i))}; }

    // UTF-8 made into text, a byte-order mark at its start included: in a title it is a character.
    static QString text(QByteArrayView utf8);

private:
    QByteArray m_text;
    std::vector<Entry> m_entries;
};

// The Markdown archive: one file per day that sweeps append to, one file per saved snapshot,
// and the reader that lists every entry of every file in a folder.
namespace Archive {

// Appends the tabs to the day's file and flushes them to disk before returning. Throws
// FileSystemError, leaving the file as it was, when the folder or the lines cannot be written.
void append(const QList<SafariTab> &tabs, const QString &folder, const QDateTime &now);

// Writes all the tabs into a new file of their own and returns its path. Never replaces a file.
QString saveSnapshot(const QList<SafariTab> &tabs, const QString &folder, const QDateTime &now);

// Every entry of every ".md" file in the folder: snapshot files first, then the days, newest
// first; within a file, in file order. Unreadable files and malformed lines are skipped.
ArchivedTabs read(const QString &folder);
// The same entries, each made into texts.
QList<ArchivedTab> all(const QString &folder);

// The text between the brackets: the title on one line with brackets turned into parentheses,
// or the address when there is no title.
QString cleanTitle(const SafariTab &tab);
// Whether the tab's line, as a sweep writes it, reads back as this tab's address and cleaned
// title. One that would not (an address with a line feed or an unmatched ")") is never swept.
bool canArchive(const SafariTab &tab);
// One line of a file, when it is an entry.
std::optional<ArchivedTab> readLine(QStringView line);

} // namespace Archive
