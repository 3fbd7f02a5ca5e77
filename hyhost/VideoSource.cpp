#include "VideoSource.h"

#include "PlatformRaster.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

void CodecFree::operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
void SwsFree::operator()(SwsContext *s) const { sws_freeContext(s); }

namespace {

struct FormatClose {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct SwrFree {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatClose>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

CodecPtr OpenDecoder(const AVStream *stream, bool threaded, std::string &error) {
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        error = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id);
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0) {
        error = "cannot set up the decoder";
        return nullptr;
    }
    ctx->pkt_timebase = stream->time_base;
    if (threaded) ctx->thread_count = 0;  // as many as the machine has
    if (int rc = avcodec_open2(ctx.get(), codec, nullptr); rc < 0) {
        error = "cannot open the " + std::string(codec->name) + " decoder: " + AVErrorText(rc);
        return nullptr;
    }
    return ctx;
}

}  // namespace

std::string AVErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct ClipDecoder {
    std::string path;
    ClipInfo info;
    std::shared_ptr<const std::vector<int64_t>> times;  // presentation time of each frame
    FormatPtr format;
    CodecPtr video;
    CodecPtr audio;
    AVPacketPtr packet{av_packet_alloc()};
    AVFramePtr frame{av_frame_alloc()};
    ArgbConverter converter;
    std::unique_ptr<SwrContext, SwrFree> resampler;
    AudioTarget audioTarget;
    int resamplerFormat = -1;
    int resamplerRate = 0;
    AVChannelLayout resamplerLayout{};
    bool audioWanted = false;
    std::vector<bool> copied;  // per stream: packets delivered as they are
    bool demuxDone = false;
    bool videoDrained = false;
    bool audioDrained = false;
    bool audioFlushed = false;
    int64_t nextVideoIndex = 0;             // index of the next frame the decoder will give; -1 unknown
    int64_t audioNextPts = AV_NOPTS_VALUE;  // in samples at the target rate
    std::deque<AVFramePtr> audioReady;
    std::deque<AVPacketPtr> packetsReady;

    ~ClipDecoder() {
        av_channel_layout_uninit(&audioTarget.layout);
        av_channel_layout_uninit(&resamplerLayout);
    }
};

void ClipDecoderDelete::operator()(ClipDecoder *d) const { delete d; }

const ClipInfo &GetClipInfo(const ClipDecoder &decoder) { return decoder.info; }
const AVFormatContext *GetClipFormat(const ClipDecoder &decoder) { return decoder.format.get(); }
const std::vector<int64_t> &GetFrameTimes(const ClipDecoder &decoder) { return *decoder.times; }

namespace {

bool OpenFormat(const std::string &path, FormatPtr &out, std::string &error) {
    AVFormatContext *raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        if (rc == AVERROR(ENOENT))
            error = "'" + path + "' does not exist";
        else if (rc == AVERROR(EACCES))
            error = "'" + path + "' cannot be read (permission denied)";
        else if (rc == AVERROR_INVALIDDATA)
            error = "'" + path + "' is not a video file FFmpeg can read (damaged or unknown format)";
        else if (rc == AVERROR(EISDIR))
            error = "'" + path + "' is a folder, not a video file";
        else
            error = "'" + path + "' is damaged or unreadable (" + AVErrorText(rc) + ")";
        return false;
    }
    out.reset(raw);
    if (rc = avformat_find_stream_info(raw, nullptr); rc < 0) {
        error = "'" + path + "' is damaged: " + AVErrorText(rc);
        return false;
    }
    return true;
}

