#include "VideoSink.h"

#include "ArgbToYuv.h"
#include "PlatformRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

struct FifoFree {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};

}  // namespace

struct ClipEncoder {
    AVFormatContext *format = nullptr;
    bool ioOpen = false;
    std::unique_ptr<AVCodecContext, CodecFree> video;
    std::unique_ptr<AVCodecContext, CodecFree> audio;
    AVStream *videoStream = nullptr;
    AVStream *audioStream = nullptr;
    AVRational frameTimeBase{1, 25};  // of the pts WriteVideo* get
    ColourModel outputColour;         // matrix and range of the encoder's YUV
    bool outputIsRgb = false;
    SwsPtr converter;
    std::optional<ArgbYuvPlan> yuvPlan;  // the vector conversion of pictures, where it applies
    bool yuvPlanMade = false;
    PlanTrust yuvPlanTrust = PlanTrust::Unchecked;
    AVFramePtr videoFrame{av_frame_alloc()};
    AVFramePtr audioFrame{av_frame_alloc()};
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    AVPacket *packet = av_packet_alloc();
    int64_t videoPts = 0;
    int64_t audioPts = AV_NOPTS_VALUE;
    std::vector<int> copiedStreams;
    std::vector<AVStream *> outputOf;  // per source stream: its copy in the output, or nil
    std::vector<AVRational> sourceTimeBase;
    bool audioCopied = false;
    std::vector<std::string> notes;

    ~ClipEncoder() {
        av_packet_free(&packet);
        if (format) {
            if (ioOpen) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

void ClipEncoderDelete::operator()(ClipEncoder *e) const { delete e; }

const std::vector<int> &GetCopiedStreams(const ClipEncoder &e) { return e.copiedStreams; }
bool AudioIsCopied(const ClipEncoder &e) { return e.audioCopied; }
const std::vector<std::string> &GetSinkNotes(const ClipEncoder &e) { return e.notes; }

AudioTarget GetAudioInput(const ClipEncoder &e) {
    AudioTarget t;
    if (!e.audio) return t;
    t.format = e.audio->sample_fmt;
    t.sampleRate = e.audio->sample_rate;
    t.layout = e.audio->ch_layout;  // shallow: the caller copies it
    return t;
}

namespace {

std::string Extension(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    return ext.empty() ? "(no extension)" : ext;
}

// avformat_query_codec: 1 yes, 0 no, negative "cannot tell", which is tried.
bool ContainerMayTake(const AVOutputFormat *format, AVCodecID id) {
    return avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL) != 0;
}

AVSampleFormat LosslessPcmFormat(AVSampleFormat source, AVCodecID &codec) {
    switch (av_get_packed_sample_fmt(source)) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_S16:
            codec = AV_CODEC_ID_PCM_S16LE;
            return AV_SAMPLE_FMT_S16;
        case AV_SAMPLE_FMT_FLT:
            codec = AV_CODEC_ID_PCM_F32LE;
            return AV_SAMPLE_FMT_FLT;
        case AV_SAMPLE_FMT_DBL:
            codec = AV_CODEC_ID_PCM_F64LE;
            return AV_SAMPLE_FMT_DBL;
        default:
            codec = AV_CODEC_ID_PCM_S32LE;
            return AV_SAMPLE_FMT_S32;
    }
}

bool IsRgb(AVPixelFormat f) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(f);
    return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

bool FitsSize(AVPixelFormat f, int width, int height) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(f);
    return d && !(width & ((1 << d->log2_chroma_w) - 1)) && !(height & ((1 << d->log2_chroma_h) - 1));
}

bool Offers(const AVCodec *codec, AVPixelFormat f) {
    if (!codec->pix_fmts) return true;
    for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == f) return true;
    return false;
}

// The source's own pixel format where the encoder takes it, else the one
// losing least; a 4:4:4 format of the same depth when the size is odd.
AVPixelFormat ChoosePixelFormat(const AVCodec *codec, AVPixelFormat wanted, int width, int height,
                                std::vector<std::string> &notes) {
    AVPixelFormat f = wanted;
    if (!Offers(codec, f))
        f = codec->pix_fmts ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, wanted, 0, nullptr) : wanted;
    if (f == AV_PIX_FMT_NONE) f = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    if (!FitsSize(f, width, height)) {
        const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(f);
        int depth = d ? d->comp[0].depth : 8;
        for (AVPixelFormat full :
             {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV444P10, AV_PIX_FMT_YUV444P12, AV_PIX_FMT_GBRP, AV_PIX_FMT_BGR0}) {
            const AVPixFmtDescriptor *fd = av_pix_fmt_desc_get(full);
            if (Offers(codec, full) && fd && fd->comp[0].depth >= depth) {
                notes.push_back(std::to_string(width) + "x" + std::to_string(height) + " has an odd side, which " +
                                av_get_pix_fmt_name(f) + " cannot hold: " + codec->name + " writes " +
                                av_get_pix_fmt_name(full) + " (no chroma subsampling) instead");
                return full;
            }
        }
    }
    return f;
}

