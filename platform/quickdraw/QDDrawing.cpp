// Drawing on the current port: colours, pen, rectangles and ovals.
//
// The pen is solid, so a transfer mode reduces to one of three effects on
// the pixels it covers: paint a colour (opaque), invert red, green and blue
// (alpha kept), or nothing. Every call clips to the port's bounds and clip
// rectangle and reports the pixels it touched through QDPortChanged.
#include "QuickDraw.h"
#include "quickdraw/QDInternal.h"

#include <cstring>
#include <cwchar>

namespace {

enum class PenEffect { Paint, Invert, None };

struct PenAction {
    PenEffect effect;
    uint32_t pixel;  // for Paint
};

// With a solid black pattern every pattern bit is set: Copy and Or lay down
// the foreground colour, Xor inverts, Bic and the inverted Copy lay down the
// background colour, the other inverted modes leave the pixels alone.
PenAction ActionForMode(const GrafPort &port, short mode) {
    switch (mode & 7) {
        case srcCopy:
        case srcOr:
            return {PenEffect::Paint, QDPixelOfColor(port.foreColor)};
        case srcXor:
            return {PenEffect::Invert, 0};
        case srcBic:
        case notSrcCopy:
            return {PenEffect::Paint, QDPixelOfColor(port.backColor)};
        default:
            return {PenEffect::None, 0};
    }
}

QDBox DrawableArea(const GrafPort &port) {
    if (!port.pixMap.baseAddr) return {};
    return QDIntersect(QDBoxOf(port.pixMap.bounds), QDBoxOf(port.clipRect));
}

void FillSpan(uint32_t *p, int32_t n, const PenAction &act) {
    if (act.effect == PenEffect::Paint) {
        // wchar_t is a 32-bit unit here: the C library's wide fill stores
        // as wide as the CPU allows.
        static_assert(sizeof(wchar_t) == sizeof(uint32_t));
        wchar_t unit;
        std::memcpy(&unit, &act.pixel, sizeof unit);
        std::wmemset(reinterpret_cast<wchar_t *>(p), unit, size_t(n));
    } else if (act.effect == PenEffect::Invert) {
        const uint32_t mask = QDInvertMask();
        for (int32_t i = 0; i < n; ++i) p[i] ^= mask;
    }
}

// Applies the action to box (already clipped to the drawable area).
void ApplyToBox(GrafPort &port, const QDBox &box, const PenAction &act) {
    if (box.Empty() || act.effect == PenEffect::None) return;
    const PixMap &pm = port.pixMap;
    for (int32_t y = box.top; y < box.bottom; ++y) FillSpan(QDPixelAt(pm, box.left, y), box.Width(), act);
}

// Fills r on the current port and reports the change.
void FillRectWith(const Rect *r, PenAction (*choose)(const GrafPort &)) {
    GrafPort *port = QDCurrentPort();
    if (!port || !r) return;
    const PenAction act = choose(*port);
    const QDBox box = QDIntersect(QDBoxOf(*r), DrawableArea(*port));
    if (box.Empty() || act.effect == PenEffect::None) return;
    ApplyToBox(*port, box, act);
    const Rect changed = QDRectOf(box);
    QDPortChanged(port, &changed);
}

// Pixel (x, y) belongs to the oval inscribed in box when its centre lies in
// the ellipse: ((2x+1 - (l+r)) / w)^2 + ((2y+1 - (t+b)) / h)^2 <= 1, kept in
// integers so that symmetric pixels always agree.
bool InOval(const QDBox &box, int32_t x, int32_t y) {
    if (box.Empty() || x < box.left || x >= box.right || y < box.top || y >= box.bottom) return false;
    const int64_t w = box.Width(), h = box.Height();
    const int64_t dx = 2 * int64_t(x) + 1 - (int64_t(box.left) + box.right);
    const int64_t dy = 2 * int64_t(y) + 1 - (int64_t(box.top) + box.bottom);
    return dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
}

// Paints the pixels of the oval in r, minus those of the oval in hole (an
// empty hole removes nothing).
void DrawOval(const Rect *r, bool frame) {
    GrafPort *port = QDCurrentPort();
    if (!port || !r) return;
    const PenAction act = ActionForMode(*port, port->penMode);
    const QDBox outer = QDBoxOf(*r);
    const QDBox box = QDIntersect(outer, DrawableArea(*port));
    if (box.Empty() || act.effect == PenEffect::None) return;
    QDBox hole;
    if (frame) {
        if (port->penWidth <= 0 || port->penHeight <= 0) return;
        hole = {outer.left + port->penWidth, outer.top + port->penHeight, outer.right - port->penWidth,
                outer.bottom - port->penHeight};
    }
    QDBox touched{box.right, box.bottom, box.left, box.top};
    for (int32_t y = box.top; y < box.bottom; ++y) {
        uint32_t *row = QDPixelAt(port->pixMap, 0, y);
        for (int32_t x = box.left; x < box.right; ++x) {
            if (!InOval(outer, x, y) || InOval(hole, x, y)) continue;
            FillSpan(row + x, 1, act);
            touched = {std::min(touched.left, x), std::min(touched.top, y), std::max(touched.right, x + 1),
                       std::max(touched.bottom, y + 1)};
        }
    }
    if (touched.Empty()) return;
    const Rect changed = QDRectOf(touched);
    QDPortChanged(port, &changed);
}

}  // namespace

