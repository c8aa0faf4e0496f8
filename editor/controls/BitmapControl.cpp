// The filter-map display: drawing the map, the loop band and the scan line; the gestures
// that move start, stop and view; and taking a dropped BMP file as the channel's new map.
#include "editor/controls/BitmapControl.h"

#include "dsp/DspMath.h"
#include "editor/controls/BitmapEx.h"
#include "editor/toolkit/DrawContext.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "filtermap/PlatformImage.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>

namespace VSTGUI {

namespace {
// A fraction of extent pixels as whole pixels, and pixels as a fraction (0 without extent).
int toPixels(float fraction, int extent)
{
    return skv::roundHalfEvenToInt(double(fraction) * extent);
}
float toFraction(int pixels, int extent)
{
    return extent > 0 ? float(pixels) / float(extent) : 0.f;
}

// A path the load button's dialog could have answered: an existing regular file (after
// symbolic links) whose name ends in .bmp in any case.
bool isBmpFile(const std::string& path)
{
    const std::size_t n = path.size();
    if (n < 5 || path[n - 4] != '.')
        return false;
    const char* ext = "bmp";
    for (std::size_t i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(path[n - 3 + i])) != ext[i])
            return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

// Only the first file counts: a channel takes one picture. A path longer than the effect's
// program record keeps is refused, as cut short it would name some other file.
bool CBitmapControl::acceptsDrop(const std::vector<std::string>& items, long kind,
                                 const CPoint&) const
{
    return fileDropLoader && kind == kDropFiles && !items.empty() &&
           items.front().size() <= maxDropPath && isBmpFile(items.front());
}

bool CBitmapControl::onDrop(const std::vector<std::string>& items, long kind, const CPoint& where)
{
    if (!acceptsDrop(items, kind, where))
        return false;
    // The loader may replace this display's picture (the effect refreshes the editor).
    const std::string& path = items.front();
    retain();
    fileDropLoader(path);
    release();
    return true;
}

CBitmapControl::CBitmapControl(const CRect& r, CControlListener* l, long t, CBitmapEx* pic,
                               const CColor& bg, const CColor& second, const CColor& band)
    : CControl(r, l, t), picture(pic), backColor(bg), secondColor(second), bandColor(band),
      viewWidth(r.width()), viewHeight(r.height()), lastReport(t)
{
    if (picture)
        picture->retain();
    else
        picture = new CBitmapEx;
}

CBitmapControl::~CBitmapControl()
{
    picture->release();
}

void CBitmapControl::onAttached(CView*)
{
    offscreen = std::make_unique<COffscreenContext>(parentFrame, viewWidth, viewHeight, backColor);
}

void CBitmapControl::onRemoved()
{
    offscreen.reset();
}

// The display shares the channel's holder with the effect (shared_ptr), so a picture the
// effect replaces stays valid here until the editor takes the new one.
void CBitmapControl::setFilterMap(std::shared_ptr<kfx::CBitmapArrayAnalyser> h)
{
    holder = std::move(h);
    if (holder) {
        picture->setPicture(holder->createCopy());
        imageWidth = holder->getWidth();
        imageHeight = holder->getHeight();
        setStart(holder->getLoopStart());
        setStop(holder->getLoopStop());
        setScanPosition(holder->getScanIndex());
        scroll = 0;
        setVerticalOffset(holder->getVerticalOffset());
    }
    else {
        picture->setPicture(nullptr);
        imageWidth = imageHeight = 0;
        scroll = vOffset = 0;
    }
    setDirty(true);
}

void CBitmapControl::setStart(float f)
{
    start = toPixels(f, imageWidth);
    setDirty(true);
}

float CBitmapControl::getStart() const
{
    return toFraction(start, imageWidth);
}

void CBitmapControl::setStop(float f)
{
    stop = toPixels(f, imageWidth);
    setDirty(true);
}

float CBitmapControl::getStop() const
{
    return toFraction(stop, imageWidth);
}

void CBitmapControl::setScanPosition(float f)
{
    scanFraction = f;
    scanPos = start + toPixels(f, stop - start);
    setDirty(true);
}

void CBitmapControl::setVerticalOffset(float f)
{
    vOffset = toPixels(f, imageHeight);
    setDirty(true);
}

float CBitmapControl::getVerticalOffset() const
{
    return toFraction(vOffset, imageHeight);
}

void CBitmapControl::drawInto(CDrawContext* off)
{
    const int vw = viewWidth, vh = viewHeight;
    off->setFillColor(backColor);
    off->fillRect(CRect(0, 0, vw, vh));
    // Rows are counted from the bottom of the image (where the low filter orders are read),
    // so the picture is placed by its bottom edge, raised by the vertical offset.
    picture->draw(off, CRect(2, 2, vw - 2, vh - 6), CPoint(scroll, imageHeight - vOffset - vh + 8));
    const int sx = start - scroll + 2, ex = stop - scroll + 2;
    const bool startFits = start > scroll && sx < vw - 2;
    const bool stopFits = stop > scroll && ex < vw - 2;
    // A loop reaching past both edges of the view (the whole image, the default loop, is
    // one) has neither end in sight but covers every column shown: the band spans the view.
    const bool spansView = start <= scroll && stop > scroll && !stopFits;
    if (startFits || stopFits || spansView) {
        off->setFillColor(bandColor);
        off->fillRect(CRect(startFits ? sx : 1, vh - 5, stopFits ? ex : vw - 2, vh - 2));
    }
    const int x = scanPos - scroll + 2;
    if (x > 2 && x < vw - 2) {
        off->setFrameColor(bandColor);
        // The line marks the rows the filter order uses while the analysis switch is in its
        // first state, and spans the view in the other two.
        const int top = analysisMode < 1.f / 3.f ? vh - filterOrder - 6 : 1;
        off->drawLine(CPoint(x, top), CPoint(x, vh - 6));
    }
}

void CBitmapControl::draw(CDrawContext* context)
{
    // A picture being loaded has no consistent pixels yet; the display keeps what it showed.
    if (context && !picture->isBusy())
        COffscreenContext::paintAndCopy(offscreen.get(), parentFrame, viewWidth, viewHeight,
                                        backColor, context, size,
                                        [this](CDrawContext* c) { drawInto(c); });
    setDirty(false);
}

void CBitmapControl::encodeValue()
{
    // Any change of a position changes this number; the listener reads the positions.
    const double w = std::max(1, imageWidth), h = std::max(1, imageHeight);
    value = float(
        std::fmod((start + 3.0 * stop + 7.0 * scroll) / (11.0 * w) + vOffset / (13.0 * h), 1.0));
}

void CBitmapControl::reportMove(CDrawContext* context, long report)
{
    lastReport = report;
    encodeValue();
    setDirty(true);
    notify(context);
}

void CBitmapControl::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    buttons = resolveButtons(context, buttons);
    const int px = scroll + where.h - size.left - 2;
    if ((buttons & kLButton) && (buttons & kControl)) {
        value = defaultValue;
        lastReport = tag;
        notify(context);
        return;
    }
    if ((buttons & kLButton) && (buttons & kShift)) {
        // Never left of the image: a negative start would become a negative parameter.
        start = std::max(0, std::min(px, stop - 1));
        reportMove(context, tag + 1);
        return;
    }
    if ((buttons & kRButton) && (buttons & kShift)) {
        stop = std::max(px, start + 1);
        if (imageWidth > start)
            stop = std::min(stop, imageWidth);
        reportMove(context, tag + 2);
        return;
    }
    if (!(buttons & kLButton))
        return;
    CMouseLoop loop(parentFrame);
    beginEdit();
    lastReport = tag + 3;
    const int scroll0 = scroll, offset0 = vOffset;
    const int maxScroll = std::max(0, imageWidth - viewWidth + 3);
    const int maxOffset = std::max(0, imageHeight - viewHeight + 3);
    // The picture follows the pointer like paper under a hand: dragging right shows what lies
    // further left, dragging down raises the rows shown.
    CPoint p = where;
    do {
        const int ns = std::min(std::max(scroll0 + (where.h - p.h), 0), maxScroll);
        const int no = std::min(std::max(offset0 + (p.v - where.v), 0), maxOffset);
        if (ns != scroll || no != vOffset) {
            scroll = ns;
            vOffset = no;
            reportMove(context, tag + 3);
        }
    } while (followMouse(context, p));
    endEdit();
}

}  // namespace VSTGUI
