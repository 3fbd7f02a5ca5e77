#include "SmartRender.h"

#include "Options.h"
#include "SafeOutput.h"
#include "VideoSource.h"

#include "QuickDraw.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

struct InputFree {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputFree>;

// An output's muxer and its file, closed together.
struct OutputFree {
    void operator()(AVFormatContext *f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

InputPtr OpenInput(const std::string &path, std::string &error) {
    AVFormatContext *f = nullptr;
    if (int rc = avformat_open_input(&f, path.c_str(), nullptr, nullptr); rc < 0) {
        error = "cannot open '" + path + "': " + AVErrorText(rc);
        return nullptr;
    }
    InputPtr input(f);
    if (int rc = avformat_find_stream_info(f, nullptr); rc < 0) {
        error = "cannot read '" + path + "': " + AVErrorText(rc);
        return nullptr;
    }
    return input;
}

// ---- H.264 in MP4/Matroska: length-prefixed NAL units, parameter sets in avcC.

struct AvcConfig {
    uint8_t header[4] = {};  // version, profile, compatibility, level
    int lengthSize = 4;      // bytes before each NAL unit of a packet
    std::vector<std::string> sps, pps;
    std::string tail;  // what follows the picture parameter sets (the High profiles' chroma and depth)
};

bool ParseAvcC(std::span<const uint8_t> d, AvcConfig &c) {
    if (d.size() < 7 || d[0] != 1) return false;
    std::copy_n(d.begin(), 4, c.header);
    c.lengthSize = (d[4] & 3) + 1;
    std::size_t p = 6;
    auto list = [&](std::size_t n, std::vector<std::string> &into) {
        for (std::size_t i = 0; i < n; ++i) {
            if (p + 2 > d.size()) return false;
            std::size_t len = std::size_t(d[p]) << 8 | d[p + 1];
            p += 2;
            if (p + len > d.size() || len == 0) return false;
            into.emplace_back(reinterpret_cast<const char *>(&d[p]), len);
            p += len;
        }
        return true;
    };
    if (!list(d[5] & 0x1F, c.sps)) return false;
    ++p;
    if (p > d.size() || !list(d[p - 1], c.pps)) return false;
    c.tail.assign(reinterpret_cast<const char *>(d.data()) + p, d.size() - p);
    return !c.sps.empty() && !c.pps.empty();
}

std::string WriteAvcC(const AvcConfig &c) {
    std::string out(reinterpret_cast<const char *>(c.header), 4);
    out += char(0xFC | (c.lengthSize - 1));
    out += char(0xE0 | c.sps.size());
    auto list = [&](const std::vector<std::string> &sets) {
        for (const std::string &s : sets) {
            out += char(s.size() >> 8);
            out += char(s.size() & 0xFF);
            out += s;
        }
    };
    list(c.sps);
    out += char(c.pps.size());
    list(c.pps);
    return out + c.tail;
}

// The NAL units of an Annex B byte stream (start codes of three or four bytes).
std::vector<std::string_view> SplitAnnexB(std::string_view s) {
    std::vector<std::string_view> units;
    std::size_t p = s.find(std::string_view("\0\0\1", 3));
    while (p != std::string_view::npos) {
        std::size_t begin = p + 3;
        std::size_t next = s.find(std::string_view("\0\0\1", 3), begin);
        std::size_t end = next == std::string_view::npos ? s.size() : next;
        while (end > begin && s[end - 1] == 0) --end;  // a four-byte start code's leading zero
        if (end > begin) units.push_back(s.substr(begin, end - begin));
        p = next;
    }
    return units;
}

// The first Exp-Golomb number after `skip` bytes of a NAL unit's payload
// (the parameter set ids); -1 when it cannot be read.
int ReadFirstUe(std::string_view nal, std::size_t skip) {
    std::vector<uint8_t> rbsp;
    for (std::size_t i = 1 + skip; i < nal.size() && rbsp.size() < 8; ++i) {
        if (i >= 3 && uint8_t(nal[i]) == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(uint8_t(nal[i]));
    }
    std::size_t bit = 0;
    auto next = [&]() { return bit < rbsp.size() * 8 ? (rbsp[bit / 8] >> (7 - bit % 8)) & 1 : -1; };
    int zeros = 0;
    for (int b; (b = next()) == 0; ++bit)
        if (++zeros > 8) return -1;
    if (next() < 0) return -1;
    ++bit;
    int value = 1;
    for (int i = 0; i < zeros; ++i, ++bit) {
        int b = next();
        if (b < 0) return -1;
        value = value << 1 | b;
    }
    return value - 1;
}

// Whether a length-prefixed packet holds an IDR slice: the only kind of
// key frame after which no frame refers to one before it.
bool HoldsIdr(std::span<const uint8_t> d, int lengthSize) {
    std::size_t p = 0;
    while (p + std::size_t(lengthSize) < d.size()) {
        std::size_t len = 0;
        for (int i = 0; i < lengthSize; ++i) len = len << 8 | d[p + std::size_t(i)];
        p += std::size_t(lengthSize);
        if (len == 0 || p + len > d.size()) return false;
        if ((d[p] & 0x1F) == 5) return true;
        p += len;
    }
    return false;
}

// ---- The plan: which packets are copied and which GOPs re-encoded.

struct VideoPacket {
    int64_t pts = 0, dts = 0, duration = 0;
    int64_t frame = 0;  // the clip's frame number it shows
};

struct Gop {
    std::size_t first = 0, end = 0;      // packets [first, end) in decode order
    int64_t firstFrame = 0, frames = 0;  // the frames it shows: [firstFrame, firstFrame + frames)
    bool touched = false;
};

struct Plan {
    std::vector<VideoPacket> packets;
    std::vector<Gop> gops;
    std::map<int64_t, int64_t> durationAt;  // pts -> the source packet's duration
    int64_t copied = 0, reencoded = 0;
};

bool Obstacle(std::string &why, const std::string &text) {
    why = text;
    return false;
}

// Reads the video stream's packets (no decoding) and splits them into GOPs.
bool MakePlan(AVFormatContext *in, int stream, const std::vector<int64_t> &times, int lengthSize, int64_t start,
              int64_t count, Plan &plan, std::string &why) {
    AVPacketPtr pkt(av_packet_alloc());
    std::vector<bool> shown(times.size(), false);
    bool closed = true;
    int64_t openAt = -1;
    for (int rc; (rc = av_read_frame(in, pkt.get())) >= 0; av_packet_unref(pkt.get())) {
        if (pkt->stream_index != stream) continue;
        auto at = std::lower_bound(times.begin(), times.end(), pkt->pts);
        if (pkt->pts == AV_NOPTS_VALUE || (pkt->flags & AV_PKT_FLAG_DISCARD) || at == times.end() || *at != pkt->pts ||
            shown[std::size_t(at - times.begin())])
            return Obstacle(why, "the clip's packets do not show its frames one each (an edit list or missing times)");
        VideoPacket v{pkt->pts, pkt->dts, pkt->duration, int64_t(at - times.begin())};
        shown[std::size_t(v.frame)] = true;
        bool key = pkt->flags & AV_PKT_FLAG_KEY;
        if (plan.packets.empty() && !key) return Obstacle(why, "the clip does not begin with a key frame");
        if (key) {
            if (!HoldsIdr({pkt->data, std::size_t(pkt->size)}, lengthSize) && closed) {
                closed = false;
                openAt = v.frame;
            }
            plan.gops.push_back(Gop{plan.packets.size(), plan.packets.size() + 1, v.frame, 1, false});
        } else {
            Gop &g = plan.gops.back();
            ++g.end;
            ++g.frames;
            // A frame shown before its GOP's key frame refers to the GOP before.
            if (v.frame < g.firstFrame && closed) {
                closed = false;
                openAt = g.firstFrame;
            }
        }
        plan.durationAt[v.pts] = v.duration;
        plan.packets.push_back(v);
    }
    if (plan.packets.size() != times.size())
        return Obstacle(why, "the clip's packets do not show its frames one each (an edit list or missing times)");
    // Containers that keep showing times only (Matroska) leave the first
    // decoding times unknown: the n-th packet decodes when the n-th frame
    // is shown, less the delay that keeps every packet decoded before it is shown.
    if (std::any_of(plan.packets.begin(), plan.packets.end(), [](auto &p) { return p.dts == AV_NOPTS_VALUE; })) {
        int64_t delay = 0;
        for (std::size_t i = 0; i < plan.packets.size(); ++i) delay = std::max(delay, times[i] - plan.packets[i].pts);
        for (std::size_t i = 0; i < plan.packets.size(); ++i) plan.packets[i].dts = times[i] - delay;
    }
    for (std::size_t i = 1; i < plan.packets.size(); ++i)
        if (plan.packets[i].dts <= plan.packets[i - 1].dts)
            return Obstacle(why, "the clip's decoding times do not increase");
    if (!closed)
        return Obstacle(why, "the clip has open GOPs (the key frame showing frame " + std::to_string(openAt) +
                                 " is not an IDR frame)");
    // Every GOP shows a run of frames of its own, its key frame first.
    for (std::size_t i = 0; i + 1 < plan.gops.size(); ++i)
        if (plan.gops[i].firstFrame + plan.gops[i].frames != plan.gops[i + 1].firstFrame)
            return Obstacle(why, "the frames of the GOP at frame " + std::to_string(plan.gops[i].firstFrame) +
                                     " are shown after the next GOP begins");
    for (Gop &g : plan.gops) {
        g.touched = g.firstFrame < start + count && g.firstFrame + g.frames > start;
        (g.touched ? plan.reencoded : plan.copied) += g.frames;
    }
    if (plan.copied == 0) return Obstacle(why, "the selection touches every GOP of the clip; nothing can be copied");
    // Re-encoded packets have no reordering: their decoding time is their
    // showing time less the source's delay, which must fit between the
    // copied packets around them.
    for (std::size_t i = 0; i < plan.gops.size(); ++i) {
        if (!plan.gops[i].touched || (i > 0 && plan.gops[i - 1].touched)) continue;
        const VideoPacket &key = plan.packets[plan.gops[i].first];
        std::size_t j = i;
        while (j + 1 < plan.gops.size() && plan.gops[j + 1].touched) ++j;
        if (j + 1 == plan.gops.size()) continue;
        int64_t lastPts = times[std::size_t(plan.gops[j].firstFrame + plan.gops[j].frames - 1)];
        if (plan.packets[plan.gops[j + 1].first].dts <= lastPts - (key.pts - key.dts))
            return Obstacle(why, "the clip's decoding times leave no room for re-encoded frames");
    }
    return true;
}

// ---- Encoding to match the source.

const char *X264Profile(int profile) {
    switch (profile) {
        case FF_PROFILE_H264_BASELINE:
        case FF_PROFILE_H264_CONSTRAINED_BASELINE:
            return "baseline";
        case FF_PROFILE_H264_MAIN:
            return "main";
        case FF_PROFILE_H264_HIGH:
            return "high";
        case FF_PROFILE_H264_HIGH_10:
            return "high10";
        case FF_PROFILE_H264_HIGH_422:
            return "high422";
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE:
            return "high444";
        default:
            return nullptr;
    }
}

// An encoder whose stream the source's decoder takes as a continuation of
// its own: same profile, level, pixel format, size, aspect and colour, its
// parameter sets under ids of their own (`setId`) and independent of the
// pictures (stitchable), no B-frames, so each GOP re-encoded can be joined
// to the copied ones by timestamps alone.
CodecPtr OpenMatchingEncoder(const AVStream *in, int setId, const EncoderOptions &enc, std::string &error) {
    const AVCodecParameters *par = in->codecpar;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    const char *profile = X264Profile(par->profile);
    if (!codec || !profile) {
        error = !codec ? "the libx264 encoder is not available"
                       : "the source's H.264 profile (" + std::to_string(par->profile) + ") cannot be matched";
        return nullptr;
    }
    CodecPtr c(avcodec_alloc_context3(codec));
    c->width = par->width;
    c->height = par->height;
    c->pix_fmt = AVPixelFormat(par->format);
    c->time_base = in->time_base;
    c->framerate = in->avg_frame_rate.num > 0 ? in->avg_frame_rate : in->r_frame_rate;
    c->sample_aspect_ratio = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : in->sample_aspect_ratio;
    c->color_primaries = par->color_primaries;
    c->color_trc = par->color_trc;
    c->colorspace = par->color_space;
    c->color_range = par->color_range;
    c->chroma_sample_location = par->chroma_location;
    c->level = par->level;
    c->max_b_frames = 0;
    c->thread_count = 0;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "profile", profile, 0);
    av_dict_set(&options, "preset", enc.preset.empty() ? "medium" : enc.preset.c_str(), 0);
    // Unless asked otherwise, quality a little above the usual default: the
    // re-encoded GOPs sit between copies of the original and should not look
    // worse than them.
    av_dict_set(&options, "crf", std::to_string(enc.crf >= 0 ? enc.crf : 16).c_str(), 0);
    av_dict_set(&options, "x264-params", ("stitchable=1:open-gop=0:sps-id=" + std::to_string(setId)).c_str(), 0);
    int rc = avcodec_open2(c.get(), codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        const char *format = av_get_pix_fmt_name(c->pix_fmt);
        error = std::string("libx264 cannot encode ") + (format ? format : "this pixel format") + " " + profile +
                " to match the source: " + AVErrorText(rc);
        return nullptr;
    }
    return c;
}

// The output's video configuration: the source's parameter sets, which the
// copied packets refer to, and the re-encoded ones beside them.
bool MergeParameterSets(const AvcConfig &source, const AVCodecContext *encoder, std::string &merged,
                        std::string &error) {
    AvcConfig c = source;
    std::size_t added = 0;
    std::string_view headers(reinterpret_cast<const char *>(encoder->extradata), std::size_t(encoder->extradata_size));
    for (std::string_view nal : SplitAnnexB(headers)) {
        int type = nal[0] & 0x1F;
        if (type == 7) c.sps.emplace_back(nal);
        if (type == 8) c.pps.emplace_back(nal);
        added += type == 7 || type == 8;
    }
    if (added != 2 || c.sps.size() > 31 || c.pps.size() > 255) {
        error = "the encoder's parameter sets cannot be added to the source's";
        return false;
    }
    merged = WriteAvcC(c);
    return true;
}

// Annex B packets from the encoder into the container's length-prefixed
// form; the parameter sets are in the output's configuration already.
void ToLengthPrefixed(AVPacket &pkt, int lengthSize) {
    std::string out;
    for (std::string_view nal : SplitAnnexB({reinterpret_cast<const char *>(pkt.data), std::size_t(pkt.size)})) {
        int type = nal[0] & 0x1F;
        if (type == 7 || type == 8) continue;
        for (int i = lengthSize - 1; i >= 0; --i) out += char((nal.size() >> (8 * i)) & 0xFF);
        out += nal;
    }
    AVPacketPtr copy(av_packet_alloc());
    av_new_packet(copy.get(), int(out.size()));
    std::memcpy(copy->data, out.data(), out.size());
    av_packet_copy_props(copy.get(), &pkt);
    av_packet_unref(&pkt);
    av_packet_move_ref(&pkt, copy.get());
}

// ---- The pass that writes the output.

struct Writer {
    SmartJob &job;
    const ClipInfo &info;
    const std::vector<int64_t> &times;
    Plan &plan;
    AVFormatContext *in = nullptr;
    AVFormatContext *out = nullptr;
    std::vector<int> outputOf;  // source stream -> output stream, -1: dropped
    AvcConfig avc;
    CodecPtr firstEncoder;  // opened before the header, for its parameter sets
    std::string firstExtradata;
    int setId = 1;

    // The segment being re-encoded.
    CodecPtr decoder, encoder;
    int64_t delay = 0;  // the source's showing-to-decoding delay at the segment's start
    int64_t lastVideoDts = INT64_MIN;
    int64_t packetsIn = 0, framesOut = 0;  // of the segment: a damaged packet must not shorten the clip
    bool audioChanged = false;

    bool begun = false;
    SwsPtr toArgb, toSource;
    ArgbPicture picture;
    AVFramePtr converted;
    ColourModel sourceColour;

    Writer(SmartJob &j, const ClipInfo &i, const std::vector<int64_t> &t, Plan &p, AVFormatContext *source)
        : job(j), info(i), times(t), plan(p), in(source) {}
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() {
        if (begun) SendMessage(job.plugin, job.params, kPlugTerminate);
    }

    bool Write(AVPacket &pkt, int sourceStream, std::string &error) {
        pkt.stream_index = outputOf[std::size_t(sourceStream)];
        av_packet_rescale_ts(&pkt, in->streams[sourceStream]->time_base, out->streams[pkt.stream_index]->time_base);
        pkt.pos = -1;
        if (int rc = av_interleaved_write_frame(out, &pkt); rc < 0) {
            error = "cannot write the output: " + AVErrorText(rc);
            return false;
        }
        return true;
    }

    bool OpenSegment(const VideoPacket &key, std::string &error) {
        const AVStream *st = in->streams[info.videoStream];
        delay = key.pts - key.dts;
        if (firstEncoder) {
            encoder = std::move(firstEncoder);
        } else {
            encoder = OpenMatchingEncoder(st, setId, job.request.encoder, error);
            if (!encoder) return false;
            if (std::string_view(reinterpret_cast<const char *>(encoder->extradata),
                                 std::size_t(encoder->extradata_size)) != firstExtradata) {
                error = "the encoder's parameter sets changed between the re-encoded parts";
                return false;
            }
        }
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        decoder.reset(avcodec_alloc_context3(codec));
        if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), st->codecpar) < 0) {
            error = "cannot decode the clip's H.264 video";
            return false;
        }
        decoder->pkt_timebase = st->time_base;
        decoder->thread_count = 0;
        if (int rc = avcodec_open2(decoder.get(), codec, nullptr); rc < 0) {
            error = "cannot decode the clip's H.264 video: " + AVErrorText(rc);
            return false;
        }
        return true;
    }

