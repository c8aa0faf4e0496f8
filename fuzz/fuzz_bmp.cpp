// libFuzzer target for the BMP reader: any bytes, read as a file and as a resource; an
// accepted picture must be within the caps and must survive export and image text.
#include "filtermap/BitmapHelper.h"
#include "filtermap/BmpReader.h"
#include "filtermap/FilterMapConfig.h"

#include <cstdlib>
#include <vector>

namespace {

struct CBytesModule : kfx::IResourceModule {
    const std::uint8_t* data;
    std::size_t size;
    bool findBitmap(int, const unsigned char*& d, std::size_t& s) const override
    {
        d = data;
        s = size;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kfx::CBmpPicture picture;
    if (kfx::readBmpFile(data, size, picture)) {
        if (std::int64_t(picture.width) * picture.height > kfx::kMaxPixels ||
            picture.pixels.size() != std::size_t(picture.stride()) * std::size_t(picture.height))
            std::abort();
    }
    CBytesModule module;
    module.data = data;
    module.size = size;
    kfx::CBitmapHelper holder("fuzz");
    holder.loadFromResource(&module, 10000);
    if (holder.isValid() && std::int64_t(holder.getWidth()) * holder.getHeight() <= 4096) {
        std::vector<float> values(std::size_t(holder.getWidth()) * std::size_t(holder.getHeight()));
        holder.getValues(values.data(), unsigned(values.size()));
        int w, h;
        kfx::CBitmapHelper copy("copy");
        copy.decodeImage(holder.encodeImage(w, h), w, h);
        if (!copy.isValid() || *copy.getPixelBlock() != *holder.getPixelBlock())
            std::abort();
        holder.flip(false);
        holder.flip(true);
        (void)holder.createCopy();
        holder.differences(false);
        holder.normalize(true);
        holder.rotateClockwise(1);
        if (holder.getBitsPerPixel() != 24 || holder.getWidth() != h || holder.getHeight() != w)
            std::abort();
    }
    return 0;
}
