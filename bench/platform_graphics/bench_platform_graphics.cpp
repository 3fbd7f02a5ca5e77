// Costs of the graphics calls a render makes per frame, each beside a plain
// memcpy (or memset) of the same number of pixels in the same run.
#include "CoreGraphics.h"
#include "QuickDraw.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kFrameW = 1920, kFrameH = 1080;

GWorldPtr NewPicture(int w, int h) {
    GWorldPtr gw = nullptr;
    Rect r{0, 0, int16_t(h), int16_t(w)};
    NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
    return gw;
}

void Memcpy(benchmark::State &state, size_t bytes) {
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Memcpy_1080p(benchmark::State &state) { Memcpy(state, size_t(kFrameW) * kFrameH * 4); }

void BM_Memset_1080p(benchmark::State &state) {
    const size_t bytes = size_t(kFrameW) * kFrameH * 4;
    std::vector<uint8_t> a(bytes);
    for (auto _ : state) {
        std::memset(a.data(), 0x7F, bytes);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_NewDisposeGWorld_1080p(benchmark::State &state) {
    for (auto _ : state) {
        GWorldPtr gw = NewPicture(kFrameW, kFrameH);
        benchmark::DoNotOptimize(gw);
        DisposeGWorld(gw);
    }
}

void BM_CopyBits_SameSize_1080p(benchmark::State &state) {
    GWorldPtr a = NewPicture(kFrameW, kFrameH), b = NewPicture(kFrameW, kFrameH);
    Rect r{0, 0, kFrameH, kFrameW};
    for (auto _ : state) {
        CopyBits(GetPortBitMapForCopyBits(a), GetPortBitMapForCopyBits(b), &r, &r, srcCopy, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrameW * kFrameH * 4);
    DisposeGWorld(a);
    DisposeGWorld(b);
}

void BM_PaintRect_1080p(benchmark::State &state) {
    GWorldPtr gw = NewPicture(kFrameW, kFrameH);
    CGrafPtr savedPort;
    GDHandle savedDevice;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(gw, nullptr);
    RGBColor c{0x1000, 0x8000, 0xF000};
    RGBForeColor(&c);
    Rect r{0, 0, kFrameH, kFrameW};
    for (auto _ : state) {
        PaintRect(&r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrameW * kFrameH * 4);
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(gw);
}

void BM_Memcpy_960x540(benchmark::State &state) { Memcpy(state, size_t(960) * 540 * 4); }

// An opaque w x h image turned a quarter about the centre of a w x h target,
// drawn into a picture just the size of the turned image (h x w, the same
// bytes as the memcpy beside it), or into the middle of a 1080p frame.
// `shift` moves the target up by that many pixels: by half a pixel, with one
// odd side, the turned picture's edges all land on half pixels and every
// pixel averages four (two in the picture of its own size, whose other
// axis stays whole).
void QuarterTurn(benchmark::State &state, int w, int h, bool intoFrame, float shift = 0) {
    const int fw = intoFrame ? kFrameW : h, fh = intoFrame ? kFrameH : w;
    GWorldPtr src = NewPicture(w, h), frame = NewPicture(fw, fh);
    CGColorSpaceRef cs = CGColorSpaceCreateDeviceRGB();
    PixMapHandle pm = GetGWorldPixMap(src);
    CGContextRef bc = CGBitmapContextCreate(GetPixBaseAddr(pm), size_t(w), size_t(h), 8, size_t(GetPixRowBytes(pm)), cs,
                                            kCGImageAlphaPremultipliedFirst);
    CGImageRef image = CGBitmapContextCreateImage(bc);
    CGContextRelease(bc);
    CGColorSpaceRelease(cs);
    const float x = float(fw - w) / 2, y = float(fh - h) / 2 + shift;
    for (auto _ : state) {
        CGContextRef c = nullptr;
        QDBeginCGContext(frame, &c);
        CGContextSaveGState(c);
        CGContextTranslateCTM(c, x + float(w) / 2, y + float(h) / 2);
        CGContextRotateCTM(c, float(3.1415926535897932 / 2));
        CGContextDrawImage(c, CGRectMake(-float(w) / 2, -float(h) / 2, float(w), float(h)), image);
        CGContextRestoreGState(c);
        CGContextFlush(c);
        QDEndCGContext(frame, &c);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
    CGImageRelease(image);
    DisposeGWorld(src);
    DisposeGWorld(frame);
}

void BM_QuarterTurn_WholePixels_960x540(benchmark::State &state) { QuarterTurn(state, 960, 540, false); }
void BM_QuarterTurn_HalfPixels_960x541(benchmark::State &state) { QuarterTurn(state, 960, 541, false, 0.5f); }
void BM_QuarterTurn_WholePixels_960x540_In1080p(benchmark::State &state) { QuarterTurn(state, 960, 540, true); }
void BM_QuarterTurn_HalfPixels_960x541_In1080p(benchmark::State &state) { QuarterTurn(state, 960, 541, true, 0.5f); }

}  // namespace

BENCHMARK(BM_Memcpy_1080p);
BENCHMARK(BM_Memset_1080p);
BENCHMARK(BM_NewDisposeGWorld_1080p);
BENCHMARK(BM_CopyBits_SameSize_1080p);
BENCHMARK(BM_PaintRect_1080p);
BENCHMARK(BM_Memcpy_960x540);
BENCHMARK(BM_QuarterTurn_WholePixels_960x540);
BENCHMARK(BM_QuarterTurn_HalfPixels_960x541);
BENCHMARK(BM_QuarterTurn_WholePixels_960x540_In1080p);
BENCHMARK(BM_QuarterTurn_HalfPixels_960x541_In1080p);

BENCHMARK_MAIN();