    // Runs the plug-in on a frame of the selection and gives back its result
    // in the source's pixel format.
    bool ThroughPlugin(AVFrame &frame, int64_t index, AVFrame *&result, std::string &error) {
        if (!begun) {
            begun = true;
            if (int32_t r = SendMessage(job.plugin, job.params, kPlugInitialize); r != kPluginOK) {
                error = "the plug-in could not begin the render: " + ResultName(r);
                return false;
            }
        }
        if (!FrameToPicture(toArgb, frame, info.width, info.height, true, picture)) {
            error = "cannot convert frame " + std::to_string(index) + " for the plug-in";
            return false;
        }
        HostSession &session = job.session;
        session.current = &picture;
        session.currentIndex = index;
        session.currentMixed = false;
        session.currentGain = 0;
        job.params.renderFrame = int32_t(index - job.start);
        int32_t r = SendMessage(job.plugin, job.params, kPlugDoFrame);
        session.current = nullptr;
        if (r != kPluginOK) {
            error = "the plug-in failed on frame " + std::to_string(index) + ": " + ResultName(r);
            return false;
        }
        // The copied audio is right only while the plug-in passes it at unity.
        if (info.hasAudio && (session.currentMixed ? session.currentGain : 0.0) != 1.0) audioChanged = true;
        CopyGWorldToPicture(job.outWorld, picture);

        if (!converted) {
            converted.reset(av_frame_alloc());
            converted->format = frame.format;
            converted->width = frame.width;
            converted->height = frame.height;
            if (av_frame_get_buffer(converted.get(), 0) < 0) throw std::bad_alloc();
        }
        if (av_frame_make_writable(converted.get()) < 0) throw std::bad_alloc();
        toSource.reset(sws_getCachedContext(toSource.release(), picture.width, picture.height, AV_PIX_FMT_ARGB,
                                            frame.width, frame.height, AVPixelFormat(frame.format),
                                            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                                            nullptr));
        if (!toSource) {
            error = "cannot convert the plug-in's frames back to the clip's pixel format";
            return false;
        }
        SetConversionColour(toSource.get(), ColourModel{}, sourceColour);
        const uint8_t *src[4] = {picture.pixels.get(), nullptr, nullptr, nullptr};
        int stride[4] = {int(picture.RowBytes()), 0, 0, 0};
        sws_scale(toSource.get(), src, stride, 0, picture.height, converted->data, converted->linesize);
        av_frame_copy_props(converted.get(), &frame);
        result = converted.get();
        return true;
    }

