/*
 * The raster work behind Core Graphics drawing: affine maps, drawing an
 * image through a map with bilinear sampling and premultiplied compositing,
 * and clearing a transformed rectangle. Pixels are four bytes A, R, G, B,
 * premultiplied. Internal to the platform library.
 */
#ifndef PLATFORM_CG_RASTER_H
#define PLATFORM_CG_RASTER_H

#include "CoreGraphics.h"
#include "PlatformRaster.h"
#include "quickdraw/QDInternal.h"

#include <cstddef>
#include <cstdint>

/* x' = a x + c y + tx, y' = b x + d y + ty (Core Graphics' convention). */
struct CGAffine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

/* The map that applies `first`, then `then`. */
CGAffine CGAffineConcat(const CGAffine &first, const CGAffine &then);
/* Inverse; false when the map is singular. */
bool CGAffineInvert(const CGAffine &m, CGAffine *inverse);

/* A block of pixels (bytes A, R, G, B, rows rowBytes apart). */
struct CGPixels {
    uint8_t *data = nullptr;
    int32_t width = 0, height = 0;
    ptrdiff_t rowBytes = 0;
};

/* Draws img into dst: device pixel (X, Y) (y down) shows the image sampled
 * bilinearly at deviceToImage(X + 0.5, Y + 0.5) - (0.5, 0.5) in image pixel
 * units (row 0 on top, transparent outside the image), scaled by alpha and
 * composited source-over (blend normal) or replacing the pixel (copy).
 * Only pixels inside clip change; *changed grows by the pixels touched.
 * Quarter turns with unit scale land on whole or half pixels and take
 * direct paths; other maps go through pixman. */
void CGRasterDrawImage(const CGPixels &dst, const QDBox &clip, const CGPixels &img, bool imgOpaque,
                       const CGAffine &deviceToImage, double alpha, CGBlendMode mode, QDBox *changed);

/* Clears to transparent the rectangle r mapped by userToDevice (y down):
 * pixels it covers wholly become 0, partly covered pixels (an axis-aligned
 * map with fractional edges) are scaled down by the uncovered share; under a
 * rotation by other angles a pixel is cleared when its centre is inside. */
void CGRasterClearRect(const CGPixels &dst, const QDBox &clip, const CGAffine &userToDevice, const CGRect &r,
                       QDBox *changed);

/* Copies src's pixels into dst (rows dstRowBytes apart, no overlap) and
 * tells whether every alpha byte copied was 0xFF, in one pass. */
bool CGRasterCopyPixels(const CGPixels &src, uint8_t *dst, ptrdiff_t dstRowBytes);

/* The kernels every raster operation uses: the references when
 * KELVARIN_REFERENCE=1 is set, else the best this CPU runs. */
const PlatformRasterKernels &CGRasterKernelsInUse();

#endif
