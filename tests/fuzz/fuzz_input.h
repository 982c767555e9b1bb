#pragma once

// What the fuzz targets share: the reads an input stands for, and a check that
// ends the run the way a sanitizer report does.

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace FuzzInput {

// The bytes after the first, which readers that take their input in reads
// receive whole.
inline QByteArray payload(const uint8_t* data, size_t size) {
    if (size < 2) return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
}

// The payload cut into reads as a pipe or a socket might deliver it. The first
// byte chooses the cuts, so that the fuzzer explores them too: 0 and 1 give one
// read, any other value n reads of 1 to n bytes, their lengths drawn from n.
inline QList<QByteArray> reads(const uint8_t* data, size_t size) {
    const QByteArray bytes = payload(data, size);
    const unsigned longest = size > 0 ? data[0] : 0;
    QList<QByteArray> pieces;
    uint32_t state = longest * 2654435761u + 1;
    for (int at = 0; at < bytes.size();) {
        state = state * 1103515245u + 12345u;
        const int length =
            longest < 2 ? bytes.size() : 1 + static_cast<int>((state >> 16) % longest);
        pieces.append(bytes.mid(at, length));
        at += length;
    }
    return pieces;
}

}  // namespace FuzzInput
