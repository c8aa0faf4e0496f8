// Where loadFromResource finds the program's bitmap resources. The filter-map library does
// not know how they are stored: the resource library implements this over the bitmaps it
// compiled into the plug-in, tests over files of their own.
#pragma once

#include <cstddef>

namespace kfx {

class IResourceModule {
public:
    virtual ~IResourceModule() = default;
    /// Bitmap resource `number`: a BMP file without its 14-byte file header (info header,
    /// colour table and pixels). Returns false, leaving the outputs alone, if there is none.
    virtual bool findBitmap(int number, const unsigned char*& data, std::size_t& size) const = 0;
};

}  // namespace kfx
