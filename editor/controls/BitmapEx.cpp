// CBitmapEx: taking over a filter-map holder's drawable copy as the picture shown, and
// loading a skin picture from a file through the same holder.
#include "editor/controls/BitmapEx.h"

#include "filtermap/BitmapHelper.h"
#include "filtermap/PlatformImage.h"

namespace VSTGUI {

CBitmapEx::CBitmapEx() = default;

CBitmapEx::~CBitmapEx() = default;

bool CBitmapEx::setPicture(std::unique_ptr<kfx::CPlatformImage> image)
{
    // replacePicture deletes the picture held so far (and its masked copy) and keeps the
    // size when the new one is empty.
    replacePicture(adoptImage(std::move(image)));
    return true;
}

bool CBitmapEx::load(const char* path)
{
    if (!path)
        return false;
    busy = true;
    kfx::CBitmapHelper helper("skin");
    helper.loadFromFile(path);
    bool ok = helper.isValid();
    if (ok)
        setPicture(helper.createCopy());
    busy = false;
    return ok;
}

}  // namespace VSTGUI
