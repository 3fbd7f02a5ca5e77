// Reading clips with FFmpeg: what a clip holds, its frames in presentation
// order together with its other streams (for a render), and single frames at
// any index (for the plug-in's frame requests outside the render order, and
// the dialog).
//
// Frame N of a clip is the N-th frame a sequential decode shows, after the
// container's edit lists: opening learns every frame's presentation time
// (from the container's packets where they tell it exactly, else by decoding
// the clip once), and random access finds frames by that time.
#pragma once

#include "Picture.h"
#include "YuvToArgb.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

struct AVFormatContext;

struct ClipInfo {
    int width = 0;
    int height = 0;
    AVRational frameRate{25, 1};  // average frames per second (times given as text, progress)
    AVRational timeBase{1, 25};   // of the video stream: the unit of every frame time
    int64_t frameCount = 0;       // frames a sequential decode shows
    int videoStream = -1;         // index in the file
    std::string streamNote;       // names the video stream chosen when the file has several
    bool hasAudio = false;
    int audioStream = -1;
    int sampleRate = 0;
    int channels = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;  // as decoded
};

struct AVFrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFree>;
struct AVPacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFree>;

// Owners of the codec and scaler contexts that reading and writing both use.
struct AVCodecContext;
struct SwsContext;
struct CodecFree {
    void operator()(AVCodecContext *c) const;
};
struct SwsFree {
    void operator()(SwsContext *s) const;
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

// The audio a render wants decoded: samples converted to this format.
struct AudioTarget {
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0;
    AVChannelLayout layout{};
};

struct ClipDecoder;  // one open file with its decoders
struct ClipDecoderDelete {
    void operator()(ClipDecoder *d) const;
};
using ClipDecoderPtr = std::unique_ptr<ClipDecoder, ClipDecoderDelete>;

// Opens a clip and learns its frames' times. `stream` chooses a video stream
// by its index in the file; -1 takes the default one, else the largest. On
// failure returns nil and a one-line reason in error.
ClipDecoderPtr OpenClipDecoder(const std::string &path, std::string &error, int stream = -1);
// A second reader of the same clip and stream, sharing what the first learnt.
ClipDecoderPtr ReopenClipDecoder(const ClipDecoder &decoder, std::string &error);
const ClipInfo &GetClipInfo(const ClipDecoder &decoder);
const AVFormatContext *GetClipFormat(const ClipDecoder &decoder);
// Presentation time of every frame, in the video stream's time base.
const std::vector<int64_t> &GetFrameTimes(const ClipDecoder &decoder);

// The two ways of learning the frame times that opening uses (with
// KELVARIN_EXACT_TIMES=1 it always decodes). From the packets: the sorted
// presentation times of the stream's packets, without decoding; false
// (and no times) when the packets cannot vouch for the decoder's frames,
// which only a decode then tells: a codec or container where a packet is
// not one shown frame, packets without times or cut by an edit list,
// damage, a start without a key frame. By decoding: the frames a decode
// shows, in order; false with a reason when the file cannot be read.
bool FrameTimesFromPackets(const std::string &path, int stream, std::vector<int64_t> &times);
bool FrameTimesByDecoding(const std::string &path, int stream, AVRational rate, std::vector<int64_t> &times,
                          std::string &error);

// Makes ReadNextUnit also deliver the audio, decoded and converted to target.
bool SetAudioTarget(ClipDecoder &decoder, const AudioTarget &target, std::string &error);
// Makes ReadNextUnit deliver the packets of these streams as they are.
void SetCopiedStreams(ClipDecoder &decoder, const std::vector<int> &streams);

enum class UnitKind { Video, Audio, Packet, End, Error };

// The next unit of the clip in file order: a decoded video frame in the
// source's own pixel format (its pts the frame's presentation time, numbered
// from 0), a block of audio samples in the audio target's format (pts in
// samples at the target rate), or a packet of a copied stream.
UnitKind ReadNextUnit(ClipDecoder &decoder, AVFramePtr &video, int64_t &videoIndex, AVFramePtr &audio,
                      AVPacketPtr &packet, std::string &error);

// Frame `index` of the clip scaled to width x height. Near requests decode
// forward; others seek to the key frame before the frame's time. The result
// is the frame a sequential decode gives. False with a reason when the
// index is outside the clip or the frame cannot be decoded.
bool FetchClipFrame(ClipDecoder &decoder, int64_t index, int width, int height, bool highQuality, ArgbPicture &picture,
                    std::string &error);

// The YUV matrix (an SWS_CS_* value) and range of a picture. Untagged YUV is
// taken as BT.709 from 720 lines up and BT.601 below, as players do.
struct ColourModel {
    int matrix = 5;  // SWS_CS_ITU601
    bool fullRange = false;
};
ColourModel ColourModelOf(AVColorSpace space, AVColorRange range, AVPixelFormat format, int height);
// Sets a scaler's conversion to read and write with these models.
void SetConversionColour(SwsContext *scaler, const ColourModel &from, const ColourModel &to);

// A scaler that cuts every picture into slices converted on all the cores at
// once (swscale's threads; the same output as one thread), for
// sws_scale_frame. `held` is a cache: kept while the sizes, formats and
// flags stay. Nil when swscale cannot make one.
SwsContext *SlicedScaler(SwsPtr &held, int srcW, int srcH, AVPixelFormat srcFormat, int dstW, int dstH,
                         AVPixelFormat dstFormat, int flags);

// A frame that lends the memory of an ARGB picture (freeing nothing), for
// sws_scale_frame; nil when out of memory.
AVFramePtr LendPicture(const ArgbPicture &picture);

// hyhost's own conversions give swscale's bytes faster. Each plan is
// trusted once its first frame matched swscale's, and never used if not.
enum class PlanTrust { Unchecked, Matched, Refused };

// What converting a run of decoded frames to ARGB keeps from frame to frame:
// swscale's context and, for 4:2:0 frames at their own size, the plan of the
// vector conversion.
struct ArgbConverter {
    SwsPtr scaler;
    std::optional<YuvArgbPlan> plan;
    int planMatrix = -1;
    bool planFullRange = false;
    PlanTrust trust = PlanTrust::Unchecked;
};

// A decoded frame in ARGB at width x height, converted with the frame's own
// matrix and range (swscale: bicubic, accurate rounding, full chroma).
bool FrameToPicture(ArgbConverter &converter, const AVFrame &frame, int width, int height, bool highQuality,
                    ArgbPicture &picture);
// The same conversion by swscale alone. The scaler is a cache kept by the
// caller.
bool SwscaleToPicture(SwsPtr &scaler, const AVFrame &frame, int width, int height, bool highQuality,
                      ArgbPicture &picture);

// Scales an ARGB picture into another size (used when the plug-in asks for a
// frame at another size than the render's).
bool ScalePicture(const ArgbPicture &source, int width, int height, bool highQuality, ArgbPicture &result);

// Text of an FFmpeg error code.
std::string AVErrorText(int code);
