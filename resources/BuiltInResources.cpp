// Looks bitmap resources up in the generated table by the number that begins each file name.
#include "resources/BuiltInResources.h"

#include "filtermap/FilterMapConfig.h"

#include <cstdlib>

struct skv_res_entry {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
extern const skv_res_entry skv_res_table[];

namespace skv {

const CBuiltInResources& CBuiltInResources::instance()
{
    static const CBuiltInResources resources;
    return resources;
}

bool CBuiltInResources::findBitmap(int number, const unsigned char*& data, std::size_t& size) const
{
    for (const skv_res_entry* e = skv_res_table; e->name != nullptr; ++e) {
        char* end = nullptr;
        const long n = std::strtol(e->name, &end, 10);
        if (end == e->name || *end != '-' || n != number || e->size <= kfx::kFileHeaderSize)
            continue;
        // A resource is the BMP file without its file header.
        data = e->data + kfx::kFileHeaderSize;
        size = e->size - kfx::kFileHeaderSize;
        return true;
    }
    return false;
}

}  // namespace skv
