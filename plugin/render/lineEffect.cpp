#include "render/lineEffect.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <utility>

#include "PlatformRaster.h"
#include "render/CGglue.h"
#include "support/commonprocs.h"

namespace {

constexpr double CPI = 3.1415926535897932;

// Rectangles here are half-open and held in 32 bits, so sums of 16-bit
// coordinates cannot overflow.
struct IRect {
    int32_t top, left, bottom, right;
    bool Empty() const { return bottom <= top || right <= left; }
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    Rect ToRect() const {
        return Rect{static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
                    static_cast<int16_t>(right)};
    }
};

IRect FromRect(Rect r) { return IRect{r.top, r.left, r.bottom, r.right}; }

IRect Intersect(IRect a, IRect b) {
    IRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom), std::min(a.right, b.right)};
    if (r.Empty()) return IRect{0, 0, 0, 0};
    return r;
}

// a minus b as up to four disjoint rectangles: full-width bands above and
// below b, then the parts left and right of b in b's rows.
struct RectList {
    std::array<IRect, 4> items{};
    int count = 0;
    void Add(IRect r) {
        if (!r.Empty()) items[count++] = r;
    }
};

RectList Subtract(IRect a, IRect b) {
    RectList out;
    const IRect cut = Intersect(a, b);
    if (cut.Empty()) {
        out.Add(a);
        return out;
    }
    out.Add(IRect{a.top, a.left, cut.top, a.right});
    out.Add(IRect{cut.bottom, a.left, a.bottom, a.right});
    out.Add(IRect{cut.top, a.left, cut.bottom, cut.left});
    out.Add(IRect{cut.top, cut.right, cut.bottom, a.right});
    return out;
}

int Degrees(SInt16 rota) {
    switch (rota) {
        case 2:
            return 90;  // a quarter turn counter-clockwise on the screen
        case 3:
            return 180;
        case 4:
            return 270;  // a quarter turn clockwise
        default:
            return 0;  // 1 and every value not in the table
    }
}

// Where the turned cut-out lands, in Dest's coordinates (y down).
struct Placement {
    double centreX = 0, centreY = 0;  // centre of the turned picture
    double width = 0, height = 0;     // the cut-out's size before the turn
    double turnedW = 0, turnedH = 0;  // its footprint's size after the turn
    bool exact = false;               // footprint edges on whole pixels
    IRect footprint{0, 0, 0, 0};      // when exact: the pixels it covers
    IRect reach{0, 0, 0, 0};          // every pixel it may touch
};

// The cut-out S (a part of A) turned about A's centre is S turned about its
// own centre and moved so that its centre turns with it.
Placement Place(IRect A, IRect S, int degrees) {
    Placement p;
    const double cAx = A.left + A.Width() / 2.0, cAy = A.top + A.Height() / 2.0;
    const double dx = S.left + S.Width() / 2.0 - cAx, dy = S.top + S.Height() / 2.0 - cAy;
    double rx = dx, ry = dy;
    switch (degrees) {  // screen coordinates, y down
        case 90:
            rx = dy;
            ry = -dx;
            break;
        case 180:
            rx = -dx;
            ry = -dy;
            break;
        case 270:
            rx = -dy;
            ry = dx;
            break;
        default:
            break;
    }
    p.centreX = cAx + rx;
    p.centreY = cAy + ry;
    p.width = S.Width();
    p.height = S.Height();
    const bool quarter = degrees == 90 || degrees == 270;
    p.turnedW = quarter ? p.height : p.width;
    p.turnedH = quarter ? p.width : p.height;
    // Every value is a multiple of 0.5 well inside double precision.
    const double left = p.centreX - p.turnedW / 2, top = p.centreY - p.turnedH / 2;
    p.exact = left == std::floor(left) && top == std::floor(top);
    const auto l = static_cast<int32_t>(std::floor(left)), t = static_cast<int32_t>(std::floor(top));
    const auto r = static_cast<int32_t>(std::ceil(left + p.turnedW));
    const auto b = static_cast<int32_t>(std::ceil(top + p.turnedH));
    if (p.exact) {
        p.footprint = IRect{t, l, b, r};
        p.reach = p.footprint;
    } else {
        // Resampling may touch one more pixel on each side.
        p.reach = IRect{t - 1, l - 1, b + 1, r + 1};
    }
    return p;
}

