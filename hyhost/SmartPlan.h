// The plan of a smart render: which GOPs of the clip's video are copied as
// they are and which are re-encoded because the selection touches them, and
// whether the clip and the request allow a smart render at all.
#pragma once

#include "Render.h"
#include "VideoSource.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

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

// Why this request must be re-encoded whole; empty when smart render may be tried.
std::string RequestObstacle(const RenderRequest &rq, const ClipInfo &info, const AVStream *video);

// Reads the video stream's packets (no decoding) and splits them into GOPs,
// those that show frames of [start, start + count) touched. False, with why
// in `why`, when the clip's GOPs cannot be copied around re-encoded ones.
bool MakePlan(AVFormatContext *in, int stream, const std::vector<int64_t> &times, int lengthSize, int64_t start,
              int64_t count, Plan &plan, std::string &why);
