#pragma once

#include "SafariBridge.h"
#include "SafariTab.h"

#include <QList>
#include <QString>
#include <QStringList>

// Generated, repeatable data that looks like what a real user has open and archived: titles and
// addresses of code hosts, encyclopaedias, question sites, videos, news, shops and searches,
// some of them with non-ASCII titles and parentheses in their addresses.
namespace BenchData {

struct Page
{
    QString title;
    QString url;
};

// The same seed gives the same pages, on every machine and every run.
class PageGenerator
{
public:
    explicit PageGenerator(quint64 seed) : m_state(seed) {}
    Page next();

    quint64 random();
    int below(int bound) { return int(random() % quint64(bound)); }

private:
    quint64 m_state;
};

// Windows of tabsPerWindow tabs each, the first tab of every window current.
SafariSnapshot snapshot(int tabCount, int tabsPerWindow, quint64 seed);
// What the snapshot script returns for those tabs.
QString snapshotText(const SafariSnapshot &snapshot);

// Never-sweep patterns as a user collects them: a few sites, hosts and words.
QStringList neverSweepPatterns(int count);

// An archive folder as the two writers leave it: a tenth of the files are saved snapshots, the
// rest daily files of sweeps, with entriesPerFile entries each. Returns the number of entries.
qint64 writeArchive(const QString &folder, int fileCount, int entriesPerFile);

// The archive a benchmark reads: the folder it was given, or on a smoke run a small one made
// under the folder given as scratch.
QString archiveFor(bool smoke, const QString &given, const QString &scratch);
// The paths of the folder's archive files.
QStringList archiveFiles(const QString &folder);

} // namespace BenchData
