// The splash screen: showing its picture as the frame's modal view and folding it away.
#include "editor/toolkit/SplashScreen.h"

#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"

namespace VSTGUI {

CSplashScreen::CSplashScreen(const CRect& clickArea, CControlListener* l, long t,
                             CBitmap* background, const CRect& display, const CPoint& off)
    : CControl(clickArea, l, t, background), displayArea(display), offset(off), keepSize(clickArea)
{
}

void CSplashScreen::draw(CDrawContext* context)
{
    if (shown)
        drawBackground(context, size, offset);
    setDirty(false);
}

void CSplashScreen::fold()
{
    shown = false;
    size = keepSize;
    mouseableArea = keepSize;
}

void CSplashScreen::onModalChange(bool isModal)
{
    if (!isModal && shown)
        fold();  // cleared from outside (e.g. the view was removed)
}

void CSplashScreen::onMouseDown(CDrawContext* context, CPoint&, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & kLButton))
        return;
    if (!shown) {
        if (!parentFrame || !parentFrame->setModalView(this))
            return;
        shown = true;
        keepSize = size;
        size = displayArea;
        mouseableArea = displayArea;
        value = 1.f;
        setDirty(true);
        if (context)
            draw(context);
    }
    else {
        fold();
        if (parentFrame) {
            parentFrame->setModalView(nullptr);
            parentFrame->setDirty(true);
            if (context && parentView == parentFrame)
                parentFrame->drawRect(context, parentFrame->getViewSize());
        }
        value = 0.f;
        callListener(context);
    }
}

}  // namespace VSTGUI
