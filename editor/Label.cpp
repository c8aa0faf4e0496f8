#include "editor/Label.h"

#include "editor/DrawContext.h"

#include <cstdio>
#include <cstring>

namespace VSTGUI {

void drawLabelText(CDrawContext* context, const CRect& area, const char* text, long fontId,
                   const CColor& color)
{
    if (!text || !*text)
        return;
    context->setFont(fontId);
    context->setFontColor(color);
    context->drawString(text, CRect(area.left + 1, area.top, area.right, area.bottom), false,
                        kCenterText);
}

bool CLabelEntries::add(const char* shortName, const char* longName)
{
    if (count >= kMaxLabelEntries)
        return false;
    if (!shortName)
        shortName = "";
    if (!longName)
        longName = shortName;
    std::snprintf(shortText[count], kLabelEntryTextSize, "%s", shortName);
    std::snprintf(longText[count], kLabelEntryTextSize, "%s", longName);
    ++count;
    return true;
}

CFormatDisplay::CFormatDisplay(const CRect& r, CControlListener* l, long t) : CParamDisplay(r)
{
    listener = l;
    tag = t;
}

void CFormatDisplay::draw(CDrawContext* context)
{
    context->setFillColor(backColor);
    context->fillRect(size);
    drawLabelText(context, size, text, fontID, fontColor);
    setDirty(false);
}

CLabel::CLabel(const CRect& r, const char* t) : CParamDisplay(r)
{
    setText(t);
    setDirty(true);
}

void CLabel::draw(CDrawContext* context)
{
    context->setFillColor(backColor);
    context->fillRect(size);
    drawLabelText(context, size, text, fontID, fontColor);
    setDirty(false);
}

bool CLabel::onDrop(const std::vector<std::string>& items, long kind, const CPoint& where)
{
    if (kind == kDropFiles && !items.empty()) {
        // snprintf stops at the buffer: a long path is cut to the 255 characters shown.
        std::snprintf(text, kParamDisplayTextSize, "%d : %s at %d", int(items.size()),
                      items[0].c_str(), where.h - size.left);
        setDirty(true);
    }
    return true;
}

}  // namespace VSTGUI
