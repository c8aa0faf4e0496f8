// Text controls of the editor: CFormatDisplay (a parameter's display text, written by the
// effect into its buffer), CLabel (fixed text; files dropped on it show their count, first
// path and drop position) and the shared entry list of the roll and radio buttons.
#pragma once

#include "editor/toolkit/ParamDisplay.h"

#include <string>

namespace VSTGUI {

class CFormatDisplay : public CParamDisplay {
public:
    explicit CFormatDisplay(const CRect& size, CControlListener* listener = nullptr, long tag = 0);
    void draw(CDrawContext* context) override;
};

class CLabel : public CParamDisplay {
public:
    CLabel(const CRect& size, const char* text);
    void draw(CDrawContext* context) override;
    /// Files: the text becomes "<count> : <first path> at <x within the label>"; always true.
    bool onDrop(const std::vector<std::string>& items, long kind, const CPoint& where) override;
    /// A label takes every drop (it only shows what arrived).
    bool acceptsDrop(const std::vector<std::string>&, long, const CPoint&) const override
    {
        return true;
    }
};

/// Up to kMaxLabelEntries entries of a short and a long text (79 characters each).
constexpr int kMaxLabelEntries = 10;
constexpr int kLabelEntryTextSize = 80;

struct CLabelEntries {
    int count = 0;
    char shortText[kMaxLabelEntries][kLabelEntryTextSize] = {};
    char longText[kMaxLabelEntries][kLabelEntryTextSize] = {};
    /// Ignored once full; a null long text repeats the short one.
    bool add(const char* shortName, const char* longName);
};

}  // namespace VSTGUI