const AVCodec *ChooseVideoCodec(const SinkSettings &s, const AVOutputFormat *of, std::string &error) {
    if (!s.videoCodec.empty()) {
        const AVCodec *codec = avcodec_find_encoder_by_name(s.videoCodec.c_str());
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
            error = "unknown video encoder '" + s.videoCodec + "' (try libx264, mpeg4 or ffv1)";
        return codec && codec->type == AVMEDIA_TYPE_VIDEO ? codec : nullptr;
    }
    if (s.lossless) return avcodec_find_encoder(AV_CODEC_ID_FFV1);
    if (ContainerMayTake(of, AV_CODEC_ID_H264))
        if (const AVCodec *x264 = avcodec_find_encoder_by_name("libx264")) return x264;
    if (ContainerMayTake(of, AV_CODEC_ID_VP9) && of->video_codec == AV_CODEC_ID_VP9)
        if (const AVCodec *vp9 = avcodec_find_encoder_by_name("libvpx-vp9")) return vp9;
    if (of->video_codec != AV_CODEC_ID_NONE)
        if (const AVCodec *codec = avcodec_find_encoder(of->video_codec)) return codec;
    return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
}

// Codecs whose headers only know whole frame rates get the frames' rate as
// their time base; the others take the source's time base as it is.
bool NeedsFrameTimeBase(AVCodecID id) {
    return id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO || id == AV_CODEC_ID_MPEG4 ||
           id == AV_CODEC_ID_H263 || id == AV_CODEC_ID_H263P || id == AV_CODEC_ID_MJPEG;
}

void CopySideData(const AVStream *from, AVStream *to) {
    for (AVPacketSideDataType type : {AV_PKT_DATA_DISPLAYMATRIX, AV_PKT_DATA_STEREO3D, AV_PKT_DATA_SPHERICAL,
                                      AV_PKT_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_CONTENT_LIGHT_LEVEL}) {
        size_t size = 0;
        const uint8_t *data = av_stream_get_side_data(from, type, &size);
        if (!data || !size) continue;
        if (uint8_t *copy = av_stream_new_side_data(to, type, size)) std::memcpy(copy, data, size);
    }
}

void CopyStreamMetadata(const AVStream *from, AVStream *to, bool reencoded) {
    av_dict_copy(&to->metadata, from->metadata, 0);
    // Facts about the old encoding or length would be stale.
    if (reencoded) av_dict_set(&to->metadata, "encoder", nullptr, 0);
    av_dict_set(&to->metadata, "DURATION", nullptr, 0);
    to->disposition = from->disposition;
}

bool Drain(ClipEncoder &e, AVCodecContext *codec, AVStream *stream, std::string &error) {
    for (;;) {
        int rc = avcodec_receive_packet(codec, e.packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            error = "the encoder failed: " + AVErrorText(rc);
            return false;
        }
        av_packet_rescale_ts(e.packet, codec->time_base, stream->time_base);
        e.packet->stream_index = stream->index;
        rc = av_interleaved_write_frame(e.format, e.packet);
        if (rc < 0) {
            error = "cannot write the output: " + AVErrorText(rc);
            return false;
        }
    }
}

// The encoder asked for, else the best one for the container; refused when
// the container cannot hold its video.
const AVCodec *ChooseEncoder(const SinkSettings &s, const AVOutputFormat *of, const std::string &formatPath,
                             std::string &error) {
    const AVCodec *codec = ChooseVideoCodec(s, of, error);
    if (!codec) {
        if (error.empty()) error = "no suitable video encoder is installed";
        return nullptr;
    }
    if (!ContainerMayTake(of, codec->id)) {
        error = "a " + Extension(formatPath) + " file cannot hold " + codec->name + " video; use a .mkv output" +
                (s.lossless ? " for --lossless" : " or choose another --codec");
        return nullptr;
    }
    return codec;
}

// The source's pixel format, or --pix-fmt; made-up pictures go to 4:2:0, or
// RGB when lossless.
bool SetPixelFormat(ClipEncoder &e, const AVCodec *codec, const SinkSettings &s, const AVCodecParameters *sp,
                    std::string &error) {
    AVCodecContext *c = e.video.get();
    AVPixelFormat wanted = sp && sp->format >= 0 ? AVPixelFormat(sp->format)
                           : s.lossless          ? AV_PIX_FMT_0RGB32
                                                 : AV_PIX_FMT_YUV420P;
    if (!s.pixelFormat.empty()) wanted = av_get_pix_fmt(s.pixelFormat.c_str());
    c->pix_fmt = ChoosePixelFormat(codec, wanted, s.width, s.height, e.notes);
    if (!s.pixelFormat.empty() && c->pix_fmt != wanted) {
        error = std::string(codec->name) + " cannot write " + s.pixelFormat + "; it writes e.g. " +
                av_get_pix_fmt_name(c->pix_fmt);
        return false;
    }
    if (!FitsSize(c->pix_fmt, s.width, s.height)) {
        error = std::to_string(s.width) + "x" + std::to_string(s.height) + " frames cannot be encoded by " +
                codec->name + " in " + av_get_pix_fmt_name(c->pix_fmt) +
                " (it needs even sizes); use --size, --lossless or another --codec";
        return false;
    }
    e.outputIsRgb = IsRgb(c->pix_fmt);
    return true;
}

