#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken promise ends the run the way a crash does, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)

namespace Fuzz {

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QString text(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input cut at its NUL bytes into `count` texts; missing ones are empty, and the last one
// keeps any further NUL bytes.
inline QStringList texts(const uint8_t *data, size_t size, int count)
{
    QStringList pieces = text(data, size).split(QChar(u'\0'));
    while (pieces.size() > count)
        pieces[count - 1] += QChar(u'\0') + pieces.takeAt(count);
    while (pieces.size() < count)
        pieces.append(QString());
    return pieces;
}

} // namespace Fuzz
