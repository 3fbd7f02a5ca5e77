#include "dialog/dlgUtils.h"

#include "config/PluginDefines.h"
#include "render/CGglue.h"
#include "support/commonprocs.h"

namespace {

// The platform's rule: h in [left, right), v in [top, bottom).
bool Contains(const Rect &r, Point p) { return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom; }

// The square grown by cHandleSize round a corner point: corner - 6 up to
// corner + 5 inclusive, 12 by 12 pixels.
Rect HandleSquare(SInt16 h, SInt16 v) {
    Rect r;
    r.left = static_cast<SInt16>(h - cHandleSize);
    r.top = static_cast<SInt16>(v - cHandleSize);
    r.right = static_cast<SInt16>(h + cHandleSize);
    r.bottom = static_cast<SInt16>(v + cHandleSize);
    return r;
}

// The smallest rectangle with both points as corners.
Rect PointsToRect(Point a, Point b) {
    Rect r;
    r.left = a.h < b.h ? a.h : b.h;
    r.right = a.h < b.h ? b.h : a.h;
    r.top = a.v < b.v ? a.v : b.v;
    r.bottom = a.v < b.v ? b.v : a.v;
    return r;
}

Point MakePoint(SInt16 h, SInt16 v) {
    Point p;
    p.h = h;
    p.v = v;
    return p;
}

constexpr RGBColor kBlack = {0, 0, 0};
constexpr RGBColor kWhite = {65535, 65535, 65535};

}  // namespace

RGBColor OutlineColor(RGBColor theOutline, RGBColor theFill) {
    // Colours closer than this (of 441 between black and white, channels
    // taken as bytes) are hard to tell apart: the complement is used then.
    constexpr double kLeastDistance = 128.0;
    const double dr = (theOutline.red >> 8) - (theFill.red >> 8);
    const double dg = (theOutline.green >> 8) - (theFill.green >> 8);
    const double db = (theOutline.blue >> 8) - (theFill.blue >> 8);
    if (dr * dr + dg * dg + db * db >= kLeastDistance * kLeastDistance) return theOutline;
    return RGBColor{static_cast<UInt16>(65535 - theOutline.red), static_cast<UInt16>(65535 - theOutline.green),
                    static_cast<UInt16>(65535 - theOutline.blue)};
}

namespace {}  // namespace

SInt16 IsHandleHit(Rect theRect, Point theLoc) {
    if (Contains(HandleSquare(theRect.left, theRect.top), theLoc)) return kHandleTopLeft;
    if (Contains(HandleSquare(theRect.right, theRect.top), theLoc)) return kHandleTopRight;
    if (Contains(HandleSquare(theRect.left, theRect.bottom), theLoc)) return kHandleBottomLeft;
    if (Contains(HandleSquare(theRect.right, theRect.bottom), theLoc)) return kHandleBottomRight;
    const SInt16 midH = static_cast<SInt16>((theRect.left + theRect.right) / 2);
    const SInt16 midV = static_cast<SInt16>((theRect.top + theRect.bottom) / 2);
    if (Contains(HandleSquare(midH, theRect.top), theLoc)) return kHandleTop;
    if (Contains(HandleSquare(theRect.left, midV), theLoc)) return kHandleLeft;
    if (Contains(HandleSquare(midH, theRect.bottom), theLoc)) return kHandleBottom;
    if (Contains(HandleSquare(theRect.right, midV), theLoc)) return kHandleRight;
    if (Contains(theRect, theLoc)) return kHandleBody;
    return kHandleNone;
}

void DrawHandles(Rect theRect, RGBColor theColor) {
    // The middle ring is always white so the handles show on any outline colour.
    theColor = kWhite;
    RGBForeColor(&theColor);
    PenMode(srcOr);
    const SInt16 midH = static_cast<SInt16>((theRect.left + theRect.right) / 2);
    const SInt16 midV = static_cast<SInt16>((theRect.top + theRect.bottom) / 2);
    const Point corners[8] = {MakePoint(theRect.left, theRect.top),
                              MakePoint(theRect.right, theRect.top),
                              MakePoint(theRect.left, theRect.bottom),
                              MakePoint(theRect.right, theRect.bottom),
                              MakePoint(midH, theRect.top),
                              MakePoint(theRect.left, midV),
                              MakePoint(midH, theRect.bottom),
                              MakePoint(theRect.right, midV)};
    for (const Point &c : corners) {
        Rect ring = HandleSquare(c.h, c.v);
        RGBForeColor(&kBlack);
        FrameOval(&ring);
        InsetRect(&ring, 1, 1);
        RGBForeColor(&theColor);
        FrameOval(&ring);
        InsetRect(&ring, 1, 1);
        RGBForeColor(&kBlack);
        FrameOval(&ring);
    }
    PenNormal();
}

