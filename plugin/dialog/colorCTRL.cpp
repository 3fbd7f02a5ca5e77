#include "dialog/colorCTRL.h"

#include <cstring>

#include "support/carbonmacros.h"
#include "support/commonprocs.h"

namespace {

SimpleControlClass lgColorBoxClass;

constexpr RGBColor kBlack = {0, 0, 0};

OSStatus HandleColorEvent(EventRef theEvent) {
    OSStatus status = eventNotHandledErr;
    switch (GetEventKind(theEvent)) {
        case kEventControlHit: {
            const ControlRef control = SimpleGetEventControl(theEvent);
            if (control != nullptr) {
                const RGBColor colour = LongInt2RGBColor(GetControl32BitValue(control));
                RGBColor chosen = colour;
                Str255 prompt;
                CToPStr("Please choose color:", prompt);
                const Point origin = {0, 0};
                if (UseColorPicker(origin, prompt, colour, chosen))
                    SetControl32BitValue(control, RGBColor2LongInt(chosen));
            }
            // Not handled, so the default handling sends the box's command, also
            // after a cancelled picker.
            break;
        }
        case kEventControlHitTest:
            status = SimpleHitTestWholeControl(theEvent);
            break;
        case kEventControlDraw: {
            const ControlRef control = SimpleGetEventControl(theEvent);
            if (control == nullptr) break;
            const SavedGWorld saved;
            WindowRef owner = GetControlOwner(control);
            if (owner != nullptr && GetWindowPort(owner) != nullptr) {
                SetPortWindowPort(owner);
                Rect bounds;
                GetControlBounds(control, &bounds);
                // An inactive or disabled box shows empty.
                if (GetControlHilite(control) >= kControlDisabledPart)
                    EraseRect(&bounds);
                else
                    ColorBoxDraw(bounds, LongInt2RGBColor(GetControl32BitValue(control)));
            }
            status = noErr;
            break;
        }
        default:
            break;
    }
    return status;
}

}  // namespace

void ColorBoxDraw(Rect theRect, RGBColor theColor) {
    RGBForeColor(&theColor);
    PaintRect(&theRect);
    RGBForeColor(&kBlack);
    FrameRect(&theRect);
}

Boolean UseColorPicker(Point where, ConstStr255Param prompt, RGBColor inColor, RGBColor &outColor) {
    NColorPickerInfo info;
    std::memset(&info, 0, sizeof info);
    info.theColor.profile = nullptr;
    info.theColor.color.rgb.red = inColor.red;
    info.theColor.color.rgb.green = inColor.green;
    info.theColor.color.rgb.blue = inColor.blue;
    info.dstProfile = nullptr;
    info.flags = 0x93;    // movable, modal, ColorSync-aware, in the picker's own dialog
    info.placeWhere = 0;  // at dialogOrigin
    info.dialogOrigin = where;
    info.pickerType = 0;
    info.eventProc = nullptr;
    info.colorProc = nullptr;
    info.colorProcData = 0;
    if (prompt != nullptr) std::memcpy(info.prompt, prompt, static_cast<size_t>(prompt[0]) + 1);
    info.newColorChosen = false;
    if (NPickColor(&info) != noErr || !info.newColorChosen) return false;
    outColor.red = info.theColor.color.rgb.red;
    outColor.green = info.theColor.color.rgb.green;
    outColor.blue = info.theColor.color.rgb.blue;
    return true;
}

OSStatus ColorBoxControlHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void * /*userData*/) {
    try {
        return HandleColorEvent(theEvent);
    } catch (...) {
        return eventNotHandledErr;
    }
}

void RegisterColorBox() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit}};
    SimpleRegisterControlClass(lgColorBoxClass, CFSTR("com.qmz.varnolex.color"), events, ColorBoxControlHandler);
}

void UnregisterColorBox() { SimpleUnregisterControlClass(lgColorBoxClass); }
