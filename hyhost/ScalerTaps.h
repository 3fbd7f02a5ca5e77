// swscale's bicubic filter taps, built as swscale builds them, so that
// hyhost's own conversions can reproduce its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// A separable filter: output i reads inputs pos[i] .. pos[i] + size - 1 with
// the weights coef[size i] .. (fixed point, summing to the `one` asked for).
struct ScalerTaps {
    int size = 0;
    std::vector<int32_t> pos;
    std::vector<int16_t> coef;
};

// The bicubic taps (B = 0, C = 0.6) from srcW samples to dstW: `inc` is one
// output step in input samples with 16 fraction bits, `align` the multiple
// the tap count is padded to (4 across, 2 down on x86), srcPos and dstPos
// where the planes' samples sit (SitingOf). Nothing when the sizes are too
// small for the filter swscale would use.
std::optional<ScalerTaps> SwscaleBicubicTaps(int64_t inc, int srcW, int dstW, int align, int one, int srcPos,
                                             int dstPos);

// Where a plane's samples sit, in 1/256 of a full-resolution sample from the
// edge, for a plane subsampled by 2^subsampled: centred between the samples
// it stands for, as swscale assumes when not told otherwise.
int SitingOf(int subsampled);

// Steps of one output sample in input samples, 16 fraction bits, rounded.
int64_t ScalerStep(int srcW, int dstW);

// a / b rounded to nearest, halves away from zero, as swscale divides.
int64_t RoundedDiv(int64_t a, int64_t b);