bool IsMovingVideo(const AVStream *s) {
    return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

std::string Describe(const AVStream *s) {
    return "video stream " + std::to_string(s->index) + " (" + std::to_string(s->codecpar->width) + "x" +
           std::to_string(s->codecpar->height) + " " + avcodec_get_name(s->codecpar->codec_id) + ")";
}

// The stream asked for; else the one marked default; else the largest picture.
int ChooseVideoStream(const AVFormatContext *format, int wanted, std::string &note, std::string &error) {
    std::vector<const AVStream *> videos;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (IsMovingVideo(format->streams[i])) videos.push_back(format->streams[i]);
    if (wanted >= 0) {
        if (wanted >= int(format->nb_streams) || !IsMovingVideo(format->streams[wanted])) {
            error = "--stream " + std::to_string(wanted) + " is not a video stream of the clip";
            for (const AVStream *s : videos) error += (s == videos.front() ? "; it has " : ", ") + Describe(s);
            return -1;
        }
        return wanted;
    }
    if (videos.empty()) return -1;
    if (videos.size() == 1) return videos.front()->index;
    const AVStream *chosen = nullptr;
    for (const AVStream *s : videos)
        if (s->disposition & AV_DISPOSITION_DEFAULT) {
            chosen = s;
            break;
        }
    std::string why = "the default one";
    if (!chosen) {
        why = "the largest";
        chosen = *std::max_element(videos.begin(), videos.end(), [](const AVStream *a, const AVStream *b) {
            return int64_t(a->codecpar->width) * a->codecpar->height <
                   int64_t(b->codecpar->width) * b->codecpar->height;
        });
    }
    note = "using " + Describe(chosen) + ", " + why + " of " + std::to_string(videos.size()) +
           " video streams; --stream N chooses another";
    return chosen->index;
}

}  // namespace

// Decodes the whole video stream once and notes each shown frame's time.
// Pictures are not needed, so the decoder may skip the loop filter.
bool FrameTimesByDecoding(const std::string &path, int stream, AVRational rate, std::vector<int64_t> &times,
                          std::string &error) {
    times.clear();
    FormatPtr format;
    if (!OpenFormat(path, format, error)) return false;
    if (stream < 0 || stream >= int(format->nb_streams)) {
        error = "'" + path + "' has no stream " + std::to_string(stream);
        return false;
    }
    AVStream *vs = format->streams[stream];
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
    CodecPtr ctx = OpenDecoder(vs, true, error);
    if (!ctx) return false;
    ctx->skip_loop_filter = AVDISCARD_ALL;
    AVPacketPtr packet(av_packet_alloc());
    AVFramePtr frame(av_frame_alloc());
    int64_t step = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), vs->time_base));
    auto take = [&] {
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            int64_t t = frame->best_effort_timestamp;
            if (t == AV_NOPTS_VALUE) t = times.empty() ? 0 : times.back() + step;
            times.push_back(t);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(ctx.get(), packet.get());  // a damaged packet is skipped
            take();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(ctx.get(), nullptr);
    take();
    return true;
}

namespace {

// Codecs whose every packet, in the containers that store presentation
// times, is exactly one picture the decoder shows: each picture complete in
// itself, or H.264, whose decoder shows every coded picture from a key
// frame on. Others (hidden frames, packed B-frames, pictures dropped after
// an open-GOP start) are decoded.
bool OnePacketOneFrame(const AVFormatContext *format, const AVCodecParameters *par) {
    if (const AVCodecDescriptor *d = avcodec_descriptor_get(par->codec_id);
        d && (d->props & AV_CODEC_PROP_INTRA_ONLY) && par->codec_id != AV_CODEC_ID_MPEG4)
        return true;
    if (par->codec_id != AV_CODEC_ID_H264) return false;
    // AVI and raw streams have no presentation times of their own: those
    // of reordered pictures would be guesses.
    const std::string name = format->iformat->name;
    return name.find("avi") == std::string::npos && name != "h264";
}

}  // namespace