// The source's colour tags; YUV made from RGB gets the usual matrix for its size.
void SetColour(ClipEncoder &e, const SinkSettings &s, const AVCodecParameters *sp) {
    AVCodecContext *c = e.video.get();
    AVColorSpace space = sp ? sp->color_space : AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = sp ? sp->color_range : AVCOL_RANGE_UNSPECIFIED;
    bool sourceIsRgb = !sp || IsRgb(AVPixelFormat(sp->format)) || space == AVCOL_SPC_RGB;
    if (e.outputIsRgb) {
        space = AVCOL_SPC_RGB;
        range = AVCOL_RANGE_JPEG;
    } else if (sourceIsRgb) {
        space = s.height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        range = AVCOL_RANGE_MPEG;
    }
    c->colorspace = space;
    c->color_range = range;
    if (sp) {
        c->color_primaries = sp->color_primaries;
        c->color_trc = sp->color_trc;
        c->chroma_sample_location = sp->chroma_location;
    }
    e.outputColour = ColourModelOf(space, range, c->pix_fmt, s.height);
}

// The source's shape (its pixel aspect, for the new size) and scan.
void SetShapeAndScan(AVCodecContext *c, const SinkSettings &s, const AVCodecParameters *sp) {
    if (!sp) return;
    AVRational sar = sp->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0 && (s.width != sp->width || s.height != sp->height))
        av_reduce(&sar.num, &sar.den, int64_t(sar.num) * sp->width * s.height, int64_t(sar.den) * sp->height * s.width,
                  1 << 30);
    if (sar.num > 0 && sar.den > 0) c->sample_aspect_ratio = sar;
    c->field_order = sp->field_order;
    if (sp->field_order != AV_FIELD_PROGRESSIVE && sp->field_order != AV_FIELD_UNKNOWN)
        c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
}

// The user's encoder options (bitrate, crf, preset) over the defaults of
// each encoder, and the encoder opened with them.
bool OpenEncoder(AVCodecContext *c, const AVCodec *codec, const SinkSettings &s, const AVOutputFormat *of,
                 std::string &error) {
    if (s.bitRate > 0) c->bit_rate = s.bitRate;
    if (codec->id == AV_CODEC_ID_MPEG4 && s.bitRate <= 0) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 3;
    }
    if (of->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    if (!s.preset.empty()) av_dict_set(&options, "preset", s.preset.c_str(), 0);
    if (std::strcmp(codec->name, "libvpx-vp9") == 0) {
        // Constant quality, at a speed fit for a host that renders whole clips.
        av_dict_set(&options, "crf", "31", 0);
        if (s.bitRate <= 0) av_dict_set(&options, "b", "0", 0);
        av_dict_set(&options, "row-mt", "1", 0);
        if (s.preset.empty()) av_dict_set(&options, "deadline", "good", 0);
        av_dict_set(&options, "cpu-used", "4", 0);
    }
    if (s.crf >= 0) av_dict_set(&options, "crf", std::to_string(s.crf).c_str(), 0);
    int rc = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = std::string("cannot open the ") + codec->name + " encoder for " + std::to_string(s.width) + "x" +
                std::to_string(s.height) + " " + av_get_pix_fmt_name(c->pix_fmt) + ": " + AVErrorText(rc);
        return false;
    }
    return true;
}

// The output's video stream, with what it keeps of the source's.
void AddVideoStream(ClipEncoder &e, const AVCodec *codec, const SinkSettings &s, const AVStream *src,
                    const std::string &formatPath) {
    const AVCodecContext *c = e.video.get();
    const AVCodecParameters *sp = src ? src->codecpar : nullptr;
    e.videoStream = avformat_new_stream(e.format, nullptr);
    avcodec_parameters_from_context(e.videoStream->codecpar, c);
    e.videoStream->time_base = c->time_base;
    e.videoStream->avg_frame_rate = s.frameRate;
    if (sp) {
        e.videoStream->codecpar->field_order = sp->field_order;
        e.videoStream->sample_aspect_ratio = c->sample_aspect_ratio;
        CopySideData(src, e.videoStream);
        // Of FFmpeg's muxers only the QuickTime family writes a display matrix.
        size_t size = 0;
        const uint8_t *matrix = av_stream_get_side_data(src, AV_PKT_DATA_DISPLAYMATRIX, &size);
        const char *muxer = e.format->oformat->name;
        bool quickTime = std::strstr(muxer, "mov") || std::strstr(muxer, "mp4");
        if (matrix && size >= 9 * sizeof(int32_t) && !quickTime) {
            double degrees = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
            if (std::isfinite(degrees) && std::lround(degrees) % 360 != 0)
                e.notes.push_back("not kept: the rotation (" + std::to_string(std::lround(std::fabs(degrees))) +
                                  " degrees), which a " + Extension(formatPath) +
                                  " file cannot carry; use .mp4 or .mov");
        }
        CopyStreamMetadata(src, e.videoStream, true);
    }
    if (sp && sp->format >= 0 && sp->format != c->pix_fmt && s.videoCodec.empty())
        e.notes.push_back(std::string("video written as ") + av_get_pix_fmt_name(c->pix_fmt) + ": " + codec->name +
                          " cannot take the source's " + av_get_pix_fmt_name(AVPixelFormat(sp->format)));
}

