#include "dialog/pictCTRL.h"

#include <cstdint>

#include "render/CGglue.h"
#include "support/commonprocs.h"

namespace {

ToolboxObjectClassRef lgPictureClassRef = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

constexpr RGBColor kBlack = {0, 0, 0};
constexpr RGBColor kWhite = {65535, 65535, 65535};

ControlRef EventControl(EventRef theEvent)
{
    ControlRef control = nullptr;
    GetEventParameter(theEvent, kEventParamDirectObject, typeControlRef, nullptr, sizeof control, nullptr,
                      &control);
    return control;
}

void DrawPictureBox(ControlRef control)
{
    WindowRef owner = GetControlOwner(control);
    CGrafPtr port = owner != nullptr ? GetWindowPort(owner) : nullptr;
    if (port == nullptr)
        return;
    SetPort(port);
    Rect bounds;
    GetControlBounds(control, &bounds);
    const UInt16 hilite = GetControlHilite(control);
    if (hilite >= kControlDisabledPart)
        return;
    RGBBackColor(&kWhite);
    EraseRect(&bounds);
    // The value holds the image reference itself. A 32-bit value can only
    // carry one where pointers are 32 bits; elsewhere a value would be a
    // truncated address, so the box stays empty rather than draw from it.
    CGImageRef image = nullptr;
    if constexpr (sizeof(CGImageRef) <= sizeof(SInt32))
        image = reinterpret_cast<CGImageRef>(static_cast<intptr_t>(GetControl32BitValue(control)));
    if (image != nullptr) {
        Rect r = CalcProportionalImageForFrame(image, bounds);
        CenterRectInRect(&r, bounds);
        DrawCGImageInQDRect(port, image, r, 0.0f, false);
    }
    RGBForeColor(&kBlack);
    FrameRect(&bounds);
    if (hilite > 0)
        InvertRect(&bounds);
}

OSStatus HandlePictureEvent(EventRef theEvent)
{
    OSStatus status = eventNotHandledErr;
    switch (GetEventKind(theEvent)) {
    case kEventControlHit: {
        const ControlRef control = EventControl(theEvent);
        if (control != nullptr)
            (void)GetControl32BitValue(control);
        break;
    }
    case kEventControlHitTest: {
        const ControlRef control = EventControl(theEvent);
        Point where = {0, 0};
        GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
        ControlPartCode part = kControlNoPart;
        if (control != nullptr) {
            Rect bounds;
            GetControlBounds(control, &bounds);
            if (PtInRect(where, &bounds))
                part = 1;
        }
        SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        status = noErr;
        break;
    }
    case kEventControlDraw: {
        const ControlRef control = EventControl(theEvent);
        CGrafPtr savedPort = nullptr;
        GDHandle savedDevice = nullptr;
        GetGWorld(&savedPort, &savedDevice);
        if (control != nullptr)
            DrawPictureBox(control);
        SetGWorld(savedPort, savedDevice);
        status = noErr;
        break;
    }
    default:
        break;
    }
    return status;
}

} // namespace

OSStatus PictureControlHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void * /*userData*/)
{
    try {
        return HandlePictureEvent(theEvent);
    } catch (...) {
        return eventNotHandledErr;
    }
}

void RegisterPictureControl()
{
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit}};
    lgMyHandlerUPP = NewEventHandlerUPP(PictureControlHandler);
    RegisterToolboxObjectClass(CFSTR("com.qmz.varnolex.imageCTRL"), nullptr, sizeof events / sizeof events[0],
                               events, lgMyHandlerUPP, nullptr, &lgPictureClassRef);
}

void UnregisterPictureControl()
{
    if (lgPictureClassRef != nullptr) {
        UnregisterToolboxObjectClass(lgPictureClassRef);
        lgPictureClassRef = nullptr;
    }
    if (lgMyHandlerUPP != nullptr)
        DisposeEventHandlerUPP(lgMyHandlerUPP);
    lgMyHandlerUPP = nullptr;
}
