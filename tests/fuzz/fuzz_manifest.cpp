#include "FuzzCheck.h"
#include "Updater.h"

// isNewer orders any three version texts consistently: never newer than itself, never both ways,
// transitive, and versions that compare equal compare alike with a third.
static void checkOrder(const QStringList &v)
{
    const auto newer = [&](int a, int b) { return Updater::isNewer(v[a], v[b]); };
    FUZZ_CHECK(!newer(0, 0));
    FUZZ_CHECK(!(newer(0, 1) && newer(1, 0)));
    if (newer(0, 1) && newer(1, 2))
        FUZZ_CHECK(newer(0, 2));
    if (!newer(0, 1) && !newer(1, 0))
        FUZZ_CHECK(newer(0, 2) == newer(1, 2) && newer(2, 0) == newer(2, 1));
}

// Any manifest body, checked against any running version: an offer is only ever an absolute
// https address with a host, for a version newer than the running one. The input's first three
// NUL-separated texts are ordered as versions too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkOrder(Fuzz::texts(data, size, 3));
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
