#include "dialog/clipCTRL.h"

#include <cstring>

#include "config/DataHandling.h"
#include "config/PluginDefines.h"
#include "dialog/dlgUtils.h"
#include "dialog/configdlghandler.h"
#include "render/callpixelfx.h"
#include "support/carbonmacros.h"

namespace {

SimpleControlClass lgClipCtrlClass;

bool Inside(const Rect &r, Point p) { return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom; }

// The rectangle a drag from mouseDown to newLoc makes of origRect.
Rect DraggedRect(SInt16 whatPart, const Rect &origRect, Point mouseDown, Point newLoc, UInt32 modifiers,
                 const Rect &bounds, const relRect &origRel) {
    if (whatPart == kHandleBody)
        return MoveInsideFrame(origRect, newLoc.h - mouseDown.h, newLoc.v - mouseDown.v, bounds);
    Rect r = origRect;
    if (whatPart >= kHandleTop)
        DragEdge(whatPart, r, mouseDown, newLoc, modifiers);
    else
        DragCorner(whatPart, r, mouseDown, newLoc, modifiers, bounds, origRel);
    ClampMovedEdges(r, origRect, bounds);
    return r;
}

// Stores the rectangle a gesture made, renders and shows it.
void ApplyRect(WindowRef window, const Rect &bounds, const Rect &testRect, const Rect &origRect,
               const relRect &origRel) {
    PutCurrentRel(MovedEdgesRel(testRect, origRect, origRel, bounds));
    CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
    DrawFrameContents(window, bounds);
    ShowRectNumbers(kNoNumberField);
}

// The handle the last click grabbed; the arrow keys move it (the whole
// rectangle when none).
SInt16 lgSelectedPart = kHandleNone;

// Arrow keys: one preview pixel, ten with shift.
OSStatus NudgePreview(EventRef theEvent) {
    const ControlRef control = SimpleGetEventControl(theEvent);
    UInt32 code = 0;
    UInt32 modifiers = 0;
    GetEventParameter(theEvent, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code);
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers, nullptr, &modifiers);
    const SInt16 step = static_cast<SInt16>((modifiers & shiftKey) != 0 ? 10 : 1);
    Point to{0, 0};
    switch (code) {
        case kVK_LeftArrow:
            to.h = static_cast<SInt16>(-step);
            break;
        case kVK_RightArrow:
            to.h = step;
            break;
        case kVK_UpArrow:
            to.v = static_cast<SInt16>(-step);
            break;
        case kVK_DownArrow:
            to.v = step;
            break;
        default:
            return eventNotHandledErr;
    }
    WindowRef window = gConfigWorkSpace.theWindow;
    if (control == nullptr || window == nullptr || gConfigWorkSpace.theConfig == nullptr) return eventNotHandledErr;
    const SavedGWorld saved;
    SetPortWindowPort(window);
    Rect bounds;
    GetControlBounds(control, &bounds);
    ClipRect(&bounds);
    const relRect origRel = GetCurrentRel();
    const Rect origRect = Rel2Rect(origRel, bounds);
    const SInt16 part = lgSelectedPart == kHandleNone ? SInt16{kHandleBody} : lgSelectedPart;
    const Point from{0, 0};
    const Rect moved = DraggedRect(part, origRect, from, to, 0, bounds, origRel);
    if (std::memcmp(&moved, &origRect, sizeof moved) != 0) ApplyRect(window, bounds, moved, origRect, origRel);
    return noErr;
}

