// Constants of the filter-map subsystem: block sizes, limits on what a picture may be, and
// the numbers of the built-in pictures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kfx {

/// The header block is a 40-byte info header, a 256-entry colour table and 4 spare bytes;
/// exported BMP files carry it whole, so their pixels always start at 14 + 1068.
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kColourTableEntries = 256;
constexpr std::size_t kColourTableOffset = kInfoHeaderSize;
constexpr std::size_t kHeaderBlockSize = kInfoHeaderSize + 4 * kColourTableEntries + 4;  // 1068
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kExportPixelOffset = kFileHeaderSize + kHeaderBlockSize;  // 1082

/// Largest picture accepted from a file, a resource or image text. 2^24 pixels keeps the
/// analyser's float array at 64 MiB (its byte count must fit in 32 bits) and a 24-bit pixel
/// block at 48 MiB; no side may exceed 32768 so that degenerate 1-pixel-high strips of
/// millions of columns are refused too. The built-in pictures are far below both bounds.
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 24;
constexpr std::int32_t kMaxSide = 32768;

/// generateMandelbrot repeats randomly placed attempts until one draws enough detail; on
/// a picture where that can never happen the attempts must still end. After this many
/// failures the picture is restored and left unmodified.
constexpr int kMandelbrotMaxAttempts = 200;
constexpr int kEscapeIterations = 600;

/// Built-in picture "#n" is bitmap resource kBuiltInResourceBase + n.
constexpr int kBuiltInResourceBase = 10000;

}  // namespace kfx
