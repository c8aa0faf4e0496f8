// COptionMenu: a control that opens a pop-up menu of its own (override-redirect X windows,
// cascading sub-menus, separators, mouse and keyboard selection). When an item is chosen,
// the menu that owns it takes the item's index as its value and the top menu's listener is
// told with that menu as the control. Escape or a click outside cancels.
#pragma once

#include "editor/toolkit/ParamDisplay.h"

#include <cmath>
#include <string>
#include <vector>

namespace VSTGUI {

/// Geometry of the pop-up windows (pixels), public so that tests can aim at items.
constexpr int kMenuItemHeight = 18;
constexpr int kMenuSeparatorHeight = 7;
constexpr int kMenuPadding = 2;
constexpr int kMenuMinWidth = 80;
constexpr const char* kMenuWindowClass = "SkorvalineMenu";

/// The pop-up menu's colours (slate ground, teal highlight, sky rim), shared by the editor's
/// other pop-ups so that every pop-up looks alike.
namespace popup {
constexpr CColor kGround{34, 40, 48, 0};
constexpr CColor kRim{75, 183, 228, 0};
constexpr CColor kText{222, 226, 230, 0};
constexpr CColor kHot{22, 112, 150, 0};
constexpr CColor kHotText{255, 255, 255, 0};
constexpr CColor kRule{78, 88, 100, 0};
constexpr CColor kMark{228, 189, 31, 0};
}  // namespace popup

class COptionMenu : public CParamDisplay {
public:
    COptionMenu(const CRect& size, CControlListener* listener, long tag,
                CBitmap* background = nullptr, long style = 0);
    ~COptionMenu() override;

    /// Appends an item; "-" makes a separator. false once kMaxEntries exist.
    bool addEntry(const char* text);
    /// Appends a sub-menu under title; the menu takes its own reference.
    bool addEntry(COptionMenu* subMenu, const char* title);
    void removeAllEntry();
    int getNbEntries() const { return int(entries.size()); }
    const char* getEntry(int index) const;
    COptionMenu* getSubMenu(int index) const;
    bool isSeparator(int index) const;
    /// Index of the item the user chose last in this menu tree, and the menu owning it.
    long getLastResult() const { return lastResult; }
    COptionMenu* getLastItemMenu(long& index) const;
    int getCurrent() const { return static_cast<int>(std::lround(value)); }

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;

    /// Runs the pop-up at (x, y) in frame coordinates; true when an item was chosen.
    bool popup(CDrawContext* context, int x, int y);

    static constexpr int kMaxEntries = 1024;

private:
    struct Entry {
        std::string text;
        COptionMenu* subMenu = nullptr;
    };
    std::vector<Entry> entries;
    long lastResult = -1;
    COptionMenu* lastMenu = nullptr;
};

}  // namespace VSTGUI
