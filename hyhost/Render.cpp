#include "Render.h"

#include "FrameQueue.h"
#include "PluginHost.h"
#include "SafeOutput.h"
#include "SmartRender.h"
#include "VideoSink.h"
#include "VideoSource.h"

#include "QuickDraw.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <exception>
#include <new>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using Clock = std::chrono::steady_clock;

struct VideoUnit {
    int64_t index = 0;
    AVFramePtr frame;     // as decoded, in the source's pixel format, pts its presentation time
    ArgbPicture picture;  // the plug-in's result, for frames of the selection
    bool rendered = false;
    double gain = 1.0;  // audio level of this frame's time span
};
struct EndUnit {};
// Default: an end marker. Audio blocks are frames; copied streams come as packets.
using Unit = std::variant<EndUnit, VideoUnit, AVFramePtr, AVPacketPtr>;

// What one frame queue may hold: big frames wait instead of piling up.
constexpr std::size_t kQueueBytes = std::size_t(256) << 20;

std::size_t FrameBytes(const AVFrame *f) {
    std::size_t n = 0;
    if (f)
        for (const AVBufferRef *b : f->buf)
            if (b) n += b->size;
    return n;
}

std::size_t UnitBytes(const Unit &u) {
    if (auto *v = std::get_if<VideoUnit>(&u)) return FrameBytes(v->frame.get()) + v->picture.ByteCount();
    if (auto *a = std::get_if<AVFramePtr>(&u)) return FrameBytes(a->get());
    if (auto *p = std::get_if<AVPacketPtr>(&u)) return *p ? std::size_t((*p)->size) : 0;
    return 0;
}

// The selection's pictures travel plug-in -> writer and back, so a render
// does not map and fault in a fresh frame of memory for every frame.
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
        if (p.pixels && spare.size() < 16 && (spare.size() + 1) * p.ByteCount() <= kQueueBytes)
            spare.push_back(std::move(p));
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
    std::fprintf(stderr, "\rframe %lld/%lld  %.1f fps  %d:%02d left   ", (long long)done, (long long)total, fps,
                 minutes, seconds);
    std::fflush(stderr);
}

// Writes audio blocks once the level of every frame they cover is known. A
// sample belongs to the last frame shown at or before its time; samples
// before the first frame keep their level.
struct AudioRouter {
    const std::vector<int64_t> *times = nullptr;  // frame times in the video's time base
    AVRational timeBase{1, 25};
    AVRational sampleUnit{1, 48000};
    std::deque<AVFramePtr> pending;

    int64_t FrameOfSample(int64_t s) const {
        auto it = std::upper_bound(times->begin(), times->end(), s, [&](int64_t sample, int64_t t) {
            return av_compare_ts(sample, sampleUnit, t, timeBase) < 0;
        });
        return int64_t(it - times->begin()) - 1;
    }
    int64_t FirstSampleOfFrame(int64_t f) const {
        if (f >= int64_t(times->size())) return INT64_MAX;
        return av_rescale_q_rnd((*times)[std::size_t(f)], timeBase, sampleUnit, AV_ROUND_UP);
    }

    bool Flush(ClipEncoder &encoder, const std::vector<double> &gains, bool all, std::string &error) {
        while (!pending.empty()) {
            AVFrame &block = *pending.front();
            int64_t first = block.pts, n = block.nb_samples;
            if (!all && FrameOfSample(first + n - 1) >= int64_t(gains.size())) return true;
            int64_t s = first;
            while (s < first + n) {
                int64_t f = FrameOfSample(s);
                int64_t next = std::min(first + n, FirstSampleOfFrame(f + 1));
                if (next <= s) next = s + 1;
                double gain = f >= 0 && f < int64_t(gains.size()) ? gains[std::size_t(f)] : 1.0;
                ScaleSamples(block, int(s - first), int(next - s), gain);
                s = next;
            }
            if (!WriteAudio(encoder, block, error)) return false;
            pending.pop_front();
        }
        return true;
    }
};

