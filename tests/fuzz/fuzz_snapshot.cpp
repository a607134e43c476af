#include "FuzzCheck.h"
#include "SafariBridge.h"

// Whatever the engine prints, the parser returns tabs that, written out in the protocol again,
// parse to the very same snapshot: no separator survives inside a field, and every active key
// belongs to a tab that was returned.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SafariSnapshot snapshot = SafariScript::parseSnapshot(Fuzz::text(data, size));
    QString again;
    for (const SafariTab &tab : snapshot.tabs) {
        const QChar active = snapshot.activeKeys.contains(tab.key()) ? u'1' : u'0';
        again += QString::number(tab.windowID()) + SafariScript::fieldSeparator + active + SafariScript::fieldSeparator
            + tab.url() + SafariScript::fieldSeparator + tab.title() + SafariScript::recordSeparator;
    }
    FUZZ_CHECK(SafariScript::parseSnapshot(again) == snapshot);
    return 0;
}
