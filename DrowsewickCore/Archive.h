#pragma once

#include "SafariTab.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One tab read back from an archive file.
struct ArchivedTab
{
    QString title;
    QString url;

    friend bool operator==(const ArchivedTab &, const ArchivedTab &) = default;
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
