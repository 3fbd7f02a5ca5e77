// The preview control of the settings window (class "com.qmz.varnolex.clip"):
// draws the rendered frame with the edited rectangle and lets the user move
// the rectangle and drag its corners, rendering on every mouse step.
#pragma once
#include "Carbon.h"

inline constexpr const char cClipCtrlID[] = "com.qmz.varnolex.clip";

void RegisterClipCtrl();
void UnregisterClipCtrl();
OSStatus ClipCtrlControlHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void *userData);