bool OpenVideo(ClipEncoder &e, const SinkSettings &s, const std::string &formatPath, std::string &error) {
    const AVOutputFormat *of = e.format->oformat;
    const AVCodec *codec = ChooseEncoder(s, of, formatPath, error);
    if (!codec) return false;
    const AVStream *src = s.source && s.sourceVideo >= 0 ? s.source->streams[s.sourceVideo] : nullptr;
    const AVCodecParameters *sp = src ? src->codecpar : nullptr;
    e.video.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = e.video.get();
    c->width = s.width;
    c->height = s.height;
    e.frameTimeBase = s.timeBase.num > 0 ? s.timeBase : av_inv_q(s.frameRate);
    c->time_base = NeedsFrameTimeBase(codec->id) ? av_inv_q(s.frameRate) : e.frameTimeBase;
    c->framerate = s.frameRate;
    c->thread_count = 0;
    if (!SetPixelFormat(e, codec, s, sp, error)) return false;
    SetColour(e, s, sp);
    SetShapeAndScan(c, s, sp);
    if (!OpenEncoder(c, codec, s, of, error)) return false;
    AddVideoStream(e, codec, s, src, formatPath);
    return true;
}

// --audio-codec, else the container's choice: AAC, else Opus, else its
// own; lossless renders keep PCM of the source's depth, else FLAC. wanted:
// the sample format asked of it, id: the codec.
const AVCodec *ChooseAudioEncoder(const SinkSettings &s, const AVOutputFormat *of, const std::string &formatPath,
                                  AVSampleFormat &wanted, AVCodecID &id, std::string &error) {
    wanted = AV_SAMPLE_FMT_FLTP;
    id = AV_CODEC_ID_AAC;
    if (s.lossless) {
        wanted = LosslessPcmFormat(s.sourceSampleFormat, id);
        if (!ContainerMayTake(of, id)) id = AV_CODEC_ID_FLAC;
    } else if (!ContainerMayTake(of, AV_CODEC_ID_AAC)) {
        id = ContainerMayTake(of, AV_CODEC_ID_OPUS) ? AV_CODEC_ID_OPUS : of->audio_codec;
    }
    const AVCodec *codec = id == AV_CODEC_ID_OPUS ? avcodec_find_encoder_by_name("libopus") : nullptr;
    if (!s.audioCodec.empty() && s.audioCodec != "copy") {
        codec = avcodec_find_encoder_by_name(s.audioCodec.c_str());
        if (!codec) return error = "unknown audio encoder '" + s.audioCodec + "'", nullptr;
        id = codec->id;
    }
    if (!codec) codec = avcodec_find_encoder(id);
    if (!codec) return error = std::string("no ") + avcodec_get_name(id) + " audio encoder is installed", nullptr;
    if (!ContainerMayTake(of, codec->id)) {
        error = "a " + Extension(formatPath) + " file cannot hold " + codec->name + " audio; use a .mkv output";
        return nullptr;
    }
    return codec;
}

// The sample format wanted where the encoder takes it, the source's rate
// and channels (48 kHz stereo when it has none, or the rate is not taken).
void SetSamples(AVCodecContext *c, const AVCodec *codec, const SinkSettings &s, AVSampleFormat wanted) {
    c->sample_fmt = wanted;
    if (codec->sample_fmts) {
        bool ok = false;
        for (const AVSampleFormat *f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) ok |= *f == wanted;
        if (!ok) c->sample_fmt = codec->sample_fmts[0];
    }
    c->sample_rate = s.sampleRate > 0 ? s.sampleRate : 48000;
    if (codec->supported_samplerates) {
        bool ok = false;
        for (const int *r = codec->supported_samplerates; *r; ++r) ok |= *r == c->sample_rate;
        if (!ok) c->sample_rate = 48000;
    }
    if (s.layout.nb_channels > 0)
        av_channel_layout_copy(&c->ch_layout, &s.layout);
    else
        c->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    if (c->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&c->ch_layout, c->ch_layout.nb_channels);
    c->time_base = AVRational{1, c->sample_rate};
}

