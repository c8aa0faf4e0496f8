// Little-endian field access for the BMP headers and any other byte record we read or write.
// The one home of these helpers: the reader, the picture holder, the picture generator and
// the tests all lay out and check bytes through it, so a field is encoded one way only.
#pragma once

#include <cstdint>
#include <vector>

namespace kfx {

/// The 16-bit field at p (two bytes, low first), widened.
inline std::uint32_t getU16(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
}

/// The 32-bit field at p (four bytes, low first).
inline std::uint32_t getU32(const std::uint8_t* p)
{
    return getU16(p) | (getU16(p + 2) << 16);
}

/// Writes the low 16 bits of v at p.
inline void putU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

/// Writes v at p as four bytes.
inline void putU32(std::uint8_t* p, std::uint32_t v)
{
    putU16(p, v);
    putU16(p + 2, v >> 16);
}

/// Appends the low 16 bits of v to out.
inline void appendU16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

/// Appends v to out as four bytes.
inline void appendU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendU16(out, v);
    appendU16(out, v >> 16);
}

}  // namespace kfx
