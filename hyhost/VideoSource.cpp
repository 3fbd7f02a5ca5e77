#include "VideoSource.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

void CodecFree::operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
void SwsFree::operator()(SwsContext *s) const { sws_freeContext(s); }

namespace {

struct FormatClose {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwrFree {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatClose>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

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
    if (threaded) ctx->thread_count = 0;   // as many as the machine has
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
    FormatPtr format;
    int videoStream = -1;
    int audioStream = -1;
    CodecPtr video;
    CodecPtr audio;
    PacketPtr packet{av_packet_alloc()};
    AVFramePtr frame{av_frame_alloc()};
    std::unique_ptr<SwsContext, SwsFree> scaler;
    std::unique_ptr<SwrContext, SwrFree> resampler;
    AudioTarget audioTarget;
    int resamplerFormat = -1;
    int resamplerRate = 0;
    AVChannelLayout resamplerLayout{};
    bool audioWanted = false;
    bool demuxDone = false;
    bool videoDrained = false;
    bool audioDrained = false;
    bool audioFlushed = false;
    int64_t nextVideoIndex = 0;   // index of the next frame the decoder will give
    std::deque<AVFramePtr> audioReady;

    ~ClipDecoder() {
        av_channel_layout_uninit(&audioTarget.layout);
        av_channel_layout_uninit(&resamplerLayout);
    }
};

void ClipDecoderDelete::operator()(ClipDecoder *d) const { delete d; }

const ClipInfo &GetClipInfo(const ClipDecoder &decoder) { return decoder.info; }

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

int FindVideoStream(AVFormatContext *format) {
    int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best < 0) return -1;
    if (format->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC) return -1;
    return best;
}

// Counts the video packets: the one reliable frame count for every container.
int64_t CountVideoPackets(const std::string &path, int stream) {
    FormatPtr format;
    std::string ignored;
    if (!OpenFormat(path, format, ignored)) return 0;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
    PacketPtr packet(av_packet_alloc());
    int64_t count = 0;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) ++count;
        av_packet_unref(packet.get());
    }
    return count;
}

}  // namespace

ClipDecoderPtr OpenClipDecoder(const std::string &path, std::string &error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "'" + path + "' is a folder, not a video file";
        return nullptr;
    }
    ClipDecoderPtr d(new ClipDecoder);
    d->path = path;
    if (!OpenFormat(path, d->format, error)) return nullptr;
    d->videoStream = FindVideoStream(d->format.get());
    if (d->videoStream < 0) {
        error = "'" + path + "' holds no video stream";
        return nullptr;
    }
    AVStream *vs = d->format->streams[d->videoStream];
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
    AVRational rate = av_guess_frame_rate(d->format.get(), vs, nullptr);
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    d->info.frameRate = rate;
    // Containers with an index (MP4, MOV) know their frame count; others are counted.
    d->info.frameCount = vs->nb_frames > 0 ? vs->nb_frames : CountVideoPackets(path, d->videoStream);
    if (d->info.frameCount <= 0) {
        error = "'" + path + "' holds no video frames";
        return nullptr;
    }
    d->audioStream = av_find_best_stream(d->format.get(), AVMEDIA_TYPE_AUDIO, -1, d->videoStream,
                                         nullptr, 0);
    if (d->audioStream >= 0) {
        std::string audioError;
        d->audio = OpenDecoder(d->format->streams[d->audioStream], false, audioError);
        if (d->audio) {
            d->info.hasAudio = true;
            d->info.sampleRate = d->audio->sample_rate;
            d->info.channels = d->audio->ch_layout.nb_channels;
            d->info.sampleFormat = d->audio->sample_fmt;
        } else {
            d->audioStream = -1;
        }
    }
    for (unsigned i = 0; i < d->format->nb_streams; ++i)
        if (int(i) != d->videoStream && int(i) != d->audioStream)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    if (d->audioStream >= 0) d->format->streams[d->audioStream]->discard = AVDISCARD_ALL;
    return d;
}

bool SetAudioTarget(ClipDecoder &d, const AudioTarget &target, std::string &error) {
    if (d.audioStream < 0) return true;
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
    d.format->streams[d.audioStream]->discard = AVDISCARD_DEFAULT;
    return true;
}

