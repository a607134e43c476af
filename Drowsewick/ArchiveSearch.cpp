#include "ArchiveSearch.h"

#include <QString>
#include <QStringEncoder>
#include <QVarLengthArray>
#include <QtEndian>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

// The letters A-Z as a-z; any other byte of UTF-8 text unchanged.
char folded(char c)
{
    return unsigned(c - 'A') < 26 ? char(c + ('a' - 'A')) : c;
}

// The character that begins at `at` in UTF-8 text, and where the next one begins. The archive
// reader keeps only lines that are valid UTF-8, so the lead byte tells the length.
struct Decoded
{
    char32_t character;
    const char *next;
};

Decoded decodeAt(const char *at)
{
    const auto byte = [at](int i) { return char32_t(uchar(at[i])); };
    if (byte(0) < 0x80)
        return {byte(0), at + 1};
    if (byte(0) < 0xE0)
        return {(byte(0) & 0x1F) << 6 | (byte(1) & 0x3F), at + 2};
    if (byte(0) < 0xF0)
        return {(byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F), at + 3};
    return {(byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F), at + 4};
}

// Where the next byte beyond ASCII is, from `at` on; end if there is none.
// Eight bytes tested at once, as one number: the keystroke rows of scripts/bench.
const char *nextBeyondAscii(const char *at, const char *end)
{
    for (; end - at >= 8; at += 8) {
        if (const quint64 beyond = qFromLittleEndian<quint64>(at) & 0x8080808080808080)
            return at + std::countr_zero(beyond) / 8;
    }
    while (at < end && uchar(*at) < 0x80)
        ++at;
    return at;
}

// Room for a text in lower case; most fit without asking for memory.
using LowerText = QVarLengthArray<char, 1024>;

// Lower case as QString::toLower makes it, from a table that QString::toLower filled once for
// every character of the basic plane: many times faster than asking it for every text.
class LowerCase
{
public:
    LowerCase()
    {
        for (char32_t c = 0; c < 0x10000; ++c) {
            const QString lower = QString(QChar(c)).toLower();
            m_lower[c] = lower.size() == 1 ? lower.front().unicode() : several;
        }
    }

    static const LowerCase &instance()
    {
        static const LowerCase lowerCase;
        return lowerCase;
    }

    bool changesBeyondAscii(QByteArrayView text) const
    {
        for (const char *at = nextBeyondAscii(text.begin(), text.end()); at < text.end();) {
            const Decoded decoded = decodeAt(at);
            if (lower(decoded.character) != decoded.character)
                return true;
            at = nextBeyondAscii(decoded.next, text.end());
        }
        return false;
    }

    // The text with its characters beyond ASCII in lower case, in UTF-8, written into `room`.
    // The letters A-Z the search folds as it reads.
    QByteArrayView lowered(QByteArrayView text, LowerText &room) const
    {
        // No character of the basic plane lowers into more than twice its bytes.
        room.resize(2 * text.size());
        char *out = room.data();
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        const char *unchanged = text.begin();
        for (const char *at = nextBeyondAscii(text.begin(), text.end()); at < text.end();) {
            const Decoded decoded = decodeAt(at);
            const char32_t lowerCharacter = lower(decoded.character);
            if (lowerCharacter != decoded.character) {
                // What the table does not hold, QString::toLower does, for the whole text.
                if (lowerCharacter == several || lowerCharacter >= 0x10000)
                    return keep(ArchivedTabs::text(text).toLower().toUtf8(), room);
                const char16_t character = char16_t(lowerCharacter);
                out = encoder.appendToBuffer(std::copy(unchanged, at, out), QStringView(&character, 1));
                unchanged = decoded.next;
            }
            at = nextBeyondAscii(decoded.next, text.end());
        }
        return {room.constData(), std::copy(unchanged, text.end(), out) - room.constData()};
    }

private:
    // Beyond the basic plane no character lowers into several.
    char32_t lower(char32_t c) const { return c < 0x10000 ? m_lower[c] : QChar::toLower(c); }

    static QByteArrayView keep(const QByteArray &text, LowerText &room)
    {
        room.resize(text.size());
        std::copy(text.begin(), text.end(), room.begin());
        return {room.constData(), room.size()};
    }

