#include "dialog/pictCTRL.h"

#include <cstdint>

#include "render/CGglue.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"

namespace {

SimpleControlClass lgPictureClass;

constexpr RGBColor kBlack = {0, 0, 0};
constexpr RGBColor kWhite = {65535, 65535, 65535};

void DrawPictureBox(ControlRef control) {
    WindowRef owner = GetControlOwner(control);
    CGrafPtr port = owner != nullptr ? GetWindowPort(owner) : nullptr;
    if (port == nullptr) return;
    SetPort(port);
    Rect bounds;
    GetControlBounds(control, &bounds);
    const UInt16 hilite = GetControlHilite(control);
    if (hilite >= kControlDisabledPart) return;
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
    if (hilite > 0) InvertRect(&bounds);
}

OSStatus HandlePictureEvent(EventRef theEvent) {
    OSStatus status = eventNotHandledErr;
    switch (GetEventKind(theEvent)) {
        case kEventControlHit: {
            const ControlRef control = SimpleGetEventControl(theEvent);
            if (control != nullptr) (void)GetControl32BitValue(control);
            break;
        }
        case kEventControlHitTest:
            status = SimpleHitTestWholeControl(theEvent);
            break;
        case kEventControlDraw: {
            const ControlRef control = SimpleGetEventControl(theEvent);
            const SavedGWorld saved;
            if (control != nullptr) DrawPictureBox(control);
            status = noErr;
            break;
        }
        default:
            break;
    }
    return status;
}

}  // namespace

OSStatus PictureControlHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void * /*userData*/) {
    try {
        return HandlePictureEvent(theEvent);
    } catch (...) {
        return eventNotHandledErr;
    }
}

void RegisterPictureControl() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit}};
    SimpleRegisterControlClass(lgPictureClass, CFSTR("com.qmz.varnolex.imageCTRL"), events, PictureControlHandler);
}

void UnregisterPictureControl() { SimpleUnregisterControlClass(lgPictureClass); }
