#include "Render.h"

#include "FrameQueue.h"
#include "PluginHost.h"
#include "SafeOutput.h"
#include "VideoSink.h"
#include "VideoSource.h"

#include "QuickDraw.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct VideoUnit {
    int64_t index = 0;
    ArgbPicture picture;
    double gain = 1.0;   // audio level of this frame's time span
};
struct EndUnit {};
using Unit = std::variant<EndUnit, VideoUnit, AVFramePtr>;   // default: an end marker

// What one frame queue (and the spare frames) may hold.
constexpr std::size_t kQueueBytes = std::size_t(256) << 20;

std::size_t UnitBytes(const Unit &u) {
    if (auto *v = std::get_if<VideoUnit>(&u)) return v->picture.ByteCount();
    return 0;
}

// Frame buffers travel reader -> plug-in -> writer and back, so a render
// does not map and fault in fresh pages for every frame.
struct PicturePool {
    std::mutex mutex;
    std::vector<ArgbPicture> spare;
    ArgbPicture Take() {
        std::lock_guard lock(mutex);
        if (spare.empty()) return {};
        ArgbPicture p = std::move(spare.back());
        spare.pop_back();
        return p;
    }
    void Give(ArgbPicture &&p) {
        std::lock_guard lock(mutex);
        // Few big frames are kept: memory, not the count, is what runs out.
        if (spare.size() < 16 && (spare.size() + 1) * p.ByteCount() <= kQueueBytes) spare.push_back(std::move(p));
    }
};

// The first failure of any thread wins.
struct FirstError {
    std::mutex mutex;
    std::string text;
    void Set(const std::string &e) {
        std::lock_guard lock(mutex);
        if (text.empty()) text = e;
    }
    std::string Get() {
        std::lock_guard lock(mutex);
        return text;
    }
};

bool ParseSeconds(const std::string &text, double &seconds) {
    // [[H:]M:]S[.frac][s]
    std::string t = text;
    if (!t.empty() && t.back() == 's') t.pop_back();
    if (t.empty()) return false;
    double total = 0;
    std::size_t pos = 0;
    int parts = 0;
    while (true) {
        std::size_t colon = t.find(':', pos);
        std::string part = t.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        if (part.empty() || part.find_first_not_of("0123456789.") != std::string::npos) return false;
        char *end = nullptr;
        double v = std::strtod(part.c_str(), &end);
        if (*end) return false;
        total = total * 60 + v;
        if (++parts > 3) return false;
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    seconds = total;
    return std::isfinite(total);
}

void PrintProgress(int64_t done, int64_t total, Clock::time_point start) {
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double fps = elapsed > 0 ? done / elapsed : 0;
    double left = fps > 0 ? (total - done) / fps : 0;
    int minutes = int(left) / 60, seconds = int(left) % 60;
    std::fprintf(stderr, "\rframe %lld/%lld  %.1f fps  %d:%02d left   ", (long long)done, (long long)total,
                 fps, minutes, seconds);
    std::fflush(stderr);
}

// Writes audio blocks once the level of every frame they cover is known.
struct AudioRouter {
    AVRational frameRate{25, 1};
    int sampleRate = 48000;
    int64_t position = 0;   // samples written so far
    std::deque<AVFramePtr> pending;

    // floor(s * fps / rate): the frame whose time span holds sample s
    int64_t FrameOfSample(int64_t s) const {
        return av_rescale_rnd(s, frameRate.num, int64_t(sampleRate) * frameRate.den, AV_ROUND_DOWN);
    }
    int64_t FirstSampleOfFrame(int64_t f) const {
        return av_rescale_rnd(f, int64_t(sampleRate) * frameRate.den, frameRate.num, AV_ROUND_UP);
    }

    bool Flush(ClipEncoder &encoder, const std::vector<double> &gains, bool all, std::string &error) {
        while (!pending.empty()) {
            AVFrame &block = *pending.front();
            int64_t n = block.nb_samples;
            if (!all && FrameOfSample(position + n - 1) >= int64_t(gains.size())) return true;
            // Apply each frame's level to its samples.
            int64_t s = position;
            while (s < position + n) {
                int64_t f = FrameOfSample(s);
                int64_t next = std::min(position + n, FirstSampleOfFrame(f + 1));
                if (next <= s) next = s + 1;
                double gain = f < int64_t(gains.size()) ? gains[f] : 1.0;
                ScaleSamples(block, int(s - position), int(next - s), gain);
                s = next;
            }
            if (!WriteAudio(encoder, block, error)) return false;
            position += n;
            pending.pop_front();
        }
        return true;
    }
};

}  // namespace

