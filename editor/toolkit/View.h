// Views of the toolkit. A view's rectangle is in the coordinates of its parent container;
// the draw context handed to draw and onMouseDown has its offset at that container's origin.
// Views are reference counted: a container takes over the creator's reference in addView.
#pragma once

#include "editor/toolkit/GuiTypes.h"
#include "editor/toolkit/ReferenceCounter.h"

#include <string>
#include <vector>

class AEffGUIEditor;

namespace VSTGUI {

class CDrawContext;
class CFrame;

class CView : public CReferenceCounter {
public:
    explicit CView(const CRect& size);
    ~CView() override;

    virtual void draw(CDrawContext* context);
    /// Draws the part of the view inside update (clipped); the plain view just draws itself.
    virtual void drawInRect(CDrawContext* context, const CRect& update);
    virtual bool overlapsUpdate(const CRect& update) const { return size.rectOverlap(update); }
    /// buttons -1 means "read the mouse state from the platform".
    virtual void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1);
    virtual void redrawIfDirty(CDrawContext* context);
    virtual bool onWheel(CDrawContext* context, const CPoint& where, float distance);
    /// Keys answer -1 when not handled.
    virtual long onKeyDown(VstKeyCode& key);
    virtual long onKeyUp(VstKeyCode& key);
    /// Files (kind kDropFiles) or texts (kDropText) dropped at where; true when accepted.
    virtual bool onDrop(const std::vector<std::string>& items, long kind, const CPoint& where);
    /// Whether onDrop would take these items at where: the answer a drag source gets while
    /// the pointer moves, before anything is dropped.
    virtual bool acceptsDrop(const std::vector<std::string>& items, long kind,
                             const CPoint& where) const;
    virtual bool isDropActive() const { return false; }
    virtual void loseFocus(CDrawContext* context);
    virtual void takeFocus(CDrawContext* context);
    virtual bool isDirty() const { return dirty; }
    virtual void setDirty(bool state = true) { dirty = state; }
    virtual void setMouseEnabled(bool enable = true) { mouseEnabled = enable; }
    virtual bool getMouseEnabled() const { return mouseEnabled; }
    virtual void setMouseArea(const CRect& r) { mouseableArea = r; }
    virtual CRect& getMouseArea(CRect& r) const
    {
        r = mouseableArea;
        return r;
    }
    virtual bool hitTest(const CPoint& where, long buttons = -1) const;
    virtual void setTransparency(bool state) { transparent = state; }
    virtual bool getTransparency() const { return transparent; }
    virtual void setViewRect(const CRect& r);
    virtual CRect& getViewRect(CRect& r) const
    {
        r = size;
        return r;
    }
    virtual void setParentView(CView* parent) { parentView = parent; }
    virtual void setParentFrame(CFrame* frame) { parentFrame = frame; }
    virtual AEffGUIEditor* getEditor() const;
    /// Told after a container detached the view, and after one attached it.
    virtual void onRemoved() {}
    virtual void onAttached(CView* /*parent*/) {}
    virtual bool isContainer() const { return false; }
    /// Called by the frame when the view becomes (true) or stops being (false) its modal view.
    virtual void onModalChange(bool /*isModal*/) {}

    const CRect& getViewSize() const { return size; }
    CFrame* getFrame() const { return parentFrame; }
    CView* getParentView() const { return parentView; }
    /// The view's rectangle in frame coordinates.
    CRect frameRect() const;
    /// Marks the view dirty and, if it is transparent, makes its container redraw what lies
    /// below it first (see CViewContainer::redrawIfDirty).
    void invalid() { setDirty(true); }

protected:
    CRect size;
    CRect mouseableArea;
    CFrame* parentFrame = nullptr;
    CView* parentView = nullptr;
    bool dirty = false;
    bool mouseEnabled = true;
    bool transparent = false;
};

class CBitmap;

class CViewContainer : public CView {
public:
    CViewContainer(const CRect& size, CFrame* frame, CBitmap* background = nullptr);
    ~CViewContainer() override;

    /// Appends a child (drawn last, hit first); the container takes the caller's reference.
    virtual void addView(CView* view);
    /// Detaches a child; with withForget the container also drops its reference.
    virtual bool removeView(CView* view, bool withForget = true);
    virtual void removeAll(bool withForget = true);
    bool containsView(const CView* view) const;
    int getNbViews() const { return int(children.size()); }
    CView* getView(int index) const;
    /// The innermost mouse-enabled view (not a container) under where (container coordinates).
    CView* getViewAt(const CPoint& where) const;
    /// Marks dirty every child meeting r (container coordinates).
    void setDirtyInRect(const CRect& r);

    void setBackgroundColor(const CColor& c) { backgroundColor = c; }
    CColor getBackgroundColor() const { return backgroundColor; }
    virtual void setBackground(CBitmap* background);
    CBitmap* getBackground() const { return backgroundBitmap; }

    void draw(CDrawContext* context) override;
    void drawInRect(CDrawContext* context, const CRect& update) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    void redrawIfDirty(CDrawContext* context) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    long onKeyDown(VstKeyCode& key) override;
    long onKeyUp(VstKeyCode& key) override;
    bool onDrop(const std::vector<std::string>& items, long kind, const CPoint& where) override;
    bool acceptsDrop(const std::vector<std::string>& items, long kind,
                     const CPoint& where) const override;
    bool isDirty() const override;
    void setDirty(bool state = true) override;
    void setParentFrame(CFrame* frame) override;
    bool isContainer() const override { return true; }

protected:
    /// The container's own look under its children, in rect (container coordinates; the
    /// context's offset is the container's origin).
    virtual void drawBackgroundRect(CDrawContext* context, const CRect& rect);
    /// The context offset for drawing children, given the offset the container was drawn with.
    CPoint childOffset(const CPoint& outer) const
    {
        return CPoint(outer.h + size.left, outer.v + size.top);
    }
    /// The topmost mouse-enabled child whose hit test takes local (container coordinates).
    CView* childAt(const CPoint& local, long buttons = -1) const;
    /// Offers a key to the children, the last added first, until one answers other than -1.
    using KeyHandler = long (CView::*)(VstKeyCode&);
    long offerKeyToChildren(VstKeyCode& key, KeyHandler handler);

    std::vector<CView*> children;
    CColor backgroundColor = kGreyCColor;
    CBitmap* backgroundBitmap = nullptr;
    bool drawInOffscreen = false;
};

}  // namespace VSTGUI
