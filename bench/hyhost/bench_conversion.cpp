// The conversions every render does once a frame, at the frame's own size:
// a decoded 4:2:0 frame to ARGB (bicubic chroma, accurate rounding, full
// chroma interpolation) and the plug-in's ARGB picture back to 4:2:0 for the
// encoder (full chroma input). Each iteration times swscale (on all cores),
// hyhost's vector conversion with the same output, and a memcpy of the ARGB
// frame, one after the other. Counters are medians: `copies` = conversion /
// memcpy, `vs_swscale` = conversion / swscale.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "ArgbToYuv.h"
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

void Report(benchmark::State &state, const std::vector<double> &ours, const std::vector<double> &theirs,
            const std::vector<double> &copies) {
    const double o = Median(ours), s = Median(theirs), c = Median(copies);
    state.counters["ms"] = o * 1e3;
    state.counters["swscale_ms"] = s * 1e3;
    state.counters["copies"] = o / c;
    state.counters["vs_swscale"] = o / s;
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
    // Once untimed: the first touch of the pictures' pages is not the conversions' cost.
    SwscaleToPicture(scaler, *frame, w, h, true, bySwscale);
    YuvToArgb(*plan, planes, byPlan.pixels.get(), ptrdiff_t(byPlan.RowBytes()));
    std::memcpy(copy.pixels.get(), bySwscale.pixels.get(), bySwscale.ByteCount());
    std::vector<double> ours, theirs, copies;
    for (auto _ : state) {
        theirs.push_back(Seconds([&] { SwscaleToPicture(scaler, *frame, w, h, true, bySwscale); }));
        ours.push_back(Seconds([&] { YuvToArgb(*plan, planes, byPlan.pixels.get(), ptrdiff_t(byPlan.RowBytes())); }));
        copies.push_back(Seconds([&] { std::memcpy(copy.pixels.get(), bySwscale.pixels.get(), bySwscale.ByteCount()); }));
        benchmark::DoNotOptimize(copy.pixels.get());
    }
    if (std::memcmp(bySwscale.pixels.get(), byPlan.pixels.get(), byPlan.ByteCount()) != 0)
        return state.SkipWithError("the conversions differ");
    Report(state, ours, theirs, copies);
}

void BM_ArgbToYuv(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    ArgbPicture argb = MakePicture(w, h), copy = MakePicture(w, h);
    std::mt19937 rng(7);
    for (size_t i = 0; i < argb.ByteCount(); i++) argb.pixels[i] = uint8_t(rng());
    auto plan = MakeArgbYuvPlan(w, h, sws_getCoefficients(SWS_CS_ITU709), false);
    if (!plan) return state.SkipWithError("no plan for this size");
    AVFramePtr bySwscale(av_frame_alloc()), byPlan(av_frame_alloc());
    for (AVFrame *f : {bySwscale.get(), byPlan.get()}) {
        f->format = AV_PIX_FMT_YUV420P;
        f->width = w;
        f->height = h;
        if (av_frame_get_buffer(f, 0) < 0) return state.SkipWithError("no memory");
    }
    SwsPtr held;
    SwsContext *scaler = SlicedScaler(held, w, h, AV_PIX_FMT_ARGB, w, h, AV_PIX_FMT_YUV420P,
                                      SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP);
    ColourModel to;
    to.matrix = SWS_CS_ITU709;
    SetConversionColour(scaler, ColourModel{}, to);
    AVFramePtr lent = LendPicture(argb);
    YuvOutPlanes planes{{byPlan->data[0], byPlan->data[1], byPlan->data[2]},
                        {byPlan->linesize[0], byPlan->linesize[1], byPlan->linesize[2]}};
    sws_scale_frame(scaler, bySwscale.get(), lent.get());  // untimed, as above
    ArgbToYuv(*plan, argb.pixels.get(), ptrdiff_t(argb.RowBytes()), planes);
    std::memcpy(copy.pixels.get(), argb.pixels.get(), argb.ByteCount());
    std::vector<double> ours, theirs, copies;
    for (auto _ : state) {
        theirs.push_back(Seconds([&] { sws_scale_frame(scaler, bySwscale.get(), lent.get()); }));
        ours.push_back(Seconds([&] { ArgbToYuv(*plan, argb.pixels.get(), ptrdiff_t(argb.RowBytes()), planes); }));
        copies.push_back(Seconds([&] { std::memcpy(copy.pixels.get(), argb.pixels.get(), argb.ByteCount()); }));
        benchmark::DoNotOptimize(copy.pixels.get());
    }
    for (int p = 0; p < 3; p++)
        for (int y = 0; y < (p ? (h + 1) / 2 : h); y++)
            if (std::memcmp(bySwscale->data[p] + y * bySwscale->linesize[p], byPlan->data[p] + y * byPlan->linesize[p],
                            size_t(p ? (w + 1) / 2 : w)) != 0)
                return state.SkipWithError("the conversions differ");
    Report(state, ours, theirs, copies);
}

}  // namespace

BENCHMARK(BM_YuvToArgb)->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArgbToYuv)->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
