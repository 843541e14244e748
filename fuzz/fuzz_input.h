#pragma once
// Helpers shared by the fuzz targets: cutting one input into several texts.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skarvel::fuzz {

// Invariant check that stays on in every build type: a broken promise must stop the run.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            ::skarvel::fuzz::checkFailed(#cond, __FILE__, __LINE__);                                         \
    } while (false)

[[noreturn]] void checkFailed(const char* what, const char* file, int line);

// The input split at every 0x1F byte (unit separator); missing parts are empty, so
// any input maps onto `count` parts.
inline std::vector<QByteArray> splitParts(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<QByteArray> parts(count);
    std::size_t part = 0, start = 0;
    for (std::size_t i = 0; i <= size && part < count; ++i) {
        if (i == size || (data[i] == 0x1F && part + 1 < count)) {
            parts[part++] = QByteArray(reinterpret_cast<const char*>(data + start), qsizetype(i - start));
            start = i + 1;
        }
    }
    return parts;
}

inline QString utf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

} // namespace skarvel::fuzz
