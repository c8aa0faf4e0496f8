// The rounded panel: its background picture rendered once at construction.
#include "editor/controls/ViewContainer2.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"

namespace VSTGUI {

CViewContainer2::CViewContainer2(const CRect& r, CFrame* frame, const CColor& corner,
                                 const CColor& fill, const CColor& border)
    : CViewContainer(r, frame), cornerColor(corner), fillColor(fill), borderColor(border)
{
    const int w = r.width(), h = r.height();
    const int q = kCornerDiameter / 2;
    auto* panel = new CBitmap(std::max(1, w), std::max(1, h));
    COffscreenContext corners(nullptr, kCornerDiameter + 1, kCornerDiameter + 1, cornerColor);
    corners.setFillColor(borderColor);
    corners.fillEllipse(CRect(0, 0, kCornerDiameter, kCornerDiameter));
    corners.setFillColor(fillColor);
    corners.fillEllipse(CRect(2, 2, kCornerDiameter - 2, kCornerDiameter - 2));
    {
        COffscreenContext pic(panel);
        pic.setFillColor(cornerColor);
        pic.fillRect(CRect(0, 0, w, h));
        pic.setFillColor(borderColor);
        pic.fillRect(CRect(0, 0, w, h));
        // The inner fill ends 2 pixels from each edge (its last pixel is width - 3), which
        // matches the 2-pixel ring of the corner circles.
        pic.setFillColor(fillColor);
        pic.fillRect(CRect(2, 2, w - 2, h - 2));
        corners.copyFrom(&pic, CRect(0, 0, q, q), CPoint(0, 0));
        corners.copyFrom(&pic, CRect(w - q, 0, w, q), CPoint(q, 0));
        corners.copyFrom(&pic, CRect(0, h - q, q, h), CPoint(0, q));
        corners.copyFrom(&pic, CRect(w - q, h - q, w, h), CPoint(q, q));
    }
    setBackground(panel);  // the container keeps its own reference
    panel->release();
}

}  // namespace VSTGUI
