// Views and view containers: drawing within an update rectangle, redrawing dirty views,
// hit tests, and routing mouse, wheel, key and drop events to the right child.
#include "editor/toolkit/View.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"

#include <algorithm>

namespace VSTGUI {

CView::CView(const CRect& r) : size(r), mouseableArea(r) {}

CView::~CView() = default;

void CView::draw(CDrawContext* /*context*/)
{
    setDirty(false);
}

void CView::drawInRect(CDrawContext* context, const CRect& update)
{
    context->pushClip(update);
    draw(context);
    context->popClip();
}

void CView::onMouseDown(CDrawContext* /*context*/, CPoint& /*where*/, long /*buttons*/) {}

void CView::redrawIfDirty(CDrawContext* context)
{
    if (context && isDirty())
        draw(context);
}

bool CView::onWheel(CDrawContext*, const CPoint&, float)
{
    return false;
}
long CView::onKeyDown(VstKeyCode&)
{
    return -1;
}
long CView::onKeyUp(VstKeyCode&)
{
    return -1;
}
bool CView::onDrop(const std::vector<std::string>&, long, const CPoint&)
{
    return false;
}
bool CView::acceptsDrop(const std::vector<std::string>&, long, const CPoint&) const
{
    return false;
}
void CView::loseFocus(CDrawContext*) {}
void CView::takeFocus(CDrawContext*) {}

bool CView::hitTest(const CPoint& where, long) const
{
    return mouseableArea.pointInside(where);
}

void CView::setViewRect(const CRect& r)
{
    size = r;
    mouseableArea = r;
    setDirty(true);
}

AEffGUIEditor* CView::getEditor() const
{
    return parentFrame ? parentFrame->getEditor() : nullptr;
}

// Sizes are relative to the parent container; the frame's coordinates are the sum of the
// offsets up the tree.
CRect CView::frameRect() const
{
    CRect r = size;
    for (CView* p = parentView; p; p = p->getParentView())
        r.offset(p->getViewSize().left, p->getViewSize().top);
    return r;
}

CViewContainer::CViewContainer(const CRect& r, CFrame* frame, CBitmap* background) : CView(r)
{
    parentFrame = frame;
    setBackground(background);
}

CViewContainer::~CViewContainer()
{
    removeAll(true);
    setBackground(nullptr);
}

void CViewContainer::setBackground(CBitmap* background)
{
    if (background)
        background->retain();
    if (backgroundBitmap)
        backgroundBitmap->release();
    backgroundBitmap = background;
    setDirty(true);
}

void CViewContainer::addView(CView* view)
{
    if (!view || containsView(view))
        return;
    children.push_back(view);
    view->setParentView(this);
    view->setParentFrame(parentFrame);
    view->onAttached(this);
    view->setDirty(true);
}

// The frame forgets the view as modal or focus view before the view hears of its removal,
// so that no event can be routed to a view that is half detached. The container's
// reference goes last (withForget), as it may be the view's only one.
bool CViewContainer::removeView(CView* view, bool withForget)
{
    auto it = std::find(children.begin(), children.end(), view);
    if (it == children.end())
        return false;
    children.erase(it);
    if (parentFrame)
        parentFrame->viewRemoved(view);
    view->onRemoved();
    view->setParentView(nullptr);
    view->setParentFrame(nullptr);
    // What the view covered has to be painted again by whatever now lies there.
    CView::setDirty(true);
    if (withForget)
        view->release();
    return true;
}

void CViewContainer::removeAll(bool withForget)
{
    while (!children.empty())
        removeView(children.back(), withForget);
}

bool CViewContainer::containsView(const CView* view) const
{
    return std::find(children.begin(), children.end(), view) != children.end();
}

CView* CViewContainer::getView(int index) const
{
    return index >= 0 && index < int(children.size()) ? children[std::size_t(index)] : nullptr;
}

// Children are drawn in list order, so the last one lies on top: hits are looked for from
// the back of the list.
CView* CViewContainer::childAt(const CPoint& local, long buttons) const
{
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if ((*it)->getMouseEnabled() && (*it)->hitTest(local, buttons))
            return *it;
    return nullptr;
}

CView* CViewContainer::getViewAt(const CPoint& where) const
{
    CPoint local(where.h - size.left, where.v - size.top);
    CView* v = childAt(local);
    if (v && v->isContainer()) {
        CView* inner = static_cast<CViewContainer*>(v)->getViewAt(local);
        return inner ? inner : v;
    }
    return v;
}

void CViewContainer::setDirtyInRect(const CRect& r)
{
    for (CView* v : children)
        if (v->getViewSize().rectOverlap(r))
            v->setDirty(true);
}

void CViewContainer::drawBackgroundRect(CDrawContext* context, const CRect& rect)
{
    CRect local(0, 0, size.width(), size.height());
    CRect r = rect;
    r.bound(local);
    if (r.isEmpty())
        return;
    if (backgroundBitmap) {
        backgroundBitmap->draw(context, r, CPoint(r.left, r.top));
    }
    else {
        context->setFillColor(backgroundColor);
        context->fillRect(r);
    }
}

void CViewContainer::draw(CDrawContext* context)
{
    drawInRect(context, size);
}

void CViewContainer::drawInRect(CDrawContext* context, const CRect& update)
{
    CPoint outer = context->getOffset();
    context->setOffset(childOffset(outer));
    CRect local = update;
    local.offset(-size.left, -size.top);
    local.bound(CRect(0, 0, size.width(), size.height()));
    context->pushClip(local);
    drawBackgroundRect(context, local);
    // Plain views draw themselves whole and the clip keeps their paint inside the update;
    // containers pass the rectangle on, so that their own children are culled as well.
    for (CView* v : children)
        if (v->overlapsUpdate(local)) {
            if (v->isContainer())
                v->drawInRect(context, local);
            else
                v->draw(context);
        }
    context->popClip();
    context->setOffset(outer);
    CView::setDirty(false);
}

void CViewContainer::redrawIfDirty(CDrawContext* context)
{
    if (!context)
        return;
    // A container marked dirty itself (a child left, its background changed) repaints all it
    // holds; otherwise only the dirty children draw, straight over their old pixels.
    if (CView::isDirty()) {
        draw(context);
        return;
    }
    CPoint outer = context->getOffset();
    context->setOffset(childOffset(outer));
    for (CView* v : children) {
        if (!v->isDirty())
            continue;
        if (v->isContainer()) {
            v->redrawIfDirty(context);
        }
        else if (v->getTransparency()) {
            // A see-through view is drawn over a fresh copy of what lies below it.
            CRect r = v->getViewSize();
            context->pushClip(r);
            drawBackgroundRect(context, r);
            for (CView* w : children) {
                if (w == v)
                    break;
                if (w->overlapsUpdate(r))
                    w->isContainer() ? w->drawInRect(context, r) : w->draw(context);
            }
            v->draw(context);
            context->popClip();
        }
        else {
            v->draw(context);
        }
    }
    context->setOffset(outer);
}

void CViewContainer::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    CPoint local(where.h - size.left, where.v - size.top);
    CView* v = childAt(local, buttons);
    if (!v)
        return;
    CPoint outer = context ? context->getOffset() : CPoint();
    if (context)
        context->setOffset(childOffset(outer));
    v->retain();  // the view may detach itself while handling the click
    v->onMouseDown(context, local, buttons);
    v->release();
    if (context)
        context->setOffset(outer);
}

