#include "FuzzCheck.h"
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

} // namespace

// Any tracker file either reads as a tracker whose own file reads back equal, or is refused.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<TabTracker> tracker = TabTracker::fromJson(Fuzz::bytes(data, size));
    if (!tracker)
        return 0;
    const std::optional<TabTracker> again = TabTracker::fromJson(tracker->toJson());
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->lastActive().size() <= tracker->lastActive().size());
    if (isPlausible(*tracker))
        FUZZ_CHECK(*again == *tracker);
    return 0;
}
