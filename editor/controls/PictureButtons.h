// Picture buttons of the editor: CMultiStateButton cycles through N frames stacked in one
// picture (value k / N), CAboutButton toggles between 0 and 1 and shows its picture.
#pragma once

#include "editor/toolkit/Control.h"

namespace VSTGUI {

class CMultiStateButton : public CControl {
public:
    CMultiStateButton(const CRect& size, CControlListener* listener, long tag, CBitmap* picture,
                      int states);
    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    int getStates() const { return states; }
    /// The frame shown for the current value.
    int currentFrame() const;

private:
    int states;
};

class CAboutButton : public CControl {
public:
    CAboutButton(const CRect& size, CControlListener* listener, long tag, CBitmap* picture);
    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
};

}  // namespace VSTGUI