namespace {

void ScaleInto(ClipDecoder &d, const AVFrame *frame, int width, int height, int flags,
               ArgbPicture &picture) {
    if (picture.width != width || picture.height != height || !picture.pixels)
        picture = MakePicture(width, height);
    d.scaler.reset(sws_getCachedContext(d.scaler.release(), frame->width, frame->height,
                                        AVPixelFormat(frame->format), width, height,
                                        AV_PIX_FMT_ARGB, flags, nullptr, nullptr, nullptr));
    uint8_t *dst[4] = {picture.pixels.get(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(picture.RowBytes()), 0, 0, 0};
    if (d.scaler) {
        sws_scale(d.scaler.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    } else {
        std::memset(picture.pixels.get(), 0, picture.ByteCount());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) picture.Row(y)[x * 4] = 0xFF;
    }
}

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
    int rc = swr_alloc_set_opts2(&swr, &d.audioTarget.layout, d.audioTarget.format, d.audioTarget.sampleRate,
                                 &inLayout, AVSampleFormat(in.format), in.sample_rate, 0, nullptr);
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
// blocks of the target format.
void ConvertAudio(ClipDecoder &d, AVFrame *in) {
    if (in && !ConfigureResampler(d, *in)) return;
    if (!d.resampler) return;
    AVFramePtr out(av_frame_alloc());
    out->format = d.audioTarget.format;
    out->sample_rate = d.audioTarget.sampleRate;
    av_channel_layout_copy(&out->ch_layout, &d.audioTarget.layout);
    if (in && in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in->ch_layout, in->ch_layout.nb_channels);
    if (swr_convert_frame(d.resampler.get(), out.get(), in) < 0) return;
    if (out->nb_samples > 0) d.audioReady.push_back(std::move(out));
}

void DrainAudio(ClipDecoder &d) {
    while (avcodec_receive_frame(d.audio.get(), d.frame.get()) == 0) {
        ConvertAudio(d, d.frame.get());
        av_frame_unref(d.frame.get());
    }
}

}  // namespace

UnitKind ReadNextUnit(ClipDecoder &d, int width, int height, ArgbPicture &video,
                      int64_t &videoIndex, AVFramePtr &audio, std::string &error) {
    for (;;) {
        if (!d.audioReady.empty()) {
            audio = std::move(d.audioReady.front());
            d.audioReady.pop_front();
            return UnitKind::Audio;
        }
        if (!d.videoDrained) {
            int rc = avcodec_receive_frame(d.video.get(), d.frame.get());
            if (rc == 0) {
                ScaleInto(d, d.frame.get(), width, height, SWS_BICUBIC, video);
                av_frame_unref(d.frame.get());
                videoIndex = d.nextVideoIndex++;
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
            continue;   // keep receiving video until the decoder says EOF
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
        if (d.packet->stream_index == d.videoStream) {
            // A damaged packet is skipped; the decoder resynchronises on the next.
            avcodec_send_packet(d.video.get(), d.packet.get());
        } else if (d.audioWanted && d.packet->stream_index == d.audioStream) {
            if (avcodec_send_packet(d.audio.get(), d.packet.get()) == 0) DrainAudio(d);
        }
        av_packet_unref(d.packet.get());
    }
}

namespace {

int64_t FrameIndexOf(const ClipDecoder &d, const AVFrame *frame) {
    const AVStream *vs = d.format->streams[d.videoStream];
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return -1;
    int64_t start = vs->start_time == AV_NOPTS_VALUE ? 0 : vs->start_time;
    // index = (pts - start) * timebase * fps, rounded to the nearest frame
    AVRational perFrame = av_mul_q(vs->time_base, d.info.frameRate);
    return av_rescale_rnd(pts - start, perFrame.num, perFrame.den, AV_ROUND_NEAR_INF);
}

bool SeekTo(ClipDecoder &d, int64_t index) {
    const AVStream *vs = d.format->streams[d.videoStream];
    int64_t start = vs->start_time == AV_NOPTS_VALUE ? 0 : vs->start_time;
    int64_t ts = start + av_rescale_q(index, av_inv_q(d.info.frameRate), vs->time_base);
    if (index == 0 || av_seek_frame(d.format.get(), d.videoStream, ts, AVSEEK_FLAG_BACKWARD) < 0) {
        if (avformat_seek_file(d.format.get(), d.videoStream, INT64_MIN, start, start, 0) < 0 &&
            av_seek_frame(d.format.get(), d.videoStream, start, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
            return false;
    }
    avcodec_flush_buffers(d.video.get());
    d.demuxDone = d.videoDrained = false;
    d.nextVideoIndex = -1;   // unknown until a frame carries its time
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
        if (d.packet->stream_index == d.videoStream) avcodec_send_packet(d.video.get(), d.packet.get());
        av_packet_unref(d.packet.get());
    }
}

}  // namespace

bool FetchClipFrame(ClipDecoder &d, int64_t index, int width, int height, bool highQuality,
                    ArgbPicture &picture, std::string &error) {
    if (index < 0 || index >= d.info.frameCount) {
        error = "frame " + std::to_string(index) + " is outside the clip (0.." +
                std::to_string(d.info.frameCount - 1) + ")";
        return false;
    }
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable";
        return false;
    }
    constexpr int64_t kForwardReach = 48;   // decoding this far ahead beats a seek
    bool forward = d.nextVideoIndex >= 0 && index >= d.nextVideoIndex &&
                   index < d.nextVideoIndex + kForwardReach && !d.videoDrained;
    if (!forward && !SeekTo(d, index)) {
        error = "cannot seek in '" + d.path + "'";
        return false;
    }
    bool rewound = false;
    for (;;) {
        if (!DecodeOne(d)) {
            error = "frame " + std::to_string(index) + " of '" + d.path + "' cannot be decoded";
            return false;
        }
        int64_t got = FrameIndexOf(d, d.frame.get());
        if (got < 0) got = d.nextVideoIndex >= 0 ? d.nextVideoIndex : 0;
        if (got > index && !rewound && d.nextVideoIndex < 0) {
            // The seek landed past the frame: start again from the beginning.
            av_frame_unref(d.frame.get());
            rewound = true;
            if (!SeekTo(d, 0)) break;
            continue;
        }
        d.nextVideoIndex = got + 1;
        if (got >= index) {
            ScaleInto(d, d.frame.get(), width, height, highQuality ? SWS_BICUBIC : SWS_FAST_BILINEAR,
                      picture);
            av_frame_unref(d.frame.get());
            return true;
        }
        av_frame_unref(d.frame.get());
    }
    error = "cannot seek in '" + d.path + "'";
    return false;
}

bool ScalePicture(const ArgbPicture &source, int width, int height, bool highQuality,
                  ArgbPicture &result) {
    if (width <= 0 || height <= 0 || !source.pixels) return false;
    std::unique_ptr<SwsContext, SwsFree> ctx(
        sws_getContext(source.width, source.height, AV_PIX_FMT_ARGB, width, height, AV_PIX_FMT_ARGB,
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