    bool Drain(std::string &error) {
        AVPacketPtr pkt(av_packet_alloc());
        for (;;) {
            int rc = avcodec_receive_packet(encoder.get(), pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                error = "cannot encode the selection: " + AVErrorText(rc);
                return false;
            }
            ToLengthPrefixed(*pkt, avc.lengthSize);
            pkt->dts = pkt->pts - delay;
            if (auto d = plan.durationAt.find(pkt->pts); d != plan.durationAt.end()) pkt->duration = d->second;
            if (pkt->dts <= lastVideoDts) {
                error = "the re-encoded frames' decoding times do not follow the copied ones";
                return false;
            }
            lastVideoDts = pkt->dts;
            if (!Write(*pkt, info.videoStream, error)) return false;
        }
    }

    bool Encode(AVFrame *frame, std::string &error) {
        if (frame) {
            int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            auto at = std::lower_bound(times.begin(), times.end(), pts);
            if (at == times.end() || *at != pts) {
                error = "a decoded frame's time is not one of the clip's";
                return false;
            }
            int64_t index = at - times.begin();
            frame->pts = pts;
            ++framesOut;
            if (index >= job.start && index < job.start + job.count && !ThroughPlugin(*frame, index, frame, error))
                return false;
            // The source's picture types would force key frames where it had them.
            frame->pict_type = AV_PICTURE_TYPE_NONE;
        }
        if (int rc = avcodec_send_frame(encoder.get(), frame); rc < 0) {
            error = "cannot encode the selection: " + AVErrorText(rc);
            return false;
        }
        return Drain(error);
    }

