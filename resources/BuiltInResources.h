// The program's bitmap resources (built-in filter maps 10000-10002, editor pictures),
// compiled into the library from the BMP files of this folder.
#pragma once

#include "filtermap/ResourceModule.h"

namespace skv {

class CBuiltInResources : public kfx::IResourceModule {
public:
    /// The one table of the library; pass it to loadFromResource.
    static const CBuiltInResources& instance();

    bool findBitmap(int number, const unsigned char*& data, std::size_t& size) const override;
};

}  // namespace skv
