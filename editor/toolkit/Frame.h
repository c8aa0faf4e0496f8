// The frame: the top container of the editor, owning the plug-in's own X11 child window on
// the host's parent window. It opens its own display connection and handles that
// connection's events only when idle() runs (the host's effEditIdle), so nothing here needs
// a thread. A frame made without a parent window has no window; it still holds views and
// draws into off-screen contexts (pictures, tests).
#pragma once

#include "editor/toolkit/View.h"

#include <memory>

class AEffGUIEditor;
struct _XDisplay;
union _XEvent;

namespace VSTGUI {

class CFrame : public CViewContainer {
public:
    /// size: position and size of the child window on parentWindow (an X11 Window id cast
    /// to a pointer); the frame's own rectangle starts at (0, 0). windowColor: what the window
    /// shows where an expose has not been painted yet.
    CFrame(const CRect& size, void* parentWindow, AEffGUIEditor* editor,
           const CColor& windowColor = kGreyCColor);
    ~CFrame() override;

    bool isOpen() const;
    AEffGUIEditor* getEditor() const override { return editor; }

    /// Host idle: handles the window's pending events (only paint ones while a mouse loop
    /// runs) and draws every dirty view.
    void idle();
    /// Handles one pending paint event of the window, if any (used from mouse loops).
    bool dispatchOnePaint();
    /// Draws dirty views into the window now.
    void redrawDirtyViews();
    /// Draws the frame within area into the window now.
    void paintArea(const CRect& area);
    /// Draws the dirty views into context; while a modal view is set only that view (the
    /// others stay dirty until the frame is redrawn).
    void drawDirtyViews(CDrawContext* context);
    /// Draws the frame (background, then children in order, then the modal view again on
    /// top) within update.
    void drawRect(CDrawContext* context, const CRect& update);
    void draw(CDrawContext* context) override;
    /// A context on the window (null without one). It draws into the window's back buffer;
    /// present copies what was drawn to the window.
    std::unique_ptr<CDrawContext> createDrawContext();
    void present();

    /// At most one modal view; setting one while another is set is refused (false), null
    /// always clears it.
    bool setModalView(CView* view);
    CView* getModalView() const { return modalView; }
    void setFocusView(CView* view);
    CView* getFocusView() const { return focusView; }
    /// Called by containers when a view leaves the tree.
    void viewRemoved(CView* view);

    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    long onKeyDown(VstKeyCode& key) override;
    long onKeyUp(VstKeyCode& key) override;
    /// The host's wheel: to the view under the pointer.
    bool onWheel(float distance);
    using CViewContainer::onWheel;

    /// A gesture on a control's tag: the effect's beginEdit / endEdit through the editor.
    void beginEdit(long tag);
    void endEdit(long tag);

    /// Buttons and modifiers held now (kLButton ... kAlt) as the server reports them; 0
    /// without a window.
    long getMouseButtons();
    /// Pointer position in frame coordinates; false without a window.
    bool getCurrentLocation(CPoint& where);

    /// Mouse loops mark themselves so that idle work inside them handles no input events.
    void enterMouseLoop() { ++mouseLoopDepth; }
    void leaveMouseLoop()
    {
        if (mouseLoopDepth > 0)
            --mouseLoopDepth;
    }
    bool inMouseLoop() const { return mouseLoopDepth > 0; }
    /// The editor is closing while a mouse loop runs: every loop ends at its next turn, and
    /// the editor destroys the frame once they have unwound.
    void requestClose() { closeRequested = true; }
    bool isCloseRequested() const { return closeRequested; }

    /// Double-click delay in milliseconds (X has no system setting; at least 250).
    static unsigned long doubleClickTime() { return 400; }
    /// The name the window's WM_CLASS carries: "Plugin%08x" of the library's load address.
    static std::string windowClassName();

    /// Platform access for the pop-up menu and tests.
    ::_XDisplay* getDisplay() const;
    unsigned long getWindow() const;
    unsigned long getParentWindow() const { return parentWindow; }

    struct Platform;

private:
    /// Offers a key to the focus view, then the modal view, then the children.
    long routeKey(VstKeyCode& key, KeyHandler handler);
    /// The child window on parentWindow, of the screen's default visual (Frame.cpp).
    void createWindow(const CRect& size, const CColor& windowColor);
    /// One event of our connection: window events here, drag and drop below.
    void handleEvent(::_XEvent& event);
    void onExpose(::_XEvent& event);
    void onButtonPress(::_XEvent& event);

    /// Drag and drop (FrameDragDrop.cpp). Makes the window, and the host's top-level when it
    /// has no drop handling of its own, XDND-aware.
    void registerDropTarget();
    /// Takes XdndAware and XdndProxy off the host's top-level if we put them there.
    void withdrawProxy();
    /// The same, and off our own window.
    void withdrawDropTarget();
    /// The source's ClientMessages: enter, position, leave, drop.
    void onXdndMessage(::_XEvent& event);
    void onXdndPosition(const long* data, unsigned long target);
    void onXdndDrop(const long* data, unsigned long target);
    /// The SelectionNotify that brings the dragged data, and its conversion into drop items.
    void onDropData(::_XEvent& event);
    void storeDragData(std::string data);
    /// A new drag (or none, with 0), fetching its data, delivering the drop.
    void beginDrag(unsigned long source, unsigned long target);
    void requestDragData();
    void finishDrop();
    /// The pointer in window coordinates and the server's button and modifier mask; false
    /// without a window.
    bool queryPointer(CPoint& where, unsigned int& mask);
    /// The offset that drawing the modal view needs: where its container lies in the frame.
    CPoint modalViewOrigin() const;

    AEffGUIEditor* editor;
    unsigned long parentWindow;
    std::unique_ptr<Platform> platform;
    CView* modalView = nullptr;
    CView* focusView = nullptr;
    int mouseLoopDepth = 0;
    bool closeRequested = false;
    bool drawing = false;
};

}  // namespace VSTGUI
