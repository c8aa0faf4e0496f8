// Drawing contexts on cairo, always on an RGB24 image: the frame's window's back buffer
// (copied to the window by CWindowSurface) or, as COffscreenContext, a picture of its own.
// Shapes are drawn without antialiasing so that they land on whole pixels: fillRect covers
// the half-open rectangle, drawRect and lines cover both end pixels, fillEllipse fills the
// ellipse inscribed in the half-open rectangle.
#pragma once

#include "editor/toolkit/GuiTypes.h"

#include <cairo.h>

namespace VSTGUI {

class CFrame;
class CBitmap;
class CWindowSurface;

enum CLineStyle { kLineSolid = 0, kLineOnOffDash };

class CDrawContext {
public:
    /// Takes its own reference to surface; frame may be null (no window behind it).
    CDrawContext(CFrame* frame, cairo_surface_t* surface);
    virtual ~CDrawContext();
    CDrawContext(const CDrawContext&) = delete;
    CDrawContext& operator=(const CDrawContext&) = delete;

    void moveTo(const CPoint& p) { penLoc = p; }
    void lineTo(const CPoint& p);
    void drawLine(const CPoint& from, const CPoint& to);
    void drawRect(const CRect& r);
    void fillRect(const CRect& r);
    void fillEllipse(const CRect& r);
    /// Single line, centred vertically; horizontally as align says. Clipped to r.
    void drawString(const char* text, const CRect& r, bool opaque = false,
                    CHoriTxtAlign align = kCenterText);
    long getStringWidth(const char* text);

    void setFrameColor(const CColor& c) { frameColor = c; }
    CColor getFrameColor() const { return frameColor; }
    void setFillColor(const CColor& c) { fillColor = c; }
    CColor getFillColor() const { return fillColor; }
    void setFontColor(const CColor& c) { fontColor = c; }
    CColor getFontColor() const { return fontColor; }
    /// Font id (0..7, others mean 0), style bits kBoldFace | kItalicFace | kUnderlineFace;
    /// size 0 keeps the id's character height.
    void setFont(long fontId, long size = 0, long style = 0);
    long getFont() const { return fontId; }
    long getFontSize() const { return fontSize; }
    void setLineWidth(int width) { lineWidth = width < 1 ? 1 : width; }
    int getLineWidth() const { return lineWidth; }
    void setLineStyle(CLineStyle style) { lineStyle = style; }
    CLineStyle getLineStyle() const { return lineStyle; }

    /// Everything drawn is shifted by the offset (the origin of the container being drawn).
    void setOffset(const CPoint& p) { offset = p; }
    CPoint getOffset() const { return offset; }
    /// Clip to r (in offset coordinates) until the matching popClip.
    void pushClip(const CRect& r);
    void popClip();

    /// Mouse state bits and pointer position (relative to the offset) from the frame's window;
    /// 0 and (0, 0) without a window.
    long getMouseButtons();
    void getMouseLocation(CPoint& where);

    /// A context drawing into a window's back buffer tells it what it drew (offset
    /// coordinates), so that only that part is copied to the window.
    void setDamageSink(CWindowSurface* sink) { damageSink = sink; }
    void noteDrawn(const CRect& r);

    CFrame* getFrame() const { return frame; }
    cairo_t* getCairo() const { return cr; }
    cairo_surface_t* getSurface() const { return surface; }
    void flush() { cairo_surface_flush(surface); }

    /// Character height in pixels and face of a font id.
    static int fontHeight(long fontId);
    static const char* fontFace(long fontId);

protected:
    void setSource(const CColor& c);
    void pixelSpan(int x0, int y0, int x1, int y1);

    CFrame* frame;
    CWindowSurface* damageSink = nullptr;
    cairo_surface_t* surface;
    cairo_t* cr;
    CColor frameColor = kBlackCColor;
    CColor fillColor = kWhiteCColor;
    CColor fontColor = kBlackCColor;
    long fontId = 0;
    long fontSize = 12;
    long fontStyle = 0;
    int lineWidth = 1;
    CLineStyle lineStyle = kLineSolid;
    CPoint penLoc;
    CPoint offset;
    int clipDepth = 0;
};

/// An RGB24 picture to draw into and copy from; filled with the background colour.
class COffscreenContext : public CDrawContext {
public:
    COffscreenContext(CFrame* frame, int width, int height,
                      const CColor& background = kBlackCColor);
    /// Draws into the picture of bitmap (which must have one); the context references it.
    explicit COffscreenContext(CBitmap* bitmap);
    ~COffscreenContext() override;

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    /// Copies the part of this picture starting at srcOffset into dest's destRect (1:1).
    void copyFrom(CDrawContext* dest, const CRect& destRect, const CPoint& srcOffset = CPoint());
    /// Colour of one pixel of the picture (ignores the offset); black outside.
    CColor getPoint(const CPoint& p);

    /// The way controls with a surface of their own draw: paint into surface (or, when there
    /// is none, such as while the control is detached, into a width x height picture on
    /// background made for the moment), then copy the picture to dest at destRect.
    template <typename Paint>
    static void paintAndCopy(COffscreenContext* surface, CFrame* frame, int width, int height,
                             const CColor& background, CDrawContext* dest, const CRect& destRect,
                             Paint&& paint)
    {
        if (surface) {
            paint(surface);
            surface->copyFrom(dest, destRect);
            return;
        }
        COffscreenContext temp(frame, width, height, background);
        paint(&temp);
        temp.copyFrom(dest, destRect);
    }

private:
    int width;
    int height;
    CBitmap* bitmap = nullptr;
};

}  // namespace VSTGUI
