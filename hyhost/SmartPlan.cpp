#include "SmartPlan.h"

#include "H264Stream.h"
#include "Options.h"

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

bool Obstacle(std::string &why, const std::string &text) {
    why = text;
    return false;
}

const char *const kNotOneEach = "the clip's packets do not show its frames one each (an edit list or missing times)";

// The packets in decode order, each showing one frame of its own, cut into
// GOPs at the key frames. openAt: the first frame of the first open GOP
// (its key frame not an IDR frame, or a frame of it shown before that key
// frame), else -1.
bool ReadPackets(AVFormatContext *in, int stream, const std::vector<int64_t> &times, int lengthSize, Plan &plan,
                 int64_t &openAt, std::string &why) {
    AVPacketPtr pkt(av_packet_alloc());
    std::vector<bool> shown(times.size(), false);
    openAt = -1;
    for (int rc; (rc = av_read_frame(in, pkt.get())) >= 0; av_packet_unref(pkt.get())) {
        if (pkt->stream_index != stream) continue;
        auto at = std::lower_bound(times.begin(), times.end(), pkt->pts);
        if (pkt->pts == AV_NOPTS_VALUE || (pkt->flags & AV_PKT_FLAG_DISCARD) || at == times.end() || *at != pkt->pts ||
            shown[std::size_t(at - times.begin())])
            return Obstacle(why, kNotOneEach);
        VideoPacket v{pkt->pts, pkt->dts, pkt->duration, int64_t(at - times.begin())};
        shown[std::size_t(v.frame)] = true;
        bool key = pkt->flags & AV_PKT_FLAG_KEY;
        if (plan.packets.empty() && !key) return Obstacle(why, "the clip does not begin with a key frame");
        if (key) {
            if (!HoldsIdr({pkt->data, std::size_t(pkt->size)}, lengthSize) && openAt < 0) openAt = v.frame;
            plan.gops.push_back(Gop{plan.packets.size(), plan.packets.size() + 1, v.frame, 1, false});
        } else {
            Gop &g = plan.gops.back();
            ++g.end;
            ++g.frames;
            // A frame shown before its GOP's key frame refers to the GOP before.
            if (v.frame < g.firstFrame && openAt < 0) openAt = g.firstFrame;
        }
        plan.durationAt[v.pts] = v.duration;
        plan.packets.push_back(v);
    }
    if (plan.packets.size() != times.size()) return Obstacle(why, kNotOneEach);
    return true;
}

// Containers that keep showing times only (Matroska) leave the first
// decoding times unknown: the n-th packet decodes when the n-th frame
// is shown, less the delay that keeps every packet decoded before it is shown.
void FillDecodingTimes(const std::vector<int64_t> &times, Plan &plan) {
    if (std::none_of(plan.packets.begin(), plan.packets.end(), [](auto &p) { return p.dts == AV_NOPTS_VALUE; })) return;
    int64_t delay = 0;
    for (std::size_t i = 0; i < plan.packets.size(); ++i) delay = std::max(delay, times[i] - plan.packets[i].pts);
    for (std::size_t i = 0; i < plan.packets.size(); ++i) plan.packets[i].dts = times[i] - delay;
}

// Re-encoded packets have no reordering: their decoding time is their
// showing time less the source's delay, which must fit between the
// copied packets around them.
bool RoomForReencoded(const std::vector<int64_t> &times, const Plan &plan) {
    for (std::size_t i = 0; i < plan.gops.size(); ++i) {
        if (!plan.gops[i].touched || (i > 0 && plan.gops[i - 1].touched)) continue;
        const VideoPacket &key = plan.packets[plan.gops[i].first];
        std::size_t j = i;
        while (j + 1 < plan.gops.size() && plan.gops[j + 1].touched) ++j;
        if (j + 1 == plan.gops.size()) continue;
        int64_t lastPts = times[std::size_t(plan.gops[j].firstFrame + plan.gops[j].frames - 1)];
        if (plan.packets[plan.gops[j + 1].first].dts <= lastPts - (key.pts - key.dts)) return false;
    }
    return true;
}

}  // namespace

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

bool MakePlan(AVFormatContext *in, int stream, const std::vector<int64_t> &times, int lengthSize, int64_t start,
              int64_t count, Plan &plan, std::string &why) {
    int64_t openAt = -1;
    if (!ReadPackets(in, stream, times, lengthSize, plan, openAt, why)) return false;
    FillDecodingTimes(times, plan);
    for (std::size_t i = 1; i < plan.packets.size(); ++i)
        if (plan.packets[i].dts <= plan.packets[i - 1].dts)
            return Obstacle(why, "the clip's decoding times do not increase");
    if (openAt >= 0)
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
    if (!RoomForReencoded(times, plan))
        return Obstacle(why, "the clip's decoding times leave no room for re-encoded frames");
    return true;
}
