// Decoding's conversion of a 4:2:0 frame to ARGB at its own size, as every
// render does once a frame: swscale (bicubic chroma, accurate rounding, full
// chroma interpolation, on all cores) beside hyhost's vector conversion with
// the same output (one core), and a memcpy of the ARGB frame, one after the
// other in every iteration. Counters are medians: `copies` = conversion /
// memcpy, `vs_swscale` = conversion / swscale.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "VideoSource.h"
#include "YuvToArgb.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

template <class F> double Seconds(F &&f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_YuvToArgb(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = w;
    frame->height = h;
    frame->colorspace = AVCOL_SPC_BT709;
    if (av_frame_get_buffer(frame.get(), 64) < 0) return state.SkipWithError("no memory");
    std::mt19937 rng(7);
    for (int p = 0; p < 3; p++)
        for (int y = 0; y < (p ? (h + 1) / 2 : h); y++)
            for (int x = 0; x < frame->linesize[p]; x++) frame->data[p][y * frame->linesize[p] + x] = uint8_t(rng());
    YuvColour colour;
    colour.table = sws_getCoefficients(SWS_CS_ITU709);
    auto plan = MakeYuvArgbPlan(w, h, colour);
    if (!plan) return state.SkipWithError("no plan for this size");
    YuvPlanes planes{{frame->data[0], frame->data[1], frame->data[2]},
                     {frame->linesize[0], frame->linesize[1], frame->linesize[2]}};
    SwsPtr scaler;
    ArgbPicture bySwscale = MakePicture(w, h), byPlan = MakePicture(w, h), copy = MakePicture(w, h);
    std::vector<double> ours, theirs, copies;
    for (auto _ : state) {
        theirs.push_back(Seconds([&] { SwscaleToPicture(scaler, *frame, w, h, true, bySwscale); }));
        ours.push_back(Seconds([&] { YuvToArgb(*plan, planes, byPlan.pixels.get(), ptrdiff_t(byPlan.RowBytes())); }));
        copies.push_back(Seconds([&] { std::memcpy(copy.pixels.get(), bySwscale.pixels.get(), bySwscale.ByteCount()); }));
        benchmark::DoNotOptimize(copy.pixels.get());
    }
    if (std::memcmp(bySwscale.pixels.get(), byPlan.pixels.get(), byPlan.ByteCount()) != 0)
        return state.SkipWithError("the conversions differ");
    const double o = Median(ours), s = Median(theirs), c = Median(copies);
    state.counters["ms"] = o * 1e3;
    state.counters["swscale_ms"] = s * 1e3;
    state.counters["copies"] = o / c;
    state.counters["vs_swscale"] = o / s;
}

}  // namespace

BENCHMARK(BM_YuvToArgb)->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
