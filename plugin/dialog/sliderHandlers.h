// Keeps the settings window's preview current: renders it after every change,
// follows the clip position slider through the frames of the selection, and
// binds (and hides) the six parameter sliders this effect does not use.
#pragma once
#include "Carbon.h"

// Renders theFXClip from sourceClip and makes the preview control redraw.
void ReRenderAndBlit();
// Fetches clip position theVal into sourceClip, then ReRenderAndBlit.
void AccessRenderAndBlit(SInt32 theVal);
// The clip slider's live action: position, text, frame and preview.
void ClipSliderAction(ControlRef theControl, ControlPartCode partCode);
void SetupSliders(WindowRef theWindow);
// The clip position text: position, "/", last position (e.g. "12/99").
void ClipPositionText(SInt32 thePosition, SInt32 theLast, Str255 outText);
// Shows the clip position text for thePosition in the settings window.
void ShowClipPosition(SInt32 thePosition);
