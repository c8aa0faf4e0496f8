// The frame's X11 side, shared by Frame.cpp (the window, painting, input) and FrameDragDrop.cpp
// (the XDND target and the transfer of the dropped data). Only those two files include it;
// everything else sees CFrame::Platform as an incomplete type.
#pragma once

#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GuiTypes.h"
#include "editor/toolkit/WindowSurface.h"

#include <X11/Xlib.h>

#include <memory>
#include <string>
#include <vector>

namespace VSTGUI {

struct CFrame::Platform {
    Display* display = nullptr;
    Window window = 0;
    std::unique_ptr<CWindowSurface> surface;  // the window's back buffer
    Cursor cursor = 0;
    Colormap colormap = 0;
    CRect exposed;  // the union of an expose run not yet painted
    /// XDND target state
    Atom aXdndAware, aXdndProxy, aXdndEnter, aXdndPosition, aXdndStatus, aXdndLeave, aXdndDrop,
        aXdndFinished, aXdndSelection, aXdndTypeList, aXdndActionCopy, aUriList, aUtf8, aTextPlain,
        aTextPlainUtf8, aDropProperty, aWmState;
    /// The host's top-level that we made drag-aware with us as its proxy (0: none).
    Window proxiedTopLevel = 0;
    Window dragSource = 0;
    Window dragTarget = 0;  // the window the source addresses: ours or proxiedTopLevel
    Atom dragType = None;
    CPoint dragPoint;
    Time dragTime = CurrentTime;
    /// The dragged data, fetched at the first position so that the status can say whether
    /// the view under the pointer would take it.
    std::vector<std::string> dragItems;
    long dragKind = kDropFiles;
    bool dataRequested = false;
    bool dataKnown = false;
    Time requestTime = CurrentTime;
    bool statusPending = false;  // a position waits for the data to be answered
    bool dropPending = false;    // a drop waits for the data
};

}  // namespace VSTGUI
