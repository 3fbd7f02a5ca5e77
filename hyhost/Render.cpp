#include "Render.h"

#include "FrameQueue.h"
#include "PluginHost.h"
#include "Progress.h"
#include "SafeOutput.h"
#include "SmartRender.h"
#include "VideoSink.h"
#include "VideoSource.h"

#include "QuickDraw.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// A point of the clip as text to a frame index: "120f" is frame 120, a time
// is the first frame shown at or after it, counted from the clip's first frame.
bool PointToFrame(const std::string &text, const std::vector<int64_t> &times, AVRational timeBase, int64_t &frame) {
    ClipPoint point;
    if (!ParseClipPoint(text, point)) return false;
    if (point.isFrame) {
        frame = point.frame;
        return true;
    }
    int64_t t = times.front() + av_rescale_q(point.micros, AV_TIME_BASE_Q, timeBase);
    frame = int64_t(std::lower_bound(times.begin(), times.end(), t) - times.begin());
    return true;
}

// The selection [start, start + count) from --from and --frames/--duration,
// checked against the clip. exitCode 2 for a value that does not parse.
bool ResolveSelection(const RenderRequest &rq, const ClipInfo &info, const std::vector<int64_t> &times, int64_t &start,
                      int64_t &count, RenderOutcome &out) {
    auto fail = [&](const std::string &e, int code = 1) {
        out.exitCode = code;
        out.error = e;
        return false;
    };
    start = 0;
    if (!rq.from.empty() && !PointToFrame(rq.from, times, info.timeBase, start))
        return fail(BadValue("--from", rq.from, "a time or a frame", "4.5 (seconds), 0:04.5 or 120f (frame 120)"),
                    kExitBadArguments);
    count = info.frameCount - start;
    if (!rq.frames.empty()) {
        auto [end, ec] = std::from_chars(rq.frames.data(), rq.frames.data() + rq.frames.size(), count);
        if (ec != std::errc() || end != rq.frames.data() + rq.frames.size() || count < 0)
            return fail(BadValue("--frames", rq.frames, "a number of frames", "120"), kExitBadArguments);
    } else if (!rq.duration.empty()) {
        int64_t micros = 0;
        if (!ParseDuration(rq.duration, micros))
            return fail(BadValue("--duration", rq.duration, "a time", "4.5 (seconds) or 0:04.5"), kExitBadArguments);
        // The frames shown before the selection's first frame's time plus the duration.
        if (start >= 0 && start < info.frameCount) {
            int64_t endTime = times[std::size_t(start)] + av_rescale_q(micros, AV_TIME_BASE_Q, info.timeBase);
            count = int64_t(std::lower_bound(times.begin(), times.end(), endTime) - times.begin()) - start;
        }
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
    return true;
}

// Everything one render needs, set up once for its one or two passes.
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
    ProgressReporter &progress;
    int64_t videoSeen = 0, encoded = 0, outputBytes = 0;
    std::string outOfMemory;  // the one line every shortage of memory ends with
    bool copyNoted = false;
};

enum class Attempt { Done, Failed, EncodeAudio };

SinkSettings SinkFor(const RenderJob &job, const ClipDecoder &decoder, bool audioMayBeCopied) {
    const RenderRequest &rq = job.rq;
    const ClipInfo &info = job.info;
    SinkSettings sink;
    sink.width = job.width;
    sink.height = job.height;
    sink.frameRate = info.frameRate;
    sink.timeBase = info.timeBase;
    sink.source = GetClipFormat(decoder);
    sink.sourceVideo = info.videoStream;
    sink.sourceAudio = info.audioStream;
    sink.audioMayBeCopied = audioMayBeCopied;
    sink.videoCodec = rq.encoder.codec;
    sink.preset = rq.encoder.preset;
    sink.crf = rq.encoder.crf;
    sink.bitRate = rq.encoder.bitRate;
    sink.pixelFormat = rq.encoder.pixelFormat;
    sink.audioCodec = rq.encoder.audioCodec;
    sink.audioBitRate = rq.encoder.audioBitRate;
    sink.lossless = rq.lossless;
    sink.withAudio = info.hasAudio;
    sink.sampleRate = info.sampleRate;
    sink.sourceSampleFormat = info.sampleFormat;
    av_channel_layout_default(&sink.layout, info.channels);
    return sink;
}