bool FrameTimesFromPackets(const std::string &path, int stream, std::vector<int64_t> &times) {
    times.clear();
    FormatPtr format;
    std::string ignored;
    if (!OpenFormat(path, format, ignored)) return false;
    if (stream < 0 || stream >= int(format->nb_streams)) return false;
    if (!OnePacketOneFrame(format.get(), format->streams[stream]->codecpar)) return false;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
    AVPacketPtr packet(av_packet_alloc());
    if (!packet) return false;
    bool vouched = true;
    int rc = 0;
    while (vouched && (rc = av_read_frame(format.get(), packet.get())) >= 0) {
        if (packet->stream_index == stream) {
            // A decoder drops what comes before the first key frame, what an
            // edit list cuts off, and may drop what is damaged; a packet
            // without a time or without data leaves the count to the decoder.
            const bool first = times.empty();
            vouched = packet->pts != AV_NOPTS_VALUE && packet->size > 0 &&
                      !(packet->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT)) &&
                      (!first || (packet->flags & AV_PKT_FLAG_KEY));
            if (vouched) times.push_back(packet->pts);
        }
        av_packet_unref(packet.get());
    }
    // A read error before the end is a damaged file: the decoder decides.
    vouched = vouched && rc == AVERROR_EOF && !times.empty();
    if (vouched) {
        std::sort(times.begin(), times.end());
        vouched = std::adjacent_find(times.begin(), times.end()) == times.end();
    }
    if (!vouched) times.clear();
    return vouched;
}

namespace {

// The frame times: from the packets where they vouch for every frame, else
// by decoding; KELVARIN_EXACT_TIMES=1 always decodes.
bool LearnFrameTimes(const std::string &path, int stream, AVRational rate, std::vector<int64_t> &times,
                     std::string &error) {
    const char *exact = std::getenv("KELVARIN_EXACT_TIMES");
    if (!(exact && std::strcmp(exact, "1") == 0) && FrameTimesFromPackets(path, stream, times)) return true;
    return FrameTimesByDecoding(path, stream, rate, times, error);
}

// Opens the file and the chosen stream's decoders; the frame times come separately.
ClipDecoderPtr OpenReader(const std::string &path, int wantedStream, std::string &error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "'" + path + "' is a folder, not a video file";
        return nullptr;
    }
    ClipDecoderPtr d(new ClipDecoder);
    d->path = path;
    if (!OpenFormat(path, d->format, error)) return nullptr;
    AVFormatContext *f = d->format.get();
    std::string why;
    int vsIndex = ChooseVideoStream(f, wantedStream, d->info.streamNote, why);
    if (vsIndex < 0) {
        error = why.empty() ? "'" + path + "' holds no video stream" : why;
        return nullptr;
    }
    d->info.videoStream = vsIndex;
    AVStream *vs = f->streams[vsIndex];
    d->video = OpenDecoder(vs, true, error);
    if (!d->video) {
        error = "'" + path + "': " + error;
        return nullptr;
    }
    d->info.width = d->video->width;
    d->info.height = d->video->height;
    if (d->info.width <= 0 || d->info.height <= 0) {
        error = "'" + path + "' is damaged: its video has no picture size";
        return nullptr;
    }
    AVRational rate = av_guess_frame_rate(f, vs, nullptr);
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    d->info.frameRate = rate;
    d->info.timeBase = vs->time_base;
    d->info.audioStream = av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, vsIndex, nullptr, 0);
    if (d->info.audioStream >= 0) {
        std::string audioError;
        d->audio = OpenDecoder(f->streams[d->info.audioStream], false, audioError);
        if (d->audio) {
            d->info.hasAudio = true;
            d->info.sampleRate = d->audio->sample_rate;
            d->info.channels = d->audio->ch_layout.nb_channels;
            d->info.sampleFormat = d->audio->sample_fmt;
        } else {
            d->info.audioStream = -1;
        }
    }
    d->copied.assign(f->nb_streams, false);
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (int(i) != vsIndex) f->streams[i]->discard = AVDISCARD_ALL;
    return d;
}

}  // namespace

ClipDecoderPtr OpenClipDecoder(const std::string &path, std::string &error, int stream) {
    ClipDecoderPtr d = OpenReader(path, stream, error);
    if (!d) return nullptr;
    auto times = std::make_shared<std::vector<int64_t>>();
    if (!LearnFrameTimes(path, d->info.videoStream, d->info.frameRate, *times, error)) return nullptr;
    if (times->empty()) {
        error = "'" + path + "' holds no video frames";
        return nullptr;
    }
    d->info.frameCount = int64_t(times->size());
    d->times = std::move(times);
    return d;
}