// --audio-bitrate, else for lossy encoders never below the source's rate
// when it was compressed too; 64 kb/s a channel at least, within what the
// encoders accept.
void SetAudioBitRate(AVCodecContext *c, const AVCodec *codec, AVCodecID id, const SinkSettings &s,
                     const AVStream *src) {
    if (!(codec->capabilities & AV_CODEC_CAP_LOSSLESS) && id != AV_CODEC_ID_FLAC &&
        avcodec_get_type(id) == AVMEDIA_TYPE_AUDIO && codec->id != AV_CODEC_ID_PCM_S16LE) {
        int channels = std::min(c->ch_layout.nb_channels, 6);
        int64_t rate = 64000 * channels;
        const AVCodecDescriptor *sd = src ? avcodec_descriptor_get(src->codecpar->codec_id) : nullptr;
        if (src && sd && (sd->props & AV_CODEC_PROP_LOSSY) && src->codecpar->bit_rate > rate)
            rate = src->codecpar->bit_rate;
        c->bit_rate = std::min<int64_t>(rate, 256000 * channels);
    }
    if (s.audioBitRate > 0) c->bit_rate = s.audioBitRate;
}

bool OpenAudio(ClipEncoder &e, const SinkSettings &s, const std::string &formatPath, std::string &error) {
    const AVOutputFormat *of = e.format->oformat;
    AVSampleFormat wanted;
    AVCodecID id;
    const AVCodec *codec = ChooseAudioEncoder(s, of, formatPath, wanted, id, error);
    if (!codec) return false;
    e.audio.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = e.audio.get();
    SetSamples(c, codec, s, wanted);
    const AVStream *src = s.source && s.sourceAudio >= 0 ? s.source->streams[s.sourceAudio] : nullptr;
    SetAudioBitRate(c, codec, id, s, src);
    if (of->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        error = std::string("cannot open the ") + codec->name + " audio encoder: " + AVErrorText(rc);
        return false;
    }
    e.audioStream = avformat_new_stream(e.format, nullptr);
    avcodec_parameters_from_context(e.audioStream->codecpar, c);
    e.audioStream->time_base = c->time_base;
    if (src) CopyStreamMetadata(src, e.audioStream, true);
    e.fifo.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4096));
    return true;
}

const char *KindName(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_AUDIO:
            return "audio";
        case AVMEDIA_TYPE_VIDEO:
            return "video";
        case AVMEDIA_TYPE_SUBTITLE:
            return "subtitle";
        case AVMEDIA_TYPE_ATTACHMENT:
            return "attachment";
        default:
            return "data";
    }
}

// Every source stream but the one rendered goes into the output as it is,
// where the container can hold its codec; the audio the plug-in levels only
// when allowed (else it is encoded).
bool AddCopiedStreams(ClipEncoder &e, const SinkSettings &s, const std::string &formatPath, bool &encodeAudio) {
    const AVFormatContext *in = s.source;
    const AVOutputFormat *of = e.format->oformat;
    e.outputOf.assign(in->nb_streams, nullptr);
    e.sourceTimeBase.assign(in->nb_streams, AVRational{1, 1});
    std::vector<std::string> dropped;
    encodeAudio = false;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream *st = in->streams[i];
        const AVCodecParameters *cp = st->codecpar;
        e.sourceTimeBase[i] = st->time_base;
        if (int(i) == s.sourceVideo) continue;
        bool isLevelledAudio = int(i) == s.sourceAudio;
        bool takes = cp->codec_id != AV_CODEC_ID_NONE && ContainerMayTake(of, cp->codec_id);
        // Subtitles and data go only where the container says it knows them:
        // one that cannot tell would store them as anonymous private data.
        if (cp->codec_type != AVMEDIA_TYPE_AUDIO && cp->codec_type != AVMEDIA_TYPE_VIDEO)
            takes =
                cp->codec_id != AV_CODEC_ID_NONE && avformat_query_codec(of, cp->codec_id, FF_COMPLIANCE_NORMAL) == 1;
        if (cp->codec_type == AVMEDIA_TYPE_ATTACHMENT) takes = std::strstr(of->name, "matroska") != nullptr;
        if (isLevelledAudio && (!takes || !s.audioMayBeCopied)) {
            encodeAudio = true;
            continue;
        }
        if (!takes) {
            dropped.push_back(std::string(KindName(cp->codec_type)) + " stream " + std::to_string(i) + " (" +
                              avcodec_get_name(cp->codec_id) + ")");
            continue;
        }
        AVStream *out = avformat_new_stream(e.format, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, cp) < 0) continue;
        out->codecpar->codec_tag = 0;  // the output's own tag for the codec
        out->time_base = st->time_base;
        CopyStreamMetadata(st, out, false);
        e.outputOf[i] = out;
        e.copiedStreams.push_back(int(i));
        if (isLevelledAudio) e.audioCopied = true;
    }
    if (!dropped.empty()) {
        std::string line = "not kept, as a " + Extension(formatPath) + " file cannot hold them:";
        for (const std::string &d : dropped) line += (d == dropped.front() ? " " : ", ") + d;
        e.notes.push_back(line);
    }
    return true;
}

