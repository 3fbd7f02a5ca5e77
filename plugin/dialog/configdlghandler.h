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

// The number fields: 1..4 the rectangle's x, y, width and height in pixels of
// the chosen standard's frame, 5..8 the same in percent of the frame.
enum : SInt16 { kNoNumberField = 0 };
// Shows the edited rectangle in every number field but theSkippedField (the
// one the user is typing in).
void ShowRectNumbers(SInt16 theSkippedField);
