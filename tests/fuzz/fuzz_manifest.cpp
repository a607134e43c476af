#include "FuzzCheck.h"
#include "Updater.h"

// Any manifest body, checked against any running version: an offer is only ever an absolute
// https address with a host, for a version newer than the running one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A NUL byte, when there is one, ends the running version; the rest is the body.
    const QByteArray input = Fuzz::bytes(data, size);
    const qsizetype end = input.indexOf('\0');
    const QString current = end < 0 ? QStringLiteral("1.0") : QString::fromUtf8(input.left(end));
    const std::optional<UpdateInfo> update = Updater::parseManifest(input.mid(end + 1), current);
    if (!update)
        return 0;
    FUZZ_CHECK(update->downloadURL.isValid());
    FUZZ_CHECK(update->downloadURL.scheme() == QLatin1String("https"));
    FUZZ_CHECK(!update->downloadURL.host().isEmpty());
    FUZZ_CHECK(Updater::isNewer(update->version, current));
    return 0;
}
