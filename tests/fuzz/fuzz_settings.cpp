#include "FuzzCheck.h"
#include "Settings.h"

#include <algorithm>

namespace {

bool survivesUtf8(const Settings &settings)
{
    return Fuzz::survivesUtf8(settings.archiveFolderPath)
        && std::all_of(settings.neverSweep.begin(), settings.neverSweep.end(), Fuzz::survivesUtf8);
}

} // namespace

// Any settings file either reads as settings that save and read back equal, or is refused.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<Settings> settings = Settings::fromJson(Fuzz::bytes(data, size));
    if (!settings)
        return 0;
    const std::optional<Settings> again = Settings::fromJson(settings->toJson());
    FUZZ_CHECK(again);
    if (survivesUtf8(*settings))
        FUZZ_CHECK(*again == *settings);
    return 0;
}
