#include "ArchiveSearch.h"

#include <QThread>
#include <QtConcurrent>

#include <array>
#include <cstring>
#include <utility>

namespace {

// Eight characters in one wide register.
using Lanes = char16_t __attribute__((vector_size(16)));

Lanes eightTimes(char16_t c)
{
    return Lanes{} + c;
}

// The first place from `from` on where the test holds for a character of the text, or -1. The
// test is asked about eight characters at once first, one comparison of a wide register, and
// then about those eight one by one where it held for one of them.
template <typename Test>
qsizetype firstWhere(QStringView text, qsizetype from, const Test &test)
{
    constexpr qsizetype lanes = sizeof(Lanes) / sizeof(char16_t);
    const char16_t *characters = text.utf16();
    qsizetype at = from;
    for (; at + lanes <= text.size(); at += lanes) {
        Lanes chunk;
        std::memcpy(&chunk, characters + at, sizeof chunk);
        const auto held = test(chunk);
        quint64 halves[2];
        static_assert(sizeof held == sizeof halves);
        std::memcpy(halves, &held, sizeof halves);
        if ((halves[0] | halves[1]) != 0)
            break;
    }
    for (; at < text.size(); ++at) {
        if (test(characters[at]))
            return at;
    }
    return -1;
}

struct IsBeyondAscii
{
    bool operator()(char16_t c) const { return c >= 0x80; }
    auto operator()(Lanes c) const { return c >= eightTimes(0x80); }
};

// A character, or its capital for a letter a-z: a letter and its capital differ only in the
// capital bit, which is set in both before they are compared.
struct IsFolded
{
    static constexpr char16_t capitalBit = 0x20;

    char16_t wanted;
    char16_t bit;

    explicit IsFolded(char16_t lower)
        : wanted(lower), bit(char16_t(lower - u'a') < 26 ? capitalBit : char16_t(0))
    {
    }

    bool operator()(char16_t c) const { return char16_t(c | bit) == wanted; }
    auto operator()(Lanes c) const { return (c | eightTimes(bit)) == eightTimes(wanted); }
};

// Lower case as QString::toLower makes it, from a table that QString::toLower filled one
// character at a time, which is many times faster. A text that lower case changes only in the
// letters A-Z needs no lower-case copy at all: the search reads those letters as a-z and finds
// exactly what it would find in the copy.
class LowerCaseTable
{
public:
    LowerCaseTable()
    {
        for (char32_t c = 0; c <= 0xffff; ++c) {
            const QString lower = QString(QChar(c)).toLower();
            m_lower[c] = QChar::isSurrogate(c) || lower.size() != 1 ? complex : lower.front().unicode();
            m_changesBeyondAscii[c] = c >= 0x80 && m_lower[c] != c;
        }
    }

    // The copy the search reads, or a null string where the text itself will do.
    QString searchText(const QString &text) const
    {
        return changesBeyondAscii(text) ? lowered(text) : QString();
    }

private:
    bool changesBeyondAscii(QStringView text) const
    {
        const qsizetype first = firstWhere(text, 0, IsBeyondAscii());
        return first >= 0 && std::any_of(text.begin() + first, text.end(), [this](QChar c) {
                   return m_changesBeyondAscii[c.unicode()];
               });
    }

    QString lowered(const QString &text) const
    {
        QString lower(text.size(), Qt::Uninitialized);
        char16_t *out = reinterpret_cast<char16_t *>(lower.data());
        for (QChar c : text) {
            if (m_lower[c.unicode()] == complex)
                return text.toLower();
            *out++ = m_lower[c.unicode()];
        }
        return lower;
    }

