#include "dialog/clipCTRL.h"

#include "config/DataHandling.h"
#include "config/PluginDefines.h"
#include "dialog/dlgUtils.h"
#include "render/callpixelfx.h"
#include "support/carbonmacros.h"

namespace {

SimpleControlClass lgClipCtrlClass;

bool Inside(const Rect &r, Point p)
{
    return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom;
}

// The mouse-tracking loop of one click in the preview.
void TrackPreview(EventRef theEvent)
{
    const ControlRef control = SimpleGetEventControl(theEvent);
    Point mouseDown = SimpleGetEventMouse(theEvent);
    UInt32 modifiers = 0;
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers, nullptr,
                      &modifiers);
    WindowRef window = gConfigWorkSpace.theWindow;
    if (control == nullptr || window == nullptr || gConfigWorkSpace.theConfig == nullptr)
        return;
    SetPortWindowPort(window);
    Rect bounds;
    GetControlBounds(control, &bounds);
    ClipRect(&bounds);

    Rect testRect = Rel2Rect(gConfigWorkSpace.theConfig->startRel, bounds);
    const relRect origRel = GetCurrentRel();
    const Rect origRect = testRect;
    const SInt16 whatPart = IsHandleHit(testRect, mouseDown);

    Point mousePoint = mouseDown;   // last position applied to a body drag
    Point newLoc = mouseDown;
    MouseTrackingResult trackingResult = kMouseTrackingMouseDown;
    while (trackingResult != kMouseTrackingMouseUp) {
        if (trackingResult == kMouseTrackingMouseDragged && Inside(bounds, newLoc) && whatPart >= 1) {
            if (whatPart <= kHandleBottomRight) {
                testRect = origRect;
                DragCorner(whatPart, testRect, mouseDown, newLoc, modifiers, bounds, origRel);
            } else {
                DragRect(testRect, mousePoint, newLoc, modifiers);
                mousePoint = newLoc;
            }
            PutCurrentRel(Rect2Rel(testRect, bounds));
            CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
            DrawFrameContents(window, bounds);
        }
        // A tracking failure would otherwise spin here for ever.
        if (TrackMouseLocation(nullptr, &newLoc, &trackingResult) != noErr)
            break;
    }
}

OSStatus HandleClipEvent(EventRef theEvent)
{
    OSStatus status = eventNotHandledErr;
    switch (GetEventKind(theEvent)) {
    case kEventControlHit:
        // Nothing to do: the preview sends no command.
        status = noErr;
        break;
    case kEventControlHitTest: {
        if (gConfigWorkSpace.theWindow != nullptr)
            SetPortWindowPort(gConfigWorkSpace.theWindow);
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
void ResetWindowClip(EventRef theEvent)
{
    const ControlRef control = SimpleGetEventControl(theEvent);
    WindowRef owner = control != nullptr ? GetControlOwner(control) : nullptr;
    if (owner == nullptr)
        return;
    CGrafPtr port = GetWindowPort(owner);
    if (port == nullptr)
        return;
    Rect portRect;
    GetPortBounds(port, &portRect);
    GrafPtr current = nullptr;
    GetPort(&current);
    SetPort(port);
    ClipRect(&portRect);
    SetPort(current);
}

} // namespace

OSStatus ClipCtrlControlHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void * /*userData*/)
{
    try {
        const OSStatus status = HandleClipEvent(theEvent);
        ResetWindowClip(theEvent);
        return status;
    } catch (...) {
        return eventNotHandledErr;
    }
}

void RegisterClipCtrl()
{
    static const EventTypeSpec events[] = {
        {kEventClassControl, kEventControlDraw},     {kEventClassControl, kEventControlHitTest},
        {kEventClassControl, kEventControlHit},      {kEventClassControl, kEventControlActivate},
        {kEventClassControl, kEventControlOwningWindowChanged}, {kEventClassControl, kEventControlTrack}};
    SimpleRegisterControlClass(lgClipCtrlClass, CFSTR("com.qmz.varnolex.clip"), events, ClipCtrlControlHandler);
}

void UnregisterClipCtrl()
{
    SimpleUnregisterControlClass(lgClipCtrlClass);
}
