// CKickButton: a momentary picture button. A plain left click is a gesture: value 1 while
// the pointer stays inside, 0 when it leaves or the button is released (each change
// reported), so the listener sees both press and release.
#pragma once

#include "editor/toolkit/Control.h"

namespace VSTGUI {

class CKickButton : public CControl {
public:
    /// background: two frames of heightOfOneImage stacked vertically (up, pressed).
    CKickButton(const CRect& size, CControlListener* listener, long tag, CBitmap* background,
                int heightOfOneImage, const CPoint& offset = CPoint());

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;

private:
    void report(CDrawContext* context);

    int heightOfOneImage;
    CPoint offset;
};

}  // namespace VSTGUI