void DrawFrameContents(WindowRef theWindow, Rect destRect) {
    const pluginWorkSpace &ws = gConfigWorkSpace;
    if (theWindow == nullptr || ws.theFXClip == nullptr || ws.theConfig == nullptr) return;
    CGrafPtr windowPort = GetWindowPort(theWindow);
    if (windowPort == nullptr) return;

    GrafPtr savedPort = nullptr;
    GetPort(&savedPort);
    SetPort(windowPort);

    // The rendered frame, scaled into the preview's bounds.
    Rect srcRect;
    GetPortBounds(ws.theFXClip, &srcRect);
    RGBBackColor(&kWhite);
    RGBForeColor(&kBlack);
    CopyBits(GetPortBitMapForCopyBits(ws.theFXClip), GetPortBitMapForCopyBits(windowPort), &srcRect, &destRect, srcCopy,
             nullptr);

    // Outline and handles stay inside the preview's border, so a rectangle
    // as large as the frame still shows its outline.
    Rect portRect;
    GetPortBounds(windowPort, &portRect);
    Rect inside = destRect;
    InsetRect(&inside, 1, 1);
    ClipRect(&inside);
    const RGBColor outline = OutlineColor(ws.theConfig->frameStartColor, ws.theConfig->colors[0]);
    const Rect theFrame = Rel2Rect(ws.theConfig->startRel, destRect);
    Rect shown = theFrame;
    if (shown.left < inside.left) shown.left = inside.left;
    if (shown.top < inside.top) shown.top = inside.top;
    if (shown.right > inside.right) shown.right = inside.right;
    if (shown.bottom > inside.bottom) shown.bottom = inside.bottom;
    // A thin dark edge on both sides makes the line read on any picture.
    Rect edge = shown;
    RGBForeColor(&kBlack);
    InsetRect(&edge, -1, -1);
    FrameRect(&edge);
    InsetRect(&edge, 2, 2);
    FrameRect(&edge);
    RGBForeColor(&outline);
    FrameRect(&shown);
    if (ws.activeRel == 1) DrawHandles(theFrame, outline);

    // The border is not clipped.
    ClipRect(&portRect);
    RGBForeColor(&kBlack);
    FrameRect(&destRect);

    SetPort(savedPort);
}

void DragRect(Rect &theRect, Point oldLoc, Point newLoc, UInt32 /*modifiers*/) {
    const SInt16 dh = static_cast<SInt16>(newLoc.h - oldLoc.h);
    const SInt16 dv = static_cast<SInt16>(newLoc.v - oldLoc.v);
    theRect.left = static_cast<SInt16>(theRect.left + dh);
    theRect.right = static_cast<SInt16>(theRect.right + dh);
    theRect.top = static_cast<SInt16>(theRect.top + dv);
    theRect.bottom = static_cast<SInt16>(theRect.bottom + dv);
}

void DragCorner(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers, Rect theFrame,
                relRect origRel) {
    Point fixPoint;
    Point varPoint;
    switch (theHandle) {
        case kHandleTopLeft:
            fixPoint = MakePoint(theRect.right, theRect.bottom);
            varPoint = MakePoint(theRect.left, theRect.top);
            break;
        case kHandleTopRight:
            fixPoint = MakePoint(theRect.left, theRect.bottom);
            varPoint = MakePoint(theRect.right, theRect.top);
            break;
        case kHandleBottomLeft:
            fixPoint = MakePoint(theRect.right, theRect.top);
            varPoint = MakePoint(theRect.left, theRect.bottom);
            break;
        case kHandleBottomRight:
            fixPoint = MakePoint(theRect.left, theRect.top);
            varPoint = MakePoint(theRect.right, theRect.bottom);
            break;
        default:
            return;
    }
    const SInt16 dx = static_cast<SInt16>(newLoc.h - oldLoc.h);
    const SInt16 dy = static_cast<SInt16>(newLoc.v - oldLoc.v);
    varPoint.h = static_cast<SInt16>(varPoint.h + dx);
    varPoint.v = static_cast<SInt16>(varPoint.v + dy);
    if (modifiers & optionKey) {
        fixPoint.h = static_cast<SInt16>(fixPoint.h - dx);
        fixPoint.v = static_cast<SInt16>(fixPoint.v - dy);
    }
    // Dragging across the opposite corner turns the rectangle over.
    theRect = PointsToRect(fixPoint, varPoint);

    if (modifiers & shiftKey) {
        // Proportions of the rectangle at mouse-down; the bottom or right
        // edge gives way, the top-left corner stays.
        const Rect p = Rel2Rect(origRel, theFrame);
        SInt32 w = 0;
        SInt32 h = 0;
        GetDims(p, &w, &h);
        theRect = w > h ? KeepPropsWithFixedHorizontal(p, theRect) : KeepPropsWithFixedVertical(p, theRect);
    }
    KeepImageProps(theRect);
}