ClipDecoderPtr ReopenClipDecoder(const ClipDecoder &other, std::string &error) {
    ClipDecoderPtr d = OpenReader(other.path, other.info.videoStream, error);
    if (!d) return nullptr;
    d->info = other.info;
    d->times = other.times;
    return d;
}

bool SetAudioTarget(ClipDecoder &d, const AudioTarget &target, std::string &error) {
    if (d.info.audioStream < 0) return true;
    if (target.format == AV_SAMPLE_FMT_NONE || target.sampleRate <= 0 || target.layout.nb_channels <= 0) {
        error = "no usable audio format for the output";
        return false;
    }
    av_channel_layout_uninit(&d.audioTarget.layout);
    d.audioTarget.format = target.format;
    d.audioTarget.sampleRate = target.sampleRate;
    av_channel_layout_copy(&d.audioTarget.layout, &target.layout);
    d.resampler.reset();
    d.audioWanted = true;
    d.format->streams[d.info.audioStream]->discard = AVDISCARD_DEFAULT;
    return true;
}

void SetCopiedStreams(ClipDecoder &d, const std::vector<int> &streams) {
    for (int s : streams) {
        if (s < 0 || s >= int(d.copied.size()) || s == d.info.videoStream) continue;
        d.copied[s] = true;
        d.format->streams[s]->discard = AVDISCARD_DEFAULT;
    }
}

// ---- Colour -------------------------------------------------------------

ColourModel ColourModelOf(AVColorSpace space, AVColorRange range, AVPixelFormat format, int height) {
    ColourModel m;
    switch (space) {
        case AVCOL_SPC_BT709:
            m.matrix = SWS_CS_ITU709;
            break;
        case AVCOL_SPC_FCC:
            m.matrix = SWS_CS_FCC;
            break;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            m.matrix = SWS_CS_ITU601;
            break;
        case AVCOL_SPC_SMPTE240M:
            m.matrix = SWS_CS_SMPTE240M;
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            m.matrix = SWS_CS_BT2020;
            break;
        default:
            m.matrix = height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
            break;
    }
    // The old "J" formats are full range by definition.
    bool jpegFormat = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
                      format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    m.fullRange = range == AVCOL_RANGE_JPEG || jpegFormat;
    return m;
}

void SetConversionColour(SwsContext *scaler, const ColourModel &from, const ColourModel &to) {
    if (!scaler) return;
    int *inv = nullptr, *table = nullptr, srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(scaler, &inv, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation) < 0)
        return;
    sws_setColorspaceDetails(scaler, sws_getCoefficients(from.matrix), from.fullRange ? 1 : 0,
                             sws_getCoefficients(to.matrix), to.fullRange ? 1 : 0, brightness, contrast, saturation);
}

SwsContext *SlicedScaler(SwsPtr &held, int srcW, int srcH, AVPixelFormat srcFormat, int dstW, int dstH,
                         AVPixelFormat dstFormat, int flags) {
    const std::pair<const char *, int64_t> options[] = {{"srcw", srcW},      {"srch", srcH}, {"src_format", srcFormat},
                                                        {"dstw", dstW},      {"dsth", dstH}, {"dst_format", dstFormat},
                                                        {"sws_flags", flags}};
    auto same = [&] {
        for (const auto &[name, value] : options) {
            int64_t now = 0;
            if (av_opt_get_int(held.get(), name, 0, &now) < 0 || now != value) return false;
        }
        return true;
    };
    if (held && same()) return held.get();
    held.reset(sws_alloc_context());
    if (!held) return nullptr;
    bool set = av_opt_set_int(held.get(), "threads", std::max(1u, std::thread::hardware_concurrency()), 0) >= 0;
    for (const auto &[name, value] : options) set = set && av_opt_set_int(held.get(), name, value, 0) >= 0;
    if (!set || sws_init_context(held.get(), nullptr, nullptr) < 0) held.reset();
    return held.get();
}