// What the three stages of one pass share.
struct Pass {
    RenderJob &job;
    ClipDecoderPtr decoder;
    ClipEncoderPtr encoder;
    std::unique_ptr<PendingOutput> pending;
    bool audioEncoded = false, audioCopied = false;
    FirstError firstError;
    PicturePool pool;
    FrameQueue<Unit> decoded{6, kQueueBytes, UnitBytes}, finished{6, kQueueBytes, UnitBytes};
    bool finishedOk = false, levelsChanged = false;

    explicit Pass(RenderJob &j) : job(j) {}
    void Stop() {
        decoded.Abort();
        finished.Abort();
    }
    // Every thread ends with its failure recorded, never with an exception.
    void Failed(const std::exception_ptr &e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            firstError.Set(job.outOfMemory);
        } catch (const std::exception &x) {
            firstError.Set(x.what());
        } catch (...) {
            firstError.Set("the render failed");
        }
        Stop();
    }
};

// Opens the decoder and the output; the one line of the failure when not.
bool OpenPass(Pass &pass, bool audioMayBeCopied, std::string &error) {
    RenderJob &job = pass.job;
    pass.decoder = ReopenClipDecoder(job.clip, error);
    if (!pass.decoder) return false;
    pass.pending = std::make_unique<PendingOutput>(job.rq.output);
    {
        // Some encoders print straight to the terminal when memory is short.
        QuietStderr quiet(av_log_get_level() <= AV_LOG_QUIET);
        pass.encoder = OpenClipEncoder(job.rq.output, pass.pending->TempPath(),
                                       SinkFor(job, *pass.decoder, audioMayBeCopied), error);
    }
    if (!pass.encoder) {
        if (MemoryShort(std::size_t(job.width) * std::size_t(job.height) * 4)) error = job.outOfMemory;
        return false;
    }
    // What the output could not keep is said even in a quiet render.
    for (const std::string &note : GetSinkNotes(*pass.encoder)) std::fprintf(stderr, "hyhost: %s\n", note.c_str());
    const ClipInfo &info = job.info;
    pass.audioEncoded = info.hasAudio && !AudioIsCopied(*pass.encoder) && GetAudioInput(*pass.encoder).sampleRate > 0;
    if (pass.audioEncoded && !SetAudioTarget(*pass.decoder, GetAudioInput(*pass.encoder), error)) return false;
    SetCopiedStreams(*pass.decoder, GetCopiedStreams(*pass.encoder));
    pass.audioCopied = AudioIsCopied(*pass.encoder);
    return true;
}

// Stage one: the clip's frames, audio blocks and copied packets, in order.
void ReadStage(Pass &pass) {
    try {
        while (!InterruptRequested()) {
            VideoUnit v;
            AVFramePtr audio;
            AVPacketPtr packet;
            std::string e;
            UnitKind kind = ReadNextUnit(*pass.decoder, v.frame, v.index, audio, packet, e);
            bool ok = true;
            if (kind == UnitKind::Video)
                ok = pass.decoded.Push(std::move(v));
            else if (kind == UnitKind::Audio)
                ok = pass.decoded.Push(std::move(audio));
            else if (kind == UnitKind::Packet)
                ok = pass.decoded.Push(std::move(packet));
            else if (kind == UnitKind::End) {
                pass.decoded.Push(EndUnit{});
                break;
            } else {
                pass.firstError.Set(e);
                break;
            }
            if (!ok) break;
        }
        pass.decoded.Close();
    } catch (...) {
        pass.Failed(std::current_exception());
    }
}

// Stage three: everything into the output, the audio at the levels the
// plug-in passed for the frames it belongs to.
void WriteStage(Pass &pass) {
    try {
        RenderJob &job = pass.job;
        ClipEncoder &encoder = *pass.encoder;
        std::vector<double> gains;
        AudioRouter audio;
        audio.times = &GetFrameTimes(*pass.decoder);
        audio.timeBase = job.info.timeBase;
        if (pass.audioEncoded) audio.sampleUnit = AVRational{1, GetAudioInput(encoder).sampleRate};
        auto outputBytes = [&] {
            std::error_code ec;
            auto n = std::filesystem::file_size(pass.pending->TempPath(), ec);
            return ec ? int64_t(0) : int64_t(n);
        };
        std::string e;
        bool ok = true;
        int64_t encoded = 0;
        Unit unit;
        while (ok && pass.finished.Pop(unit)) {
            if (auto *v = std::get_if<VideoUnit>(&unit)) {
                ok = v->rendered ? WriteVideo(encoder, v->picture, v->frame.get(), e)
                                 : WriteVideoFrame(encoder, *v->frame, e);
                pass.pool.Give(std::move(v->picture));
                gains.push_back(v->gain);
                ok = ok && audio.Flush(encoder, gains, false, e);
                job.progress.Encoded(++encoded, outputBytes);
            } else if (auto *a = std::get_if<AVFramePtr>(&unit)) {
                audio.pending.push_back(std::move(*a));
                ok = audio.Flush(encoder, gains, false, e);
            } else if (auto *p = std::get_if<AVPacketPtr>(&unit)) {
                ok = WritePacket(encoder, **p, e);
            } else {
                ok = audio.Flush(encoder, gains, true, e) && FinishClip(encoder, e);
                pass.finishedOk = ok;
                job.encoded = encoded;
                job.outputBytes = outputBytes();
                break;
            }
        }
        if (!ok) {
            pass.firstError.Set(e);
            pass.Stop();
        }
    } catch (...) {
        pass.Failed(std::current_exception());
    }
}

