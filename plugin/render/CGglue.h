// Between offscreen pictures (integer rects, y down) and Core Graphics
// drawing (float rects, y up from the port's bottom-left corner).
#pragma once
#include "Carbon.h"

// theFrame must have its top-left corner at (0, 0).
CGRect QDRectToGCRect(Rect theRect, Rect theFrame);
void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect, float theRadiants,
                              Boolean clearFirst);
void DrawCGImageInQDRect(GrafPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants, Boolean clearFirst);
// alpha < 0 keeps the context's default (opaque); blendMode 0 is source-over.
void DrawCGImageInQDRectWithAlpha(GrafPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants,
                                  Boolean clearFirst, double alpha, SInt16 blendMode);
// A new image with a copy of the port's pixels; the caller releases it.
CGImageRef GWorld2CGImage(GrafPtr theGW);
void GetImageDims(CGImageRef theImage, SInt32 *wid, SInt32 *hig);
Rect CalcProportionalImageForFrame(CGImageRef theImage, Rect theFrame);

// Draws theImage into targetRect, given in the port's y-up Core Graphics
// space (fractions allowed), turned about the rectangle's centre, with a
// global alpha (< 0: opaque default) and a blend mode.
void DrawCGImageInCGRectOfPort(GrafPtr theGW, CGImageRef theImage, CGRect targetRect, float theRadiants,
                               Boolean clearFirst, double alpha, SInt16 blendMode);