    bool Decode(const AVPacket *pkt, std::string &error) {
        if (int rc = avcodec_send_packet(decoder.get(), pkt); rc < 0) {
            error = "cannot decode the clip's video: " + AVErrorText(rc);
            return false;
        }
        AVFramePtr frame(av_frame_alloc());
        for (;;) {
            int rc = avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                error = "cannot decode the clip's video: " + AVErrorText(rc);
                return false;
            }
            if (!Encode(frame.get(), error)) return false;
            av_frame_unref(frame.get());
        }
    }

    bool CloseSegment(std::string &error) {
        if (!Decode(nullptr, error)) return false;
        if (framesOut != packetsIn) {
            error = "only " + std::to_string(framesOut) + " of the " + std::to_string(packetsIn) +
                    " frames re-encoded could be decoded; the clip is damaged";
            return false;
        }
        if (!Encode(nullptr, error)) return false;
        packetsIn = framesOut = 0;
        decoder.reset();
        encoder.reset();
        return true;
    }

    bool Run(std::string &error) {
        AVPacketPtr pkt(av_packet_alloc());
        std::size_t next = 0;  // the video packet's number in decode order
        std::size_t gop = 0;
        for (int rc; (rc = av_read_frame(in, pkt.get())) >= 0; av_packet_unref(pkt.get())) {
            if (InterruptRequested() || audioChanged) return true;
            int s = pkt->stream_index;
            if (s < 0 || s >= int(outputOf.size()) || outputOf[std::size_t(s)] < 0) continue;
            if (s != info.videoStream) {
                if (!Write(*pkt, s, error)) return false;
                continue;
            }
            if (next >= plan.packets.size()) {
                error = "the clip changed while it was rendered";
                return false;
            }
            while (gop + 1 < plan.gops.size() && plan.gops[gop].end <= next) ++gop;
            const Gop &g = plan.gops[gop];
            if (!g.touched) {
                pkt->dts = lastVideoDts = plan.packets[next].dts;
                ++next;
                if (!Write(*pkt, s, error)) return false;
                continue;
            }
            if (next == g.first && !decoder && !OpenSegment(plan.packets[next], error)) return false;
            ++next;
            ++packetsIn;
            if (!Decode(pkt.get(), error)) return false;
            bool segmentEnds = next == g.end && (gop + 1 == plan.gops.size() || !plan.gops[gop + 1].touched);
            if (segmentEnds && !CloseSegment(error)) return false;
        }
        if (next != plan.packets.size() && !InterruptRequested() && !audioChanged) {
            error = "the clip could not be read to its end";
            return false;
        }
        return true;
    }
};