bool CViewContainer::onWheel(CDrawContext* context, const CPoint& where, float distance)
{
    CPoint local(where.h - size.left, where.v - size.top);
    CView* v = childAt(local);
    if (!v)
        return false;
    CPoint outer = context ? context->getOffset() : CPoint();
    if (context)
        context->setOffset(childOffset(outer));
    bool used = v->onWheel(context, local, distance);
    if (context)
        context->setOffset(outer);
    return used;
}

// -1 is "not mine" (the host then uses the key itself); keys go to the topmost child first,
// as clicks do.
long CViewContainer::offerKeyToChildren(VstKeyCode& key, KeyHandler handler)
{
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        long r = ((*it)->*handler)(key);
        if (r != -1)
            return r;
    }
    return -1;
}

long CViewContainer::onKeyDown(VstKeyCode& key)
{
    return offerKeyToChildren(key, &CView::onKeyDown);
}

long CViewContainer::onKeyUp(VstKeyCode& key)
{
    return offerKeyToChildren(key, &CView::onKeyUp);
}

// onDrop and acceptsDrop ask the same child, so that what the drag source is told while it
// hovers is what the drop then does.
bool CViewContainer::onDrop(const std::vector<std::string>& items, long kind, const CPoint& where)
{
    CPoint local(where.h - size.left, where.v - size.top);
    CView* v = childAt(local);
    return v ? v->onDrop(items, kind, local) : false;
}

bool CViewContainer::acceptsDrop(const std::vector<std::string>& items, long kind,
                                 const CPoint& where) const
{
    CPoint local(where.h - size.left, where.v - size.top);
    CView* v = childAt(local);
    return v && v->acceptsDrop(items, kind, local);
}

// The frame's idle asks only the top container: one dirty view anywhere below makes it
// redraw.
bool CViewContainer::isDirty() const
{
    if (CView::isDirty())
        return true;
    for (CView* v : children)
        if (v->isDirty())
            return true;
    return false;
}

// Clearing reaches every child, as a full draw of the container has repainted them all;
// setting marks only the container, whose draw covers its whole area anyway.
void CViewContainer::setDirty(bool state)
{
    CView::setDirty(state);
    if (!state)
        for (CView* v : children)
            v->setDirty(false);
}

// Panels are filled before they are added to the frame; adding one carries the frame down
// to the children it already holds.
void CViewContainer::setParentFrame(CFrame* frame)
{
    CView::setParentFrame(frame);
    for (CView* v : children)
        v->setParentFrame(frame);
}

}  // namespace VSTGUI
