// The plug-in's ARGB pictures to 8-bit 4:2:0 for the encoder, at the same
// size: the conversion every rendered frame takes on its way out.
//
// hyhost asks swscale for bicubic chroma from every pixel (full chroma
// input) with accurate rounding, which Debian's FFmpeg runs partly in plain
// C. This module does the same integer steps (the same RGB to YUV weights,
// the same 15-bit intermediates and bicubic taps, the same rounding), so its
// bytes are swscale's, with a vector kernel beside a plain reference. As on
// the decoding side, the caller checks a plan's first frame against swscale.
#pragma once

#include "ScalerTaps.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// swscale's RGB to YUV weights, 15 fraction bits.
struct RgbYuvWeights {
    int32_t ry = 0, gy = 0, by = 0, ru = 0, gu = 0, bu = 0, rv = 0, gv = 0, bv = 0;
};

struct ArgbYuvPlan {
    int width = 0, height = 0;
    int chromaWidth = 0, chromaHeight = 0;
    RgbYuvWeights w;
    ScalerTaps across;  // picture columns to chroma columns, weights of 1 << 14
    ScalerTaps down;    // picture rows to chroma rows, weights of 1 << 12
    // Chroma columns [steadyFirst, steadyEnd) all have the taps of the first,
    // each reading two picture columns right of the one before.
    int steadyFirst = 0, steadyEnd = 0;
};

// The plan for width x height with the output matrix `table` (as from
// sws_getCoefficients), limited range; nothing for pictures or ranges the
// vector conversion does not do (swscale then converts).
std::optional<ArgbYuvPlan> MakeArgbYuvPlan(int width, int height, const int *table, bool fullRange);

struct YuvOutPlanes {
    uint8_t *data[3];
    ptrdiff_t stride[3];
};

// Converts width x height ARGB pixels, rows `stride` bytes apart.
// `reference` forces the plain loops.
void ArgbToYuv(const ArgbYuvPlan &plan, const uint8_t *argb, ptrdiff_t stride, const YuvOutPlanes &out,
               bool reference = false);

// The row steps, for the kernels' tests. split: n ARGB pixels to 8-bit luma
// and 15-bit chroma samples of each pixel. across: chroma columns [first,
// end) of the steady run from one row of those samples. down: one chroma
// row of n samples from plan.down.size filtered rows.
struct ArgbYuvRowKernels {
    const char *name;
    void (*split)(const uint8_t *argb, int n, const RgbYuvWeights &w, uint8_t *luma, int16_t *u, int16_t *v);
    void (*across)(const int16_t *src, const ScalerTaps &taps, int first, int end, int16_t *out);
    void (*down)(const int16_t *const *rows, const int16_t *taps, int size, int n, uint8_t *out);
};
// The reference first, then every kernel this CPU runs.
std::vector<ArgbYuvRowKernels> ArgbYuvRowKernelSets();
