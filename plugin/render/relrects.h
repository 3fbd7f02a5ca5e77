/*
 * Relative rectangles and points: edges as fractions of a frame's width and
 * height measured from its top-left corner, so one setting fits every frame
 * size. Valid C and C++ (the configuration record embeds relRect).
 */
#ifndef KELVARIN_RELRECTS_H
#define KELVARIN_RELRECTS_H

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Field order left, right, top, bottom (unlike Rect): it is stored byte for
 * byte in the configuration record and the preferences file. */
typedef struct relRect {
    double left;
    double right;
    double top;
    double bottom;
} relRect;

typedef struct relPoint {
    double horiz;
    double vert;
} relPoint;

/* The whole frame: 0, 1, 0, 1. */
void InitRelRect(relRect *theRel);

/* Edges are theFrame's origin plus the truncated product of the frame's size
 * and the fraction. Products beyond the 16-bit range are clamped to it and a
 * NaN counts as 0, so a damaged setting can never make an undefined
 * conversion; the sum keeps the low 16 bits like every Rect coordinate. */
Rect Rel2Rect(relRect theRel, Rect theFrame);
relRect Rect2Rel(Rect theRect, Rect theFrame);
/* Arguments in the order left, top, right, bottom; stored by name. */
relRect SetRelRect(double left, double top, double right, double bottom);
Point Rel2Point(relPoint theRel, Rect theFrame);
relPoint Point2Rel(Point thePoint, Rect theFrame);

#ifdef __cplusplus
}
#endif

#endif