extern "C" {

PLATFORM_API void RGBForeColor(const RGBColor *c) {
    if (GrafPort *port = QDCurrentPort(); port && c) port->foreColor = *c;
}

PLATFORM_API void RGBBackColor(const RGBColor *c) {
    if (GrafPort *port = QDCurrentPort(); port && c) port->backColor = *c;
}

PLATFORM_API void GetForeColor(RGBColor *c) {
    if (!c) return;
    GrafPort *port = QDCurrentPort();
    *c = port ? port->foreColor : RGBColor{0, 0, 0};
}

PLATFORM_API void GetBackColor(RGBColor *c) {
    if (!c) return;
    GrafPort *port = QDCurrentPort();
    *c = port ? port->backColor : RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
}

PLATFORM_API void PenMode(short mode) {
    if (GrafPort *port = QDCurrentPort()) port->penMode = mode;
}

PLATFORM_API void PenSize(short width, short height) {
    if (GrafPort *port = QDCurrentPort()) {
        port->penWidth = width;
        port->penHeight = height;
    }
}

PLATFORM_API void PenNormal(void) {
    if (GrafPort *port = QDCurrentPort()) {
        port->penWidth = port->penHeight = 1;
        port->penMode = patCopy;
    }
}

PLATFORM_API void PaintRect(const Rect *r) {
    FillRectWith(r, [](const GrafPort &p) { return ActionForMode(p, p.penMode); });
}

PLATFORM_API void EraseRect(const Rect *r) {
    FillRectWith(r, [](const GrafPort &p) { return PenAction{PenEffect::Paint, QDPixelOfColor(p.backColor)}; });
}

PLATFORM_API void InvertRect(const Rect *r) {
    FillRectWith(r, [](const GrafPort &) { return PenAction{PenEffect::Invert, 0}; });
}

// The outline lies just inside r, pen width wide at the sides and pen height
// high at top and bottom; a rectangle too small for a hole is filled.
PLATFORM_API void FrameRect(const Rect *r) {
    GrafPort *port = QDCurrentPort();
    if (!port || !r || port->penWidth <= 0 || port->penHeight <= 0) return;
    const PenAction act = ActionForMode(*port, port->penMode);
    const QDBox outer = QDBoxOf(*r);
    const QDBox area = DrawableArea(*port);
    if (outer.Empty() || act.effect == PenEffect::None) return;
    const int32_t pw = port->penWidth, ph = port->penHeight;
    QDBox bands[4];
    if (outer.Width() <= 2 * pw || outer.Height() <= 2 * ph) {
        bands[0] = outer;
    } else {
        bands[0] = {outer.left, outer.top, outer.right, outer.top + ph};                // top
        bands[1] = {outer.left, outer.bottom - ph, outer.right, outer.bottom};          // bottom
        bands[2] = {outer.left, outer.top + ph, outer.left + pw, outer.bottom - ph};    // left
        bands[3] = {outer.right - pw, outer.top + ph, outer.right, outer.bottom - ph};  // right
    }
    bool any = false;
    for (const QDBox &band : bands) {
        const QDBox b = QDIntersect(band, area);
        if (b.Empty()) continue;
        ApplyToBox(*port, b, act);
        any = true;
    }
    if (!any) return;
    const Rect changed = QDRectOf(QDIntersect(outer, area));
    QDPortChanged(port, &changed);
}

PLATFORM_API void PaintOval(const Rect *r) { DrawOval(r, false); }

// A ring pen-size thick inside r: the oval of r minus the oval of r inset by
// the pen. A 12x12 oval with the normal pen is a ring 12 pixels across.
PLATFORM_API void FrameOval(const Rect *r) { DrawOval(r, true); }

}  // extern "C"
