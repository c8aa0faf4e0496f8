// CSplashScreen: an invisible click area that, when clicked, becomes the frame's modal view
// and shows its picture over the display area; the next click hides it again.
#pragma once

#include "editor/toolkit/Control.h"

namespace VSTGUI {

class CSplashScreen : public CControl {
public:
    CSplashScreen(const CRect& clickArea, CControlListener* listener, long tag, CBitmap* background,
                  const CRect& displayArea, const CPoint& offset = CPoint());

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    void onModalChange(bool isModal) override;
    bool isShown() const { return shown; }

private:
    /// Back to the click area.
    void fold();

    CRect displayArea;
    CPoint offset;
    CRect keepSize;
    bool shown = false;
};

}  // namespace VSTGUI
