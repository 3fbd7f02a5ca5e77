#include "render/lineEffect.h"

#include <algorithm>
#include <array>
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

}  // namespace

// The output, for active rectangle A and background G (the source when
// `outside` is off, the fill colour when on):
//   outside A: G, except where the turned picture spills (quarter turns of a
//     non-square A, unless clipActive);
//   inside A: the turned picture, and the fill colour where it does not reach.
// Only the part of A inside the source frame is cut out (S); the rest of A is
// transparent in the cut-out, so where the turn carries it, what lies beneath
// (the fill inside A, G outside) shows. That keeps every buffer within the
// frame's size, however far a damaged setting reaches past it.
//
// Work whose result the pasted picture overwrites is skipped, leaving the
// output unchanged: wherever every sample of a pixel lies inside the turned
// picture (all of it on whole pixels, all but a one-pixel ring on half
// pixels), nothing is painted or copied beneath it. The clip restores only the bands the picture
// may have reached, from G itself, which is what a snapshot taken after the
// background would hold there. Frames are opaque, so the picture covers what
// it lands on.
void TheLineEffect(GrafPtr Source, GrafPtr Dest, Rect ActiveRect, pluginDataPtr theConfig, SInt32 /*CurrFrame*/,
                   SInt32 /*MaxFrame*/) {
    if (Source == nullptr || Dest == nullptr || theConfig == nullptr) return;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);

    const RGBColor fill = theConfig->colors[0];
    const RGBColor black{0, 0, 0};
    const RGBColor white{65535, 65535, 65535};
    const IRect F = FromRect(GetPortRect(Dest));
    const IRect srcBounds = FromRect(GetPortRect(Source));
    const bool sameSize = F.Width() == srcBounds.Width() && F.Height() == srcBounds.Height();
    const IRect A = FromRect(ActiveRect);
    const int degrees = Degrees(theConfig->rota);
    const auto angle = static_cast<float>(degrees * CPI / 180.0);

    // An empty A has nothing to cut out: the frame is the background alone.
    const IRect S = A.Empty() ? IRect{0, 0, 0, 0} : Intersect(Intersect(A, F), srcBounds);
    const Placement place = S.Empty() ? Placement{} : Place(A, S, degrees);
    // Turned pictures are sampled straight from Source into Dest (no cut-out
    // image) unless the reference paths are asked for. `covered` is where
    // the picture lands whole, replacing what lies beneath; the ring around
    // it, where it lands on half pixels at its edges, is composited over the
    // background like any drawing.
    const bool direct = degrees != 0 && !S.Empty() && sameSize && !PlatformReferenceOnly() && Apart(Source, Dest);
    PlatformQuarterMap map{};
    IRect covered{0, 0, 0, 0}, reached{0, 0, 0, 0};
    if (direct) {
        map = PlatformQuarterMapOf(degrees / 90, S.Width(), S.Height(), std::llround(2 * place.centreX),
                                   std::llround(2 * place.centreY));
        PlatformBox whole{}, any{};
        PlatformQuarterBoxes(&map, S.Width(), S.Height(), &whole, &any);
        covered = Intersect(FromBox(whole), F);
        reached = Intersect(FromBox(any), F);
    } else if (degrees == 0 && !S.Empty() && sameSize) {
        covered = S;
    }

    SetGWorld(Dest, nullptr);
    RGBBackColor(&white);
    RGBForeColor(&black);

    // Background, and the fill inside A.
    if (theConfig->outside) {
        RGBForeColor(&fill);
        const RectList parts = Subtract(F, covered);
        for (int i = 0; i < parts.count; ++i) PaintArea(parts.items[i]);
    } else {
        if (sameSize) {
            const RectList parts = Subtract(F, covered);
            for (int i = 0; i < parts.count; ++i) CopyArea(Source, Dest, parts.items[i]);
        } else {
            Source2Target(Source, Dest);
        }
        RGBForeColor(&fill);
        const RectList parts = Subtract(Intersect(A, F), covered);
        for (int i = 0; i < parts.count; ++i) PaintArea(parts.items[i]);
    }
    RGBForeColor(&black);

    bool pasted = false;
    if (!S.Empty() && degrees == 0 && sameSize) {
        // Unturned, the opaque picture lands on its own place: drawing it is
        // copying those pixels, and nothing can spill.
        CopyArea(Source, Dest, S);
        pasted = true;
    } else if (direct) {
        // Every pixel of `covered` takes its samples from S. Should one of
        // them turn out not to be opaque, what lies beneath is put back and
        // the picture is drawn as usual.
        const PixelRows src = RowsOf(Source), dst = RowsOf(Dest);
        const PlatformPixels to{dst.base, F.Width(), F.Height(), dst.rowBytes};
        const PlatformPixels from{src.At(S.left, S.top), S.Width(), S.Height(), src.rowBytes};
        pasted = covered.Empty() || PlatformQuarterCopy(&to, ToBox(covered), &from, &map);
        if (!pasted) {
            RGBForeColor(&fill);
            if (theConfig->outside) {
                PaintArea(covered);
            } else {
                CopyArea(Source, Dest, covered);
                PaintArea(Intersect(covered, A));
            }
            RGBForeColor(&black);
        } else {
            const RectList ring = Subtract(reached, covered);
            for (int i = 0; i < ring.count; ++i) PlatformQuarterDraw(&to, ToBox(ring.items[i]), &from, &map);
        }
    }
    if (!S.Empty() && !pasted) {
        CGImageRef theImage = CutOut(Source, S);
        Assert(theImage, "Unable to convert theGW to theImage in theLineEffect");
        // Unturned target of the cut-out, in Dest's y-up drawing space.
        const double portHig = F.Height();
        const CGRect target = CGRectMake(static_cast<CGFloat>(place.centreX - place.width / 2),
                                         static_cast<CGFloat>(portHig - (place.centreY + place.height / 2)),
                                         static_cast<CGFloat>(place.width), static_cast<CGFloat>(place.height));
        DrawCGImageInCGRectOfPort(Dest, theImage, target, angle, false, 1.0, kCGBlendModeNormal);
        CGImageRelease(theImage);
    }
    if (!S.Empty() && degrees != 0 && theConfig->clipActive) {
        // Bands outside A (above, below, left, right; the corners are never
        // reached by a picture centred on A), limited to where the picture
        // may have drawn.
        SetGWorld(Dest, nullptr);
        RGBBackColor(&white);
        RGBForeColor(theConfig->outside ? &fill : &black);
        const IRect bands[4] = {IRect{F.top, A.left, A.top, A.right}, IRect{A.bottom, A.left, F.bottom, A.right},
                                IRect{A.top, F.left, A.bottom, A.left}, IRect{A.top, A.right, A.bottom, F.right}};
        for (const IRect &band : bands) {
            const IRect spill = Intersect(Intersect(band, place.reach), F);
            if (spill.Empty()) continue;
            if (theConfig->outside)
                PaintArea(spill);
            else if (sameSize)
                CopyArea(Source, Dest, spill);
        }
        RGBForeColor(&black);
    }

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
