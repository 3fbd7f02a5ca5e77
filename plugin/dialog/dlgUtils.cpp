#include "dialog/dlgUtils.h"

#include "config/PluginDefines.h"
#include "render/CGglue.h"
#include "support/commonprocs.h"

namespace {

// The platform's rule: h in [left, right), v in [top, bottom).
bool Contains(const Rect &r, Point p)
{
    return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom;
}

// The square grown by cHandleSize round a corner point: corner - 6 up to
// corner + 5 inclusive, 12 by 12 pixels.
Rect HandleSquare(SInt16 h, SInt16 v)
{
    Rect r;
    r.left = static_cast<SInt16>(h - cHandleSize);
    r.top = static_cast<SInt16>(v - cHandleSize);
    r.right = static_cast<SInt16>(h + cHandleSize);
    r.bottom = static_cast<SInt16>(v + cHandleSize);
    return r;
}

// The smallest rectangle with both points as corners.
Rect PointsToRect(Point a, Point b)
{
    Rect r;
    r.left = a.h < b.h ? a.h : b.h;
    r.right = a.h < b.h ? b.h : a.h;
    r.top = a.v < b.v ? a.v : b.v;
    r.bottom = a.v < b.v ? b.v : a.v;
    return r;
}

Point MakePoint(SInt16 h, SInt16 v)
{
    Point p;
    p.h = h;
    p.v = v;
    return p;
}

constexpr RGBColor kBlack = {0, 0, 0};
constexpr RGBColor kWhite = {65535, 65535, 65535};

} // namespace

SInt16 IsHandleHit(Rect theRect, Point theLoc)
{
    if (Contains(HandleSquare(theRect.left, theRect.top), theLoc))
        return kHandleTopLeft;
    if (Contains(HandleSquare(theRect.right, theRect.top), theLoc))
        return kHandleTopRight;
    if (Contains(HandleSquare(theRect.left, theRect.bottom), theLoc))
        return kHandleBottomLeft;
    if (Contains(HandleSquare(theRect.right, theRect.bottom), theLoc))
        return kHandleBottomRight;
    if (Contains(theRect, theLoc))
        return kHandleBody;
    return kHandleNone;
}

void DrawHandles(Rect theRect, RGBColor theColor)
{
    // The middle ring is always white so the handles show on any outline colour.
    theColor = kWhite;
    RGBForeColor(&theColor);
    PenMode(srcOr);
    const Point corners[4] = {MakePoint(theRect.left, theRect.top), MakePoint(theRect.right, theRect.top),
                              MakePoint(theRect.left, theRect.bottom),
                              MakePoint(theRect.right, theRect.bottom)};
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

void DrawFrameContents(WindowRef theWindow, Rect destRect)
{
    const pluginWorkSpace &ws = gConfigWorkSpace;
    if (theWindow == nullptr || ws.theFXClip == nullptr || ws.theConfig == nullptr)
        return;
    CGrafPtr windowPort = GetWindowPort(theWindow);
    if (windowPort == nullptr)
        return;

    GrafPtr savedPort = nullptr;
    GetPort(&savedPort);
    SetPort(windowPort);

    // The rendered frame, scaled into the preview's bounds.
    Rect srcRect;
    GetPortBounds(ws.theFXClip, &srcRect);
    RGBBackColor(&kWhite);
    RGBForeColor(&kBlack);
    CopyBits(GetPortBitMapForCopyBits(ws.theFXClip), GetPortBitMapForCopyBits(windowPort), &srcRect, &destRect,
             srcCopy, nullptr);

    // Outline and handles stay inside the preview.
    Rect portRect;
    GetPortBounds(windowPort, &portRect);
    ClipRect(&destRect);
    const RGBColor outline = ws.theConfig->frameStartColor;
    RGBForeColor(&outline);
    const Rect theFrame = Rel2Rect(ws.theConfig->startRel, destRect);
    FrameRect(&theFrame);
    if (ws.activeRel == 1)
        DrawHandles(theFrame, outline);

    // The border is not clipped.
    ClipRect(&portRect);
    RGBForeColor(&kBlack);
    FrameRect(&destRect);

    SetPort(savedPort);
}

void DragRect(Rect &theRect, Point oldLoc, Point newLoc, UInt32 /*modifiers*/)
{
    const SInt16 dh = static_cast<SInt16>(newLoc.h - oldLoc.h);
    const SInt16 dv = static_cast<SInt16>(newLoc.v - oldLoc.v);
    theRect.left = static_cast<SInt16>(theRect.left + dh);
    theRect.right = static_cast<SInt16>(theRect.right + dh);
    theRect.top = static_cast<SInt16>(theRect.top + dv);
    theRect.bottom = static_cast<SInt16>(theRect.bottom + dv);
}

void DragCorner(SInt16 theHandle, Rect &theRect, Point oldLoc, Point newLoc, UInt32 modifiers, Rect theFrame,
                relRect origRel)
{
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

void KeepImageProps(Rect &theRect)
{
    const pluginDataPtr config = gConfigWorkSpace.theConfig;
    if (config == nullptr || !config->keepProps || config->theOriginalImage == nullptr)
        return;
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
