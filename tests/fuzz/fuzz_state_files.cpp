#include "FuzzCheck.h"
#include "Settings.h"
#include "TabTracker.h"

#include <algorithm>
#include <cstdlib>

namespace {

const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
// About 3000 years either side of the reference date: every time a real file holds, and where a
// millisecond still fits a double exactly.
constexpr qint64 plausibleSeconds = 100'000'000'000;

bool isPlausible(const TabTracker &tracker)
{
    const auto &entries = tracker.lastActive();
    return std::all_of(entries.keyValueBegin(), entries.keyValueEnd(), [](const auto &entry) {
        return Fuzz::survivesUtf8(entry.first) && std::abs(referenceDate.secsTo(entry.second)) <= plausibleSeconds;
    });
}

bool survivesUtf8(const Settings &settings)
{
    return Fuzz::survivesUtf8(settings.archiveFolderPath)
        && std::all_of(settings.neverSweep.begin(), settings.neverSweep.end(), Fuzz::survivesUtf8);
}

void readSettings(const QByteArray &bytes)
{
    const std::optional<Settings> settings = Settings::fromJson(bytes);
    if (!settings)
        return;
    const std::optional<Settings> again = Settings::fromJson(settings->toJson());
    FUZZ_CHECK(again);
    if (survivesUtf8(*settings))
        FUZZ_CHECK(*again == *settings);
}

void readTracker(const QByteArray &bytes)
{
    const std::optional<TabTracker> tracker = TabTracker::fromJson(bytes);
    if (!tracker)
        return;
    const std::optional<TabTracker> again = TabTracker::fromJson(tracker->toJson());
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->lastActive().size() <= tracker->lastActive().size());
    if (isPlausible(*tracker))
        FUZZ_CHECK(*again == *tracker);
}

} // namespace

// Any settings or tracker file either reads as one whose own file reads back equal, or is refused.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Fuzz::bytes(data, size);
    readSettings(bytes);
    readTracker(bytes);
    return 0;
}
