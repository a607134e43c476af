#pragma once

#include <QStringView>

namespace DecimalNumber {

// Strict decimal of a signed 64-bit number: an optional "+" or "-", then one or more ASCII
// digits, nothing else, and a value that fits.
bool parseInt64(QStringView text, qint64 *value);

} // namespace DecimalNumber
