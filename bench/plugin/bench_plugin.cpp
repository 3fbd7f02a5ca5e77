// Cost of one frame through main (kPlugDoFrame, the host handing out a
// prepared picture) for each turn, with and without `outside` and
// `clipActive`, on whole-pixel and half-pixel rectangles (one odd side) and
// inside a fade, at 720p, 1080p and 4K. Every iteration also times one
// memcpy of the frame and FFmpeg's filter graph for the same mode on the
// same ARGB frame (libavfilter in process, one thread), one after the other,
// so that the ratios compare like with like on a busy machine: the counters
// are medians over the iterations, `copies` = effect / memcpy and
// `vs_ffmpeg` = effect / FFmpeg.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "PlatformRaster.h"
#include "TestHost.h"
#include "host/iMovieGlue.h"

namespace {

struct Size {
    int w, h;
};
constexpr Size kSizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
constexpr uint32_t kFill = 0x2080C0;  // colors[0] below, as 8-bit RGB
constexpr int kFadeFrame = 15, kFadeFrames = 30;

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

// The active rectangle: 60 % of the width from 20 %, 80 % of the height from
// 10 % (even sides at these sizes); `half` makes the width one pixel more,
// so quarter turns land on half pixels.
struct Area {
    int x, y, w, h;
};
Area AreaOf(Size s, bool half) { return {s.w / 5, s.h / 10, s.w * 3 / 5 + (half ? 1 : 0), s.h * 4 / 5}; }

// A fade's Blit: the same-size blend every host does for it.
HYPluginResult BlendBlit(PixMapHandle src, PixMapHandle dst, Rect srcRect, const Rect *dstRect, int16_t opacity) {
    const PixMap &s = **src, &d = **dst;
    PlatformBlend(
        static_cast<const uint8_t *>(static_cast<void *>(s.baseAddr)) + srcRect.top * s.rowBytes + srcRect.left * 4,
        s.rowBytes, reinterpret_cast<uint8_t *>(d.baseAddr) + dstRect->top * d.rowBytes + dstRect->left * 4, d.rowBytes,
        srcRect.right - srcRect.left, srcRect.bottom - srcRect.top, opacity);
    return kPluginOK;
}

// A host ready to send frames: shared record set, render begun, prepared
// source picture of the frame's size.
struct Rig {
    TestHost host;
    GWorldPtr source = nullptr;
    Rig(Size s, SInt16 rota, bool outside, bool clip, bool half, bool fade) : host(s.w, s.h) {
        PrivatePrefs();
        host.Send(kPlugDrawIcon);
        gPascalData->rota = rota;
        gPascalData->outside = outside;
        gPascalData->clipActive = clip;
        gPascalData->colors[0] = RGBColor{0x2000, 0x8000, 0xC000};
        // Edges half a pixel past the wanted ones: the frame driver truncates.
        const Area a = AreaOf(s, half);
        gPascalData->startRel =
            relRect{(a.x + 0.5) / s.w, (a.x + a.w + 0.5) / s.w, (a.y + 0.5) / s.h, (a.y + a.h + 0.5) / s.h};
        const Rect bounds{0, 0, static_cast<int16_t>(s.h), static_cast<int16_t>(s.w)};
        NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0);
        TestHost::Paint(source, 0);
        host.prepared = source;  // handed out at every GetFrame, never disposed by the host
        host.params.frameCount = 1000000;
        host.params.renderFrame = 500000;  // outside any fade zone
        if (fade) {
            host.fadeIn = host.fadeOut = kFadeFrames;
            host.params.renderFrame = kFadeFrame;
            host.procs.Blit = BlendBlit;
        }
        host.Send(kPlugInitialize);
    }
    ~Rig() {
        host.Send(kPlugTerminate);
        DisposeGWorld(source);
        host.calls.clear();
    }
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;
    void Frame() {
        host.calls.clear();
        if (host.Send(kPlugDoFrame) != kPluginOK) std::abort();
    }
};

// ---- FFmpeg's graph for the same mode ----

std::string Box(const Area &a) {
    return "x=" + std::to_string(a.x) + ":y=" + std::to_string(a.y) + ":w=" + std::to_string(a.w) +
           ":h=" + std::to_string(a.h);
}

std::string Crop(const Area &a) {
    return "crop=w=" + std::to_string(a.w) + ":h=" + std::to_string(a.h) + ":x=" + std::to_string(a.x) +
           ":y=" + std::to_string(a.y);
}

Area Intersect(const Area &a, const Area &b) {
    const int l = std::max(a.x, b.x), t = std::max(a.y, b.y);
    const int r = std::min(a.x + a.w, b.x + b.w), d = std::min(a.y + a.h, b.y + b.h);
    return {l, t, std::max(0, r - l), std::max(0, d - t)};
}

