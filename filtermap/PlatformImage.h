// The drawable copy of a filter map that createCopy hands to the editor, kept free of any
// window system: the editor wraps the rows in a cairo image surface (CAIRO_FORMAT_RGB24
// and CAIRO_FORMAT_ARGB32 both read this layout) or copies them into its own pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace kfx {

struct CPlatformImage {
    int width = 0;
    int height = 0;
    /// width x height native-endian words 0xAARRGGBB, alpha always 0xFF, top row of the
    /// picture first (screen order, unlike the holder's bottom-first pixel block), no
    /// padding: a row is `width` words, i.e. a stride of width * 4 bytes.
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int yFromTop) const
    {
        return pixels[std::size_t(yFromTop) * std::size_t(width) + std::size_t(x)];
    }
};

}  // namespace kfx
