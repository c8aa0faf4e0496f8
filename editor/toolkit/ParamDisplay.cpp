// The one-line text control: its background, text and label drawing.
#include "editor/toolkit/ParamDisplay.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"

#include <cstring>

namespace VSTGUI {

CParamDisplay::CParamDisplay(const CRect& r, CBitmap* background, long s)
    : CControl(r, nullptr, 0, background), style(s)
{
}

void CParamDisplay::setText(const char* t)
{
    std::memset(text, 0, sizeof text);
    if (t)
        std::strncpy(text, t, kParamDisplayTextSize - 1);
    setDirty(true);
}

void CParamDisplay::drawBack(CDrawContext* context)
{
    if (pBackground) {
        drawBackground(context, size);
    }
    else if (!transparent) {
        context->setFillColor(backColor);
        context->fillRect(size);
    }
}

void CParamDisplay::drawText(CDrawContext* context, const char* string, const CRect& area,
                             const CColor& color)
{
    if (!string || !*string)
        return;
    context->setFont(fontID);
    context->setFontColor(color);
    context->drawString(string, area, false, kCenterText);
}

void CParamDisplay::drawLabelText(CDrawContext* context, const char* string, const CColor& color)
{
    drawText(context, string, CRect(size.left + 1, size.top, size.right, size.bottom), color);
}

void CParamDisplay::drawLabel(CDrawContext* context)
{
    context->setFillColor(backColor);
    context->fillRect(size);
    drawLabelText(context, text, fontColor);
}

void CParamDisplay::draw(CDrawContext* context)
{
    if (!(style & kNoDrawStyle)) {
        drawBack(context);
        if (!(style & kNoTextStyle))
            drawText(context, text, size, fontColor);
        if (!(style & kNoFrame) && (style & (k3DIn | k3DOut))) {
            context->setFrameColor(frameColor);
            context->drawRect(CRect(size.left, size.top, size.right - 1, size.bottom - 1));
        }
    }
    setDirty(false);
}

}  // namespace VSTGUI
