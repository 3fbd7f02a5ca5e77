#include "render/relrects.h"

#include <cmath>
#include <cstdint>

namespace {

// Truncated product of a frame extent and a fraction, defined for every
// double: NaN counts as 0 and the product is clamped to the 16-bit range
// before it is cut toward zero (a float-to-int conversion out of range
// would be undefined).
int32_t ScaledOffset(int16_t extent, double fraction) {
    double product = static_cast<double>(extent) * fraction;
    if (std::isnan(product)) return 0;
    if (product > 32767.0) product = 32767.0;
    if (product < -32768.0) product = -32768.0;
    return static_cast<int32_t>(std::trunc(product));
}

// Coordinates keep the low 16 bits of the computed value (modular in C++20).
int16_t Coord(int32_t v) { return static_cast<int16_t>(v); }

int16_t Width(Rect r) { return static_cast<int16_t>(r.right - r.left); }
int16_t Height(Rect r) { return static_cast<int16_t>(r.bottom - r.top); }

}  // namespace

extern "C" {

void InitRelRect(relRect *theRel) {
    if (theRel == nullptr) return;
    *theRel = relRect{0.0, 1.0, 0.0, 1.0};
}

Rect Rel2Rect(relRect theRel, Rect theFrame) {
    const int16_t wid = Width(theFrame);
    const int16_t hig = Height(theFrame);
    Rect r;
    r.left = Coord(theFrame.left + ScaledOffset(wid, theRel.left));
    r.right = Coord(theFrame.left + ScaledOffset(wid, theRel.right));
    r.top = Coord(theFrame.top + ScaledOffset(hig, theRel.top));
    r.bottom = Coord(theFrame.top + ScaledOffset(hig, theRel.bottom));
    return r;
}

relRect Rect2Rel(Rect theRect, Rect theFrame) {
    const double wid = Width(theFrame);
    const double hig = Height(theFrame);
    // Measured from the frame's top-left corner. A frame without area is
    // never passed; it gives infinities or NaN (IEEE division), not a trap.
    relRect rel;
    rel.left = (theRect.left - theFrame.left) / wid;
    rel.right = (theRect.right - theFrame.left) / wid;
    rel.top = (theRect.top - theFrame.top) / hig;
    rel.bottom = (theRect.bottom - theFrame.top) / hig;
    return rel;
}

relRect SetRelRect(double left, double top, double right, double bottom) {
    relRect rel;
    rel.left = left;
    rel.right = right;
    rel.top = top;
    rel.bottom = bottom;
    return rel;
}

Point Rel2Point(relPoint theRel, Rect theFrame) {
    Point p;
    p.h = Coord(theFrame.left + ScaledOffset(Width(theFrame), theRel.horiz));
    p.v = Coord(theFrame.top + ScaledOffset(Height(theFrame), theRel.vert));
    return p;
}

relPoint Point2Rel(Point thePoint, Rect theFrame) {
    relPoint rel;
    rel.horiz = (thePoint.h - theFrame.left) / static_cast<double>(Width(theFrame));
    rel.vert = (thePoint.v - theFrame.top) / static_cast<double>(Height(theFrame));
    return rel;
}

}  // extern "C"