// A time given as text to the first frame shown at or after it, counted
// from the clip's first frame; plain digits are frame numbers where allowed.
bool TextToFrame(const std::string &text, const std::vector<int64_t> &times, AVRational timeBase, bool plainIsFrames,
                 int64_t &frame) {
    if (plainIsFrames && !text.empty() && text.find_first_not_of("0123456789") == std::string::npos)
        return ParseFrameOrTime(text, 1, true, frame);
    double seconds = 0;
    if (text.empty() || !ParseSeconds(text, seconds) || seconds > 1e7) return false;
    int64_t t = times.front() + int64_t(std::llround(seconds / av_q2d(timeBase)));
    frame = int64_t(std::lower_bound(times.begin(), times.end(), t) - times.begin());
    return true;
}

// Everything one render needs, set up once for its one or two attempts.
struct RenderJob {
    const RenderRequest &rq;
    ClipDecoder &clip;
    ClipInfo info;
    int64_t start = 0, count = 0;
    int width = 0, height = 0;
    LoadedPlugin &plugin;
    HostSession &session;
    HYPluginParams &params;
    GWorldPtr outWorld = nullptr;
    Clock::time_point started;
    int64_t videoSeen = 0;
    std::string outOfMemory;  // the one line every shortage of memory ends with
};

enum class Attempt { Done, Failed, EncodeAudio };

