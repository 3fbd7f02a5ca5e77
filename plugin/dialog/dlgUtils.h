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
    kHandleBody = 5,
    // The middle of each side: that side alone moves.
    kHandleTop = 6,
    kHandleLeft = 7,
    kHandleBottom = 8,
    kHandleRight = 9
};

// First match of: the four corner squares (top-left, top-right, bottom-left,
// bottom-right, each reaching cHandleSize pixels round its corner), the
// squares round the middles of the top, left, bottom and right sides, the
// rectangle itself, nothing.
SInt16 IsHandleHit(Rect theRect, Point theLoc);
// Three one-pixel rings per corner and side middle: black, white, black (theColor is not used
// for the rings). Draws into the current port.
void DrawHandles(Rect theRect, RGBColor theColor);
// theOutline, or its complement when it is too close to theFill to be seen
// against it.
RGBColor OutlineColor(RGBColor theOutline, RGBColor theFill);
// The rendered preview scaled into destRect of the window, the edited
// rectangle's outline and handles clipped to it, and a black border round it.
void DrawFrameContents(WindowRef theWindow, Rect destRect);
// Moves theRect by the mouse's movement; no limit.
void DragRect(Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers);
// Reshapes theRect (the rectangle at mouse-down) by dragging one corner from
// oldLoc (the mouse-down point) to newLoc. Option: about the centre; shift:
// the proportions of origRel in theFrame.
void DragCorner(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers, Rect theFrame,
                relRect origRel);
// Moves the side of theRect (the rectangle at mouse-down) that theHandle
// (kHandleTop..kHandleRight) names by the mouse's movement from oldLoc to
// newLoc; with the option key the opposite side moves the other way. A side
// dragged across the opposite one turns the rectangle over.
void DragEdge(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers);
// Keeps the original image's proportions when the configuration asks for it.
void KeepImageProps(Rect &theRect);

// The edges of theRect that differ from theOrig are held inside theFrame
// (those the gesture moves); the others stay where they are, even outside.
void ClampMovedEdges(Rect &theRect, const Rect &theOrig, const Rect &theFrame);
// theRect moved by (dh, dv), the move shortened so that it never takes the
// rectangle further out of theFrame than it already is.
Rect MoveInsideFrame(const Rect &theRect, SInt32 dh, SInt32 dv, const Rect &theFrame);
// theRect relative to theFrame, where each edge still at one of theOrig's
// pixel positions on its axis keeps that edge's exact value from theOrigRel:
// only the edges a gesture moved are measured from pixels again.
relRect MovedEdgesRel(const Rect &theRect, const Rect &theOrig, const relRect &theOrigRel, const Rect &theFrame);
