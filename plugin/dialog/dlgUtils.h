// Editing the effect's rectangle in the settings window's preview: which
// handle a click hits, the drags of the body and of one corner, and drawing
// the rendered preview with the outline and the corner handles over it.
// Coordinates are window coordinates; rectangles are half-open.
#pragma once
#include "Carbon.h"
#include "render/relrects.h"

// Results of IsHandleHit and the handles DragCorner accepts.
enum : SInt16 {
    kHandleNone = 0,
    kHandleTopLeft = 1,
    kHandleTopRight = 2,
    kHandleBottomLeft = 3,
    kHandleBottomRight = 4,
    kHandleBody = 5
};

// First match of: the four corner squares (top-left, top-right, bottom-left,
// bottom-right, each reaching cHandleSize pixels round its corner), the
// rectangle itself, nothing.
SInt16 IsHandleHit(Rect theRect, Point theLoc);
// Three one-pixel rings per corner: black, white, black (theColor is not used
// for the rings). Draws into the current port.
void DrawHandles(Rect theRect, RGBColor theColor);
// The rendered preview scaled into destRect of the window, the edited
// rectangle's outline and handles clipped to it, and a black border round it.
void DrawFrameContents(WindowRef theWindow, Rect destRect);
// Moves theRect by the mouse's movement; no limit.
void DragRect(Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers);
// Reshapes theRect (the rectangle at mouse-down) by dragging one corner from
// oldLoc (the mouse-down point) to newLoc. Option: about the centre; shift:
// the proportions of origRel in theFrame.
void DragCorner(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers,
                Rect theFrame, relRect origRel);
// Keeps the original image's proportions when the configuration asks for it.
void KeepImageProps(Rect &theRect);
