// Drawing on cairo images: fonts, pixel-exact lines, rectangles and ellipses, text, and the
// damage each operation leaves for the window surface to copy.
#include "editor/toolkit/DrawContext.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/WindowSurface.h"

#include <cmath>
#include <cstring>

namespace VSTGUI {

namespace {
struct FontSpec {
    const char* face;
    int height;
    bool bold;
};
// Character heights as a Windows LOGFONT gives them; "Arial" resolves through fontconfig's
// metric aliases to Liberation Sans where Arial itself is not installed.
constexpr FontSpec kFonts[kNumStandardFonts] = {
    {"Arial", 12, true},  {"Arial", 18, false}, {"Arial", 14, false}, {"Arial", 12, false},
    {"Arial", 11, false}, {"Arial", 10, false}, {"Arial", 9, false},  {"Symbol", 13, false},
};
long validFont(long id)
{
    return id >= 0 && id < kNumStandardFonts ? id : 0;
}
}  // namespace

int CDrawContext::fontHeight(long id)
{
    return kFonts[validFont(id)].height;
}
const char* CDrawContext::fontFace(long id)
{
    return kFonts[validFont(id)].face;
}

CDrawContext::CDrawContext(CFrame* frame_, cairo_surface_t* surface_)
    : frame(frame_), surface(cairo_surface_reference(surface_)), cr(cairo_create(surface_))
{
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    // Small interface text reads best hinted onto the pixel grid (as GDI draws it), with
    // grey-scale smoothing: the same on every surface, window or off-screen picture.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    setFont(0);
}

CDrawContext::~CDrawContext()
{
    while (clipDepth > 0)
        popClip();
    cairo_surface_flush(surface);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void CDrawContext::noteDrawn(const CRect& r)
{
    if (!damageSink || r.isEmpty())
        return;
    CRect onSurface = r;
    damageSink->addDamage(onSurface.offset(offset.h, offset.v));
}

void CDrawContext::setSource(const CColor& c)
{
    cairo_set_source_rgb(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

// Fills the pixels from (x0, y0) to (x1, y1), both included, in the frame colour; the line
// width widens it to the right and downwards.
void CDrawContext::pixelSpan(int x0, int y0, int x1, int y1)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    setSource(frameColor);
    const int w = x1 - x0 + (x0 == x1 ? lineWidth : 1), h = y1 - y0 + (y0 == y1 ? lineWidth : 1);
    cairo_rectangle(cr, x0 + offset.h, y0 + offset.v, w, h);
    cairo_fill(cr);
    noteDrawn(CRect(x0, y0, x0 + w, y0 + h));
}

void CDrawContext::lineTo(const CPoint& p)
{
    if (p.h == penLoc.h || p.v == penLoc.v) {
        if (lineStyle == kLineSolid) {
            pixelSpan(penLoc.h, penLoc.v, p.h, p.v);
        }
        else {
            // Dashes of 2 on, 2 off along the line.
            int n = std::max(std::abs(p.h - penLoc.h), std::abs(p.v - penLoc.v));
            int sx = p.h > penLoc.h ? 1 : (p.h < penLoc.h ? -1 : 0);
            int sy = p.v > penLoc.v ? 1 : (p.v < penLoc.v ? -1 : 0);
            for (int i = 0; i <= n; ++i)
                if ((i / 2) % 2 == 0)
                    pixelSpan(penLoc.h + i * sx, penLoc.v + i * sy, penLoc.h + i * sx,
                              penLoc.v + i * sy);
        }
    }
    else {
        setSource(frameColor);
        cairo_set_line_width(cr, lineWidth);
        cairo_move_to(cr, penLoc.h + offset.h + 0.5, penLoc.v + offset.v + 0.5);
        cairo_line_to(cr, p.h + offset.h + 0.5, p.v + offset.v + 0.5);
        cairo_stroke(cr);
        noteDrawn(CRect(std::min(p.h, penLoc.h) - lineWidth, std::min(p.v, penLoc.v) - lineWidth,
                        std::max(p.h, penLoc.h) + lineWidth + 1,
                        std::max(p.v, penLoc.v) + lineWidth + 1));
        pixelSpan(p.h, p.v, p.h, p.v);
    }
    penLoc = p;
}

void CDrawContext::drawLine(const CPoint& from, const CPoint& to)
{
    moveTo(from);
    lineTo(to);
}

void CDrawContext::drawRect(const CRect& r)
{
    moveTo(CPoint(r.left, r.top));
    lineTo(CPoint(r.right, r.top));
    lineTo(CPoint(r.right, r.bottom));
    lineTo(CPoint(r.left, r.bottom));
    lineTo(CPoint(r.left, r.top));
}

void CDrawContext::fillRect(const CRect& r)
{
    if (r.isEmpty())
        return;
    setSource(fillColor);
    cairo_rectangle(cr, r.left + offset.h, r.top + offset.v, r.width(), r.height());
    cairo_fill(cr);
    noteDrawn(r);
}

void CDrawContext::fillEllipse(const CRect& r)
{
    if (r.isEmpty())
        return;
    setSource(fillColor);
    cairo_save(cr);
    cairo_translate(cr, r.left + offset.h + r.width() / 2.0, r.top + offset.v + r.height() / 2.0);
    cairo_scale(cr, r.width() / 2.0, r.height() / 2.0);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_fill(cr);
    noteDrawn(r);
}

void CDrawContext::setFont(long id, long size, long style)
{
    fontId = validFont(id);
    fontSize = size > 0 ? size : kFonts[fontId].height;
    fontStyle = style | (kFonts[fontId].bold ? long(kBoldFace) : 0L);
    cairo_select_font_face(
        cr, kFonts[fontId].face,
        (fontStyle & kItalicFace) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
        (fontStyle & kBoldFace) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, double(fontSize));
}

long CDrawContext::getStringWidth(const char* text)
{
    if (!text)
        return 0;
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text, &ext);
    return long(std::lround(ext.x_advance));
}

void CDrawContext::drawString(const char* text, const CRect& r, bool opaque, CHoriTxtAlign align)
{
    if (!text || r.isEmpty())
        return;
    if (opaque)
        fillRect(r);
    pushClip(r);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    cairo_text_extents_t te;
    cairo_text_extents(cr, text, &te);
    double x = r.left + offset.h;
    if (align == kCenterText)
        x += (r.width() - te.x_advance) / 2.0;
    else if (align == kRightText)
        x += r.width() - te.x_advance;
    double y = r.top + offset.v + (r.height() - (fe.ascent + fe.descent)) / 2.0 + fe.ascent;
    x = std::floor(x + 0.5);
    y = std::floor(y + 0.5);
    setSource(fontColor);
    // Text is smoothed by the font options set at construction; shapes stay on whole pixels.
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text);
    if (fontStyle & kUnderlineFace) {
        cairo_rectangle(cr, x, y + 1, std::ceil(te.x_advance), 1);
        cairo_fill(cr);
    }
    popClip();
    noteDrawn(r);  // the text was clipped to r
}

void CDrawContext::pushClip(const CRect& r)
{
    cairo_save(cr);
    cairo_rectangle(cr, r.left + offset.h, r.top + offset.v, std::max(0, r.width()),
                    std::max(0, r.height()));
    cairo_clip(cr);
    ++clipDepth;
}

void CDrawContext::popClip()
{
    if (clipDepth <= 0)
        return;
    cairo_restore(cr);
    --clipDepth;
}

long CDrawContext::getMouseButtons()
{
    return frame ? frame->getMouseButtons() : 0;
}

void CDrawContext::getMouseLocation(CPoint& where)
{
    where = CPoint();
    if (frame)
        frame->getCurrentLocation(where);
    where.offset(-offset.h, -offset.v);
}

COffscreenContext::COffscreenContext(CFrame* frame_, int w, int h, const CColor& background)
    : CDrawContext(frame_,
                   cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(1, w), std::max(1, h))),
      width(w), height(h)
{
    // The constructor above took its own reference; drop the creation one.
    cairo_surface_destroy(surface);
    setFillColor(background);
    setFrameColor(background);
    fillRect(CRect(0, 0, w, h));
    drawRect(CRect(0, 0, w - 1, h - 1));
}