AVFramePtr LendPicture(const ArgbPicture &picture) {
    AVFramePtr f(av_frame_alloc());
    if (!f) return nullptr;
    f->buf[0] = av_buffer_create(
        picture.pixels.get(), picture.ByteCount(), [](void *, uint8_t *) {}, nullptr, 0);
    if (!f->buf[0]) return nullptr;
    f->format = AV_PIX_FMT_ARGB;
    f->width = picture.width;
    f->height = picture.height;
    f->data[0] = f->buf[0]->data;
    f->linesize[0] = int(picture.RowBytes());
    return f;
}

bool SwscaleToPicture(SwsPtr &scaler, const AVFrame &frame, int width, int height, bool highQuality,
                      ArgbPicture &picture) {
    if (width <= 0 || height <= 0) return false;
    if (picture.width != width || picture.height != height || !picture.pixels) picture = MakePicture(width, height);
    auto format = AVPixelFormat(frame.format);
    int flags = (highQuality ? SWS_BICUBIC : SWS_FAST_BILINEAR) | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    SwsContext *s = SlicedScaler(scaler, frame.width, frame.height, format, width, height, AV_PIX_FMT_ARGB, flags);
    AVFramePtr out = LendPicture(picture);
    if (!s || !out) return false;
    ColourModel rgb;  // full-range RGB out; the matrix does not matter for it
    SetConversionColour(s, ColourModelOf(frame.colorspace, frame.color_range, format, frame.height), rgb);
    return sws_scale_frame(s, out.get(), &frame) >= 0;
}

namespace {

// The plan for this frame when the vector conversion can do it: 8-bit 4:2:0
// at its own size with bicubic chroma, a CPU with the kernels, and the
// reference not asked for.
const YuvArgbPlan *PlanFor(ArgbConverter &c, const AVFrame &frame, int width, int height, bool highQuality) {
    // Without vector kernels the plain loops would be slower than swscale.
    static const bool vectorKernels = YuvRowKernelSets().size() > 1;
    auto format = AVPixelFormat(frame.format);
    bool eligible = (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) && highQuality &&
                    frame.width == width && frame.height == height && vectorKernels && !PlatformReferenceOnly();
    if (!eligible || c.trust == PlanTrust::Refused) return nullptr;
    ColourModel from = ColourModelOf(frame.colorspace, frame.color_range, format, frame.height);
    if (!c.plan || c.plan->width != width || c.plan->height != height || c.planMatrix != from.matrix ||
        c.planFullRange != from.fullRange) {
        YuvColour colour;
        colour.table = sws_getCoefficients(from.matrix);
        colour.fullRange = from.fullRange;
        c.plan = MakeYuvArgbPlan(width, height, colour);
        c.planMatrix = from.matrix;
        c.planFullRange = from.fullRange;
        c.trust = PlanTrust::Unchecked;
    }
    return c.plan ? &*c.plan : nullptr;
}

void PlanToPicture(const YuvArgbPlan &plan, const AVFrame &frame, ArgbPicture &picture) {
    YuvPlanes planes{{frame.data[0], frame.data[1], frame.data[2]},
                     {frame.linesize[0], frame.linesize[1], frame.linesize[2]}};
    YuvToArgb(plan, planes, picture.pixels.get(), ptrdiff_t(picture.RowBytes()));
}

}  // namespace

bool FrameToPicture(ArgbConverter &converter, const AVFrame &frame, int width, int height, bool highQuality,
                    ArgbPicture &picture) {
    const YuvArgbPlan *plan = PlanFor(converter, frame, width, height, highQuality);
    if (plan && converter.trust == PlanTrust::Matched) {
        if (picture.width != width || picture.height != height || !picture.pixels)
            picture = MakePicture(width, height);
        PlanToPicture(*plan, frame, picture);
        return true;
    }
    if (!SwscaleToPicture(converter.scaler, frame, width, height, highQuality, picture)) return false;
    if (plan) {
        // A plan's first frame goes both ways and the plan is used only if
        // every byte agrees: a libswscale that computes differently shows on
        // a real frame, and swscale keeps converting.
        ArgbPicture check = MakePicture(width, height);
        PlanToPicture(*plan, frame, check);
        bool same = std::memcmp(check.pixels.get(), picture.pixels.get(), picture.ByteCount()) == 0;
        converter.trust = same ? PlanTrust::Matched : PlanTrust::Refused;
    }
    return true;
}

