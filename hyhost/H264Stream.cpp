#include "H264Stream.h"

#include <algorithm>
#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

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

}  // namespace

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

int FreeParameterSetId(const AvcConfig &source) {
    std::vector<int> used;
    for (const std::string &s : source.sps) used.push_back(ReadFirstUe(s, 3));
    for (const std::string &p : source.pps) used.push_back(ReadFirstUe(p, 0));
    if (std::find(used.begin(), used.end(), -1) != used.end()) return -1;
    int setId = 1;
    while (setId < 32 && std::find(used.begin(), used.end(), setId) != used.end()) ++setId;
    return setId < 32 ? setId : -1;
}

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
