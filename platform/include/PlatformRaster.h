/*
 * Pixel kernels shared by the Core Graphics layer, the effect and the hosts:
 * quarter turns of a picture (whole-pixel copies and half-pixel averages)
 * and the opacity blend of two same-size blocks. Pixels are four bytes
 * A, R, G, B, rows rowBytes apart.
 *
 * Every operation has a plain per-pixel reference and faster kernels for the
 * CPU (chosen once, at run time) with exactly the same output. Setting the
 * environment variable KELVARIN_REFERENCE=1 makes every caller use the
 * references, so any output can be checked against them.
 */
#ifndef PLATFORM_RASTER_H
#define PLATFORM_RASTER_H

#include "MacTypes.h"

PLATFORM_EXTERN_C_BEGIN

typedef struct PlatformPixels {
    uint8_t *data;
    int32_t width, height;
    ptrdiff_t rowBytes;
} PlatformPixels;

/* Half-open: left <= x < right, top <= y < bottom. */
typedef struct PlatformBox {
    int32_t left, top, right, bottom;
} PlatformBox;

/* Sampling under a quarter turn: device pixel (X, Y) (y down) reads image
 * column u = p X + q Y + iu and row v = r X + s Y + iv, averaged with the
 * next column when hu is 1 and with the next row when hv is 1, so it shows
 * one, two or four image pixels (the average rounded half up). One of p, q
 * and one of r, s is +-1, the others 0. */
typedef struct PlatformQuarterMap {
    int32_t p, q, r, s;
    int64_t iu, iv;
    int32_t hu, hv;
} PlatformQuarterMap;

/* Whether KELVARIN_REFERENCE=1 is set: callers then skip their shortcuts
 * and every kernel is the plain reference. */
PLATFORM_API int PlatformReferenceOnly(void);

/* Whether this CPU runs AVX2, for callers with kernels of their own. */
PLATFORM_API int PlatformHasAVX2(void);

/* The map of a width x height image turned by `quarters` quarter turns
 * counter-clockwise as seen on the screen about its centre, its centre put
 * at device point (centreX2 / 2, centreY2 / 2): the same samples drawing the
 * image through a Core Graphics context turned that way gives. */
PLATFORM_API PlatformQuarterMap PlatformQuarterMapOf(int quarters, int32_t width, int32_t height, int64_t centreX2,
                                                     int64_t centreY2);

/* Device pixels whose every sample lies inside a width x height image
 * (*covered: the picture lands on them whole) and those with at least one
 * (*reached). */
PLATFORM_API void PlatformQuarterBoxes(const PlatformQuarterMap *map, int32_t width, int32_t height,
                                       PlatformBox *covered, PlatformBox *reached);

/* Writes the pixels of box (inside the covered box) with their samples, and
 * tells whether every pixel written is opaque (alpha 0xFF). The image and
 * dst must not overlap. */
PLATFORM_API int PlatformQuarterCopy(const PlatformPixels *dst, PlatformBox box, const PlatformPixels *img,
                                     const PlatformQuarterMap *map);

/* Composites the samples of the pixels of box onto dst, source over
 * (premultiplied), pixels outside the image counting as transparent: what
 * drawing the image gives at its edges. */
PLATFORM_API void PlatformQuarterDraw(const PlatformPixels *dst, PlatformBox box, const PlatformPixels *img,
                                      const PlatformQuarterMap *map);

/* dst = (src * opacity + dst * (255 - opacity) + 127) / 255, byte by byte,
 * for width x height pixels; opacity is clamped to 0..255. */
PLATFORM_API void PlatformBlend(const uint8_t *src, ptrdiff_t srcRowBytes, uint8_t *dst, ptrdiff_t dstRowBytes,
                                int32_t width, int32_t height, int opacity);

/* One block of a quarter turn for a kernel: destination pixel (x, y) of the
 * block shows the taps at src + x stepX + y stepY, plus tapU and tapV when
 * they are not 0 (one, two or four pixels averaged). Returns the AND of
 * every pixel written. */
typedef struct PlatformTurnBlock {
    uint8_t *dst;
    ptrdiff_t dstRowBytes;
    int32_t width, height;
    const uint8_t *src;
    ptrdiff_t stepX, stepY, tapU, tapV;
} PlatformTurnBlock;

typedef struct PlatformRasterKernels {
    const char *name;
    uint32_t (*turn)(const PlatformTurnBlock *block);
    void (*blendRow)(const uint8_t *src, uint8_t *dst, int32_t pixels, uint32_t opacity);
} PlatformRasterKernels;

/* The kernel sets this CPU can run, for checking them against each other:
 * index 0 is the plain reference, the last one the set in use; NULL past
 * the end. */
PLATFORM_API const PlatformRasterKernels *PlatformRasterKernelSet(int index);

PLATFORM_EXTERN_C_END

#endif