// The output's streams: the video with both sets of parameter sets, and
// every other stream of the source copied.
bool MakeOutput(Writer &w, const std::string &path, const std::string &tempPath, std::string &why, std::string &error) {
    AVFormatContext *out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()) < 0 || !out) {
        error = "cannot tell the output's format from its name '" + path + "'";
        return false;
    }
    w.out = out;
    AVFormatContext *in = w.in;
    w.outputOf.assign(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream *s = in->streams[i];
        bool video = int(i) == w.info.videoStream;
        if (avformat_query_codec(out->oformat, s->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
            why = std::string("the output cannot hold the source's ") + avcodec_get_name(s->codecpar->codec_id) +
                  " stream as it is";
            return false;
        }
        AVStream *o = avformat_new_stream(out, nullptr);
        if (!o || avcodec_parameters_copy(o->codecpar, s->codecpar) < 0) throw std::bad_alloc();
        o->codecpar->codec_tag = 0;
        o->time_base = s->time_base;
        o->avg_frame_rate = s->avg_frame_rate;
        o->r_frame_rate = s->r_frame_rate;
        o->sample_aspect_ratio = s->sample_aspect_ratio;
        o->disposition = s->disposition;
        av_dict_copy(&o->metadata, s->metadata, 0);
        for (int k = 0; k < s->nb_side_data; ++k) {
            const AVPacketSideData &sd = s->side_data[k];
            if (uint8_t *d = av_stream_new_side_data(o, sd.type, sd.size)) std::memcpy(d, sd.data, sd.size);
        }
        if (video) {
            std::string merged;
            if (!MergeParameterSets(w.avc, w.firstEncoder.get(), merged, error)) return false;
            av_freep(&o->codecpar->extradata);
            o->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(merged.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!o->codecpar->extradata) throw std::bad_alloc();
            std::memcpy(o->codecpar->extradata, merged.data(), merged.size());
            o->codecpar->extradata_size = int(merged.size());
        }
        w.outputOf[i] = o->index;
    }
    av_dict_copy(&out->metadata, in->metadata, 0);
    if (in->nb_chapters > 0) {
        out->chapters = static_cast<AVChapter **>(av_calloc(in->nb_chapters, sizeof(AVChapter *)));
        if (!out->chapters) throw std::bad_alloc();
        for (unsigned i = 0; i < in->nb_chapters; ++i) {
            const AVChapter *c = in->chapters[i];
            auto *copy = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
            if (!copy) throw std::bad_alloc();
            copy->id = c->id;
            copy->time_base = c->time_base;
            copy->start = c->start;
            copy->end = c->end;
            av_dict_copy(&copy->metadata, c->metadata, 0);
            out->chapters[out->nb_chapters++] = copy;
        }
    }
    if (int rc = avio_open(&out->pb, tempPath.c_str(), AVIO_FLAG_WRITE); rc < 0) {
        error = "cannot write '" + tempPath + "': " + AVErrorText(rc);
        return false;
    }
    if (int rc = avformat_write_header(out, nullptr); rc < 0) {
        error = "cannot write the output's header: " + AVErrorText(rc);
        return false;
    }
    return true;
}

