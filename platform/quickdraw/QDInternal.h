/*
 * Helpers shared by the QuickDraw modules and the Core Graphics bridge.
 * Internal to the platform library.
 */
#ifndef PLATFORM_QD_INTERNAL_H
#define PLATFORM_QD_INTERNAL_H

#include "quickdraw/GrafPortPrivate.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

/* A rectangle in 32-bit coordinates, half-open like Rect, so arithmetic on
 * 16-bit corners cannot wrap. Empty when right <= left or bottom <= top. */
struct QDBox {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

inline QDBox QDBoxOf(const Rect &r) { return {r.left, r.top, r.right, r.bottom}; }

inline Rect QDRectOf(const QDBox &b) {
    return Rect{static_cast<int16_t>(b.top), static_cast<int16_t>(b.left), static_cast<int16_t>(b.bottom),
                static_cast<int16_t>(b.right)};
}

inline QDBox QDIntersect(const QDBox &a, const QDBox &b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

/* One pixel as it sits in memory (bytes A, R, G, B), loaded as a native word. */
inline uint32_t QDPixel(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    const uint8_t bytes[4] = {a, r, g, b};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

/* Opaque pixel of a QuickDraw colour (the high byte of each channel). */
inline uint32_t QDPixelOfColor(const RGBColor &c) {
    return QDPixel(0xFF, static_cast<uint8_t>(c.red >> 8), static_cast<uint8_t>(c.green >> 8),
                   static_cast<uint8_t>(c.blue >> 8));
}

/* XOR mask that inverts red, green and blue and keeps alpha. */
inline uint32_t QDInvertMask() { return QDPixel(0x00, 0xFF, 0xFF, 0xFF); }

/* Address of pixel (x, y), in the pixel map's own coordinates. */
inline uint32_t *QDPixelAt(const PixMap &pm, int32_t x, int32_t y) {
    return reinterpret_cast<uint32_t *>(pm.baseAddr + static_cast<ptrdiff_t>(y - pm.bounds.top) * pm.rowBytes +
                                        static_cast<ptrdiff_t>(x - pm.bounds.left) * 4);
}

/* The current port (process-wide), or NULL. */
GrafPort *QDCurrentPort();
/* True for a pointer to a live port made by NewGWorld. */
bool QDIsLivePort(const GrafPort *port);
/* Records the result QDError() reports. */
void QDSetError(OSErr err);
/* The rectangle a region stands for (regions are rectangular here). */
QDBox QDRegionBox(RgnHandle rgn);

#endif