bool CopyChapters(ClipEncoder &e, const AVFormatContext *in) {
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter *from = in->chapters[i];
        auto *to = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!to) return false;
        to->id = from->id;
        to->time_base = from->time_base;
        to->start = from->start;
        to->end = from->end;
        av_dict_copy(&to->metadata, from->metadata, 0);
        if (av_dynarray_add_nofree(&e.format->chapters, reinterpret_cast<int *>(&e.format->nb_chapters), to) < 0) {
            av_dict_free(&to->metadata);
            av_free(to);
            return false;
        }
    }
    return true;
}

}  // namespace

ClipEncoderPtr OpenClipEncoder(const std::string &formatPath, const std::string &writePath, const SinkSettings &s,
                               std::string &error) {
    ClipEncoderPtr e(new ClipEncoder);
    const AVOutputFormat *guess = av_guess_format(nullptr, formatPath.c_str(), nullptr);
    if (!guess) {
        error = "unknown output format " + Extension(formatPath) + "; use .mp4, .mkv, .mov, .ts or .webm";
        return nullptr;
    }
    if (avformat_alloc_output_context2(&e->format, guess, nullptr, writePath.c_str()) < 0) {
        error = "cannot prepare the output";
        return nullptr;
    }
    if (!OpenVideo(*e, s, formatPath, error)) return nullptr;
    bool encodeAudio = s.withAudio;
    if (s.source) {
        if (!AddCopiedStreams(*e, s, formatPath, encodeAudio)) return nullptr;
        av_dict_copy(&e->format->metadata, s.source->metadata, 0);
        av_dict_set(&e->format->metadata, "encoder", nullptr, 0);
        if (!CopyChapters(*e, s.source)) {
            error = "out of memory for the chapters";
            return nullptr;
        }
        encodeAudio = encodeAudio && s.withAudio;
    }
    if (encodeAudio && !OpenAudio(*e, s, formatPath, error)) return nullptr;
    if (!(e->format->oformat->flags & AVFMT_NOFILE)) {
        if (int rc = avio_open(&e->format->pb, writePath.c_str(), AVIO_FLAG_WRITE); rc < 0) {
            error = "cannot write '" + formatPath + "': " + AVErrorText(rc);
            return nullptr;
        }
        e->ioOpen = true;
    }
    if (int rc = avformat_write_header(e->format, nullptr); rc < 0) {
        error = "cannot write a " + Extension(formatPath) + " file with these streams: " + AVErrorText(rc) +
                "; try a .mkv output";
        return nullptr;
    }
    return e;
}

namespace {

// A writable frame in the encoder's format and size.
bool PrepareFrame(ClipEncoder &e, std::string &error) {
    AVCodecContext *c = e.video.get();
    AVFrame *f = e.videoFrame.get();
    if (f->data[0] && f->format == c->pix_fmt && av_frame_make_writable(f) >= 0) return true;
    av_frame_unref(f);
    f->format = c->pix_fmt;
    f->width = c->width;
    f->height = c->height;
    if (av_frame_get_buffer(f, 0) < 0) {
        error = "out of memory for an output frame";
        return false;
    }
    return true;
}

bool Encode(ClipEncoder &e, AVFrame &frame, std::string &error) {
    AVCodecContext *c = e.video.get();
    // The decoder's picture types would force the encoder's choices.
    frame.pict_type = AV_PICTURE_TYPE_NONE;
    if (frame.pts == AV_NOPTS_VALUE) frame.pts = av_rescale_q(e.videoPts, av_inv_q(c->framerate), e.frameTimeBase);
    ++e.videoPts;
    frame.pts = av_rescale_q(frame.pts, e.frameTimeBase, c->time_base);
    if (int rc = avcodec_send_frame(c, &frame); rc < 0) {
        error = "the video encoder failed: " + AVErrorText(rc);
        return false;
    }
    return Drain(e, c, e.videoStream, error);
}

void CopyFrameProperties(AVFrame &to, const AVFrame &from) {
    to.pts = from.pts;
    to.interlaced_frame = from.interlaced_frame;
    to.top_field_first = from.top_field_first;
    to.repeat_pict = from.repeat_pict;
}

// Converts src into the encoder's frame with the colour models given.
bool ConvertForEncoder(ClipEncoder &e, const AVFrame &src, int flags, const ColourModel &from, std::string &error) {
    AVCodecContext *c = e.video.get();
    SwsContext *converter = SlicedScaler(e.converter, src.width, src.height, AVPixelFormat(src.format), c->width,
                                         c->height, c->pix_fmt, flags);
    if (!converter) {
        error = "cannot convert the frames for the encoder";
        return false;
    }
    SetConversionColour(converter, from, e.outputColour);
    if (int rc = sws_scale_frame(converter, e.videoFrame.get(), &src); rc < 0) {
        error = "cannot convert the frames for the encoder: " + AVErrorText(rc);
        return false;
    }
    return true;
}

}  // namespace