// The mode from label `in` to label `out`, with FFmpeg's cheapest filters
// for each part: the cut-out cropped, turned (transpose, or flips for the
// half turn) and cropped to what shows (the frame, and A when clipped);
// with `outside`, pad fills the rest of the frame around it; without, the
// strips of A beside a quarter-turned picture are filled and the picture
// is overlaid on the source. Half-pixel placements land on the pixel
// before: FFmpeg has no half-pixel overlay, and its cost is the same.
std::string ModeGraph(Size s, int rota, bool outside, bool clip, bool half, const std::string &in,
                      const std::string &out) {
    const Area a = AreaOf(s, half);
    const Area frame{0, 0, s.w, s.h};
    const std::string colour = "0x" + [] {
        char hex[8];
        snprintf(hex, sizeof hex, "%06X", kFill);
        return std::string(hex);
    }();
    if (rota == 1 && !outside) return "[" + in + "]copy[" + out + "]";
    const bool quarter = rota == 2 || rota == 4;
    const int tw = quarter ? a.h : a.w, th = quarter ? a.w : a.h;
    const Area turned{a.x + (a.w - tw) / 2, a.y + (a.h - th) / 2, tw, th};
    const Area shown = Intersect(clip ? Intersect(turned, a) : turned, frame);
    std::string picture = Crop(a) + (rota == 1   ? ""
                                     : rota == 3 ? ",hflip,vflip"
                                     : rota == 2 ? ",transpose=cclock"
                                                 : ",transpose=clock");
    if (shown.w != tw || shown.h != th) {
        picture += ',';
        picture += Crop({shown.x - turned.x, shown.y - turned.y, shown.w, shown.h});
    }
    if (outside)
        return "[" + in + "]" + picture + ",pad=w=" + std::to_string(s.w) + ":h=" + std::to_string(s.h) +
               ":x=" + std::to_string(shown.x) + ":y=" + std::to_string(shown.y) + ":color=" + colour + "[" + out + "]";
    std::string strips;
    auto strip = [&](int x, int y, int w, int h) {
        if (w <= 0 || h <= 0) return;
        if (!strips.empty()) strips += ',';
        strips += "drawbox=";
        strips += Box({x, y, w, h});
        strips += ":color=";
        strips += colour;
        strips += ":t=fill";
    };
    if (quarter && a.w > a.h) {
        strip(a.x, a.y, turned.x - a.x, a.h);
        strip(turned.x + tw, a.y, a.x + a.w - turned.x - tw, a.h);
    } else if (quarter && a.h > a.w) {
        strip(a.x, a.y, a.w, turned.y - a.y);
        strip(a.x, turned.y + th, a.w, a.y + a.h - turned.y - th);
    }
    return "[" + in + "]split[bg0][cut0];[bg0]" + (strips.empty() ? "null" : strips) + "[bg];[cut0]" + picture +
           "[cut];[bg][cut]overlay=x=" + std::to_string(shown.x) + ":y=" + std::to_string(shown.y) + ":format=rgb[" +
           out + "]";
}

// A fade: the source over the mode's frame at the fade's opacity.
std::string FfmpegGraph(Size s, int rota, bool outside, bool clip, bool half, bool fade) {
    if (!fade) return ModeGraph(s, rota, outside, clip, half, "in", "out");
    const double alpha = std::trunc(255.0 * (1.0 - double(kFadeFrame) / kFadeFrames)) / 255.0;
    return "[in]split[src0][eff0];" + ModeGraph(s, rota, outside, clip, half, "eff0", "eff") +
           ";[src0]colorchannelmixer=aa=" + std::to_string(alpha) + "[src];[eff][src]overlay=format=rgb[out]";
}

struct FfmpegRun {
    AVFilterGraph *graph = nullptr;
    AVFilterContext *src = nullptr, *sink = nullptr;
    AVFrame *in = nullptr, *out = nullptr;
    int64_t pts = 0;
    std::string error;

