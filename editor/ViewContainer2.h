// CViewContainer2: a panel with rounded corners, rendered once into a picture of the panel's
// size (corner colour outside the rounding, a 2-pixel border, the fill inside) and copied
// under the children at every draw.
#pragma once

#include "editor/View.h"

namespace VSTGUI {

class CBitmap;

class CViewContainer2 : public CViewContainer {
public:
    CViewContainer2(const CRect& size, CFrame* frame, const CColor& corner, const CColor& fill,
                    const CColor& border);
    ~CViewContainer2() override;

    CBitmap* getPanelPicture() const { return panel; }
    static constexpr int kCornerDiameter = 28;

protected:
    void drawBackgroundRect(CDrawContext* context, const CRect& rect) override;

private:
    CColor cornerColor, fillColor, borderColor;
    CBitmap* panel;
};

}  // namespace VSTGUI
