// CBitmapControl: the filter-map display. Shows a channel's filter map 1:1 (scrollable, with
// a vertical offset counted from the bottom of the image), the loop band under it and the
// scan line over the rows that the filter order uses. Gestures move the loop start
// (shift-left), the loop stop (shift-right) or drag the view (left); getLastReport tells the
// listener which one happened (tag, tag + 1, tag + 2, tag + 3).
#pragma once

#include "editor/toolkit/Control.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kfx {
class CBitmapArrayAnalyser;
}

namespace VSTGUI {

class CBitmapEx;
class COffscreenContext;

class CBitmapControl : public CControl {
public:
    /// picture: the picture store (referenced); null makes a CBitmapEx of its own.
    /// Colours: background, a second one kept but not drawn, the loop band and scan line.
    CBitmapControl(const CRect& size, CControlListener* listener, long tag, CBitmapEx* picture,
                   const CColor& background, const CColor& second, const CColor& band);
    ~CBitmapControl() override;

    /// Shows holder (may be null); takes its picture, size and scan values.
    void setFilterMap(std::shared_ptr<kfx::CBitmapArrayAnalyser> holder);
    std::shared_ptr<kfx::CBitmapArrayAnalyser> getFilterMap() const { return holder; }

    void setStart(float fraction);
    float getStart() const;
    void setStop(float fraction);
    float getStop() const;
    void setScanPosition(float fraction);
    float getScanPosition() const { return scanFraction; }
    void setVerticalOffset(float fraction);
    float getVerticalOffset() const;
    void setFilterOrder(int rows)
    {
        filterOrder = rows;
        setDirty(true);
    }
    int getFilterOrder() const { return filterOrder; }
    void setAnalysisMode(float mode)
    {
        analysisMode = mode;
        setDirty(true);
    }
    long getLastReport() const { return lastReport; }

    /// A file dropped on the display: the loader gets the first dropped path when it names
    /// an existing file *.bmp (any case) of at most maxPath characters; anything else is
    /// refused. Without a loader every drop is refused.
    void setFileDropLoader(std::function<void(const std::string& path)> loader, std::size_t maxPath)
    {
        fileDropLoader = std::move(loader);
        maxDropPath = maxPath;
    }
    bool acceptsDrop(const std::vector<std::string>& items, long kind,
                     const CPoint& where) const override;
    bool onDrop(const std::vector<std::string>& items, long kind, const CPoint& where) override;

    /// Pixel values, for the editor's tests and drawing.
    int getStartPixel() const { return start; }
    int getStopPixel() const { return stop; }
    int getScanPixel() const { return scanPos; }
    int getScroll() const { return scroll; }
    int getOffsetPixels() const { return vOffset; }
    int getImageWidth() const { return imageWidth; }
    int getImageHeight() const { return imageHeight; }
    CBitmapEx* getPicture() const { return picture; }

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    void onAttached(CView* parent) override;
    void onRemoved() override;

private:
    void drawInto(CDrawContext* off);
    /// A value that changes with every position change, so that the toolkit sees one.
    void encodeValue();
    /// After a gesture moved a position: remember which one (report), encode it, notify.
    void reportMove(CDrawContext* context, long report);

    std::shared_ptr<kfx::CBitmapArrayAnalyser> holder;
    std::function<void(const std::string& path)> fileDropLoader;
    std::size_t maxDropPath = 0;
    CBitmapEx* picture;
    CColor backColor, secondColor, bandColor;
    int imageWidth = 0, imageHeight = 0;
    int viewWidth, viewHeight;
    int scroll = 0;
    int vOffset = 0;
    int start = 60, stop = 200, scanPos = 60;
    float scanFraction = 0.f;  // as last set: the scan pixel alone cannot give it back
    int filterOrder = 31;
    float analysisMode = 0.f;
    long lastReport;
    std::unique_ptr<COffscreenContext> offscreen;
};

}  // namespace VSTGUI
