// The settings window: opens the nib window of the media type, binds its
// controls, runs the modal loop, and handles the commands.
#pragma once
#include "Carbon.h"

typedef struct pluginDataRec *pluginDataPtr;

// Runs the dialog to its end: OK keeps the edits (made in place) and saves
// them; Cancel restores the record as it was when the dialog began.
void DoConfig(pluginDataPtr theConfig);
void SetupDialog(WindowPtr theWindow, pluginDataPtr theConfig);
void SetupColors(WindowPtr theWindow, pluginDataPtr theConfig);
// Copies the configuration into the controls and re-renders the preview.
void Config2Dlg(pluginDataPtr theConfig);
OSStatus TheDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void *userData);
// The window definition of a media type: "configNTSC", "configPAL", "configHD".
const char *ConfigWindowName(SInt16 mediaType);
