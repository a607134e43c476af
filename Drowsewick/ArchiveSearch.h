#pragma once

#include "Archive.h"

#include <QStringView>

#include <vector>

// Finds the archived tabs whose title, or else address, holds a query, case folded as
// QString::toLower folds it, and keeps them in archive order. It searches the UTF-8 text of the
// files: most texts lower-case only in the letters A-Z, which the search folds as it reads; the
// others it reads in lower case, made as it goes. Which texts those are, the first search after
// the entries changed finds out, in the same pass, for the next searches. Every search runs on
// all cores, and none of them keeps memory of its own but a byte for every entry.
class ArchiveSearch
{
public:
    // The entries changed: what the searches knew of the old ones no longer applies.
    void forget();
    // Fills rows with the indexes of the entries that hold the lower-case query, which must not
    // be empty.
    void find(const ArchivedTabs &tabs, QStringView lowerQuery, std::vector<int> &rows);

private:
    // For every entry, which of its texts the search reads in lower case; empty until a search
    // found out.
    std::vector<quint8> m_lowered;
};
