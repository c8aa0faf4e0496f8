#include "editor/BitmapEx.h"

#include "filtermap/BitmapHelper.h"
#include "filtermap/PlatformImage.h"

#include <atomic>

namespace VSTGUI {

namespace {
std::atomic<long> gLivePictures{0};
}

long CBitmapEx::livePictureCount() { return gLivePictures.load(); }

CBitmapEx::CBitmapEx() = default;

CBitmapEx::~CBitmapEx() { takeSurface(nullptr); }

void CBitmapEx::takeSurface(cairo_surface_t* s) {
    if (picture) --gLivePictures;
    replacePicture(nullptr);
    picture = nullptr;
    if (s) {
        replacePicture(s);
        ++gLivePictures;
    }
}

bool CBitmapEx::setPicture(std::unique_ptr<kfx::CPlatformImage> image) {
    cairo_surface_t* s = image ? CBitmap::createSurface(*image) : nullptr;
    takeSurface(s);
    return true;
}

bool CBitmapEx::load(const char* path) {
    if (!path) return false;
    busy = true;
    kfx::CBitmapHelper helper("skin");
    helper.loadFromFile(path);
    bool ok = helper.isValid();
    if (ok) setPicture(helper.createCopy());
    busy = false;
    return ok;
}

}  // namespace VSTGUI
