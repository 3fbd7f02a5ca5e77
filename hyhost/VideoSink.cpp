#include "VideoSink.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
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
    bool headerWritten = false;
    std::unique_ptr<AVCodecContext, CodecFree> video;
    std::unique_ptr<AVCodecContext, CodecFree> audio;
    AVStream *videoStream = nullptr;
    AVStream *audioStream = nullptr;
    std::unique_ptr<SwsContext, SwsFree> converter;
    AVFramePtr videoFrame{av_frame_alloc()};
    AVFramePtr audioFrame{av_frame_alloc()};
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    AVPacket *packet = av_packet_alloc();
    int64_t videoPts = 0;
    int64_t audioPts = 0;

    ~ClipEncoder() {
        av_packet_free(&packet);
        if (format) {
            if (ioOpen) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

void ClipEncoderDelete::operator()(ClipEncoder *e) const { delete e; }

AudioTarget GetAudioInput(const ClipEncoder &e) {
    AudioTarget t;
    if (!e.audio) return t;
    t.format = e.audio->sample_fmt;
    t.sampleRate = e.audio->sample_rate;
    t.layout = e.audio->ch_layout;   // shallow: the caller copies it
    return t;
}

namespace {

std::string Extension(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    return ext.empty() ? "(no extension)" : ext;
}

AVSampleFormat LosslessPcmFormat(AVSampleFormat source, AVCodecID &codec) {
    switch (av_get_packed_sample_fmt(source)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16: codec = AV_CODEC_ID_PCM_S16LE; return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_FLT: codec = AV_CODEC_ID_PCM_F32LE; return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBL: codec = AV_CODEC_ID_PCM_F64LE; return AV_SAMPLE_FMT_DBL;
    default: codec = AV_CODEC_ID_PCM_S32LE; return AV_SAMPLE_FMT_S32;
    }
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

bool OpenVideo(ClipEncoder &e, const SinkSettings &s, const std::string &formatPath, std::string &error) {
    const AVCodec *codec = nullptr;
    if (s.lossless && s.videoCodec.empty()) {
        codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    } else if (!s.videoCodec.empty()) {
        codec = avcodec_find_encoder_by_name(s.videoCodec.c_str());
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
            error = "unknown video encoder '" + s.videoCodec + "' (try libx264, mpeg4 or ffv1)";
            return false;
        }
    } else {
        codec = avcodec_find_encoder_by_name("libx264");
        if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    }
    if (!codec) {
        error = "no suitable video encoder is installed";
        return false;
    }
    if (avformat_query_codec(e.format->oformat, codec->id, FF_COMPLIANCE_NORMAL) != 1) {
        error = "a " + Extension(formatPath) + " file cannot hold " + codec->name +
                " video; use a .mkv output" + (s.lossless ? " for --lossless" : " or choose another --codec");
        return false;
    }
    e.video.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = e.video.get();
    c->width = s.width;
    c->height = s.height;
    c->time_base = av_inv_q(s.frameRate);
    c->framerate = s.frameRate;
    c->sample_aspect_ratio = AVRational{1, 1};
    c->thread_count = 0;
    if (codec->id == AV_CODEC_ID_FFV1) {
        c->pix_fmt = AV_PIX_FMT_0RGB32;   // bytes B,G,R,x: the ARGB pixels without loss
    } else if (codec->pix_fmts) {
        c->pix_fmt = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_YUV420P, 0, nullptr);
        for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == AV_PIX_FMT_YUV420P) c->pix_fmt = *p;
    } else {
        c->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    if (const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(c->pix_fmt);
        desc && ((s.width & ((1 << desc->log2_chroma_w) - 1)) || (s.height & ((1 << desc->log2_chroma_h) - 1)))) {
        error = std::to_string(s.width) + "x" + std::to_string(s.height) + " frames cannot be encoded by " +
                codec->name + " in " + av_get_pix_fmt_name(c->pix_fmt) + " (it needs even sizes); use --size or --lossless";
        return false;
    }
    if (codec->id == AV_CODEC_ID_MPEG4) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 3;
    }
    if (e.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    if (!s.preset.empty()) av_dict_set(&options, "preset", s.preset.c_str(), 0);
    if (s.lossless && codec->id != AV_CODEC_ID_FFV1 && std::strcmp(codec->name, "libx264rgb") == 0)
        av_dict_set(&options, "qp", "0", 0);
    int rc = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = std::string("cannot open the ") + codec->name + " encoder for " + std::to_string(s.width) +
                "x" + std::to_string(s.height) + ": " + AVErrorText(rc);
        return false;
    }
    e.videoStream = avformat_new_stream(e.format, nullptr);
    avcodec_parameters_from_context(e.videoStream->codecpar, c);
    e.videoStream->time_base = c->time_base;
    e.videoStream->avg_frame_rate = s.frameRate;
    e.videoFrame->format = c->pix_fmt;
    e.videoFrame->width = c->width;
    e.videoFrame->height = c->height;
    return true;
}

bool OpenAudio(ClipEncoder &e, const SinkSettings &s, const std::string &formatPath, std::string &error) {
    AVSampleFormat wanted = AV_SAMPLE_FMT_FLTP;
    AVCodecID id = AV_CODEC_ID_AAC;
    if (s.lossless) wanted = LosslessPcmFormat(s.sourceSampleFormat, id);
    const AVCodec *codec = avcodec_find_encoder(id);
    if (!codec) {
        error = std::string("no ") + avcodec_get_name(id) + " audio encoder is installed";
        return false;
    }
    if (avformat_query_codec(e.format->oformat, codec->id, FF_COMPLIANCE_NORMAL) != 1) {
        error = "a " + Extension(formatPath) + " file cannot hold " + codec->name + " audio; use a .mkv output";
        return false;
    }
    e.audio.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = e.audio.get();
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
    if (id == AV_CODEC_ID_AAC) c->bit_rate = 64000 * std::min(c->ch_layout.nb_channels, 6);
    if (e.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        error = std::string("cannot open the ") + codec->name + " audio encoder: " + AVErrorText(rc);
        return false;
    }
    e.audioStream = avformat_new_stream(e.format, nullptr);
    avcodec_parameters_from_context(e.audioStream->codecpar, c);
    e.audioStream->time_base = c->time_base;
    e.fifo.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4096));
    return true;
}

}  // namespace