// Why this request must be re-encoded whole; empty when smart render may be tried.
std::string RequestObstacle(const RenderRequest &rq, const ClipInfo &info, const AVStream *video) {
    if (rq.lossless) return "--lossless re-encodes every frame";
    if (int w = 0, h = 0; ResolveSize(rq.size, info.width, info.height, w, h) && (w != info.width || h != info.height))
        return "--size changes the picture size";
    const EncoderOptions &enc = rq.encoder;
    if (enc.bitRate > 0) return "--bitrate sets the whole stream's rate";
    if (!enc.pixelFormat.empty() && av_get_pix_fmt(enc.pixelFormat.c_str()) != AVPixelFormat(video->codecpar->format))
        return "--pix-fmt " + enc.pixelFormat + " differs from the source's";
    if (!enc.audioCodec.empty() && enc.audioCodec != "copy")
        return "--audio-codec " + enc.audioCodec + " re-encodes the audio";
    const AVCodecParameters *par = video->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264)
        return std::string("the source's video is ") + avcodec_get_name(par->codec_id) + "; only H.264 video is copied";
    if (!enc.codec.empty() && enc.codec != "libx264" && enc.codec != "h264")
        return "--codec " + enc.codec + " differs from the source's H.264";
    if (par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN)
        return "the source's video is interlaced";
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(AVPixelFormat(par->format));
    if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || par->color_space == AVCOL_SPC_RGB)
        return "the source's pixel format cannot be matched";
    if (par->extradata_size < 7 || par->extradata[0] != 1)
        return "the source's H.264 stream carries no avcC configuration";
    return {};
}