struct WorldFree {
    void operator()(GrafPort *w) const { DisposeGWorld(w); }
};

// One frame of the selection through the plug-in; false when it failed. The
// decoded frame is converted into `source`, which the plug-in is lent as it
// is, and the plug-in draws straight into v.picture, which goes to the
// encoder: no copy on either side.
bool RenderFrame(Pass &pass, VideoUnit &v, ArgbConverter &toArgb, ArgbPicture &source) {
    RenderJob &job = pass.job;
    HostSession &session = job.session;
    if (!FrameToPicture(toArgb, *v.frame, job.width, job.height, true, source)) {
        pass.firstError.Set("cannot convert frame " + std::to_string(v.index) + " for the plug-in");
        return false;
    }
    v.picture = pass.pool.Take();
    if (v.picture.width != job.width || v.picture.height != job.height || !v.picture.pixels) {
        // As a new offscreen picture starts: opaque white, never stale memory.
        v.picture = MakePicture(job.width, job.height);
        std::memset(v.picture.pixels.get(), 0xFF, v.picture.ByteCount());
    }
    std::unique_ptr<GrafPort, WorldFree> output(GWorldOverPicture(v.picture));
    if (!output) throw std::bad_alloc();
    session.current = &source;
    session.currentIndex = v.index;
    session.currentMixed = false;
    session.currentGain = 0;
    job.params.renderFrame = int32_t(v.index - job.start);
    job.params.frame = output.get();
    int32_t r = SendMessage(job.plugin, job.params, kPlugDoFrame);
    job.params.frame = job.outWorld;
    EndCurrentFrame(session);
    if (r != kPluginOK) {
        pass.firstError.Set("the plug-in failed on frame " + std::to_string(v.index) + ": " + ResultName(r));
        return false;
    }
    v.rendered = true;
    // In preview the plug-in passes no audio: the editor plays the source's
    // as it is, which is what a preview render keeps unless asked to mute.
    if (job.rq.preview)
        v.gain = job.rq.previewMute ? 0.0 : 1.0;
    else
        v.gain = session.currentMixed ? session.currentGain : 0.0;
    return true;
}

// Whether a copied audio stream can stay copied after this frame's level.
bool AudioLevelAllowsCopy(Pass &pass, double gain) {
    if (!pass.audioCopied || gain == 1.0) return true;
    if (pass.job.rq.encoder.audioCodec != "copy") return false;
    if (!pass.job.copyNoted)
        std::fprintf(stderr,
                     "hyhost: the audio is copied as asked (--audio-codec copy); the plug-in's audio levels are "
                     "not applied\n");
    pass.job.copyNoted = true;
    return true;
}

// Stage two, on the calling thread: the selection's frames through the plug-in.
void PluginStage(Pass &pass) {
    RenderJob &job = pass.job;
    bool begun = false;
    ArgbConverter toArgb;
    ArgbPicture source;  // the frame the plug-in is lent, kept from frame to frame
    job.videoSeen = 0;
    try {
        Unit unit;
        while (!InterruptRequested() && pass.decoded.Pop(unit)) {
            if (auto *v = std::get_if<VideoUnit>(&unit)) {
                ++job.videoSeen;
                if (v->index >= job.start && v->index < job.start + job.count) {
                    if (!begun) {
                        begun = true;
                        if (int32_t r = SendMessage(job.plugin, job.params, kPlugInitialize); r != kPluginOK) {
                            pass.firstError.Set("the plug-in could not begin the render: " + ResultName(r));
                            break;
                        }
                    }
                    if (!RenderFrame(pass, *v, toArgb, source)) break;
                    if (!AudioLevelAllowsCopy(pass, v->gain)) {
                        pass.levelsChanged = true;
                        break;
                    }
                }
            }
            bool isEnd = std::holds_alternative<EndUnit>(unit);
            if (!pass.finished.Push(std::move(unit)) || isEnd) break;
        }
    } catch (...) {
        pass.Failed(std::current_exception());
    }
    if (begun) SendMessage(job.plugin, job.params, kPlugTerminate);
}

