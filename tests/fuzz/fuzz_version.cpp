#include "FuzzCheck.h"
#include "Updater.h"

// isNewer orders any three version texts consistently: never newer than itself, never both ways,
// transitive, and versions that compare equal compare alike with a third.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList v = Fuzz::texts(data, size, 3);
    const auto newer = [&](int a, int b) { return Updater::isNewer(v[a], v[b]); };
    FUZZ_CHECK(!newer(0, 0));
    FUZZ_CHECK(!(newer(0, 1) && newer(1, 0)));
    if (newer(0, 1) && newer(1, 2))
        FUZZ_CHECK(newer(0, 2));
    if (!newer(0, 1) && !newer(1, 0))
        FUZZ_CHECK(newer(0, 2) == newer(1, 2) && newer(2, 0) == newer(2, 1));
    return 0;
}
