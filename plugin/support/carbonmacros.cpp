#include "support/carbonmacros.h"

#include <cstring>

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theNum) {
    const ControlID id{theSig, static_cast<SInt32>(theNum)};
    ControlRef control = nullptr;
    if (GetControlByID(theWindow, &id, &control) != noErr) return nullptr;
    return control;
}

void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theNum) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theNum)) ShowControl(c);
}

void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theNum) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theNum)) HideControl(c);
}

void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theNum, ConstStr255Param theText) {
    Str255 text;
    const unsigned char length = theText ? theText[0] : 0;
    text[0] = length;
    if (length) std::memcpy(text + 1, theText + 1, length);
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theNum)) {
        SetControlData(c, kControlEntireControl, kControlStaticTextTextTag, length, text + 1);
        Draw1Control(c);
    }
}

SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theNum) {
    ControlRef c = SimpleGetControlByID(theWindow, theSig, theNum);
    return c ? GetControl32BitValue(c) : 0;
}

void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theNum, SInt32 theValue) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theNum)) SetControl32BitValue(c, theValue);
}

void CommandID2Str(UInt32 theID, Str255 outText) {
    outText[0] = 4;
    for (int i = 4; i >= 1; --i) {
        outText[i] = static_cast<unsigned char>(theID & 0xFF);
        theID >>= 8;
    }
}

bool CommandIDIs(UInt32 theID, std::string_view theCode) {
    Str255 text;
    CommandID2Str(theID, text);
    return theCode.size() == 4 && std::memcmp(text + 1, theCode.data(), 4) == 0;
}

ControlRef SimpleGetEventControl(EventRef theEvent) {
    ControlRef control = nullptr;
    GetEventParameter(theEvent, kEventParamDirectObject, typeControlRef, nullptr, sizeof control, nullptr, &control);
    return control;
}

Point SimpleGetEventMouse(EventRef theEvent) {
    Point where = {0, 0};
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
    return where;
}

OSStatus SimpleHitTestWholeControl(EventRef theEvent) {
    const ControlRef control = SimpleGetEventControl(theEvent);
    const Point where = SimpleGetEventMouse(theEvent);
    ControlPartCode part = kControlNoPart;
    if (control != nullptr) {
        Rect bounds;
        GetControlBounds(control, &bounds);
        if (PtInRect(where, &bounds)) part = 1;
    }
    SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    return noErr;
}

void SimpleRegisterControlClass(SimpleControlClass &theClass, CFStringRef theClassID,
                                std::span<const EventTypeSpec> theEvents, EventHandlerProcPtr theHandler) {
    theClass.handlerUPP = NewEventHandlerUPP(theHandler);
    RegisterToolboxObjectClass(theClassID, nullptr, static_cast<ItemCount>(theEvents.size()), theEvents.data(),
                               theClass.handlerUPP, nullptr, &theClass.classRef);
}

void SimpleUnregisterControlClass(SimpleControlClass &theClass) {
    if (theClass.classRef != nullptr) UnregisterToolboxObjectClass(theClass.classRef);
    theClass.classRef = nullptr;
    if (theClass.handlerUPP != nullptr) DisposeEventHandlerUPP(theClass.handlerUPP);
    theClass.handlerUPP = nullptr;
}
