#include "SmartRender.h"

#include "H264Stream.h"
#include "SmartPlan.h"

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
    ArgbConverter toArgb;
    SwsPtr toSource;
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

// A copy of source stream i in the output: the video with both sets of
// parameter sets. False with why when the output cannot hold it as it is.
bool AddOutputStream(Writer &w, unsigned i, std::string &why, std::string &error) {
    const AVStream *s = w.in->streams[i];
    if (avformat_query_codec(w.out->oformat, s->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
        why = std::string("the output cannot hold the source's ") + avcodec_get_name(s->codecpar->codec_id) +
              " stream as it is";
        return false;
    }
    AVStream *o = avformat_new_stream(w.out, nullptr);
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
    if (int(i) == w.info.videoStream) {
        std::string merged;
        if (!MergeParameterSets(w.avc, w.firstEncoder.get(), merged, error)) return false;
        av_freep(&o->codecpar->extradata);
        o->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(merged.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!o->codecpar->extradata) throw std::bad_alloc();
        std::memcpy(o->codecpar->extradata, merged.data(), merged.size());
        o->codecpar->extradata_size = int(merged.size());
    }
    w.outputOf[i] = o->index;
    return true;
}

void CopyChapters(const AVFormatContext *in, AVFormatContext *out) {
    if (in->nb_chapters == 0) return;
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

// The output's streams, every stream of the source copied, its metadata and
// chapters, and its header written to tempPath.
bool MakeOutput(Writer &w, const std::string &path, const std::string &tempPath, std::string &why, std::string &error) {
    AVFormatContext *out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()) < 0 || !out) {
        error = "cannot tell the output's format from its name '" + path + "'";
        return false;
    }
    w.out = out;
    AVFormatContext *in = w.in;
    w.outputOf.assign(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (!AddOutputStream(w, i, why, error)) return false;
    av_dict_copy(&out->metadata, in->metadata, 0);
    CopyChapters(in, out);
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

enum class SmartResult { Done, Failed, NotPossible };

// Why the clip, the request or the output's format rule a smart render
// out; empty when it may be tried.
std::string SmartObstacle(const RenderRequest &rq, const ClipInfo &info, const AVFormatContext *clipFormat) {
    if (info.videoStream < 0 || !clipFormat || info.videoStream >= int(clipFormat->nb_streams))
        return "the clip has no video stream to copy";
    if (std::string o = RequestObstacle(rq, info, clipFormat->streams[info.videoStream]); !o.empty()) return o;
    const AVOutputFormat *of = av_guess_format(nullptr, rq.output.c_str(), nullptr);
    if (!of || !(std::strstr(of->name, "mp4") || std::strstr(of->name, "mov") || std::strstr(of->name, "matroska") ||
                 std::strcmp(of->name, "ipod") == 0))
        return "copied H.264 needs an MP4, MOV or Matroska output";
    return {};
}

// The encoder of the first re-encoded GOP, opened before the output's
// header, which needs its parameter sets.
bool OpenFirstEncoder(Writer &w, const EncoderOptions &enc, std::string &error) {
    const AVStream *video = w.in->streams[w.info.videoStream];
    w.sourceColour = ColourModelOf(video->codecpar->color_space, video->codecpar->color_range,
                                   AVPixelFormat(video->codecpar->format), w.info.height);
    w.firstEncoder = OpenMatchingEncoder(video, w.setId, enc, error);
    if (!w.firstEncoder) return false;
    w.firstExtradata.assign(reinterpret_cast<const char *>(w.firstEncoder->extradata),
                            std::size_t(w.firstEncoder->extradata_size));
    return true;
}

// The plug-in's render cycle: the selection, drawn into the job's frame.
void SetRenderParams(SmartJob &job, const ClipInfo &info) {
    job.params.startFrame = int32_t(job.start);
    job.params.frameCount = int32_t(job.count);
    job.params.proxyOnly = job.request.preview ? 1 : 0;
    job.params.frameRect = Rect{0, 0, int16_t(info.height), int16_t(info.width)};
    job.params.frame = job.outWorld;
    job.params.clientData = nullptr;
}

// The pass over the clip, the output finished unless it was stopped, and
// the plug-in's render cycle ended. False with the error when it failed.
bool WriteAll(SmartJob &job, Writer &w, AVFormatContext *output, std::string &error) {
    bool ran = w.Run(error);
    if (ran && !InterruptRequested() && !w.audioChanged) {
        if (int rc = av_write_trailer(output); rc < 0) {
            error = "cannot finish the output: " + AVErrorText(rc);
            ran = false;
        }
    }
    if (w.begun) {
        w.begun = false;
        SendMessage(job.plugin, job.params, kPlugTerminate);
    }
    return ran;
}

SmartResult TrySmartRender(SmartJob &job, RenderOutcome &out, Plan &plan, std::string &why) {
    const RenderRequest &rq = job.request;
    const ClipInfo &info = GetClipInfo(job.clip);
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
    if (std::string o = SmartObstacle(rq, info, clipFormat); !o.empty()) return notPossible(o);

    std::string error;
    AvcConfig avc;
    const AVCodecParameters *par = clipFormat->streams[info.videoStream]->codecpar;
    if (!ParseAvcC({par->extradata, std::size_t(par->extradata_size)}, avc))
        return notPossible("the source's H.264 configuration cannot be read");
    const std::vector<int64_t> &times = GetFrameTimes(job.clip);
    if (InputPtr scan = OpenInput(rq.input, error); !scan)
        return failed(error);
    else if (!MakePlan(scan.get(), info.videoStream, times, avc.lengthSize, job.start, job.count, plan, why))
        return SmartResult::NotPossible;
    const int setId = FreeParameterSetId(avc);
    if (setId < 0) return notPossible("the source's parameter sets leave no id free for the re-encoded ones");

    InputPtr in = OpenInput(rq.input, error);
    if (!in) return failed(error);
    Writer w(job, info, times, plan, in.get());
    w.avc = avc;
    w.setId = setId;
    if (!OpenFirstEncoder(w, rq.encoder, error)) return notPossible(error);
    PendingOutput pending(rq.output);
    OutputPtr output;
    bool made = MakeOutput(w, rq.output, pending.TempPath(), why, error);
    output.reset(w.out);
    if (!made) return why.empty() ? failed(error) : SmartResult::NotPossible;

    SetRenderParams(job, info);
    bool ran = WriteAll(job, w, output.get(), error);
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
