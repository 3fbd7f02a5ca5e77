// Decoded 4:2:0 video to ARGB at the same size, the conversion every render
// does once a frame.
//
// hyhost converts with swscale's bicubic chroma, accurate rounding and full
// chroma interpolation, which Debian's FFmpeg runs in plain C: about 15 ms a
// 1080p frame, more than the plug-in and the encoder's share together. This
// module does the same arithmetic step for step (the same fixed-point filter
// taps, the same 15-bit intermediate chroma, the same rounding and clipping),
// so its bytes are swscale's bytes, with a vector kernel beside a plain
// reference loop. The caller checks the first frame of every plan against
// swscale and keeps swscale if they ever differ.
#pragma once

#include "ScalerTaps.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>


// The colour inputs swscale's conversion takes: its inverse matrix table
// (sws_getCoefficients), the source range and the picture adjustments.
struct YuvColour {
    const int *table = nullptr;
    bool fullRange = false;
    int brightness = 0;
    int contrast = 1 << 16;
    int saturation = 1 << 16;
};

// The integer conversion from luma and filtered chroma to R, G and B.
struct YuvArgbCoefficients {
    int32_t yOffset = 0, yCoeff = 0, v2r = 0, v2g = 0, u2g = 0, u2b = 0;
};

struct YuvArgbPlan {
    int width = 0, height = 0;
    int chromaWidth = 0, chromaHeight = 0;
    ScalerTaps across;  // chroma columns to picture columns, four taps of 1 << 14
    ScalerTaps down;    // chroma rows to picture rows, four taps of 1 << 12
    // Picture columns [steadyFirst, steadyEnd) alternate between the taps of
    // the first two, each pair reading one chroma column right of the one before.
    int steadyFirst = 0, steadyEnd = 0;
    YuvArgbCoefficients k;
};

// The plan for a width x height picture, or nothing when the picture is too
// small for four-tap chroma filters (swscale then takes other paths).
std::optional<YuvArgbPlan> MakeYuvArgbPlan(int width, int height, const YuvColour &colour);

struct YuvPlanes {
    const uint8_t *data[3];  // Y, U, V
    ptrdiff_t stride[3];
};

// Writes plan.height rows of plan.width ARGB pixels (A = 255) at dst.
// `reference` forces the plain loops.
void YuvToArgb(const YuvArgbPlan &plan, const YuvPlanes &src, uint8_t *dst, ptrdiff_t dstStride,
               bool reference = false);

// The row steps, for the kernels' tests. across: picture columns [first,
// end) of the steady run as 15-bit samples from chroma row `src`. toArgb:
// one picture row from its luma and four filtered chroma rows of each plane.
struct YuvRowKernels {
    const char *name;
    void (*across)(const uint8_t *src, const ScalerTaps &taps, int first, int end, int16_t *out);
    void (*toArgb)(const uint8_t *y, const int16_t *const u[4], const int16_t *const v[4], const int16_t down[4],
                   const YuvArgbCoefficients &k, int n, uint32_t *out);
};
// The reference first, then every kernel this CPU runs.
std::vector<YuvRowKernels> YuvRowKernelSets();

