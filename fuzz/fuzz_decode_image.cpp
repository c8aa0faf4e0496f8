// libFuzzer target for decodeImage: any text, into a fresh holder and into one that holds
// a picture; accepted text must give a holder whose blocks agree with its header.
#include "filtermap/BitmapHelper.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    kfx::CBitmapHelper fresh("fresh");
    fresh.decodeImage(text, 0, 0);
    if (fresh.isValid()) {
        if (fresh.getPixelBlock()->size() !=
            std::size_t(fresh.getStride()) * std::size_t(fresh.getHeight()))
            std::abort();
        if (std::size_t(fresh.getWidth()) * std::size_t(fresh.getHeight()) <= 4096) {
            std::vector<float> values(std::size_t(fresh.getWidth()) *
                                      std::size_t(fresh.getHeight()));
            fresh.getValues(values.data(), unsigned(values.size()));
            (void)fresh.createCopy();
            fresh.flip(false);
            (void)fresh.createCopy();
            fresh.invert();
            fresh.flip(true);
            int w, h;
            kfx::CBitmapHelper again("again");
            again.decodeImage(fresh.encodeImage(w, h), w, h);
            if (!again.isValid())
                std::abort();
        }
    }
    // A holder that already has a picture keeps it unless the text is accepted.
    kfx::CBitmapHelper held("held");
    held.decodeImage("KAAAAAIAAAABAAAAAQAYAAAAAAAIAAAAAAAAAAAAAAAAAAAAAAAAAAECAwQFBgAA", 0, 0);
    held.decodeImage(text, 0, 0);
    if (!held.isValid())
        std::abort();
    return 0;
}
