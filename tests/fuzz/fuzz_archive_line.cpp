#include "Archive.h"
#include "FuzzCheck.h"

namespace {

// The reader takes an address whole when its parentheses pair up, or when it holds no ")".
bool readsBackWhole(QStringView url)
{
    int depth = 0;
    for (QChar c : url) {
        if (c == u'(')
            ++depth;
        else if (c == u')' && --depth < 0)
            return false;
    }
    return depth == 0 || !url.contains(u')');
}

// Any line: an entry is exactly the text between the first "](" and the ")" that ends it.
void readAnyLine(const QString &line)
{
    const std::optional<ArchivedTab> entry = Archive::readLine(line);
    if (!entry)
        return;
    FUZZ_CHECK(!entry->title.contains(QStringLiteral("](")));
    FUZZ_CHECK(line.startsWith(QStringLiteral("- [") + entry->title + QStringLiteral("](") + entry->url + u')'));
}

// A line as a sweep writes it reads back as the cleaned title and, where the format can hold
// it, the address unchanged. Sweeps never write an address with a line feed.
void readWrittenLine(const SafariTab &tab)
{
    if (tab.url().contains(u'\n'))
        return;
    const QString line = QStringLiteral("- [") + Archive::cleanTitle(tab) + QStringLiteral("](") + tab.url()
        + QStringLiteral(") · 09:05");
    const std::optional<ArchivedTab> entry = Archive::readLine(line);
    FUZZ_CHECK(entry);
    FUZZ_CHECK(entry->title == Archive::cleanTitle(tab));
    FUZZ_CHECK(!entry->title.contains(u'\n'));
    if (readsBackWhole(tab.url()))
        FUZZ_CHECK(entry->url == tab.url());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    readAnyLine(Fuzz::text(data, size));
    const QStringList parts = Fuzz::texts(data, size, 2);
    readWrittenLine(SafariTab(1, parts[1], parts[0]));
    return 0;
}