enum class SmartResult { Done, Failed, NotPossible };

SmartResult TrySmartRender(SmartJob &job, RenderOutcome &out, Plan &plan, std::string &why) {
    const RenderRequest &rq = job.request;
    const ClipInfo &info = GetClipInfo(job.clip);
    const std::vector<int64_t> &times = GetFrameTimes(job.clip);
    auto failed = [&](const std::string &e, int code = 1) {
        out.exitCode = code;
        out.error = e;
        return SmartResult::Failed;
    };
    auto notPossible = [&](const std::string &reason) {
        why = reason;
        return SmartResult::NotPossible;
    };

    const AVFormatContext *clipFormat = GetClipFormat(job.clip);
    if (info.videoStream < 0 || !clipFormat || info.videoStream >= int(clipFormat->nb_streams))
        return notPossible("the clip has no video stream to copy");
    if (std::string o = RequestObstacle(rq, info, clipFormat->streams[info.videoStream]); !o.empty())
        return notPossible(o);
    const AVOutputFormat *of = av_guess_format(nullptr, rq.output.c_str(), nullptr);
    if (!of || !(std::strstr(of->name, "mp4") || std::strstr(of->name, "mov") || std::strstr(of->name, "matroska") ||
                 std::strcmp(of->name, "ipod") == 0))
        return notPossible("copied H.264 needs an MP4, MOV or Matroska output");

    std::string error;
    AvcConfig avc;
    const AVCodecParameters *par = clipFormat->streams[info.videoStream]->codecpar;
    if (!ParseAvcC({par->extradata, std::size_t(par->extradata_size)}, avc))
        return notPossible("the source's H.264 configuration cannot be read");
    {
        InputPtr scan = OpenInput(rq.input, error);
        if (!scan) return failed(error);
        if (!MakePlan(scan.get(), info.videoStream, times, avc.lengthSize, job.start, job.count, plan, why))
            return SmartResult::NotPossible;
    }

    // Parameter set ids the source does not use.
    std::vector<int> used;
    for (const std::string &s : avc.sps) used.push_back(ReadFirstUe(s, 3));
    for (const std::string &p : avc.pps) used.push_back(ReadFirstUe(p, 0));
    int setId = 1;
    while (setId < 32 && std::find(used.begin(), used.end(), setId) != used.end()) ++setId;
    if (setId == 32 || std::find(used.begin(), used.end(), -1) != used.end())
        return notPossible("the source's parameter sets leave no id free for the re-encoded ones");

    InputPtr in = OpenInput(rq.input, error);
    if (!in) return failed(error);
    Writer w(job, info, times, plan, in.get());
    w.avc = avc;
    w.setId = setId;
    const AVStream *video = in->streams[info.videoStream];
    w.sourceColour = ColourModelOf(video->codecpar->color_space, video->codecpar->color_range,
                                   AVPixelFormat(video->codecpar->format), info.height);
    w.firstEncoder = OpenMatchingEncoder(video, setId, rq.encoder, error);
    if (!w.firstEncoder) return notPossible(error);
    w.firstExtradata.assign(reinterpret_cast<const char *>(w.firstEncoder->extradata),
                            std::size_t(w.firstEncoder->extradata_size));

    PendingOutput pending(rq.output);
    OutputPtr output;
    {
        bool made = MakeOutput(w, rq.output, pending.TempPath(), why, error);
        output.reset(w.out);
        if (!made) return why.empty() ? failed(error) : SmartResult::NotPossible;
    }

    job.params.startFrame = int32_t(job.start);
    job.params.frameCount = int32_t(job.count);
    job.params.proxyOnly = rq.preview ? 1 : 0;
    job.params.frameRect = Rect{0, 0, int16_t(info.height), int16_t(info.width)};
    job.params.frame = job.outWorld;
    job.params.clientData = nullptr;

    bool ran = w.Run(error);
    if (ran && !InterruptRequested() && !w.audioChanged) {
        if (int rc = av_write_trailer(output.get()); rc < 0) {
            error = "cannot finish the output: " + AVErrorText(rc);
            ran = false;
        }
    }
    if (w.begun) {
        w.begun = false;
        SendMessage(job.plugin, job.params, kPlugTerminate);
    }
    output.reset();
    if (InterruptRequested()) return failed("interrupted; nothing was written", 128 + InterruptSignal());
    if (w.audioChanged) return notPossible("the plug-in changes the audio's level");
    if (!ran) return failed(error);
    if (!pending.Commit(error)) return failed(error);
    out.framesWritten = int64_t(plan.packets.size());
    return SmartResult::Done;
}

}  // namespace

bool RunSmartRender(SmartJob &job, RenderOutcome &out) {
    const RenderRequest &rq = job.request;
    if (rq.smart == SmartMode::Off) return false;
    Plan plan;
    std::string why;
    SmartResult s = TrySmartRender(job, out, plan, why);
    if (s == SmartResult::Done && !rq.quiet)
        std::fprintf(stderr, "hyhost: smart render: %lld frames copied, %lld re-encoded\n", (long long)plan.copied,
                     (long long)plan.reencoded);
    if (s == SmartResult::NotPossible && rq.smart == SmartMode::On)
        std::fprintf(stderr, "hyhost: --smart: %s; re-encoding the whole clip\n", why.c_str());
    return s != SmartResult::NotPossible;
}