bool WriteVideoFrame(ClipEncoder &e, AVFrame &frame, std::string &error) {
    AVCodecContext *c = e.video.get();
    if (frame.format == c->pix_fmt && frame.width == c->width && frame.height == c->height)
        return Encode(e, frame, error);
    if (!PrepareFrame(e, error)) return false;
    const auto format = AVPixelFormat(frame.format);
    if (!ConvertForEncoder(e, frame, SWS_BICUBIC | SWS_ACCURATE_RND,
                           ColourModelOf(frame.colorspace, frame.color_range, format, frame.height), error))
        return false;
    CopyFrameProperties(*e.videoFrame, frame);
    return Encode(e, *e.videoFrame, error);
}

namespace {

// The plan for pictures into this encoder's frames: 4:2:0 at the picture's
// size, a CPU with the kernels, and the reference not asked for.
const ArgbYuvPlan *PicturePlan(ClipEncoder &e, const ArgbPicture &picture) {
    static const bool vectorKernels = ArgbYuvRowKernelSets().size() > 1;  // else swscale is faster
    const AVCodecContext *c = e.video.get();
    if (c->pix_fmt != AV_PIX_FMT_YUV420P || picture.width != c->width || picture.height != c->height ||
        e.yuvPlanTrust == PlanTrust::Refused || !vectorKernels || PlatformReferenceOnly())
        return nullptr;
    if (!e.yuvPlanMade) {
        e.yuvPlan = MakeArgbYuvPlan(c->width, c->height, sws_getCoefficients(e.outputColour.matrix),
                                    e.outputColour.fullRange);
        e.yuvPlanMade = true;
    }
    return e.yuvPlan ? &*e.yuvPlan : nullptr;
}

YuvOutPlanes PlanesOf(AVFrame &f) { return {{f.data[0], f.data[1], f.data[2]}, {f.linesize[0], f.linesize[1], f.linesize[2]}}; }

bool SamePlanes(const AVFrame &a, const AVFrame &b) {
    for (int p = 0; p < 3; p++) {
        int w = p ? (a.width + 1) / 2 : a.width, h = p ? (a.height + 1) / 2 : a.height;
        for (int y = 0; y < h; y++)
            if (std::memcmp(a.data[p] + y * a.linesize[p], b.data[p] + y * b.linesize[p], size_t(w)) != 0) return false;
    }
    return true;
}

// The picture into the encoder's frame (made writable by the caller).
bool PictureToFrame(ClipEncoder &e, const ArgbPicture &picture, std::string &error) {
    const ArgbYuvPlan *plan = PicturePlan(e, picture);
    if (plan && e.yuvPlanTrust == PlanTrust::Matched) {
        ArgbToYuv(*plan, picture.pixels.get(), ptrdiff_t(picture.RowBytes()), PlanesOf(*e.videoFrame));
        return true;
    }
    const AVFramePtr src = LendPicture(picture);  // not copied
    if (!src) {
        error = "out of memory for an output frame";
        return false;
    }
    if (!ConvertForEncoder(e, *src, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, ColourModel{}, error))
        return false;
    if (plan) {
        // The plan's first frame goes both ways and the plan is used only if
        // every byte agrees, as on the decoding side.
        AVFramePtr check(av_frame_alloc());
        check->format = e.videoFrame->format;
        check->width = e.videoFrame->width;
        check->height = e.videoFrame->height;
        bool same = false;
        if (check && av_frame_get_buffer(check.get(), 0) >= 0) {
            ArgbToYuv(*plan, picture.pixels.get(), ptrdiff_t(picture.RowBytes()), PlanesOf(*check));
            same = SamePlanes(*check, *e.videoFrame);
        }
        e.yuvPlanTrust = same ? PlanTrust::Matched : PlanTrust::Refused;
    }
    return true;
}

}  // namespace

bool WriteVideo(ClipEncoder &e, const ArgbPicture &picture, const AVFrame *like, std::string &error) {
    if (!PrepareFrame(e, error) || !PictureToFrame(e, picture, error)) return false;
    if (like) {
        CopyFrameProperties(*e.videoFrame, *like);
    } else {
        e.videoFrame->pts = AV_NOPTS_VALUE;
    }
    return Encode(e, *e.videoFrame, error);
}

