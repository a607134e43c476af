#include "DecimalNumber.h"

#include <limits>

namespace DecimalNumber {

bool parseInt64(QStringView text, qint64 *value)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return false;
    // Accumulate as a negative number so that the minimum value fits.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 result = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        const int digit = c - u'0';
        if (result < (min + digit) / 10)
            return false;
        result = result * 10 - digit;
    }
    if (!negative) {
        if (result == min)
            return false;
        result = -result;
    }
    *value = result;
    return true;
}

} // namespace DecimalNumber
