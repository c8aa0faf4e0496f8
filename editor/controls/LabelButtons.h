// The editor's text buttons. CLabelRollButton steps through its entries on each left click
// (value entry / count) and marks the current entry with a line at one side.
// CLabelRadioButton shows all entries as cells and takes the click position (0..1) as its
// value; the selected cell may reach tabExtension pixels below the control, joining the
// panel beneath like a tab.
#pragma once

#include "editor/controls/Label.h"

namespace VSTGUI {

class CLabelRollButton : public CParamDisplay {
public:
    /// Colours: fill, text, (unused third), marker line.
    CLabelRollButton(const CRect& size, CControlListener* listener, long tag, const CColor& fill,
                     const CColor& textColor, const CColor& third, const CColor& marker,
                     const char* shortName, const char* longName = nullptr);

    bool addEntry(const char* shortName, const char* longName = nullptr)
    {
        return entries.add(shortName, longName);
    }
    int getEntryCount() const { return entries.count; }
    int getCurrentEntry() const { return current; }
    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;

private:
    CColor colors[4];
    CLabelEntries entries;
    int current = 0;
};

class CLabelRadioButton : public CParamDisplay {
public:
    /// Colours: selected fill, selected text, other fill, other text.
    CLabelRadioButton(const CRect& size, CControlListener* listener, long tag,
                      const CColor& selFill, const CColor& selText, const CColor& fill,
                      const CColor& textColor, const char* shortName,
                      const char* longName = nullptr, int tabExtension = 0);

    bool addEntry(const char* shortName, const char* longName = nullptr)
    {
        return entries.add(shortName, longName);
    }
    int getEntryCount() const { return entries.count; }
    /// The selected cell for the current value, -1 for none (value 1 selects none).
    int selectedCell() const;
    /// Left edge of cell i (control coordinates of the container).
    int cellLeft(int i) const;
    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;

private:
    CColor colors[4];
    CLabelEntries entries;
    int tabExtension;
};

}  // namespace VSTGUI
