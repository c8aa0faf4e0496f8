// Pictures that take over a drawable copy made elsewhere: the filter-map display gives its
// CBitmapEx each new copy a channel's filter-map holder makes (createCopy); the picture owns
// it from then on and deletes the one it held before, so exactly one stays alive.
#pragma once

#include "editor/toolkit/Bitmap.h"

#include <memory>

namespace VSTGUI {

class CBitmapEx : public CBitmap {
public:
    /// Empty: no picture, width and height 0, busy flag false.
    CBitmapEx();
    ~CBitmapEx() override;

    /// Deletes the picture held so far and takes over image (null: no picture, size kept);
    /// always true.
    virtual bool setPicture(std::unique_ptr<kfx::CPlatformImage> image);
    /// Loads a BMP file as the picture, busy while it runs; false if it could not be read.
    virtual bool load(const char* path);

    bool isBusy() const { return busy; }
    void setBusy(bool state) { busy = state; }

protected:
    bool busy = false;
};

/// The variant the editor gives each filter-map display; it behaves like CBitmapEx.
class CBitmapExArray : public CBitmapEx {
public:
    CBitmapExArray() = default;
};

}  // namespace VSTGUI
