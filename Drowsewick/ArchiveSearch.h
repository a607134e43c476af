#pragma once

#include "Archive.h"

#include <QList>
#include <QStringView>

#include <vector>

// Finds the archived tabs whose title, or else address, holds a query, case folded as
// QString::toLower folds it, and keeps them in archive order. Built to stay quick with a million
// entries: most texts lower-case only in the letters A-Z, which the search folds as it reads;
// the others get a lower-case copy, made by the first search after the entries changed, in the
// same pass over the texts, and kept for the next searches. Every search runs on all cores.
class ArchiveSearch
{
public:
    // The lower-case copies of one entry's texts; a null string where the text itself will do.
    struct Copy
    {
        QString title;
        QString url;
    };

    // The entries changed: the copies made for the old ones no longer apply.
    void forget();
    // Fills rows with the indexes of the entries that hold the lower-case query, which must not
    // be empty; rows keeps its capacity from one search to the next.
    void find(const QList<ArchivedTab> &tabs, QStringView lowerQuery, std::vector<int> &rows);

private:
    // For every entry, the place of its copy in m_copies, or -1; empty until a search made them.
    std::vector<qint32> m_copyOf;
    std::vector<Copy> m_copies;
};