    FfmpegRun(Size s, const std::string &desc) {
        graph = avfilter_graph_alloc();
        in = av_frame_alloc();
        out = av_frame_alloc();
        if (!graph || !in || !out) {
            error = "out of memory";
            return;
        }
        graph->nb_threads = 1;
        const std::string args = "video_size=" + std::to_string(s.w) + "x" + std::to_string(s.h) +
                                 ":pix_fmt=" + std::to_string(int(AV_PIX_FMT_ARGB)) +
                                 ":time_base=1/25:pixel_aspect=1/1";
        if (avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args.c_str(), nullptr, graph) <
                0 ||
            avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph) <
                0) {
            error = "cannot make the buffer filters";
            return;
        }
        const enum AVPixelFormat formats[] = {AV_PIX_FMT_ARGB, AV_PIX_FMT_NONE};
        av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
        AVFilterInOut *outputs = avfilter_inout_alloc(), *inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = src;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        const int parsed = avfilter_graph_parse_ptr(graph, desc.c_str(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (parsed < 0 || avfilter_graph_config(graph, nullptr) < 0) {
            error = "cannot build the graph " + desc;
            return;
        }
        in->format = AV_PIX_FMT_ARGB;
        in->width = s.w;
        in->height = s.h;
        if (av_frame_get_buffer(in, 0) < 0) {
            error = "out of memory";
            return;
        }
        for (int y = 0; y < s.h; ++y) {
            uint8_t *row = in->data[0] + y * in->linesize[0];
            for (int x = 0; x < s.w; ++x) {
                row[4 * x] = 0xFF;
                row[4 * x + 1] = uint8_t(x * 7 + y * 3);
                row[4 * x + 2] = uint8_t(y * 13 + x);
                row[4 * x + 3] = uint8_t((x * 31) ^ (y * 17));
            }
        }
        if (!Frame()) error = "the graph gives no frame for one frame in";
    }
    ~FfmpegRun() {
        av_frame_free(&in);
        av_frame_free(&out);
        avfilter_graph_free(&graph);
    }
    FfmpegRun(const FfmpegRun &) = delete;
    FfmpegRun &operator=(const FfmpegRun &) = delete;

    bool Frame() {
        in->pts = pts++;
        if (av_buffersrc_add_frame_flags(src, in, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) return false;
        const bool got = av_buffersink_get_frame(sink, out) >= 0;
        av_frame_unref(out);
        return got;
    }
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

template <typename F>
double Seconds(F &&f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Arguments: size, rota, outside, clip, half-pixel, fade.
void BM_Frame(benchmark::State &state) {
    const Size s = kSizes[state.range(0)];
    const auto rota = static_cast<int>(state.range(1));
    const bool outside = state.range(2) != 0, clip = state.range(3) != 0, half = state.range(4) != 0,
               fade = state.range(5) != 0;
    Rig rig(s, static_cast<SInt16>(rota), outside, clip, half, fade);
    FfmpegRun ff(s, FfmpegGraph(s, rota, outside, clip, half, fade));
    if (!ff.error.empty()) {
        state.SkipWithError(ff.error.c_str());
        return;
    }
    const size_t bytes = size_t(s.w) * s.h * 4;
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    std::vector<double> effect, copy, ffmpeg;
    for (int warm = 0; warm < 3; ++warm) {  // first-touch page faults, pools, caches
        rig.Frame();
        std::memcpy(b.data(), a.data(), bytes);
        if (!ff.Frame()) std::abort();
    }
    for (auto _ : state) {
        const double t = Seconds([&] { rig.Frame(); });
        state.SetIterationTime(t);
        effect.push_back(t);
        copy.push_back(Seconds([&] {
            std::memcpy(b.data(), a.data(), bytes);
            benchmark::DoNotOptimize(b.data());
            benchmark::ClobberMemory();
        }));
        ffmpeg.push_back(Seconds([&] {
            if (!ff.Frame()) std::abort();
        }));
    }
    const double e = Median(effect), c = Median(copy), f = Median(ffmpeg);
    state.counters["ms"] = e * 1e3;
    state.counters["memcpy_ms"] = c * 1e3;
    state.counters["ffmpeg_ms"] = f * 1e3;
    state.counters["copies"] = c > 0 ? e / c : 0;
    state.counters["vs_ffmpeg"] = f > 0 ? e / f : 0;
    state.SetLabel(std::to_string(s.w) + "x" + std::to_string(s.h) + " rota " + std::to_string(rota) +
                   (half ? " half-pixel" : "") + (outside ? " outside" : "") + (clip ? " clip" : "") +
                   (fade ? " fade" : ""));
}

// Every turn with outside and clip on and off on the whole-pixel rectangle,
// quarter turns on the half-pixel one too; in a fade, each turn once.
void FrameArgs(benchmark::internal::Benchmark *b) {
    for (int size = 0; size < 3; ++size) {
        for (int rota = 1; rota <= 4; ++rota)
            for (int outside = 0; outside <= 1; ++outside)
                for (int clip = 0; clip <= 1; ++clip)
                    for (int half = 0; half <= (rota == 2 || rota == 4 ? 1 : 0); ++half)
                        b->Args({size, rota, outside, clip, half, 0});
        for (int rota = 1; rota <= 4; ++rota) b->Args({size, rota, 0, 1, 0, 1});
        b->Args({size, 2, 0, 1, 1, 1});
    }
}
BENCHMARK(BM_Frame)->Apply(FrameArgs)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(0.2);

// Peak resident memory of a child process rendering a whole selection of
// 1080p frames with a fade at both ends: it must not grow with the length.
void BM_PeakRSS(benchmark::State &state) {
    const int frames = static_cast<int>(state.range(0));
    long peakKB = 0;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            {
                Rig rig(kSizes[1], 2, false, true, false, false);
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
