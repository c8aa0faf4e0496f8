// Pictures of the toolkit: an RGB24 cairo image drawn 1:1, optionally leaving out the pixels
// of its transparent colour (white unless set) through a second, masked copy made on demand.
#pragma once

#include "editor/toolkit/GuiTypes.h"
#include "editor/toolkit/ReferenceCounter.h"

#include <cairo.h>

#include <memory>

namespace kfx {
struct CPlatformImage;
class IResourceModule;
}  // namespace kfx

namespace VSTGUI {

class CDrawContext;

class CBitmap : public CReferenceCounter {
public:
    /// One of the library's built-in bitmap resources; empty (width 0) if it does not exist.
    explicit CBitmap(long resourceId);
    /// A white picture of the given size.
    CBitmap(int width, int height);
    /// Takes over an image surface (the picture owns it from now on); null makes it empty.
    explicit CBitmap(cairo_surface_t* image);
    ~CBitmap() override;

    /// Copies the picture 1:1 into rect of the context, starting at offset in the picture.
    virtual void draw(CDrawContext* context, const CRect& rect, const CPoint& offset = CPoint());
    /// The same, leaving out pixels of the transparent colour.
    virtual void drawTransparent(CDrawContext* context, const CRect& rect,
                                 const CPoint& offset = CPoint());

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    bool isLoaded() const { return picture != nullptr; }
    void setTransparentColor(const CColor& c);
    CColor getTransparentColor() const { return transparentColor; }

    cairo_surface_t* getSurface() const { return picture; }
    /// Drops the masked copy after the picture was drawn into.
    void pictureChanged();

    /// Where CBitmap(resourceId) looks for bitmaps: the library's own resources unless a
    /// program or test sets another module (null restores the default).
    static void setResourceModule(const kfx::IResourceModule* module);
    static const kfx::IResourceModule* getResourceModule();

    /// An RGB24 image surface drawing straight from the pixels of a platform picture, which
    /// it owns from now on: the picture is deleted when the last reference to the surface
    /// goes. Null (and the picture deleted) if it is empty or malformed.
    static cairo_surface_t* adoptImage(std::unique_ptr<kfx::CPlatformImage> image);
    /// How many platform pictures adopted that way are alive now (for leak checks).
    static long livePlatformPictures();

protected:
    CBitmap();
    /// Deletes the pictures held so far and keeps image (may be null: size unchanged).
    void replacePicture(cairo_surface_t* image);
    void drawSurface(cairo_surface_t* s, CDrawContext* context, const CRect& rect,
                     const CPoint& offset);

    cairo_surface_t* picture = nullptr;
    cairo_surface_t* mask = nullptr;  // ARGB32 copy with the transparent colour cleared
    int width = 0;
    int height = 0;
    CColor transparentColor = kWhiteCColor;
};

}  // namespace VSTGUI