void DragEdge(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers) {
    const bool aboutCentre = (modifiers & optionKey) != 0;
    const SInt16 dx = static_cast<SInt16>(newLoc.h - oldLoc.h);
    const SInt16 dy = static_cast<SInt16>(newLoc.v - oldLoc.v);
    // The moving side and, about the centre, its opposite.
    auto move = [aboutCentre](SInt16 &side, SInt16 &opposite, SInt16 d) {
        side = static_cast<SInt16>(side + d);
        if (aboutCentre) opposite = static_cast<SInt16>(opposite - d);
    };
    switch (theHandle) {
        case kHandleTop:
            move(theRect.top, theRect.bottom, dy);
            break;
        case kHandleBottom:
            move(theRect.bottom, theRect.top, dy);
            break;
        case kHandleLeft:
            move(theRect.left, theRect.right, dx);
            break;
        case kHandleRight:
            move(theRect.right, theRect.left, dx);
            break;
        default:
            return;
    }
    theRect = PointsToRect(MakePoint(theRect.left, theRect.top), MakePoint(theRect.right, theRect.bottom));
}

void KeepImageProps(Rect &theRect) {
    const pluginDataPtr config = gConfigWorkSpace.theConfig;
    if (config == nullptr || !config->keepProps || config->theOriginalImage == nullptr) return;
    SInt32 w = 0;
    SInt32 h = 0;
    GetImageDims(config->theOriginalImage, &w, &h);
    Rect p;
    p.top = 0;
    p.left = 0;
    p.bottom = static_cast<SInt16>(h);
    p.right = static_cast<SInt16>(w);
    theRect = w > h ? KeepPropsWithFixedHorizontal(p, theRect) : KeepPropsWithFixedVertical(p, theRect);
}

namespace {

SInt16 Within(SInt32 v, SInt32 lo, SInt32 hi) { return static_cast<SInt16>(v < lo ? lo : (v > hi ? hi : v)); }

// The relative value of a pixel edge: an unmoved edge keeps its exact value.
double EdgeRel(SInt16 edge, SInt16 origLow, SInt16 origHigh, double relLow, double relHigh, SInt16 frameStart,
               double frameSize) {
    if (edge == origLow) return relLow;
    if (edge == origHigh) return relHigh;
    return (edge - frameStart) / frameSize;
}

}  // namespace

void ClampMovedEdges(Rect &theRect, const Rect &theOrig, const Rect &theFrame) {
    if (theRect.left != theOrig.left) theRect.left = Within(theRect.left, theFrame.left, theFrame.right);
    if (theRect.right != theOrig.right) theRect.right = Within(theRect.right, theFrame.left, theFrame.right);
    if (theRect.top != theOrig.top) theRect.top = Within(theRect.top, theFrame.top, theFrame.bottom);
    if (theRect.bottom != theOrig.bottom) theRect.bottom = Within(theRect.bottom, theFrame.top, theFrame.bottom);
}

Rect MoveInsideFrame(const Rect &theRect, SInt32 dh, SInt32 dv, const Rect &theFrame) {
    // The allowed moves on one axis: never further out on either side.
    auto limit = [](SInt32 d, SInt32 low, SInt32 high, SInt32 frameLow, SInt32 frameHigh) {
        const SInt32 least = frameLow - low < 0 ? frameLow - low : 0;     // room towards the low side
        const SInt32 most = frameHigh - high > 0 ? frameHigh - high : 0;  // room towards the high side
        return d < least ? least : (d > most ? most : d);
    };
    dh = limit(dh, theRect.left, theRect.right, theFrame.left, theFrame.right);
    dv = limit(dv, theRect.top, theRect.bottom, theFrame.top, theFrame.bottom);
    Rect r = theRect;
    r.left = static_cast<SInt16>(r.left + dh);
    r.right = static_cast<SInt16>(r.right + dh);
    r.top = static_cast<SInt16>(r.top + dv);
    r.bottom = static_cast<SInt16>(r.bottom + dv);
    return r;
}

relRect MovedEdgesRel(const Rect &theRect, const Rect &theOrig, const relRect &theOrigRel, const Rect &theFrame) {
    const double w = theFrame.right - theFrame.left;
    const double h = theFrame.bottom - theFrame.top;
    relRect r;
    r.left = EdgeRel(theRect.left, theOrig.left, theOrig.right, theOrigRel.left, theOrigRel.right, theFrame.left, w);
    r.right = EdgeRel(theRect.right, theOrig.right, theOrig.left, theOrigRel.right, theOrigRel.left, theFrame.left, w);
    r.top = EdgeRel(theRect.top, theOrig.top, theOrig.bottom, theOrigRel.top, theOrigRel.bottom, theFrame.top, h);
    r.bottom = EdgeRel(theRect.bottom, theOrig.bottom, theOrig.top, theOrigRel.bottom, theOrigRel.top, theFrame.top, h);
    return r;
}