// How the pass ended, once its threads have.
Attempt PassOutcome(Pass &pass, RenderOutcome &out) {
    RenderJob &job = pass.job;
    auto fail = [&](const std::string &e, int code = 1) {
        out.exitCode = code;
        out.error = e;
        return Attempt::Failed;
    };
    if (InterruptRequested()) return fail("interrupted; nothing was written", 128 + InterruptSignal());
    if (std::string e = pass.firstError.Get(); !e.empty())
        return fail(e.find("Cannot allocate memory") != std::string::npos ||
                            MemoryShort(std::size_t(job.width) * std::size_t(job.height) * 4)
                        ? job.outOfMemory
                        : e);
    if (pass.levelsChanged) return Attempt::EncodeAudio;
    if (!pass.finishedOk) return fail("the render stopped before the end of the clip");
    if (job.start + job.count > job.videoSeen)
        return fail("only " + std::to_string(job.videoSeen) + " frames of the clip could be decoded; it is damaged");
    std::string error;
    if (!pass.pending->Commit(error)) return fail(error);
    return Attempt::Done;
}

// One pass over the clip. With the audio copied, the pass gives up as soon
// as the plug-in passes a frame's audio at another level than unity: the
// caller then renders again with the audio decoded, levelled and encoded.
Attempt RenderPass(RenderJob &job, bool audioMayBeCopied, RenderOutcome &out) {
    Pass pass(job);
    std::string error;
    if (!OpenPass(pass, audioMayBeCopied, error)) {
        out.exitCode = 1;
        out.error = error;
        return Attempt::Failed;
    }
    HYPluginParams &params = job.params;
    params.startFrame = int32_t(job.start);
    params.frameCount = int32_t(job.count);
    params.proxyOnly = job.rq.preview ? 1 : 0;
    params.frameRect = Rect{0, 0, int16_t(job.height), int16_t(job.width)};
    params.frame = job.outWorld;
    params.clientData = nullptr;

    std::thread reader(ReadStage, std::ref(pass));
    std::thread writer(WriteStage, std::ref(pass));
    PluginStage(pass);
    if (InterruptRequested() || pass.levelsChanged || !pass.firstError.Get().empty())
        pass.Stop();
    else
        pass.finished.Close();
    reader.join();
    writer.join();
    return PassOutcome(pass, out);
}

// Compressed audio is copied untouched while the plug-in passes it at unity
// (or always, when asked); uncompressed audio goes through the levels and
// the encoder, losing nothing.
bool AudioMayBeCopied(const RenderRequest &rq, const ClipDecoder &clip, const ClipInfo &info) {
    if (!info.hasAudio) return false;
    if (rq.encoder.audioCodec == "copy") return true;
    if (!rq.encoder.audioCodec.empty() || (rq.preview && rq.previewMute)) return false;
    const AVFormatContext *format = GetClipFormat(clip);
    const AVCodecDescriptor *d = avcodec_descriptor_get(format->streams[info.audioStream]->codecpar->codec_id);
    return d && (d->props & AV_CODEC_PROP_LOSSY);
}

struct WorldGuard {
    GWorldPtr w = nullptr;
    ~WorldGuard() {
        if (w) DisposeGWorld(w);
    }
};

// The plug-in loaded, described for the selection and checked to be a filter.
bool LoadFilter(const RenderRequest &rq, ClipDecoder *fetcher, const ClipInfo &info, int64_t count,
                LoadedPlugin &plugin, HostSession &session, HYPluginParams &params, std::string &error) {
    std::string bundle;
    if (!FindPluginBundle(rq.plugin, bundle, error) || !LoadPlugin(bundle, plugin, error)) return false;
    session.fetcher = fetcher;
    session.clipFrames = info.frameCount;
    session.fadeIn = rq.fadeIn;
    session.fadeOut = rq.fadeOut;
    InitParams(params, session);
    params.getInfo2.selectedFrames = int32_t(count);
    if (!DescribePlugin(plugin, params, error)) return false;
    if (params.getInfo.pluginType != kPluginFilterType) {
        error = "'" + plugin.bundlePath + "' is not a filter plug-in (type " +
                std::to_string(params.getInfo.pluginType) + ")";
        return false;
    }
    return true;
}

