// Builders for state-chunk tests: version-1 program records laid out byte by byte.
#pragma once

#include "filtermap/LittleEndian.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace statetest {
// (byte offset, program index) of every float a version-1 record carries, as the record's
// layout table lists them.
inline std::vector<std::pair<int, int>> v1Offsets()
{
    std::vector<std::pair<int, int>> table;
    auto run = [&](int offset, int firstIndex, int count) {
        for (int i = 0; i < count; ++i)
            table.emplace_back(offset + 4 * i, firstIndex + i);
    };
    run(0, 0, 8);
    run(32, 9, 1);
    run(36, 8, 1);
    run(40, 40, 1);
    run(44, 10, 6);
    run(68, 24, 2);
    run(76, 16, 8);
    run(108, 27, 4);
    run(124, 32, 6);
    run(148, 47, 1);
    run(156, 49, 2);
    run(164, 41, 4);
    run(180, 38, 2);
    return table;
}

inline void putFloatLE(std::vector<unsigned char>& bytes, std::size_t at, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    kfx::putU32(bytes.data() + at, bits);
}

inline void putText(std::vector<unsigned char>& bytes, std::size_t at, const std::string& text)
{
    std::memcpy(bytes.data() + at, text.data(), text.size());
}

// Value stored for program index `index` of record `record`: distinct, exact in binary, 0..1.
inline float v1Value(int record, int index)
{
    return static_cast<float>(record * 64 + index + 1) / 2048.0f;
}

// One 624-byte record with v1Value(record, index) at every listed offset, 0.99 in the unread
// float at 152, and paths and name naming the record.
inline std::vector<unsigned char> makeV1Record(int record)
{
    std::vector<unsigned char> bytes(624, 0);
    for (const auto& [offset, index] : v1Offsets())
        putFloatLE(bytes, offset, v1Value(record, index));
    putFloatLE(bytes, 152, 0.99f);
    putText(bytes, 188, "C:\\maps\\left" + std::to_string(record) + ".bmp");
    putText(bytes, 388, "#" + std::to_string(record % 3));
    putText(bytes, 588, "spare bytes");
    putText(bytes, 600, "V1 program " + std::to_string(record));
    return bytes;
}

inline std::vector<unsigned char> makeV1Bank()
{
    std::vector<unsigned char> bank;
    for (int r = 0; r < 16; ++r) {
        const auto record = makeV1Record(r);
        bank.insert(bank.end(), record.begin(), record.end());
    }
    return bank;
}
}  // namespace statetest
