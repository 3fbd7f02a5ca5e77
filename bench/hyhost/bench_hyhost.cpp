// A 1080p clip of 10 s rendered through `hyhost render` (Kelvarin turning the
// middle quarter of the frame a quarter turn, clipped, fill-colour strips)
// and through the ffmpeg command with the equivalent filter graph
// (crop + transpose + crop, drawbox, overlay), same encoder and preset, in
// one run. Counters: wall seconds of each, their ratio, the plug-in's share
// of hyhost's wall time (from hyhost --stats).
//
// HYHOST_BENCH_PRESET picks the x264 preset for both (default veryfast).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Workspace {
    fs::path dir;
    std::string clip;
    bool ok = false;
    Workspace() {
        char pattern[] = "/tmp/bench-hyhost-XXXXXX";
        if (!mkdtemp(pattern)) return;
        dir = pattern;
        fs::create_directories(dir / "config");
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);  // never the user's settings
        clip = (dir / "source-1080p.mp4").string();
        std::string make = std::string(FFMPEG_PATH) +
                           " -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10"
                           " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10"
                           " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac " +
                           clip;
        std::string prefs = std::string(PREFS_PATH) +
                            " set rect=0.25,0.25,0.75,0.75 rota=90 clip=on outside=off color=#1E64C8 >/dev/null";
        ok = std::system(make.c_str()) == 0 && std::system(prefs.c_str()) == 0;
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

double Timed(const std::string &cmd, int &status) {
    auto start = std::chrono::steady_clock::now();
    status = std::system(cmd.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PluginSeconds(const fs::path &statsFile) {
    std::ifstream in(statsFile);
    std::string line;
    while (std::getline(in, line)) {
        auto pos = line.find("plugin=");
        if (line.rfind("stats:", 0) == 0 && pos != std::string::npos) return std::atof(line.c_str() + pos + 7);
    }
    return -1;
}

void BM_RenderAgainstFfmpeg(benchmark::State &state) {
    static Workspace ws;
    if (!ws.ok) {
        state.SkipWithError("could not make the 1080p clip or the configuration");
        return;
    }
    const char *env = std::getenv("HYHOST_BENCH_PRESET");
    std::string preset = env && *env ? env : "veryfast";
    // Rectangle 960x540 at (480,270); turned 540x960, clipped to the middle
    // 540x540; strips of 210 px in the fill colour beside it.
    std::string graph =
        "[0:v]split[a][b];[b]crop=960:540:480:270,transpose=cclock,crop=540:540:0:210[t];"
        "[a]drawbox=x=480:y=270:w=960:h=540:color=0x1E64C8:t=fill[bg];[bg][t]overlay=690:270[v]";
    fs::path hyOut = ws.dir / "hyhost.mp4", ffOut = ws.dir / "ffmpeg.mp4", stats = ws.dir / "stats.txt";
    std::string hyCmd = std::string(HYHOST_PATH) + " render " + ws.clip + " -o " + hyOut.string() + " -y --preset " +
                        preset + " --quiet --stats 2>" + stats.string();
    std::string ffCmd = std::string(FFMPEG_PATH) + " -v error -y -i " + ws.clip + " -filter_complex \"" + graph +
                        "\" -map [v] -map 0:a -c:v libx264 -preset " + preset +
                        " -pix_fmt yuv420p -c:a aac -b:a 128k " + ffOut.string();
    double hy = 0, ff = 0, plugin = 0;
    for (auto _ : state) {
        int s1 = 0, s2 = 0;
        hy = Timed(hyCmd, s1);
        ff = Timed(ffCmd, s2);
        if (s1 != 0 || s2 != 0) {
            state.SkipWithError("a render failed");
            return;
        }
        plugin = PluginSeconds(stats);
        state.SetIterationTime(hy);
    }
    state.counters["hyhost_s"] = hy;
    state.counters["ffmpeg_s"] = ff;
    state.counters["ratio"] = ff > 0 ? hy / ff : 0;
    state.counters["plugin_share_pct"] = hy > 0 ? 100.0 * plugin / hy : 0;
    state.counters["plugin_ms_per_frame"] = plugin * 1000.0 / 250.0;
    state.SetLabel("preset " + preset + ", 250 frames 1920x1080");
}

}  // namespace

BENCHMARK(BM_RenderAgainstFfmpeg)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
