// Cost of one frame through main (kPlugDoFrame, the host handing out a
// prepared picture) for each turn, with and without `outside` and
// `clipActive`, next to one memcpy of a frame of the same size.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestHost.h"
#include "host/iMovieGlue.h"

namespace {

struct Size {
    int w, h;
};
constexpr Size kSizes[] = {{720, 480}, {1920, 1080}, {3840, 2160}};

// A Preferences folder of the benchmark's own, so the user's file is never
// read or written.
void PrivatePrefs() {
    static std::string dir;
    if (!dir.empty()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvarin-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
}

// A host ready to send frames: shared record set, render begun, prepared
// source picture of the frame's size.
struct Rig {
    TestHost host;
    GWorldPtr source = nullptr;
    Rig(Size s, SInt16 rota, bool outside, bool clip) : host(s.w, s.h) {
        PrivatePrefs();
        host.Send(kPlugDrawIcon);
        gPascalData->rota = rota;
        gPascalData->outside = outside;
        gPascalData->clipActive = clip;
        gPascalData->colors[0] = RGBColor{0x2000, 0x8000, 0xC000};
        // Wider than high, even sizes: quarter turns spill and land on pixels.
        gPascalData->startRel = relRect{0.2, 0.8, 0.1, 0.9};
        const Rect bounds{0, 0, static_cast<int16_t>(s.h), static_cast<int16_t>(s.w)};
        NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0);
        TestHost::Paint(source, 0);
        host.prepared = source;   // handed out at every GetFrame, never disposed by the host
        host.params.frameCount = 1000000;
        host.params.renderFrame = 500000;   // outside any fade zone
        host.Send(kPlugInitialize);
    }
    ~Rig() {
        host.Send(kPlugTerminate);
        DisposeGWorld(source);
        host.calls.clear();
    }
    void Frame() {
        host.calls.clear();
        if (host.Send(kPlugDoFrame) != kPluginOK) std::abort();
    }
};

void BM_Frame(benchmark::State &state) {
    const Size s = kSizes[state.range(0)];
    Rig rig(s, static_cast<SInt16>(state.range(1)), state.range(2) != 0, state.range(3) != 0);
    for (auto _ : state) {
        rig.Frame();
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(s.w) + "x" + std::to_string(s.h) + " rota " + std::to_string(state.range(1)) +
                   (state.range(2) ? " outside" : "") + (state.range(3) ? " clip" : ""));
    state.SetBytesProcessed(state.iterations() * int64_t(s.w) * s.h * 4);
}
BENCHMARK(BM_Frame)
    ->ArgsProduct({{0, 1, 2}, {1, 2, 3, 4}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FrameMemcpy(benchmark::State &state) {
    const Size s = kSizes[state.range(0)];
    const size_t bytes = size_t(s.w) * s.h * 4;
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(s.w) + "x" + std::to_string(s.h) + " memcpy");
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_FrameMemcpy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peak resident memory of a child process rendering a whole selection of
// 1080p frames with a fade at both ends: it must not grow with the length.
void BM_PeakRSS(benchmark::State &state) {
    const int frames = static_cast<int>(state.range(0));
    long peakKB = 0;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            {
                Rig rig(kSizes[1], 2, false, true);
                rig.host.Send(kPlugTerminate);
                rig.host.fadeIn = rig.host.fadeOut = 30;
                rig.host.params.frameCount = frames;
                rig.host.Send(kPlugInitialize);
                for (int f = 0; f < frames; ++f) {
                    rig.host.params.renderFrame = f;
                    rig.Frame();
                }
            }
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("child failed");
        peakKB = usage.ru_maxrss;
    }
    state.counters["peak_rss_MB"] = double(peakKB) / 1024.0;
    state.SetLabel(std::to_string(frames) + " frames 1920x1080");
}
BENCHMARK(BM_PeakRSS)->Arg(100)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