COffscreenContext::COffscreenContext(CBitmap* bmp)
    : CDrawContext(nullptr, bmp->getSurface()), width(bmp->getWidth()), height(bmp->getHeight()),
      bitmap(bmp)
{
    bitmap->retain();
}

COffscreenContext::~COffscreenContext()
{
    cairo_surface_flush(surface);
    if (bitmap) {
        bitmap->pictureChanged();
        bitmap->release();
    }
}

void COffscreenContext::copyFrom(CDrawContext* dest, const CRect& destRect, const CPoint& srcOffset)
{
    if (!dest || destRect.isEmpty())
        return;
    cairo_surface_flush(surface);
    cairo_t* d = dest->getCairo();
    CPoint o = dest->getOffset();
    cairo_save(d);
    cairo_set_operator(d, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(d, surface, destRect.left + o.h - srcOffset.h,
                             destRect.top + o.v - srcOffset.v);
    cairo_rectangle(d, destRect.left + o.h, destRect.top + o.v, destRect.width(),
                    destRect.height());
    cairo_fill(d);
    cairo_restore(d);
    dest->noteDrawn(destRect);
}

CColor COffscreenContext::getPoint(const CPoint& p)
{
    if (p.h < 0 || p.v < 0 || p.h >= width || p.v >= height)
        return kBlackCColor;
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    uint32_t px;
    std::memcpy(&px, data + p.v * stride + p.h * 4, 4);
    return CColor{(unsigned char)(px >> 16), (unsigned char)(px >> 8), (unsigned char)px, 0};
}

}  // namespace VSTGUI