bool WritePacket(ClipEncoder &e, AVPacket &packet, std::string &error) {
    int s = packet.stream_index;
    if (s < 0 || s >= int(e.outputOf.size()) || !e.outputOf[s]) return true;
    AVStream *out = e.outputOf[s];
    av_packet_rescale_ts(&packet, e.sourceTimeBase[s], out->time_base);
    packet.stream_index = out->index;
    packet.pos = -1;
    if (int rc = av_interleaved_write_frame(e.format, &packet); rc < 0) {
        error = "cannot write the output: " + AVErrorText(rc);
        return false;
    }
    return true;
}

namespace {

bool EncodeAudioFromFifo(ClipEncoder &e, bool all, std::string &error) {
    AVCodecContext *c = e.audio.get();
    int frameSize = c->frame_size > 0 ? c->frame_size : 1024;
    while (av_audio_fifo_size(e.fifo.get()) >= (all ? 1 : frameSize)) {
        int n = std::min(frameSize, av_audio_fifo_size(e.fifo.get()));
        AVFrame *f = e.audioFrame.get();
        av_frame_unref(f);
        f->nb_samples = n;
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        if (av_frame_get_buffer(f, 0) < 0) {
            error = "out of memory for audio";
            return false;
        }
        av_audio_fifo_read(e.fifo.get(), reinterpret_cast<void **>(f->extended_data), n);
        f->pts = e.audioPts;
        e.audioPts += n;
        if (int rc = avcodec_send_frame(c, f); rc < 0) {
            error = "the audio encoder failed: " + AVErrorText(rc);
            return false;
        }
        if (!Drain(e, c, e.audioStream, error)) return false;
    }
    return true;
}

}  // namespace

bool WriteAudio(ClipEncoder &e, const AVFrame &samples, std::string &error) {
    if (!e.audio) return true;
    if (e.audioPts == AV_NOPTS_VALUE) e.audioPts = samples.pts == AV_NOPTS_VALUE ? 0 : samples.pts;
    if (av_audio_fifo_write(e.fifo.get(), reinterpret_cast<void **>(const_cast<uint8_t **>(samples.extended_data)),
                            samples.nb_samples) < samples.nb_samples) {
        error = "out of memory for audio";
        return false;
    }
    return EncodeAudioFromFifo(e, false, error);
}

bool FinishClip(ClipEncoder &e, std::string &error) {
    if (e.audio) {
        if (e.audioPts == AV_NOPTS_VALUE) e.audioPts = 0;
        if (!EncodeAudioFromFifo(e, true, error)) return false;
        avcodec_send_frame(e.audio.get(), nullptr);
        if (!Drain(e, e.audio.get(), e.audioStream, error)) return false;
    }
    avcodec_send_frame(e.video.get(), nullptr);
    if (!Drain(e, e.video.get(), e.videoStream, error)) return false;
    if (int rc = av_write_trailer(e.format); rc < 0) {
        error = "cannot finish the output: " + AVErrorText(rc);
        return false;
    }
    if (e.ioOpen) {
        if (int rc = avio_closep(&e.format->pb); rc < 0) {
            error = "cannot finish the output: " + AVErrorText(rc);
            e.ioOpen = false;
            return false;
        }
        e.ioOpen = false;
    }
    return true;
}

void ScaleSamples(AVFrame &f, int first, int count, double gain) {
    if (gain >= 1.0) return;
    if (gain < 0) gain = 0;
    first = std::clamp(first, 0, f.nb_samples);
    count = std::clamp(count, 0, f.nb_samples - first);
    AVSampleFormat fmt = AVSampleFormat(f.format);
    int channels = f.ch_layout.nb_channels;
    bool planar = av_sample_fmt_is_planar(fmt);
    int planes = planar ? channels : 1;
    int step = planar ? 1 : channels;  // values per sample in one plane
    for (int p = 0; p < planes; ++p) {
        uint8_t *data = f.extended_data[p];
        int begin = first * step, end = (first + count) * step;
        switch (av_get_packed_sample_fmt(fmt)) {
            case AV_SAMPLE_FMT_U8:
                for (int i = begin; i < end; ++i) data[i] = uint8_t(std::lround((data[i] - 128) * gain) + 128);
                break;
            case AV_SAMPLE_FMT_S16: {
                auto *s = reinterpret_cast<int16_t *>(data);
                for (int i = begin; i < end; ++i) s[i] = int16_t(std::lround(s[i] * gain));
                break;
            }
            case AV_SAMPLE_FMT_S32: {
                auto *s = reinterpret_cast<int32_t *>(data);
                for (int i = begin; i < end; ++i) s[i] = int32_t(std::llround(s[i] * gain));
                break;
            }
            case AV_SAMPLE_FMT_FLT: {
                auto *s = reinterpret_cast<float *>(data);
                for (int i = begin; i < end; ++i) s[i] = float(s[i] * gain);
                break;
            }
            case AV_SAMPLE_FMT_DBL: {
                auto *s = reinterpret_cast<double *>(data);
                for (int i = begin; i < end; ++i) s[i] *= gain;
                break;
            }
            default:
                break;
        }
    }
}