// ---- Sequential reading ---------------------------------------------------

namespace {

// (Re)configures the resampler for what the decoder really delivers: a
// decoder may only settle its channel layout with the first frame.
bool ConfigureResampler(ClipDecoder &d, const AVFrame &in) {
    if (d.resampler && in.format == d.resamplerFormat && in.sample_rate == d.resamplerRate &&
        av_channel_layout_compare(&in.ch_layout, &d.resamplerLayout) == 0)
        return true;
    AVChannelLayout inLayout{};
    if (in.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, in.ch_layout.nb_channels);
    else
        av_channel_layout_copy(&inLayout, &in.ch_layout);
    SwrContext *swr = nullptr;
    int rc = swr_alloc_set_opts2(&swr, &d.audioTarget.layout, d.audioTarget.format, d.audioTarget.sampleRate, &inLayout,
                                 AVSampleFormat(in.format), in.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (rc < 0 || swr_init(swr) < 0) {
        swr_free(&swr);
        return false;
    }
    d.resampler.reset(swr);
    d.resamplerFormat = in.format;
    d.resamplerRate = in.sample_rate;
    av_channel_layout_uninit(&d.resamplerLayout);
    av_channel_layout_copy(&d.resamplerLayout, &in.ch_layout);
    return true;
}

// Converts decoded audio frames (or the resampler's tail with nil) into
// blocks of the target format. The first block keeps the source's start
// time; later ones follow on sample by sample.
void ConvertAudio(ClipDecoder &d, AVFrame *in) {
    if (in && !ConfigureResampler(d, *in)) return;
    if (!d.resampler) return;
    if (in && d.audioNextPts == AV_NOPTS_VALUE) {
        int64_t t = in->best_effort_timestamp;
        AVRational tb = d.format->streams[d.info.audioStream]->time_base;
        d.audioNextPts = t == AV_NOPTS_VALUE ? 0 : av_rescale_q(t, tb, AVRational{1, d.audioTarget.sampleRate});
    }
    AVFramePtr out(av_frame_alloc());
    out->format = d.audioTarget.format;
    out->sample_rate = d.audioTarget.sampleRate;
    av_channel_layout_copy(&out->ch_layout, &d.audioTarget.layout);
    if (in && in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in->ch_layout, in->ch_layout.nb_channels);
    if (swr_convert_frame(d.resampler.get(), out.get(), in) < 0) return;
    if (out->nb_samples > 0) {
        out->pts = d.audioNextPts == AV_NOPTS_VALUE ? 0 : d.audioNextPts;
        d.audioNextPts = out->pts + out->nb_samples;
        d.audioReady.push_back(std::move(out));
    }
}

void DrainAudio(ClipDecoder &d) {
    while (avcodec_receive_frame(d.audio.get(), d.frame.get()) == 0) {
        ConvertAudio(d, d.frame.get());
        av_frame_unref(d.frame.get());
    }
}

}  // namespace

UnitKind ReadNextUnit(ClipDecoder &d, AVFramePtr &video, int64_t &videoIndex, AVFramePtr &audio, AVPacketPtr &packet,
                      std::string &error) {
    const std::vector<int64_t> &times = *d.times;
    for (;;) {
        if (!d.packetsReady.empty()) {
            packet = std::move(d.packetsReady.front());
            d.packetsReady.pop_front();
            return UnitKind::Packet;
        }
        if (!d.audioReady.empty()) {
            audio = std::move(d.audioReady.front());
            d.audioReady.pop_front();
            return UnitKind::Audio;
        }
        if (!d.videoDrained) {
            if (!video) video.reset(av_frame_alloc());
            int rc = avcodec_receive_frame(d.video.get(), video.get());
            if (rc == 0) {
                videoIndex = d.nextVideoIndex++;
                // Frames past the ones learnt on opening cannot be told to the plug-in.
                if (videoIndex >= int64_t(times.size())) {
                    av_frame_unref(video.get());
                    continue;
                }
                video->pts = times[std::size_t(videoIndex)];
                return UnitKind::Video;
            }
            if (rc == AVERROR_EOF) d.videoDrained = true;
        }
        if (d.demuxDone) {
            if (d.audioWanted && !d.audioDrained) {
                DrainAudio(d);
                d.audioDrained = true;
                continue;
            }
            if (d.audioWanted && !d.audioFlushed) {
                d.audioFlushed = true;
                ConvertAudio(d, nullptr);
                continue;
            }
            if (d.videoDrained) return UnitKind::End;
            continue;  // keep receiving video until the decoder says EOF
        }
        int rc = av_read_frame(d.format.get(), d.packet.get());
        if (rc < 0) {
            if (rc != AVERROR_EOF && d.nextVideoIndex == 0) {
                error = "'" + d.path + "' is damaged: " + AVErrorText(rc);
                return UnitKind::Error;
            }
            d.demuxDone = true;
            avcodec_send_packet(d.video.get(), nullptr);
            if (d.audioWanted) avcodec_send_packet(d.audio.get(), nullptr);
            continue;
        }
        int s = d.packet->stream_index;
        if (s == d.info.videoStream) {
            // A damaged packet is skipped; the decoder resynchronises on the next.
            avcodec_send_packet(d.video.get(), d.packet.get());
        } else if (s >= 0 && s < int(d.copied.size()) && d.copied[s]) {
            AVPacketPtr p(av_packet_alloc());
            av_packet_move_ref(p.get(), d.packet.get());
            d.packetsReady.push_back(std::move(p));
        } else if (d.audioWanted && s == d.info.audioStream) {
            if (avcodec_send_packet(d.audio.get(), d.packet.get()) == 0) DrainAudio(d);
        }
        av_packet_unref(d.packet.get());
    }
}

// ---- Random access -----------------------------------------------------------

namespace {

// Back to the very beginning, as a fresh open: counting frames from here
// gives exactly the sequential decode's numbering.
bool Rewind(ClipDecoder &d) {
    FormatPtr format;
    std::string ignored;
    if (!OpenFormat(d.path, format, ignored)) return false;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != d.info.videoStream) format->streams[i]->discard = AVDISCARD_ALL;
    d.format = std::move(format);
    avcodec_flush_buffers(d.video.get());
    d.demuxDone = d.videoDrained = false;
    d.nextVideoIndex = 0;
    return true;
}

// To the key frame at or before time ts; frames are then told by their time.
bool SeekBefore(ClipDecoder &d, int64_t ts) {
    if (av_seek_frame(d.format.get(), d.info.videoStream, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(d.video.get());
    d.demuxDone = d.videoDrained = false;
    d.nextVideoIndex = -1;
    return true;
}

// Decodes the next video frame into d.frame; false at the end of the clip.
bool DecodeOne(ClipDecoder &d) {
    for (;;) {
        int rc = avcodec_receive_frame(d.video.get(), d.frame.get());
        if (rc == 0) return true;
        if (rc == AVERROR_EOF) {
            d.videoDrained = true;
            return false;
        }
        if (d.demuxDone) return false;
        if (av_read_frame(d.format.get(), d.packet.get()) < 0) {
            d.demuxDone = true;
            avcodec_send_packet(d.video.get(), nullptr);
            continue;
        }
        if (d.packet->stream_index == d.info.videoStream) avcodec_send_packet(d.video.get(), d.packet.get());
        av_packet_unref(d.packet.get());
    }
}

// The index of the frame shown at time t, or -1 when no frame is.
int64_t IndexOfTime(const std::vector<int64_t> &times, int64_t t) {
    auto it = std::lower_bound(times.begin(), times.end(), t);
    return it != times.end() && *it == t ? int64_t(it - times.begin()) : -1;
}

enum class Outcome { Found, Passed, Ended };

// Decodes forward until frame `index`. After a seek frames are told by
// their time; once one is known, the following ones are counted.
Outcome DecodeUntil(ClipDecoder &d, int64_t index, int64_t &firstSeen) {
    const std::vector<int64_t> &times = *d.times;
    bool timesSorted = std::is_sorted(times.begin(), times.end());
    firstSeen = -1;
    for (;;) {
        if (!DecodeOne(d)) return Outcome::Ended;
        int64_t k = d.nextVideoIndex;
        if (k < 0 && timesSorted) k = IndexOfTime(times, d.frame->best_effort_timestamp);
        if (k < 0) {
            av_frame_unref(d.frame.get());
            continue;
        }
        if (firstSeen < 0) firstSeen = k;
        d.nextVideoIndex = k + 1;
        if (k == index) return Outcome::Found;
        av_frame_unref(d.frame.get());
        if (k > index) return Outcome::Passed;
    }
}

}  // namespace

bool FetchClipFrame(ClipDecoder &d, int64_t index, int width, int height, bool highQuality, ArgbPicture &picture,
                    std::string &error) {
    if (index < 0 || index >= d.info.frameCount) {
        error = "frame " + std::to_string(index) + " is outside the clip (0.." + std::to_string(d.info.frameCount - 1) +
                ")";
        return false;
    }
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable";
        return false;
    }
    const std::vector<int64_t> &times = *d.times;
    constexpr int64_t kForwardReach = 48;  // decoding this far ahead beats a seek
    bool forward = d.nextVideoIndex >= 0 && index >= d.nextVideoIndex && index < d.nextVideoIndex + kForwardReach &&
                   !d.videoDrained;
    // Near: decode on. Far: seek before the frame's time, and further back
    // when the seek lands past it (open GOPs, streams indexed by decode
    // time). Last resort: from the beginning, counting.
    Outcome got = Outcome::Ended;
    int64_t firstSeen = -1;
    if (forward) got = DecodeUntil(d, index, firstSeen);
    int64_t seekTo = times[std::size_t(index)];
    for (int attempt = 0; got != Outcome::Found && attempt < 3; ++attempt) {
        if (!SeekBefore(d, seekTo)) break;
        got = DecodeUntil(d, index, firstSeen);
        if (got == Outcome::Found) break;
        int64_t back = firstSeen > 0 ? std::min(firstSeen, index) - 1 : 0;
        int64_t earlier = times[std::size_t(std::max<int64_t>(0, back))];
        seekTo = std::min(seekTo - 1, earlier);
    }
    if (got != Outcome::Found) {
        if (!Rewind(d)) {
            error = "cannot read '" + d.path + "' again";
            return false;
        }
        got = DecodeUntil(d, index, firstSeen);
    }
    if (got != Outcome::Found) {
        error = "frame " + std::to_string(index) + " of '" + d.path + "' cannot be decoded";
        return false;
    }
    bool ok = FrameToPicture(d.converter, *d.frame, width, height, highQuality, picture);
    av_frame_unref(d.frame.get());
    if (!ok) error = "cannot convert frame " + std::to_string(index) + " of '" + d.path + "'";
    return ok;
}

bool ScalePicture(const ArgbPicture &source, int width, int height, bool highQuality, ArgbPicture &result) {
    if (width <= 0 || height <= 0 || !source.pixels) return false;
    SwsPtr ctx(sws_getContext(source.width, source.height, AV_PIX_FMT_ARGB, width, height, AV_PIX_FMT_ARGB,
                              highQuality ? SWS_BICUBIC : SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
    if (!ctx) return false;
    result = MakePicture(width, height);
    const uint8_t *src[4] = {source.pixels.get(), nullptr, nullptr, nullptr};
    int srcStride[4] = {int(source.RowBytes()), 0, 0, 0};
    uint8_t *dst[4] = {result.pixels.get(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(result.RowBytes()), 0, 0, 0};
    sws_scale(ctx.get(), src, srcStride, 0, source.height, dst, dstStride);
    return true;
}