// One pass over the clip. With the audio copied, the pass gives up as soon
// as the plug-in passes a frame's audio at another level than unity: the
// caller then renders again with the audio decoded, levelled and encoded.
Attempt RenderPass(RenderJob &job, bool audioMayBeCopied, RenderOutcome &out) {
    const RenderRequest &rq = job.rq;
    const ClipInfo &info = job.info;
    auto fail = [&](const std::string &e, int code = 1) {
        out.exitCode = code;
        out.error = e;
        return Attempt::Failed;
    };
    std::string error;
    ClipDecoderPtr decoder = ReopenClipDecoder(job.clip, error);
    if (!decoder) return fail(error);

    PendingOutput pending(rq.output);
    SinkSettings sink;
    sink.width = job.width;
    sink.height = job.height;
    sink.frameRate = info.frameRate;
    sink.timeBase = info.timeBase;
    sink.source = GetClipFormat(*decoder);
    sink.sourceVideo = info.videoStream;
    sink.sourceAudio = info.audioStream;
    sink.audioMayBeCopied = audioMayBeCopied;
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
    if (!encoder)
        return fail(MemoryShort(std::size_t(job.width) * std::size_t(job.height) * 4) ? job.outOfMemory : error);
    // What the output could not keep is said even in a quiet render.
    for (const std::string &note : GetSinkNotes(*encoder)) std::fprintf(stderr, "hyhost: %s\n", note.c_str());
    bool audioEncoded = info.hasAudio && !AudioIsCopied(*encoder) && GetAudioInput(*encoder).sampleRate > 0;
    if (audioEncoded && !SetAudioTarget(*decoder, GetAudioInput(*encoder), error)) return fail(error);
    SetCopiedStreams(*decoder, GetCopiedStreams(*encoder));
    bool audioCopied = AudioIsCopied(*encoder);

    HYPluginParams &params = job.params;
    HostSession &session = job.session;
    params.startFrame = int32_t(job.start);
    params.frameCount = int32_t(job.count);
    params.proxyOnly = rq.preview ? 1 : 0;
    params.frameRect = Rect{0, 0, int16_t(job.height), int16_t(job.width)};
    params.frame = job.outWorld;
    params.clientData = nullptr;

    FirstError firstError;
    PicturePool pool;
    FrameQueue<Unit> decoded(6, kQueueBytes, UnitBytes), finished(6, kQueueBytes, UnitBytes);
    // Every thread ends with its failure recorded, never with an exception.
    auto failed = [&](const std::exception_ptr &e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            firstError.Set(job.outOfMemory);
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
                AVFramePtr audio;
                AVPacketPtr packet;
                std::string e;
                UnitKind kind = ReadNextUnit(*decoder, v.frame, v.index, audio, packet, e);
                bool ok = true;
                if (kind == UnitKind::Video)
                    ok = decoded.Push(std::move(v));
                else if (kind == UnitKind::Audio)
                    ok = decoded.Push(std::move(audio));
                else if (kind == UnitKind::Packet)
                    ok = decoded.Push(std::move(packet));
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
            audio.times = &GetFrameTimes(*decoder);
            audio.timeBase = info.timeBase;
            if (audioEncoded) audio.sampleUnit = AVRational{1, GetAudioInput(*encoder).sampleRate};
            std::string e;
            bool ok = true;
            while (ok) {
                Unit unit;
                if (!finished.Pop(unit)) break;
                if (auto *v = std::get_if<VideoUnit>(&unit)) {
                    ok = v->rendered ? WriteVideo(*encoder, v->picture, v->frame.get(), e)
                                     : WriteVideoFrame(*encoder, *v->frame, e);
                    pool.Give(std::move(v->picture));
                    gains.push_back(v->gain);
                    ok = ok && audio.Flush(*encoder, gains, false, e);
                } else if (auto *a = std::get_if<AVFramePtr>(&unit)) {
                    audio.pending.push_back(std::move(*a));
                    ok = audio.Flush(*encoder, gains, false, e);
                } else if (auto *p = std::get_if<AVPacketPtr>(&unit)) {
                    ok = WritePacket(*encoder, **p, e);
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
    bool begun = false, levelsChanged = false;
    SwsPtr toArgb;
    int64_t &videoSeen = job.videoSeen;
    videoSeen = 0;
    try {
        for (;;) {
            if (InterruptRequested()) break;
            Unit unit;
            if (!decoded.Pop(unit)) break;
            if (auto *v = std::get_if<VideoUnit>(&unit)) {
                ++videoSeen;
                if (v->index >= job.start && v->index < job.start + job.count) {
                    if (!begun) {
                        begun = true;
                        if (int32_t r = SendMessage(job.plugin, params, kPlugInitialize); r != kPluginOK) {
                            firstError.Set("the plug-in could not begin the render: " + ResultName(r));
                            break;
                        }
                    }
                    v->picture = pool.Take();
                    if (!FrameToPicture(toArgb, *v->frame, job.width, job.height, true, v->picture)) {
                        firstError.Set("cannot convert frame " + std::to_string(v->index) + " for the plug-in");
                        break;
                    }
                    session.current = &v->picture;
                    session.currentIndex = v->index;
                    session.currentMixed = false;
                    session.currentGain = 0;
                    params.renderFrame = int32_t(v->index - job.start);
                    int32_t r = SendMessage(job.plugin, params, kPlugDoFrame);
                    session.current = nullptr;
                    if (r != kPluginOK) {
                        firstError.Set("the plug-in failed on frame " + std::to_string(v->index) + ": " +
                                       ResultName(r));
                        break;
                    }
                    CopyGWorldToPicture(job.outWorld, v->picture);
                    v->rendered = true;
                    v->gain = session.currentMixed ? session.currentGain : 0.0;
                    if (audioCopied && v->gain != 1.0) {
                        levelsChanged = true;
                        break;
                    }
                }
                if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(250)) {
                    lastProgress = Clock::now();
                    PrintProgress(videoSeen, info.frameCount, job.started);
                }
            }
            bool isEnd = std::holds_alternative<EndUnit>(unit);
            if (!finished.Push(std::move(unit))) break;
            if (isEnd) break;
        }
    } catch (...) {
        failed(std::current_exception());
    }
    if (begun) SendMessage(job.plugin, params, kPlugTerminate);
    bool stopped = InterruptRequested() || levelsChanged || !firstError.Get().empty();
    if (stopped) {
        decoded.Abort();
        finished.Abort();
    } else {
        finished.Close();
    }
    reader.join();
    writer.join();
    if (progress) {
        PrintProgress(videoSeen, info.frameCount, job.started);
        std::fputc('\n', stderr);
    }
    if (InterruptRequested()) return fail("interrupted; nothing was written", 128 + InterruptSignal());
    if (std::string e = firstError.Get(); !e.empty())
        return fail(e.find("Cannot allocate memory") != std::string::npos ||
                            MemoryShort(std::size_t(job.width) * std::size_t(job.height) * 4)
                        ? job.outOfMemory
                        : e);
    if (levelsChanged) return Attempt::EncodeAudio;
    if (!finishedOk) return fail("the render stopped before the end of the clip");
    if (job.start + job.count > videoSeen)
        return fail("only " + std::to_string(videoSeen) + " frames of the clip could be decoded; it is damaged");
    if (!pending.Commit(error)) return fail(error);
    return Attempt::Done;
}

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
    ClipDecoderPtr clip = OpenClipDecoder(rq.input, error, rq.stream);
    if (!clip) return fail(error);
    ClipDecoderPtr fetcher = ReopenClipDecoder(*clip, error);
    if (!fetcher) return fail(error);
    const ClipInfo info = GetClipInfo(*clip);
    const std::vector<int64_t> &times = GetFrameTimes(*clip);
    if (!info.streamNote.empty()) std::fprintf(stderr, "hyhost: %s\n", info.streamNote.c_str());

    // The selection, checked against the clip.
    int64_t start = 0, count = info.frameCount;
    if (!rq.from.empty() && !TextToFrame(rq.from, times, info.timeBase, true, start))
        return fail("--from '" + rq.from + "' is neither a frame number nor a time like 4.5s or 0:04.5", 2);
    if (!rq.frames.empty()) {
        if (!ParseFrameOrTime(rq.frames, 1, true, count) ||
            rq.frames.find_first_not_of("0123456789") != std::string::npos)
            return fail("--frames '" + rq.frames + "' is not a number of frames", 2);
    } else if (!rq.duration.empty()) {
        double seconds = 0;
        if (!ParseSeconds(rq.duration, seconds) || seconds > 1e7)
            return fail("--duration '" + rq.duration + "' is not a time like 4.5s or 0:04.5", 2);
        // The frames shown before the selection's first frame's time plus the duration.
        if (start >= 0 && start < info.frameCount) {
            int64_t end = times[std::size_t(start)] + int64_t(std::llround(seconds / av_q2d(info.timeBase)));
            count = int64_t(std::lower_bound(times.begin(), times.end(), end) - times.begin()) - start;
        }
    } else {
        count = info.frameCount - start;
    }
    std::string clipRange =
        "the clip has " + std::to_string(info.frameCount) + " frames (0.." + std::to_string(info.frameCount - 1) + ")";
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
    if (NewGWorld(&outWorld, 32, &frameRect, nullptr, nullptr, 0) != noErr || !outWorld) return fail(outOfMemory);
    struct WorldGuard {
        GWorldPtr w;
        ~WorldGuard() { DisposeGWorld(w); }
    } worldGuard{outWorld};
    LockPixels(GetGWorldPixMap(outWorld));

    if (SmartJob smart{rq, *clip, start, count, plugin, session, params, outWorld}; RunSmartRender(smart, out)) {
        out.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        out.pluginSeconds = plugin.secondsInPlugin;
        return out;
    }
    RenderJob job{rq,     *clip,   info,   start,    count,   width, height,
                  plugin, session, params, outWorld, started, 0,     outOfMemory};
    // Compressed audio is copied untouched while the plug-in passes it at
    // unity; uncompressed audio and previews (which pass none) go through
    // the levels and the encoder, losing nothing or nothing that is heard.
    const AVFormatContext *format = GetClipFormat(*clip);
    bool mayCopy = !rq.preview && info.hasAudio;
    if (mayCopy) {
        const AVCodecDescriptor *d = avcodec_descriptor_get(format->streams[info.audioStream]->codecpar->codec_id);
        mayCopy = d && (d->props & AV_CODEC_PROP_LOSSY);
    }
    Attempt result = RenderPass(job, mayCopy, out);
    if (result == Attempt::EncodeAudio) {
        std::fprintf(stderr, "hyhost: the plug-in changes the audio's level: rendering again with the audio encoded\n");
        result = RenderPass(job, false, out);
    }
    out.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    out.pluginSeconds = plugin.secondsInPlugin;
    out.framesWritten = job.videoSeen;
    if (result != Attempt::Done && out.exitCode == 0) return fail("the render stopped before the end of the clip");
    return out;
}
