// CParamDisplay: a control showing one line of text (a 256-character buffer) in a font, text
// colour and background colour. The base of the option menu and of the editor's labels.
#pragma once

#include "editor/toolkit/Control.h"

namespace VSTGUI {

constexpr int kParamDisplayTextSize = 256;  // 255 characters and the terminator

/// Style bits of CParamDisplay and COptionMenu.
enum CParamDisplayStyle : long {
    kNoFrame = 0x0008,
    k3DIn = 0x0010,
    k3DOut = 0x0020,
    kPopupStyle = 0x0200,   // pop-up menus open over the control instead of below it
    kNoTextStyle = 0x0800,  // draw only the face picture
    kNoDrawStyle = 0x1000,
};

class CParamDisplay : public CControl {
public:
    CParamDisplay(const CRect& size, CBitmap* background = nullptr, long style = 0);

    void draw(CDrawContext* context) override;

    virtual void setFont(long fontId)
    {
        fontID = fontId;
        setDirty(true);
    }
    long getFont() const { return fontID; }
    virtual void setFontColor(const CColor& c)
    {
        fontColor = c;
        setDirty(true);
    }
    CColor getFontColor() const { return fontColor; }
    virtual void setBackColor(const CColor& c)
    {
        backColor = c;
        setDirty(true);
    }
    CColor getBackColor() const { return backColor; }
    virtual void setFrameColor(const CColor& c)
    {
        frameColor = c;
        setDirty(true);
    }
    CColor getFrameColor() const { return frameColor; }
    virtual void setStyle(long s)
    {
        style = s;
        setDirty(true);
    }
    long getStyle() const { return style; }
    /// Copies text (null empties it), cut to 255 characters.
    virtual void setText(const char* text);
    const char* getText() const { return text; }
    /// The buffer itself, kParamDisplayTextSize characters (the effect writes into it).
    char* getTextBuffer() { return text; }

protected:
    /// Fills the rectangle with the background colour (or draws the background picture).
    void drawBack(CDrawContext* context);
    /// string centred on one line in area, in the display's font and the given colour.
    void drawText(CDrawContext* context, const char* string, const CRect& area,
                  const CColor& color);
    /// The editor's text controls centre their text in (left + 1, top, right, bottom).
    void drawLabelText(CDrawContext* context, const char* string, const CColor& color);
    /// Labels and value displays: the background colour, then the text in the text colour.
    void drawLabel(CDrawContext* context);

    long fontID = kNormalFontSmall;
    CColor fontColor = kWhiteCColor;
    CColor backColor = kBlackCColor;
    CColor frameColor = kBlackCColor;
    long style;
    char text[kParamDisplayTextSize] = {};
};

}  // namespace VSTGUI
