// Controls reached by their control ID (signature + number) in a window.
#pragma once
#include <string_view>
#include "Carbon.h"

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theNum);   // nil if missing
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
