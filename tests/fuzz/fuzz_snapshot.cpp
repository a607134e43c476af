#include "FuzzCheck.h"
#include "SafariBridge.h"

// Whatever the engine prints, the parser returns tabs that, written out as the snapshot script
// writes them, parse to the very same snapshot: no separator survives inside a field, and every
// active key belongs to a tab that was returned. And whatever a page puts into its address and
// title, the script's record of it is read back as exactly one tab.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SafariSnapshot snapshot = SafariScript::parseSnapshot(Fuzz::text(data, size));
    QString again;
    for (const SafariTab &tab : snapshot.tabs)
        again += SafariScript::record(tab, snapshot.activeKeys.contains(tab.key()));
    FUZZ_CHECK(SafariScript::parseSnapshot(again) == snapshot);

    const QStringList fields = Fuzz::texts(data, size, 2);
    FUZZ_CHECK(SafariScript::parseSnapshot(SafariScript::record(SafariTab(7, fields[0], fields[1]), true)).tabs.size() == 1);
    return 0;
}