// Where the output goes: never over the input, into a folder that takes it, as one file.
bool CheckOutput(const RenderRequest &rq, RenderOutcome &out) {
    std::string error;
    if (!CheckOutputPath(rq.input, rq.output, error)) return out.exitCode = 1, out.error = error, false;
    if (!CheckOneFileOutput(rq.output, error)) return out.exitCode = kExitBadArguments, out.error = error, false;
    return true;
}

}  // namespace

bool ClipPointToFrame(const std::string &text, ClipDecoder &clip, int64_t &frame) {
    return PointToFrame(text, GetFrameTimes(clip), GetClipInfo(clip).timeBase, frame);
}

bool MayReplaceOutput(const std::string &output, Replace replace, std::string &error) {
    std::error_code ec;
    if (replace == Replace::Yes || !std::filesystem::exists(output, ec)) return true;
    if (replace == Replace::No) {
        error = "'" + output + "' already exists; not replaced (-n)";
        return false;
    }
    if (!isatty(STDIN_FILENO)) {
        error = "'" + output + "' already exists; give -y to replace it (-n keeps it without asking)";
        return false;
    }
    std::fprintf(stderr, "File '%s' already exists. Overwrite? [y/N] ", output.c_str());
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin) || (answer[0] != 'y' && answer[0] != 'Y')) {
        error = "'" + output + "' already exists; not replaced";
        return false;
    }
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
    if (!info.streamNote.empty()) std::fprintf(stderr, "hyhost: %s\n", info.streamNote.c_str());

    int64_t start = 0, count = 0;
    if (!ResolveSelection(rq, info, GetFrameTimes(*clip), start, count, out)) return out;
    if (rq.fadeIn < 0 || rq.fadeOut < 0) return fail("fade counts must be 0 or more", kExitBadArguments);
    out.selectionStart = start;
    out.selectionCount = count;
    out.frameRate = av_q2d(info.frameRate);

    int width = 0, height = 0;
    if (!ResolveSize(rq.size, info.width, info.height, width, height))
        return fail("picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable",
                    kExitBadArguments);
    if (!CheckOutput(rq, out)) return out;
    JobSettings settings;
    if (int code = 1; !settings.Prepare(rq.settings, false, width, height, error, code)) return fail(error, code);
    // Asked last, once every value is known to be good.
    if (!MayReplaceOutput(rq.output, rq.replace, error)) return fail(error);
    const std::string outOfMemory = "not enough memory for " + std::to_string(width) + "x" + std::to_string(height) +
                                    " frames; try a smaller --size";

    LoadedPlugin plugin;
    HostSession session;
    HYPluginParams params;
    if (!LoadFilter(rq, fetcher.get(), info, count, plugin, session, params, error)) return fail(error);
    Rect frameRect{0, 0, int16_t(height), int16_t(width)};
    WorldGuard world;
    if (NewGWorld(&world.w, 32, &frameRect, nullptr, nullptr, 0) != noErr || !world.w) return fail(outOfMemory);
    LockPixels(GetGWorldPixMap(world.w));

    ProgressReporter progress;
    if (!progress.Open(!rq.quiet && isatty(STDERR_FILENO), rq.progress, info.frameCount, out.frameRate, error))
        return fail(error);
    if (SmartJob smart{rq, *clip, start, count, plugin, session, params, world.w}; RunSmartRender(smart, out)) {
        // Scripts reading --progress see the end of a smart render too.
        std::error_code ec;
        const auto bytes = out.exitCode == 0 ? std::filesystem::file_size(rq.output, ec) : 0;
        out.outputBytes = ec ? 0 : int64_t(bytes);
        progress.Finish(out.exitCode == 0 ? out.framesWritten : 0, out.outputBytes);
        out.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        out.pluginSeconds = plugin.secondsInPlugin;
        return out;
    }
    RenderJob job{rq,      *clip,  info,    start,    count, width, height, plugin,
                  session, params, world.w, progress, 0,     0,     0,      outOfMemory};
    Attempt result = RenderPass(job, AudioMayBeCopied(rq, *clip, info), out);
    if (result == Attempt::EncodeAudio) {
        std::fprintf(stderr, "hyhost: the plug-in changes the audio's level: rendering again with the audio encoded\n");
        result = RenderPass(job, false, out);
    }
    progress.Finish(job.encoded, job.outputBytes);
    out.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    out.pluginSeconds = plugin.secondsInPlugin;
    out.framesWritten = job.encoded;
    out.outputBytes = job.outputBytes;
    if (result != Attempt::Done && out.exitCode == 0) return fail("the render stopped before the end of the clip");
    return out;
}
