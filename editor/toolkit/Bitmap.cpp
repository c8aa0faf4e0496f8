// Pictures of the toolkit: built-in resources decoded into cairo images, the
// masked copy for the transparent colour, and drawing either into a context.
#include "editor/toolkit/Bitmap.h"

#include "editor/toolkit/DrawContext.h"
#include "filtermap/BitmapHelper.h"
#include "filtermap/PlatformImage.h"
#include "filtermap/ResourceModule.h"
#include "resources/BuiltInResources.h"

#include <atomic>
#include <cstring>

namespace VSTGUI {

namespace {
const kfx::IResourceModule* gResourceModule = nullptr;
}

void CBitmap::setResourceModule(const kfx::IResourceModule* module)
{
    gResourceModule = module;
}

const kfx::IResourceModule* CBitmap::getResourceModule()
{
    return gResourceModule ? gResourceModule : &skv::CBuiltInResources::instance();
}

namespace {
std::atomic<long> gLivePlatformPictures{0};
cairo_user_data_key_t gImageKey;

void releaseImage(void* image)
{
    delete static_cast<kfx::CPlatformImage*>(image);
    --gLivePlatformPictures;
}
}  // namespace

long CBitmap::livePlatformPictures()
{
    return gLivePlatformPictures.load();
}

cairo_surface_t* CBitmap::adoptImage(std::unique_ptr<kfx::CPlatformImage> image)
{
    if (!image || image->width <= 0 || image->height <= 0 ||
        image->pixels.size() < std::size_t(image->width) * std::size_t(image->height))
        return nullptr;
    // The rows are 32-bit words without padding, which is cairo's RGB24 layout whenever
    // cairo's own stride for the width is width * 4 (always so for 32-bit pixels).
    const int stride = image->width * 4;
    if (cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, image->width) != stride)
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(image->pixels.data()), CAIRO_FORMAT_RGB24, image->width,
        image->height, stride);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    kfx::CPlatformImage* owned = image.release();
    ++gLivePlatformPictures;
    if (cairo_surface_set_user_data(s, &gImageKey, owned, &releaseImage) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        releaseImage(owned);
        return nullptr;
    }
    return s;
}

CBitmap::CBitmap() = default;

CBitmap::CBitmap(long resourceId)
{
    kfx::CBitmapHelper helper("resource");
    helper.loadFromResource(getResourceModule(), int(resourceId));
    if (helper.isValid()) {
        replacePicture(adoptImage(helper.createCopy()));
    }
}

CBitmap::CBitmap(int w, int h)
{
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(1, w), std::max(1, h));
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    replacePicture(s);
}

CBitmap::CBitmap(cairo_surface_t* image)
{
    replacePicture(image);
}

CBitmap::~CBitmap()
{
    replacePicture(nullptr);
}

void CBitmap::replacePicture(cairo_surface_t* image)
{
    if (picture)
        cairo_surface_destroy(picture);
    pictureChanged();
    picture = image;
    if (image) {
        width = cairo_image_surface_get_width(image);
        height = cairo_image_surface_get_height(image);
    }
}

void CBitmap::pictureChanged()
{
    if (mask)
        cairo_surface_destroy(mask);
    mask = nullptr;
}

void CBitmap::setTransparentColor(const CColor& c)
{
    if (c != transparentColor)
        pictureChanged();
    transparentColor = c;
}

void CBitmap::drawSurface(cairo_surface_t* s, CDrawContext* context, const CRect& rect,
                          const CPoint& off)
{
    if (!s || !context || rect.isEmpty())
        return;
    cairo_t* cr = context->getCairo();
    CPoint o = context->getOffset();
    cairo_save(cr);
    cairo_set_source_surface(cr, s, rect.left + o.h - off.h, rect.top + o.v - off.v);
    // Outside the picture nothing is drawn (the clip below plus cairo's default extend).
    cairo_rectangle(cr, rect.left + o.h, rect.top + o.v, rect.width(), rect.height());
    cairo_fill(cr);
    cairo_restore(cr);
    context->noteDrawn(rect);
}

void CBitmap::draw(CDrawContext* context, const CRect& rect, const CPoint& off)
{
    drawSurface(picture, context, rect, off);
}

void CBitmap::drawTransparent(CDrawContext* context, const CRect& rect, const CPoint& off)
{
    if (!picture)
        return;
    if (!mask) {
        cairo_surface_flush(picture);
        mask = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_surface_flush(mask);
        const unsigned char* src = cairo_image_surface_get_data(picture);
        unsigned char* dst = cairo_image_surface_get_data(mask);
        int ss = cairo_image_surface_get_stride(picture), ds = cairo_image_surface_get_stride(mask);
        uint32_t key = (uint32_t(transparentColor.red) << 16) |
                       (uint32_t(transparentColor.green) << 8) | transparentColor.blue;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint32_t px;
                std::memcpy(&px, src + y * ss + x * 4, 4);
                px &= 0xFFFFFFu;
                uint32_t out =
                    px == key ? 0u : (px | 0xFF000000u);  // premultiplied: clear is all zero
                std::memcpy(dst + y * ds + x * 4, &out, 4);
            }
        cairo_surface_mark_dirty(mask);
    }
    drawSurface(mask, context, rect, off);
}

}  // namespace VSTGUI
