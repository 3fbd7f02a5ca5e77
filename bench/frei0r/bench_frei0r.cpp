// One 1080p frame through the frei0r filter (f0r_update: the frame into the
// platform's byte order, the compositor, the frame back, the mix) beside the
// HY path's frame (the compositor on pictures already in its byte order),
// for the same settings.
#include <benchmark/benchmark.h>

extern "C" {
#include <frei0r.h>
}

#include "config/pascalFX.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kW = 1920, kH = 1080;

// Settings: turn as a fraction and the rectangle (whole pixels at a half turn,
// half pixels at a quarter turn), amount.
struct Setting {
    double rect[4];
    double turn;
    double amount;
};
const Setting kSettings[] = {
    {{0.25, 0.25, 0.75, 0.75}, 0.5, 1.0},  // half turn, whole pixels
    {{0.25, 0.2, 0.75, 0.8}, 0.25, 1.0},   // quarter turn, half pixels
    {{0.25, 0.2, 0.75, 0.8}, 0.25, 0.5},   // the same mixed over the frame
};

std::vector<uint32_t> Frame() {
    std::vector<uint32_t> frame(size_t(kW) * kH);
    for (size_t i = 0; i < frame.size(); ++i) {  // opaque: alpha is the fourth byte
        const uint32_t v = uint32_t(i * 2654435761u);
        const uint8_t rgba[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0xFF};
        std::memcpy(&frame[i], rgba, 4);
    }
    return frame;
}

struct Filter {
    void *handle = dlopen(KELVARIN_FREI0R, RTLD_NOW | RTLD_LOCAL);
    ~Filter() {
        if (handle) dlclose(handle);
    }
    template <class F>
    F *Get(const char *name) {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }
};

void BM_Frei0rUpdate(benchmark::State &state) {
    Filter f;
    if (!f.handle) {
        state.SkipWithError(dlerror());
        return;
    }
    const Setting &s = kSettings[state.range(0)];
    auto *setValue = f.Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_set_param_value");
    auto *update = f.Get<void(f0r_instance_t, double, const uint32_t *, uint32_t *)>("f0r_update");
    f0r_instance_t in = f.Get<f0r_instance_t(unsigned, unsigned)>("f0r_construct")(kW, kH);
    double values[6] = {s.rect[0], s.rect[1], s.rect[2], s.rect[3], s.turn, 0.0};
    for (int i = 0; i < 6; ++i) setValue(in, &values[i], i);
    double amount = s.amount;
    setValue(in, &amount, 8);
    const std::vector<uint32_t> frame = Frame();
    std::vector<uint32_t> out(frame.size());
    for (auto _ : state) {
        update(in, 0.0, frame.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    f.Get<void(f0r_instance_t)>("f0r_destruct")(in);
}
BENCHMARK(BM_Frei0rUpdate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HyPathFrame(benchmark::State &state) {
    const Setting &s = kSettings[state.range(0)];
    const Rect bounds{0, 0, kH, kW};
    GWorldPtr source = nullptr, target = nullptr;
    NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0);
    NewGWorld(&target, 32, &bounds, nullptr, nullptr, 0);
    const std::vector<uint32_t> frame = Frame();
    PixMapHandle pm = GetGWorldPixMap(source);
    for (unsigned y = 0; y < kH; ++y)
        for (unsigned x = 0; x < kW; ++x) {  // R,G,B,A to the picture's A,R,G,B
            const auto *p = reinterpret_cast<const uint8_t *>(&frame[size_t(y) * kW + x]);
            const uint8_t argb[4] = {p[3], p[0], p[1], p[2]};
            std::memcpy(reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)) + size_t(y) * GetPixRowBytes(pm) + 4 * x, argb,
                        4);
        }
    pluginDataRec record{};
    ResetConfig(&record, true);
    record.startRel = SetRelRect(s.rect[0], s.rect[1], s.rect[2], s.rect[3]);
    record.rota = SInt16(s.turn * 4 + 1);
    record.outside = false;
    for (auto _ : state) DoEffect(&record, source, target, 0, 1);
    DisposeGWorld(source);
    DisposeGWorld(target);
}
BENCHMARK(BM_HyPathFrame)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
