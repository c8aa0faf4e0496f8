// Value types of the view toolkit: rectangles, points, colours, mouse bits and key codes.
// Rectangles are half-open: a view covers the pixels left..right-1 and top..bottom-1.
#pragma once

#include "vst/VstAbi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace VSTGUI {

struct CRect;

struct CPoint {
    int h = 0;
    int v = 0;
    constexpr CPoint() = default;
    constexpr CPoint(int h_, int v_) : h(h_), v(v_) {}
    CPoint& offset(int dh, int dv)
    {
        h += dh;
        v += dv;
        return *this;
    }
    bool isInside(const CRect& r) const;
    bool operator==(const CPoint& o) const { return h == o.h && v == o.v; }
    bool operator!=(const CPoint& o) const { return !(*this == o); }
};

struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    constexpr CRect() = default;
    constexpr CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    CRect& offset(int dx, int dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
        return *this;
    }
    CRect& moveTo(int x, int y) { return offset(x - left, y - top); }
    bool pointInside(const CPoint& p) const
    {
        return p.h >= left && p.h < right && p.v >= top && p.v < bottom;
    }
    bool rectOverlap(const CRect& o) const
    {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    /// Intersection with o (empty rectangles keep right == left / bottom == top).
    CRect& bound(const CRect& o)
    {
        left = std::max(left, o.left);
        top = std::max(top, o.top);
        right = std::max(left, std::min(right, o.right));
        bottom = std::max(top, std::min(bottom, o.bottom));
        return *this;
    }
    CRect& unite(const CRect& o)
    {
        if (o.isEmpty())
            return *this;
        if (isEmpty()) {
            *this = o;
            return *this;
        }
        left = std::min(left, o.left);
        top = std::min(top, o.top);
        right = std::max(right, o.right);
        bottom = std::max(bottom, o.bottom);
        return *this;
    }
    bool operator==(const CRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const CRect& o) const { return !(*this == o); }
};

inline bool CPoint::isInside(const CRect& r) const
{
    return r.pointInside(*this);
}

/// RGB with a fourth byte that nothing reads.
struct CColor {
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
    unsigned char alpha = 0;
    bool operator==(const CColor& o) const
    {
        return red == o.red && green == o.green && blue == o.blue;
    }
    bool operator!=(const CColor& o) const { return !(*this == o); }
};

constexpr CColor kBlackCColor{0, 0, 0, 0};
constexpr CColor kWhiteCColor{255, 255, 255, 0};
constexpr CColor kGreyCColor{128, 128, 128, 0};
constexpr CColor kRedCColor{255, 0, 0, 0};
constexpr CColor kBlueCColor{0, 0, 255, 0};

/// Mouse state bits (see CFrame::getMouseButtons).
enum CButton : long {
    kLButton = 1,
    kMButton = 2,
    kRButton = 4,
    kShift = 8,
    kControl = 16,
    kAlt = 32,
};

/// Font ids: 0 Arial 12 bold, 1 Arial 18, 2 Arial 14, 3 Arial 12, 4 Arial 11, 5 Arial 10,
/// 6 Arial 9, 7 Symbol 13; anything else means 0.
enum CFont : long {
    kSystemFont = 0,
    kNormalFontVeryBig,
    kNormalFontBig,
    kNormalFont,
    kNormalFontSmall,
    kNormalFontSmaller,
    kNormalFontVerySmall,
    kSymbolFont,
    kNumStandardFonts
};

/// Font style bits.
enum CTxtFace : long { kNormalFace = 0, kBoldFace = 1, kItalicFace = 2, kUnderlineFace = 4 };

enum CHoriTxtAlign { kLeftText = 0, kCenterText, kRightText };

/// Virtual key numbers of ::VstKeyCode::virt as VST 2.x hosts send them (only those the toolkit
/// acts on or produces).
enum VirtualKey : unsigned char {
    VKEY_BACK = 1,
    VKEY_TAB,
    VKEY_CLEAR,
    VKEY_RETURN,
    VKEY_PAUSE,
    VKEY_ESCAPE,
    VKEY_SPACE,
    VKEY_NEXT,
    VKEY_END,
    VKEY_HOME,
    VKEY_LEFT,
    VKEY_UP,
    VKEY_RIGHT,
    VKEY_DOWN,
    VKEY_PAGEUP,
    VKEY_PAGEDOWN,
    VKEY_SELECT,
    VKEY_PRINT,
    VKEY_ENTER,
    VKEY_SNAPSHOT,
    VKEY_INSERT,
    VKEY_DELETE,
    VKEY_HELP
};

/// Modifier bits of VstKeyCode::modifier.
enum VstModifierKey : unsigned char {
    MODIFIER_SHIFT = 1,
    MODIFIER_ALTERNATE = 2,
    MODIFIER_COMMAND = 4,
    MODIFIER_CONTROL = 8
};

/// Drop kinds handed to onDrop.
enum CDropKind : long { kDropFiles = 0, kDropText = 1 };

}  // namespace VSTGUI