void CopyArea(GrafPtr from, GrafPtr to, IRect r) {
    if (r.Empty()) return;
    const Rect q = r.ToRect();
    CopyBits(GetPortBitMapForCopyBits(from), GetPortBitMapForCopyBits(to), &q, &q, srcCopy, nullptr);
}

void PaintArea(IRect r) {
    if (r.Empty()) return;
    const Rect q = r.ToRect();
    PaintRect(&q);
}

// A picture's pixel memory.
struct PixelRows {
    uint8_t *base = nullptr;
    ptrdiff_t rowBytes = 0;
    uint8_t *At(int32_t x, int32_t y) const { return base + y * rowBytes + ptrdiff_t(x) * 4; }
};

PixelRows RowsOf(GrafPtr gw) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return PixelRows{reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)), GetPixRowBytes(pm)};
}

inline uint32_t LoadPixel(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StorePixel(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

IRect FromBox(PlatformBox b) { return IRect{b.top, b.left, b.bottom, b.right}; }

PlatformBox ToBox(IRect r) { return PlatformBox{r.left, r.top, r.right, r.bottom}; }

// Whether two pictures' pixel memory is disjoint.
bool Apart(GrafPtr a, GrafPtr b) {
    auto span = [](GrafPtr gw) {
        const PixelRows rows = RowsOf(gw);
        const Rect r = GetPortRect(gw);
        const auto start = reinterpret_cast<uintptr_t>(rows.base);
        return std::pair<uintptr_t, uintptr_t>{start,
                                               start + size_t(rows.rowBytes) * size_t(std::max(0, r.bottom - r.top))};
    };
    const auto [a0, a1] = span(a);
    const auto [b0, b1] = span(b);
    return a0 != 0 && b0 != 0 && (a1 <= b0 || b1 <= a0);
}

// A new image of the pixels of S in Source, read straight from the picture's
// memory (the image holds its own copy).
CGImageRef CutOut(GrafPtr Source, IRect S) {
    PixMapHandle pm = GetGWorldPixMap(Source);
    auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
    const SInt32 rowBytes = GetPixRowBytes(pm);
    if (base == nullptr || rowBytes <= 0) return nullptr;
    uint8_t *first = base + static_cast<ptrdiff_t>(S.top) * rowBytes + static_cast<ptrdiff_t>(S.left) * 4;
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context =
        CGBitmapContextCreate(first, static_cast<size_t>(S.Width()), static_cast<size_t>(S.Height()), 8,
                              static_cast<size_t>(rowBytes), space, kCGImageAlphaPremultipliedFirst);
    if (space) CGColorSpaceRelease(space);
    if (context == nullptr) return nullptr;
    CGImageRef image = CGBitmapContextCreateImage(context);
    CGContextRelease(context);
    return image;
}

// What one frame's composition works with.
struct Layout {
    GrafPtr Source = nullptr, Dest = nullptr;
    IRect F{0, 0, 0, 0};  // the frame (Source and Dest alike)
    IRect A{0, 0, 0, 0};  // the active rectangle, anywhere
    IRect S{0, 0, 0, 0};  // the part of A cut out: inside the frame
    int degrees = 0;
    Placement place;
    // Turned pictures are sampled straight from Source into Dest (no cut-out
    // image) unless the reference paths are asked for. `covered` is where
    // the picture lands whole, replacing what lies beneath; the ring around
    // it up to `reached`, where it lands on half pixels at its edges, is
    // composited over the background like any drawing.
    bool direct = false;
    PlatformQuarterMap map{};
    IRect covered{0, 0, 0, 0}, reached{0, 0, 0, 0};
    bool clipped = false;  // direct, and already kept inside A
};

Layout PlanFrame(GrafPtr Source, GrafPtr Dest, Rect ActiveRect, int degrees, bool clipActive) {
    Layout L;
    L.Source = Source;
    L.Dest = Dest;
    L.F = FromRect(GetPortRect(Dest));
    L.A = FromRect(ActiveRect);
    L.degrees = degrees;
    // An empty A has nothing to cut out: the frame is the background alone.
    L.S = L.A.Empty() ? IRect{0, 0, 0, 0} : Intersect(Intersect(L.A, L.F), FromRect(GetPortRect(Source)));
    if (L.S.Empty()) return L;
    L.place = Place(L.A, L.S, degrees);
    if (degrees == 0) {
        L.covered = L.S;
        return L;
    }
    L.direct = !PlatformReferenceOnly() && Apart(Source, Dest);
    if (!L.direct) return L;
    L.map = PlatformQuarterMapOf(degrees / 90, L.S.Width(), L.S.Height(), std::llround(2 * L.place.centreX),
                                 std::llround(2 * L.place.centreY));
    PlatformBox whole{}, any{};
    PlatformQuarterBoxes(&L.map, L.S.Width(), L.S.Height(), &whole, &any);
    // Clipped, whatever spills past A is put back to G afterwards: the
    // picture need only be drawn inside A, and the background left whole
    // outside it.
    const IRect bound = clipActive ? Intersect(L.A, L.F) : L.F;
    L.covered = Intersect(FromBox(whole), bound);
    L.reached = Intersect(FromBox(any), bound);
    L.clipped = clipActive;
    return L;
}

// G everywhere but where the picture will land whole, and the fill inside A.
void PaintBackground(const Layout &L, const RGBColor &fill, bool outside) {
    const RectList parts = Subtract(L.F, L.covered);
    if (outside) {
        RGBForeColor(&fill);
        for (int i = 0; i < parts.count; ++i) PaintArea(parts.items[i]);
        return;
    }
    for (int i = 0; i < parts.count; ++i) CopyArea(L.Source, L.Dest, parts.items[i]);
    RGBForeColor(&fill);
    const RectList inside = Subtract(Intersect(L.A, L.F), L.covered);
    for (int i = 0; i < inside.count; ++i) PaintArea(inside.items[i]);
}

// The turned picture sampled straight into Dest. False, with what lies
// beneath `covered` put back, when one of its pixels turns out not to be
// opaque: such a picture must be composited, not copied.
bool PasteDirect(const Layout &L, const RGBColor &fill, bool outside) {
    const PixelRows src = RowsOf(L.Source), dst = RowsOf(L.Dest);
    const PlatformPixels to{dst.base, L.F.Width(), L.F.Height(), dst.rowBytes};
    const PlatformPixels from{src.At(L.S.left, L.S.top), L.S.Width(), L.S.Height(), src.rowBytes};
    if (!L.covered.Empty() && !PlatformQuarterCopy(&to, ToBox(L.covered), &from, &L.map)) {
        RGBForeColor(&fill);
        if (outside) {
            PaintArea(L.covered);
        } else {
            CopyArea(L.Source, L.Dest, L.covered);
            PaintArea(Intersect(L.covered, L.A));
        }
        const RGBColor black{0, 0, 0};
        RGBForeColor(&black);
        return false;
    }
    const RectList ring = Subtract(L.reached, L.covered);
    for (int i = 0; i < ring.count; ++i) PlatformQuarterDraw(&to, ToBox(ring.items[i]), &from, &L.map);
    return true;
}

// The cut-out drawn turned through Core Graphics, composited over Dest.
void PasteDrawn(const Layout &L) {
    CGImageRef theImage = CutOut(L.Source, L.S);
    Assert(theImage, "Unable to convert theGW to theImage in theLineEffect");
    // Unturned target of the cut-out, in Dest's y-up drawing space.
    const Placement &p = L.place;
    const double portHig = L.F.Height();
    const CGRect target = CGRectMake(static_cast<CGFloat>(p.centreX - p.width / 2),
                                     static_cast<CGFloat>(portHig - (p.centreY + p.height / 2)),
                                     static_cast<CGFloat>(p.width), static_cast<CGFloat>(p.height));
    const auto angle = static_cast<float>(L.degrees * CPI / 180.0);
    DrawCGImageInCGRectOfPort(L.Dest, theImage, target, angle, false, 1.0, kCGBlendModeNormal);
    CGImageRelease(theImage);
}

// True when the picture was drawn inside A only (no spill to put back).
bool PastePicture(const Layout &L, const RGBColor &fill, bool outside) {
    if (L.S.Empty()) return true;
    // Unturned, the opaque picture lands on its own place: drawing it is
    // copying those pixels, and nothing can spill.
    if (L.degrees == 0) {
        CopyArea(L.Source, L.Dest, L.S);
        return true;
    }
    if (L.direct && PasteDirect(L, fill, outside)) return L.clipped;
    PasteDrawn(L);
    return false;
}

// Unturned over the source background, with all of A inside both pictures,
// the output is the source itself.
bool SourceThroughout(const Layout &L, bool outside) {
    if (outside || L.degrees != 0) return false;
    const IRect inFrame = L.A.Empty() ? IRect{0, 0, 0, 0} : Intersect(L.A, L.F);
    return inFrame.top == L.S.top && inFrame.left == L.S.left && inFrame.bottom == L.S.bottom &&
           inFrame.right == L.S.right;
}

// Puts G back over the bands outside A (above, below, left, right; the
// corners are never reached by a picture centred on A), limited to where
// the picture may have drawn.
void RestoreSpill(const Layout &L, const RGBColor &fill, bool outside) {
    const RGBColor black{0, 0, 0};
    RGBForeColor(outside ? &fill : &black);
    const IRect &A = L.A, &F = L.F;
    const IRect bands[4] = {IRect{F.top, A.left, A.top, A.right}, IRect{A.bottom, A.left, F.bottom, A.right},
                            IRect{A.top, F.left, A.bottom, A.left}, IRect{A.top, A.right, A.bottom, F.right}};
    for (const IRect &band : bands) {
        const IRect spill = Intersect(Intersect(band, L.place.reach), F);
        if (spill.Empty()) continue;
        if (outside)
            PaintArea(spill);
        else
            CopyArea(L.Source, L.Dest, spill);
    }
}

}  // namespace

// The output, for active rectangle A and background G (the source when
// `outside` is off, the fill colour when on):
//   outside A: G, except where the turned picture spills (quarter turns of a
//     non-square A, unless clipActive);
//   inside A: the turned picture, and the fill colour where it does not reach.
// Only the part of A inside the frame is cut out (S); the rest of A is
// transparent in the cut-out, so where the turn carries it, what lies beneath
// (the fill inside A, G outside) shows. That keeps every buffer within the
// frame's size, however far a damaged setting reaches past it.
//
// Work whose result the pasted picture overwrites is skipped, leaving the
// output unchanged: wherever every sample of a pixel lies inside the turned
// picture (all of it on whole pixels, all but a one-pixel ring on half
// pixels), nothing is painted or copied beneath it. The clip restores only
// the bands the picture may have reached, from G itself, which is what a
// snapshot taken after the background would hold there. Frames are opaque,
// so the picture covers what it lands on.
void TheLineEffect(GrafPtr Source, GrafPtr Dest, Rect ActiveRect, pluginDataPtr theConfig, SInt32 /*CurrFrame*/,
                   SInt32 /*MaxFrame*/) {
    if (Source == nullptr || Dest == nullptr || theConfig == nullptr) return;
    const Rect srcBounds = GetPortRect(Source), dstBounds = GetPortRect(Dest);
    const bool sameSize = srcBounds.right - srcBounds.left == dstBounds.right - dstBounds.left &&
                          srcBounds.bottom - srcBounds.top == dstBounds.bottom - dstBounds.top;
    assert(sameSize && "the compositor's pictures are the same size");
    if (!sameSize) return;

    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    const RGBColor fill = theConfig->colors[0];
    const RGBColor black{0, 0, 0}, white{65535, 65535, 65535};
    const Layout L = PlanFrame(Source, Dest, ActiveRect, Degrees(theConfig->rota), theConfig->clipActive);

    SetGWorld(Dest, nullptr);
    RGBBackColor(&white);
    RGBForeColor(&black);
    if (SourceThroughout(L, theConfig->outside)) {
        CopyArea(Source, Dest, L.F);  // in one pass rather than five rectangles
    } else {
        PaintBackground(L, fill, theConfig->outside);
        RGBForeColor(&black);
        const bool drawnInside = PastePicture(L, fill, theConfig->outside);
        if (theConfig->clipActive && !drawnInside) {
            SetGWorld(Dest, nullptr);
            RGBBackColor(&white);
            RestoreSpill(L, fill, theConfig->outside);
        }
    }
    RGBForeColor(&black);
    SetGWorld(savedPort, savedDevice);
}

void RenderLineArt(pluginDataPtr theConfig) {
    Assert(theConfig, "nil config on RenderLineArt");
    if (theConfig->theRendered) {
        CGImageRelease(theConfig->theRendered);
        theConfig->theRendered = nullptr;
    }
    if (theConfig->theOriginalImage == nullptr) return;
    SInt32 wid = 0, hig = 0;
    GetImageDims(theConfig->theOriginalImage, &wid, &hig);
    const Rect bounds{0, 0, static_cast<int16_t>(hig), static_cast<int16_t>(wid)};
    GWorldPtr gw = AllocateRectGWorld(bounds);
    if (gw == nullptr) return;
    DrawCGImageInQDRect(gw, theConfig->theOriginalImage, bounds, 0.0f, true);
    theConfig->theRendered = GWorld2CGImage(gw);
    DisposeGWorld(gw);
}
