// The about window: the plug-in's name and version, run modally on top of
// the settings window.
#pragma once
#include "Carbon.h"

void ShowAbout();
OSStatus AboutDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void *userData);
// "Version " followed by the build's version text.
void AboutVersionLine(Str255 outText);
