// Controls reached by their control ID (signature + number) in a window.
#pragma once
#include <span>
#include <string_view>
#include "Carbon.h"

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theNum);  // nil if missing
void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theNum);
void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theNum);
// Sets the control's text and redraws it at once.
void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theNum, ConstStr255Param theText);
// A missing control reads as 0 and ignores writes.
SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theNum);
void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theNum, SInt32 theValue);
// The command ID's four bytes, most significant first, as a 4-character string.
void CommandID2Str(UInt32 theID, Str255 outText);
// True when the command ID spells the four characters of theCode.
bool CommandIDIs(UInt32 theID, std::string_view theCode);

// ---- Custom controls ----
// The control a control event is about (its direct object); nil if missing.
ControlRef SimpleGetEventControl(EventRef theEvent);
// The mouse location a control event carries; (0, 0) if missing.
Point SimpleGetEventMouse(EventRef theEvent);
// Answers a hit-test event for a control that is one part (1) over its
// whole bounds and no part elsewhere. Returns noErr (the event is handled).
OSStatus SimpleHitTestWholeControl(EventRef theEvent);

// A registered toolbox class of a custom control and its handler.
struct SimpleControlClass {
    ToolboxObjectClassRef classRef = nullptr;
    EventHandlerUPP handlerUPP = nullptr;
};
// Registers the class under theClassID with the events its handler takes.
void SimpleRegisterControlClass(SimpleControlClass &theClass, CFStringRef theClassID,
                                std::span<const EventTypeSpec> theEvents, EventHandlerProcPtr theHandler);
// Unregisters the class and disposes of its handler; harmless when not registered.
void SimpleUnregisterControlClass(SimpleControlClass &theClass);

// Keeps the current port and device, and restores them when it goes.
class SavedGWorld {
public:
    SavedGWorld() { GetGWorld(&port_, &device_); }
    ~SavedGWorld() { SetGWorld(port_, device_); }
    SavedGWorld(const SavedGWorld &) = delete;
    SavedGWorld &operator=(const SavedGWorld &) = delete;

private:
    CGrafPtr port_ = nullptr;
    GDHandle device_ = nullptr;
};