    // For a character that lower-cases to more than one, and for every surrogate (a character
    // beyond the basic plane may have a lower case): a surrogate, never a character's lower case.
    static constexpr char16_t complex = 0xd800;
    std::array<char16_t, 0x10000> m_lower;
    std::array<bool, 0x10000> m_changesBeyondAscii;
};

ArchiveSearch::Copy copyFor(const ArchivedTab &tab)
{
    static const LowerCaseTable lowerCase;
    return {lowerCase.searchText(tab.title), lowerCase.searchText(tab.url)};
}

bool isNeeded(const ArchiveSearch::Copy &copy)
{
    return !copy.title.isNull() || !copy.url.isNull();
}

char16_t folded(char16_t c)
{
    return char16_t(c - u'A') < 26 ? char16_t(c + (u'a' - u'A')) : c;
}

// Where the text next holds the character, or its capital for a letter a-z; -1 where it does not.
qsizetype indexOfFolded(QStringView text, qsizetype from, QChar lower)
{
    return firstWhere(text, from, IsFolded(lower.unicode()));
}

// Whether the text holds the lower-case query, reading the letters A-Z of the text as a-z.
bool containsFolded(QStringView text, QStringView query)
{
    const qsizetype last = text.size() - query.size();
    for (qsizetype at = indexOfFolded(text, 0, query.front()); at >= 0 && at <= last;
         at = indexOfFolded(text, at + 1, query.front())) {
        if (std::equal(query.begin() + 1, query.end(), text.begin() + at + 1,
                       [](QChar q, QChar c) { return q.unicode() == folded(c.unicode()); }))
            return true;
    }
    return false;
}

// Whether the entry's title, or else its address, holds the query; copy, where there is one,
// stands in for the texts it holds.
bool holds(const ArchivedTab &tab, const ArchiveSearch::Copy *copy, QStringView query)
{
    const bool copied = copy != nullptr;
    return containsFolded(copied && !copy->title.isNull() ? copy->title : tab.title, query)
        || containsFolded(copied && !copy->url.isNull() ? copy->url : tab.url, query);
}

// A part of the entries that one thread works through: how many of them matched, and the copies
// it made, each with its entry.
struct Slice
{
    qsizetype begin;
    qsizetype end;
    qsizetype found = 0;
    std::vector<std::pair<qsizetype, ArchiveSearch::Copy>> copies;
};

// Enough slices to keep every core busy when some take longer than others.
QList<Slice> slices(qsizetype count)
{
    const qsizetype parts = std::max(1, 4 * QThread::idealThreadCount());
    const qsizetype size = std::max<qsizetype>(1, (count + parts - 1) / parts);
    QList<Slice> result;
    for (qsizetype begin = 0; begin < count; begin += size)
        result.append({begin, std::min(count, begin + size), 0, {}});
    return result;
}

// Writes the slice's rows that hold the query from rows on; they fit, as a slice has no more
// rows than that. The count is kept apart from the slice until the end: the slices lie side by
// side, and cores writing next to each other slow each other down.
void findWithCopies(const QList<ArchivedTab> &tabs, const std::vector<qint32> &copyOf,
                    const std::vector<ArchiveSearch::Copy> &copies, QStringView query, Slice &slice, int *rows)
{
    qsizetype found = 0;
    for (qsizetype row = slice.begin; row < slice.end; ++row) {
        const qint32 copy = copyOf[row];
        if (holds(tabs.at(row), copy < 0 ? nullptr : &copies[copy], query))
            rows[found++] = int(row);
    }
    slice.found = found;
}

// The same, making on the way the copies that the slice's entries need; copyOf gets -1 for the
// entries that need none.
void findMakingCopies(const QList<ArchivedTab> &tabs, std::vector<qint32> &copyOf, QStringView query, Slice &slice,
                      int *rows)
{
    qsizetype found = 0;
    std::vector<std::pair<qsizetype, ArchiveSearch::Copy>> copies;
    for (qsizetype row = slice.begin; row < slice.end; ++row) {
        ArchiveSearch::Copy copy = copyFor(tabs.at(row));
        if (holds(tabs.at(row), &copy, query))
            rows[found++] = int(row);
        copyOf[row] = -1;
        if (isNeeded(copy))
            copies.emplace_back(row, std::move(copy));
    }
    slice.found = found;
    slice.copies = std::move(copies);
}

// Moves the copies that the slices made into one list, noting for each entry where its copy went.
void keepCopies(QList<Slice> &parts, std::vector<qint32> &copyOf, std::vector<ArchiveSearch::Copy> &copies)
{
    copies.clear();
    for (Slice &slice : parts) {
        for (auto &[row, copy] : slice.copies) {
            copyOf[row] = qint32(copies.size());
            copies.push_back(std::move(copy));
        }
    }
}

// Moves the rows found by every slice up against those of the slice before it, keeping their order.
void joinRows(std::vector<int> &rows, const QList<Slice> &parts)
{
    auto kept = rows.begin();
    for (const Slice &slice : parts) {
        const auto found = rows.begin() + slice.begin;
        kept = kept == found ? kept + slice.found : std::copy(found, found + slice.found, kept);
    }
    rows.erase(kept, rows.end());
}

} // namespace

void ArchiveSearch::forget()
{
    m_copyOf.clear();
    m_copies.clear();
}

void ArchiveSearch::find(const QList<ArchivedTab> &tabs, QStringView lowerQuery, std::vector<int> &rows)
{
    rows.resize(tabs.size());
    QList<Slice> parts = slices(tabs.size());
    if (m_copyOf.size() == size_t(tabs.size())) {
        QtConcurrent::blockingMap(parts, [&](Slice &slice) {
            findWithCopies(tabs, m_copyOf, m_copies, lowerQuery, slice, rows.data() + slice.begin);
        });
    } else {
        m_copyOf.resize(tabs.size());
        QtConcurrent::blockingMap(parts, [&](Slice &slice) {
            findMakingCopies(tabs, m_copyOf, lowerQuery, slice, rows.data() + slice.begin);
        });
        keepCopies(parts, m_copyOf, m_copies);
    }
    joinRows(rows, parts);
}