// The mouse-tracking loop of one click in the preview. The drag follows the
// mouse outside the preview too; what moves stays within the frame.
void TrackPreview(EventRef theEvent) {
    const ControlRef control = SimpleGetEventControl(theEvent);
    Point mouseDown = SimpleGetEventMouse(theEvent);
    UInt32 modifiers = 0;
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers, nullptr, &modifiers);
    // Many window managers keep Alt+drag for moving windows: Ctrl (the
    // command key here) resizes about the centre as well.
    if (modifiers & (cmdKey | controlKey)) modifiers |= optionKey;
    WindowRef window = gConfigWorkSpace.theWindow;
    if (control == nullptr || window == nullptr || gConfigWorkSpace.theConfig == nullptr) return;
    SetPortWindowPort(window);
    Rect bounds;
    GetControlBounds(control, &bounds);
    ClipRect(&bounds);

    const relRect origRel = GetCurrentRel();
    const Rect origRect = Rel2Rect(origRel, bounds);
    const SInt16 whatPart = IsHandleHit(origRect, mouseDown);
    lgSelectedPart = whatPart;

    Point newLoc = mouseDown;
    MouseTrackingResult trackingResult = kMouseTrackingMouseDown;
    Rect shown = origRect;
    while (trackingResult != kMouseTrackingMouseUp) {
        if (trackingResult == kMouseTrackingMouseDragged && whatPart != kHandleNone) {
            const Rect testRect = DraggedRect(whatPart, origRect, mouseDown, newLoc, modifiers, bounds, origRel);
            if (std::memcmp(&testRect, &shown, sizeof shown) != 0) {
                shown = testRect;
                ApplyRect(window, bounds, testRect, origRect, origRel);
            }
        }
        // A tracking failure would otherwise spin here for ever.
        if (TrackMouseLocation(nullptr, &newLoc, &trackingResult) != noErr) break;
    }
}

OSStatus HandleClipEvent(EventRef theEvent) {
    OSStatus status = eventNotHandledErr;
    if (GetEventClass(theEvent) == kEventClassKeyboard)
        return GetEventKind(theEvent) == kEventRawKeyDown ? NudgePreview(theEvent) : status;
    switch (GetEventKind(theEvent)) {
        case kEventControlHit:
            // Nothing to do: the preview sends no command.
            status = noErr;
            break;
        case kEventControlHitTest: {
            if (gConfigWorkSpace.theWindow != nullptr) SetPortWindowPort(gConfigWorkSpace.theWindow);
            const ControlRef control = SimpleGetEventControl(theEvent);
            const Point where = SimpleGetEventMouse(theEvent);
            ControlPartCode part = kControlNoPart;
            if (control != nullptr && gConfigWorkSpace.theConfig != nullptr) {
                Rect bounds;
                GetControlBounds(control, &bounds);
                if (Inside(bounds, where))
                    part = IsHandleHit(Rel2Rect(gConfigWorkSpace.theConfig->startRel, bounds), where);
            }
            SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
            status = noErr;
            break;
        }
        case kEventControlDraw:
        case kEventControlActivate:
        case kEventControlOwningWindowChanged: {
            const SavedGWorld saved;
            const ControlRef control = SimpleGetEventControl(theEvent);
            if (control != nullptr && gConfigWorkSpace.theWindow != nullptr) {
                SetPortWindowPort(gConfigWorkSpace.theWindow);
                Rect bounds;
                GetControlBounds(control, &bounds);
                if (GetControlHilite(control) < kControlDisabledPart)
                    DrawFrameContents(gConfigWorkSpace.theWindow, bounds);
            }
            status = noErr;
            break;
        }
        case kEventControlTrack:
            TrackPreview(theEvent);
            status = noErr;
            break;
        default:
            break;
    }
    return status;
}

// After every event the settings window's port draws everywhere again.
void ResetWindowClip(EventRef theEvent) {
    const ControlRef control = SimpleGetEventControl(theEvent);
    WindowRef owner = control != nullptr ? GetControlOwner(control) : nullptr;
    if (owner == nullptr) return;
    CGrafPtr port = GetWindowPort(owner);
    if (port == nullptr) return;
    Rect portRect;
    GetPortBounds(port, &portRect);
    GrafPtr current = nullptr;
    GetPort(&current);
    SetPort(port);
    ClipRect(&portRect);
    SetPort(current);
}

}  // namespace

OSStatus ClipCtrlControlHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void * /*userData*/) {
    try {
        const OSStatus status = HandleClipEvent(theEvent);
        ResetWindowClip(theEvent);
        return status;
    } catch (...) {
        return eventNotHandledErr;
    }
}

void RegisterClipCtrl() {
    lgSelectedPart = kHandleNone;
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit},
                                           {kEventClassControl, kEventControlActivate},
                                           {kEventClassControl, kEventControlOwningWindowChanged},
                                           {kEventClassControl, kEventControlTrack},
                                           {kEventClassKeyboard, kEventRawKeyDown}};
    SimpleRegisterControlClass(lgClipCtrlClass, CFSTR("com.qmz.varnolex.clip"), events, ClipCtrlControlHandler);
}

void UnregisterClipCtrl() { SimpleUnregisterControlClass(lgClipCtrlClass); }
