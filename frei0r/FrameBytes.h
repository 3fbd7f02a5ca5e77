/*
 * Frames between a frei0r host's byte order (R, G, B, A in memory, rows
 * packed) and the platform's pictures (A, R, G, B, rows rowBytes apart), and
 * the mix of the effect over the untouched frame. Each direction is one pass
 * over the frame; the mix is folded into the pass out.
 */
#ifndef KELVARIN_FREI0R_FRAMEBYTES_H
#define KELVARIN_FREI0R_FRAMEBYTES_H

#include <cstddef>
#include <cstdint>

struct PictureRows {
    uint8_t *base;
    ptrdiff_t rowBytes;
};

/* width x height pixels of an RGBA frame into the picture. */
void RGBAToPicture(const uint32_t *frame, unsigned width, unsigned height, PictureRows picture);

/* The picture back into an RGBA frame. With opacity > 0, every channel of
 * the untouched frame `source` (RGBA) is mixed over it the way the host
 * blends a fade, (s * opacity + e * (255 - opacity) + 127) / 255; opacity 0
 * is the effect alone. `out` may be `source`; `scratchRow` holds `width`
 * pixels. */
void PictureToRGBA(PictureRows picture, const uint32_t *source, int opacity, unsigned width, unsigned height,
                   uint32_t *out, uint32_t *scratchRow);

/* The untouched frame's opacity for an amount of effect in 0..1, computed
 * like the host's fade: 255 x (1 - amount), truncated. Amounts outside 0..1
 * are held to it; NaN is the effect alone. */
int OpacityForAmount(double amount);

#endif
