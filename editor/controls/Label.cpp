// The editor's text controls: the shared entry list of the label buttons, the parameter
// display and the fixed label (which also shows what was dropped on it).
#include "editor/controls/Label.h"

#include <cstdio>
#include <cstring>

namespace VSTGUI {

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
    drawLabel(context);
    setDirty(false);
}

CLabel::CLabel(const CRect& r, const char* t) : CParamDisplay(r)
{
    setText(t);  // which marks it dirty
}

void CLabel::draw(CDrawContext* context)
{
    drawLabel(context);
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