    // For a character that lower-cases into more than one: no character at all.
    static constexpr char32_t several = 0x110000;
    std::array<char32_t, 0x10000> m_lower;
};

// Which of an entry's texts lower case changes beyond the letters A-Z: those the search reads in
// lower case.
enum Lowered : quint8 { titleLowered = 1, urlLowered = 2 };

quint8 loweredTexts(const ArchivedTabs &tabs, qsizetype row)
{
    const LowerCase &lowerCase = LowerCase::instance();
    return (lowerCase.changesBeyondAscii(tabs.title(row)) ? titleLowered : 0)
        | (lowerCase.changesBeyondAscii(tabs.url(row)) ? urlLowered : 0);
}

// Where the text next holds the byte, or its capital for a letter a-z; end where it does not.
// Each is looked for with the C library's quickest search, the capital only before the other.
const char *findFolded(const char *from, const char *end, char lower)
{
    const char *small = static_cast<const char *>(std::memchr(from, lower, size_t(end - from)));
    const char *limit = small ? small : end;
    if (unsigned(lower - 'a') >= 26)
        return limit;
    const char *capital = static_cast<const char *>(std::memchr(from, lower - ('a' - 'A'), size_t(limit - from)));
    return capital ? capital : limit;
}

// Whether the text holds the lower-case query, reading the letters A-Z of the text as a-z. In
// UTF-8 no character's bytes stand inside another's, so matching bytes are matching characters.
bool containsFolded(QByteArrayView text, QByteArrayView query)
{
    if (query.size() > text.size())
        return false;
    const char *last = text.end() - query.size();
    for (const char *at = findFolded(text.begin(), text.end(), query.front()); at <= last;
         at = findFolded(at + 1, text.end(), query.front())) {
        if (std::equal(query.begin() + 1, query.end(), at + 1, [](char q, char c) { return q == folded(c); }))
            return true;
    }
    return false;
}

bool holdsIn(QByteArrayView text, bool inLowerCase, QByteArrayView query)
{
    LowerText room;
    return containsFolded(inLowerCase ? LowerCase::instance().lowered(text, room) : text, query);
}

// Whether the entry's title, or else its address, holds the query.
bool holds(const ArchivedTabs &tabs, qsizetype row, quint8 lowered, QByteArrayView query)
{
    return holdsIn(tabs.title(row), lowered & titleLowered, query) || holdsIn(tabs.url(row), lowered & urlLowered, query);
}

// A part of the entries that one thread works through, and how many of them matched.
struct Slice
{
    qsizetype begin;
    qsizetype end;
    qsizetype found = 0;
};

// Enough slices to keep every core busy when some take longer than others.
QList<Slice> slices(qsizetype count)
{
    const qsizetype parts = std::max(1, 4 * QThread::idealThreadCount());
    const qsizetype size = std::max<qsizetype>(1, (count + parts - 1) / parts);
    QList<Slice> result;
    for (qsizetype begin = 0; begin < count; begin += size)
        result.append({begin, std::min(count, begin + size), 0});
    return result;
}

// Writes the slice's rows that hold the query from rows on; they fit, as a slice has no more
// rows than that. The count is kept apart from the slice until the end: the slices lie side by
// side, and cores writing next to each other slow each other down. Where the entries' lowered
// texts are not known yet, they are found on the way.
void find(const ArchivedTabs &tabs, quint8 *lowered, bool known, QByteArrayView query, Slice &slice, int *rows)
{
    qsizetype found = 0;
    for (qsizetype row = slice.begin; row < slice.end; ++row) {
        if (!known)
            lowered[row] = loweredTexts(tabs, row);
        if (holds(tabs, row, lowered[row], query))
            rows[found++] = int(row);
    }
    slice.found = found;
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
    m_lowered = {};
}

void ArchiveSearch::find(const ArchivedTabs &tabs, QStringView lowerQuery, std::vector<int> &rows)
{
    const QByteArray query = lowerQuery.toUtf8();
    const bool known = m_lowered.size() == size_t(tabs.size());
    m_lowered.resize(tabs.size());
    rows.resize(tabs.size());
    QList<Slice> parts = slices(tabs.size());
    QtConcurrent::blockingMap(parts, [&](Slice &slice) {
        ::find(tabs, m_lowered.data(), known, query, slice, rows.data() + slice.begin);
    });
    joinRows(rows, parts);
}
