// The roll button (one entry shown, a click steps on) and the radio button (every entry a
// cell, a click picks one): drawing and clicks.
#include "editor/controls/LabelButtons.h"

#include "dsp/DspMath.h"
#include "editor/toolkit/DrawContext.h"

namespace VSTGUI {

CLabelRollButton::CLabelRollButton(const CRect& r, CControlListener* l, long t, const CColor& c0,
                                   const CColor& c1, const CColor& c2, const CColor& c3,
                                   const char* shortName, const char* longName)
    : CParamDisplay(r), colors{c0, c1, c2, c3}
{
    listener = l;
    tag = t;
    entries.add(shortName, longName);
}

void CLabelRollButton::draw(CDrawContext* context)
{
    context->setFillColor(colors[0]);
    context->fillRect(size);
    drawLabelText(context, entries.shortText[current], colors[1]);
    int x = current == 0 ? size.right - 2 : size.left + 2;
    context->setFrameColor(colors[3]);
    context->drawLine(CPoint(x, size.top + 2), CPoint(x, size.bottom - 2));
    setDirty(false);
}

void CLabelRollButton::onMouseDown(CDrawContext* context, CPoint&, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & kLButton))
        return;
    current = (current + 1) % entries.count;
    value = float(current) / float(entries.count);
    notify(context);
}

CLabelRadioButton::CLabelRadioButton(const CRect& r, CControlListener* l, long t, const CColor& c0,
                                     const CColor& c1, const CColor& c2, const CColor& c3,
                                     const char* shortName, const char* longName, int tab)
    : CParamDisplay(r), colors{c0, c1, c2, c3}, tabExtension(tab)
{
    listener = l;
    tag = t;
    entries.add(shortName, longName);
}

int CLabelRadioButton::cellLeft(int i) const
{
    return size.left + skv::roundHalfEvenToInt(double(i) * size.width() / entries.count);
}

int CLabelRadioButton::selectedCell() const
{
    for (int i = 0; i < entries.count; ++i)
        if (double(i) / entries.count <= value && value < double(i + 1) / entries.count)
            return i;
    return -1;
}

void CLabelRadioButton::draw(CDrawContext* context)
{
    const int cellWidth = size.width() / entries.count;
    const int sel = selectedCell();
    for (int i = 0; i < entries.count; ++i) {
        const int x = cellLeft(i);
        const CRect textArea(x + 2, size.top, x + cellWidth - 1, size.bottom);
        if (i == sel) {
            context->setFillColor(colors[0]);
            context->fillRect(
                CRect(x + 1, size.top, x + cellWidth - 1, size.bottom + tabExtension));
            drawText(context, entries.shortText[i], textArea, colors[1]);
        }
        else {
            context->setFillColor(colors[2]);
            context->fillRect(CRect(x + 1, size.top + 1, x + cellWidth - 1, size.bottom));
            drawText(context, entries.longText[i], textArea, colors[3]);
        }
    }
    setDirty(false);
}

void CLabelRadioButton::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & (kLButton | kMButton | kRButton)))
        return;
    value = float(where.h - size.left) / float(std::max(1, size.right - size.left));
    clampValue();
    setDirty(true);
    notify(context);
}

}  // namespace VSTGUI