ClipEncoderPtr OpenClipEncoder(const std::string &formatPath, const std::string &writePath,
                               const SinkSettings &s, std::string &error) {
    ClipEncoderPtr e(new ClipEncoder);
    const AVOutputFormat *guess = av_guess_format(nullptr, formatPath.c_str(), nullptr);
    if (!guess) {
        error = "unknown output format " + Extension(formatPath) + "; use .mp4 or .mkv";
        return nullptr;
    }
    if (avformat_alloc_output_context2(&e->format, guess, nullptr, writePath.c_str()) < 0) {
        error = "cannot prepare the output";
        return nullptr;
    }
    if (!OpenVideo(*e, s, formatPath, error)) return nullptr;
    if (s.withAudio && !OpenAudio(*e, s, formatPath, error)) return nullptr;
    if (!(e->format->oformat->flags & AVFMT_NOFILE)) {
        if (int rc = avio_open(&e->format->pb, writePath.c_str(), AVIO_FLAG_WRITE); rc < 0) {
            error = "cannot write '" + formatPath + "': " + AVErrorText(rc);
            return nullptr;
        }
        e->ioOpen = true;
    }
    if (int rc = avformat_write_header(e->format, nullptr); rc < 0) {
        error = "cannot write '" + formatPath + "': " + AVErrorText(rc);
        return nullptr;
    }
    e->headerWritten = true;
    return e;
}

bool WriteVideo(ClipEncoder &e, const ArgbPicture &picture, std::string &error) {
    AVCodecContext *c = e.video.get();
    if (av_frame_make_writable(e.videoFrame.get()) < 0 || !e.videoFrame->data[0]) {
        av_frame_unref(e.videoFrame.get());
        e.videoFrame->format = c->pix_fmt;
        e.videoFrame->width = c->width;
        e.videoFrame->height = c->height;
        if (av_frame_get_buffer(e.videoFrame.get(), 0) < 0) {
            error = "out of memory for an output frame";
            return false;
        }
    }
    e.converter.reset(sws_getCachedContext(e.converter.release(), picture.width, picture.height,
                                           AV_PIX_FMT_ARGB, c->width, c->height, c->pix_fmt,
                                           SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!e.converter) {
        error = "cannot convert the frames for the encoder";
        return false;
    }
    const uint8_t *src[4] = {picture.pixels.get(), nullptr, nullptr, nullptr};
    int srcStride[4] = {int(picture.RowBytes()), 0, 0, 0};
    sws_scale(e.converter.get(), src, srcStride, 0, picture.height, e.videoFrame->data,
              e.videoFrame->linesize);
    e.videoFrame->pts = e.videoPts++;
    if (int rc = avcodec_send_frame(c, e.videoFrame.get()); rc < 0) {
        error = "the video encoder failed: " + AVErrorText(rc);
        return false;
    }
    return Drain(e, c, e.videoStream, error);
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
        av_audio_fifo_read(e.fifo.get(), reinterpret_cast<void **>(f->data), n);
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
    if (av_audio_fifo_write(e.fifo.get(), reinterpret_cast<void **>(const_cast<uint8_t **>(samples.data)),
                            samples.nb_samples) < samples.nb_samples) {
        error = "out of memory for audio";
        return false;
    }
    return EncodeAudioFromFifo(e, false, error);
}

bool FinishClip(ClipEncoder &e, std::string &error) {
    if (e.audio) {
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
    int step = planar ? 1 : channels;   // values per sample in one plane
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
        default: break;
        }
    }
}