bool ParseFrameOrTime(const std::string &text, double fps, bool plainIsFrames, int64_t &frames) {
    if (text.empty()) return false;
    if (plainIsFrames && text.find_first_not_of("0123456789") == std::string::npos) {
        if (text.size() > 12) return false;
        frames = std::stoll(text);
        return true;
    }
    double seconds = 0;
    if (!ParseSeconds(text, seconds) || seconds > 1e7) return false;
    frames = std::llround(seconds * fps);
    return true;
}

RenderOutcome RunRender(const RenderRequest &rq) {
    RenderOutcome out;
    auto fail = [&](const std::string &e, int code = 1) {
        out.exitCode = code;
        out.error = e;
        return out;
    };
    auto started = Clock::now();
    InstallInterruptHandlers();

    std::string error;
    ClipDecoderPtr decoder = OpenClipDecoder(rq.input, error);
    if (!decoder) return fail(error);
    ClipDecoderPtr fetcher = OpenClipDecoder(rq.input, error);
    if (!fetcher) return fail(error);
    const ClipInfo info = GetClipInfo(*decoder);
    double fps = av_q2d(info.frameRate);

    // The selection, checked against the clip.
    int64_t start = 0, count = info.frameCount;
    if (!rq.from.empty() && !ParseFrameOrTime(rq.from, fps, true, start))
        return fail("--from '" + rq.from + "' is neither a frame number nor a time like 4.5s or 0:04.5", 2);
    if (!rq.frames.empty()) {
        if (!ParseFrameOrTime(rq.frames, fps, true, count) || rq.frames.find_first_not_of("0123456789") != std::string::npos)
            return fail("--frames '" + rq.frames + "' is not a number of frames", 2);
    } else if (!rq.duration.empty()) {
        if (!ParseFrameOrTime(rq.duration, fps, false, count))
            return fail("--duration '" + rq.duration + "' is not a time like 4.5s or 0:04.5", 2);
    } else {
        count = info.frameCount - start;
    }
    std::string clipRange = "the clip has " + std::to_string(info.frameCount) + " frames (0.." +
                            std::to_string(info.frameCount - 1) + ")";
    if (start < 0 || start >= info.frameCount)
        return fail("the selection starts at frame " + std::to_string(start) + ", outside the clip; " + clipRange);
    if (count <= 0) return fail("the selection is empty; give at least one frame");
    if (count > info.frameCount - start)
        return fail("the selection (frames " + std::to_string(start) + ".." + std::to_string(start + count - 1) +
                    ") reaches past the end of the clip; " + clipRange);
    if (count > INT32_MAX || start > INT32_MAX) return fail("the selection is too long for the plug-in interface");
    if (rq.fadeIn < 0 || rq.fadeOut < 0) return fail("fade counts must be 0 or more", 2);
    out.selectionStart = start;
    out.selectionCount = count;

    int width = rq.width > 0 ? rq.width : info.width;
    int height = rq.height > 0 ? rq.height : info.height;
    if (width > 16384 || height > 16384 || width <= 0 || height <= 0)
        return fail("picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable", 2);

    if (!CheckOutputPath(rq.input, rq.output, error)) return fail(error);
    if (!CheckOneFileOutput(rq.output, error)) return fail(error, 2);
    if (!CheckSettings(error)) return fail(error);
    const std::string outOfMemory = "not enough memory for " + std::to_string(width) + "x" + std::to_string(height) +
                                    " frames; try a smaller --size";

    std::string bundle;
    LoadedPlugin plugin;
    if (!FindPluginBundle(rq.plugin, bundle, error) || !LoadPlugin(bundle, plugin, error)) return fail(error);

    PendingOutput pending(rq.output);
    SinkSettings sink;
    sink.width = width;
    sink.height = height;
    sink.frameRate = info.frameRate;
    sink.videoCodec = rq.codec;
    sink.preset = rq.preset;
    sink.lossless = rq.lossless;
    sink.withAudio = info.hasAudio;
    sink.sampleRate = info.sampleRate;
    sink.sourceSampleFormat = info.sampleFormat;
    AVChannelLayout sourceLayout{};
    av_channel_layout_default(&sourceLayout, info.channels);
    sink.layout = sourceLayout;
    ClipEncoderPtr encoder;
    {
        // Some encoders print straight to the terminal when memory is short.
        QuietStderr quiet(av_log_get_level() <= AV_LOG_QUIET);
        encoder = OpenClipEncoder(rq.output, pending.TempPath(), sink, error);
    }
    if (!encoder) return fail(MemoryShort(size_t(width) * size_t(height) * 4) ? outOfMemory : error);
    if (info.hasAudio && !SetAudioTarget(*decoder, GetAudioInput(*encoder), error)) return fail(error);

    // The plug-in's render cycle.
    HostSession session;
    session.fetcher = fetcher.get();
    session.clipFrames = info.frameCount;
    session.fadeIn = rq.fadeIn;
    session.fadeOut = rq.fadeOut;
    HYPluginParams params;
    InitParams(params, session);
    params.getInfo2.selectedFrames = int32_t(count);
    if (!DescribePlugin(plugin, params, error)) return fail(error);
    if (params.getInfo.pluginType != kPluginFilterType)
        return fail("'" + plugin.bundlePath + "' is not a filter plug-in (type " +
                    std::to_string(params.getInfo.pluginType) + ")");
    Rect frameRect{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr outWorld = nullptr;
    if (NewGWorld(&outWorld, 32, &frameRect, nullptr, nullptr, 0) != noErr || !outWorld)
        return fail(outOfMemory);
    struct WorldGuard {
        GWorldPtr w;
        ~WorldGuard() { DisposeGWorld(w); }
    } worldGuard{outWorld};
    LockPixels(GetGWorldPixMap(outWorld));
    params.startFrame = int32_t(start);
    params.frameCount = int32_t(count);
    params.proxyOnly = rq.preview ? 1 : 0;
    params.frameRect = frameRect;
    params.frame = outWorld;
    params.clientData = nullptr;

    FirstError firstError;
    PicturePool pool;
    FrameQueue<Unit> decoded(6, kQueueBytes, UnitBytes), finished(6, kQueueBytes, UnitBytes);
    // Every thread ends with its failure recorded, never with an exception.
    auto failed = [&](const std::exception_ptr &e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            firstError.Set(outOfMemory);
        } catch (const std::exception &x) {
            firstError.Set(x.what());
        } catch (...) {
            firstError.Set("the render failed");
        }
        decoded.Abort();
        finished.Abort();
    };

    std::thread reader([&] {
      try {
        for (;;) {
            if (InterruptRequested()) break;
            VideoUnit v;
            v.picture = pool.Take();
            AVFramePtr audio;
            std::string e;
            UnitKind kind = ReadNextUnit(*decoder, width, height, v.picture, v.index, audio, e);
            bool ok = true;
            if (kind == UnitKind::Video) ok = decoded.Push(std::move(v));
            else if (kind == UnitKind::Audio) ok = decoded.Push(std::move(audio));
            else if (kind == UnitKind::End) {
                decoded.Push(EndUnit{});
                break;
            } else {
                firstError.Set(e);
                break;
            }
            if (!ok) break;
        }
        decoded.Close();
      } catch (...) {
        failed(std::current_exception());
      }
    });

    bool finishedOk = false;
    std::thread writer([&] {
      try {
        std::vector<double> gains;
        AudioRouter audio;
        audio.frameRate = info.frameRate;
        audio.sampleRate = info.hasAudio ? GetAudioInput(*encoder).sampleRate : 48000;
        std::string e;
        bool ok = true;
        while (ok) {
            Unit unit;
            if (!finished.Pop(unit)) break;
            if (auto *v = std::get_if<VideoUnit>(&unit)) {
                ok = WriteVideo(*encoder, v->picture, e);
                gains.push_back(v->gain);
                pool.Give(std::move(v->picture));
                ok = ok && audio.Flush(*encoder, gains, false, e);
            } else if (auto *a = std::get_if<AVFramePtr>(&unit)) {
                audio.pending.push_back(std::move(*a));
                ok = audio.Flush(*encoder, gains, false, e);
            } else {
                ok = audio.Flush(*encoder, gains, true, e) && FinishClip(*encoder, e);
                finishedOk = ok;
                break;
            }
        }
        if (!ok) {
            firstError.Set(e);
            finished.Abort();
            decoded.Abort();
        }
      } catch (...) {
        failed(std::current_exception());
      }
    });

    bool progress = !rq.quiet && isatty(STDERR_FILENO);
    auto lastProgress = Clock::now();
    bool begun = false;
    int64_t videoSeen = 0;
    try {
    for (;;) {
        if (InterruptRequested()) break;
        Unit unit;
        if (!decoded.Pop(unit)) break;
        if (auto *v = std::get_if<VideoUnit>(&unit)) {
            ++videoSeen;
            if (v->index >= start && v->index < start + count) {
                if (!begun) {
                    begun = true;
                    if (int32_t r = SendMessage(plugin, params, kPlugInitialize); r != kPluginOK) {
                        firstError.Set("the plug-in could not begin the render: " + ResultName(r));
                        break;
                    }
                }
                session.current = &v->picture;
                session.currentIndex = v->index;
                session.currentMixed = false;
                session.currentGain = 0;
                params.renderFrame = int32_t(v->index - start);
                int32_t r = SendMessage(plugin, params, kPlugDoFrame);
                session.current = nullptr;
                if (r != kPluginOK) {
                    firstError.Set("the plug-in failed on frame " + std::to_string(v->index) + ": " + ResultName(r));
                    break;
                }
                CopyGWorldToPicture(outWorld, v->picture);
                v->gain = session.currentMixed ? session.currentGain : 0.0;
            }
            if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(250)) {
                lastProgress = Clock::now();
                PrintProgress(videoSeen, info.frameCount, started);
            }
        }
        bool isEnd = std::holds_alternative<EndUnit>(unit);
        if (!finished.Push(std::move(unit))) break;
        if (isEnd) break;
    }
    } catch (...) {
        failed(std::current_exception());
    }
    if (begun) SendMessage(plugin, params, kPlugTerminate);
    bool stopped = InterruptRequested() || !firstError.Get().empty();
    if (stopped) {
        decoded.Abort();
        finished.Abort();
    } else {
        finished.Close();
    }
    reader.join();
    writer.join();
    if (progress) {
        PrintProgress(videoSeen, info.frameCount, started);
        std::fputc('\n', stderr);
    }
    out.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    out.pluginSeconds = plugin.secondsInPlugin;
    out.framesWritten = videoSeen;
    if (InterruptRequested()) return fail("interrupted; nothing was written", 128 + InterruptSignal());
    if (std::string e = firstError.Get(); !e.empty())
        return fail(e.find("Cannot allocate memory") != std::string::npos || MemoryShort(size_t(width) * size_t(height) * 4)
                        ? outOfMemory
                        : e);
    if (!finishedOk) return fail("the render stopped before the end of the clip");
    if (start + count > videoSeen)
        return fail("only " + std::to_string(videoSeen) + " frames of the clip could be decoded; it is damaged");
    if (!pending.Commit(error)) return fail(error);
    return out;
}
