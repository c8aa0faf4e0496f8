// Shared pieces of the editor tests: the editor's colours (given to controls as they are in
// the editor), a listener that records what controls report, and pictures made of solid
// colour bands for picture controls to draw from.
#pragma once

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/Control.h"
#include "editor/toolkit/DrawContext.h"

#include <initializer_list>
#include <vector>

namespace skvtest {

constexpr VSTGUI::CColor kTeal{22, 112, 150, 0};
constexpr VSTGUI::CColor kAmber{228, 189, 31, 0};
constexpr VSTGUI::CColor kSky{75, 183, 228, 0};
constexpr VSTGUI::CColor kMid{128, 128, 128, 0};
constexpr VSTGUI::CColor kLight{192, 192, 192, 0};

// Every value a control reports, and which control reported it, in order.
struct Recorder : VSTGUI::CControlListener {
    std::vector<float> values;
    std::vector<VSTGUI::CControl*> controls;
    void valueChanged(VSTGUI::CDrawContext*, VSTGUI::CControl* c) override
    {
        values.push_back(c->getValue());
        controls.push_back(c);
    }
};

// A picture of frames stacked from the top, each frameHeight rows of one colour; the caller
// holds its one reference.
inline VSTGUI::CBitmap* stackedPicture(int width, int frameHeight,
                                       std::initializer_list<VSTGUI::CColor> colours)
{
    auto* pic = new VSTGUI::CBitmap(width, frameHeight * int(colours.size()));
    VSTGUI::COffscreenContext pc(pic);
    int top = 0;
    for (const VSTGUI::CColor& c : colours) {
        pc.setFillColor(c);
        pc.fillRect(VSTGUI::CRect(0, top, width, top + frameHeight));
        top += frameHeight;
    }
    return pic;
}

// A picture of one colour.
inline VSTGUI::CBitmap* solidPicture(int width, int height, const VSTGUI::CColor& colour)
{
    return stackedPicture(width, height, {colour});
}

}  // namespace skvtest
