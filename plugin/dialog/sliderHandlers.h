// Keeps the settings window's preview current: renders it after every change,
// follows the clip position slider through the frames of the selection, and
// binds (and hides) the six parameter sliders this effect does not use.
#pragma once
#include <cstdint>

#include "Carbon.h"

// Renders theFXClip from sourceClip and makes the preview control redraw.
void ReRenderAndBlit();
// Fetches clip position theVal into sourceClip, then ReRenderAndBlit; true
// when the host lent that frame (otherwise the former frame stays).
bool AccessRenderAndBlit(SInt32 theVal);
// The clip slider's live action: position, text, frame and preview.
void ClipSliderAction(ControlRef theControl, ControlPartCode partCode);
void SetupSliders(WindowRef theWindow);
// The slider's span: the theFrameCount frames from theSelectionStart when
// theOpenedFrame lies among them (the slider opens on it), else the one
// position of theOpenedFrame. Frame numbers as the host counts them.
void SetClipSpan(SInt32 theOpenedFrame, SInt32 theSelectionStart, SInt32 theFrameCount);
// Shows clip position thePosition; slider, text and currFrameIndex follow
// the frame actually fetched (they stay when the host cannot lend it).
void GoToClipPosition(SInt32 thePosition);
// Frames per second of the timecode for a video standard.
SInt32 TimecodeRate(SInt16 theMediaType);
// The clip's frame number, "/", the last frame's number, and the frame's
// timecode HH:MM:SS:FF at theRate (e.g. "60/189  00:00:02:00").
void ClipPositionText(int64_t theFrame, int64_t theLast, SInt32 theRate, Str255 outText);
// Shows the clip position text for thePosition in the settings window.
void ShowClipPosition(SInt32 thePosition);
