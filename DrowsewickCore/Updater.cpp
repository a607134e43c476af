#include "Updater.h"

#include "DecimalNumber.h"

#include <QList>

namespace Updater {

namespace {

// The numbers of a version: pieces between full stops, empty ones dropped, a piece that is
// not a strict decimal counting as 0.
QList<qint64> versionNumbers(QStringView version)
{
    QList<qint64> numbers;
    for (QStringView piece : version.tokenize(u'.', Qt::SkipEmptyParts)) {
        qint64 number = 0;
        if (!DecimalNumber::parseInt64(piece, &number))
            number = 0;
        numbers.append(number);
    }
    return numbers;
}

} // namespace

bool isNewer(QStringView a, QStringView b)
{
    const QList<qint64> first = versionNumbers(a);
    const QList<qint64> second = versionNumbers(b);
    const qsizetype count = std::max(first.size(), second.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 x = first.value(i, 0);
        const qint64 y = second.value(i, 0);
        if (x != y)
            return x > y;
    }
    return false;
}

} // namespace Updater
