// CViewContainer2: a panel with rounded corners, rendered once into a picture of the panel's
// size (corner colour outside the rounding, a 2-pixel border, the fill inside) that serves
// as the container's background picture, copied under the children at every draw.
#pragma once

#include "editor/toolkit/View.h"

namespace VSTGUI {

class CViewContainer2 : public CViewContainer {
public:
    CViewContainer2(const CRect& size, CFrame* frame, const CColor& corner, const CColor& fill,
                    const CColor& border);

    static constexpr int kCornerDiameter = 28;

private:
    CColor cornerColor, fillColor, borderColor;
};

}  // namespace VSTGUI
