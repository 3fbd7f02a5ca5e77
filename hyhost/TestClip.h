// The built-in test clip: a moving colour pattern with the frame number
// drawn in the corner, and a test tone whose pitch steps every second.
#pragma once

#include "Picture.h"

#include <cstdint>
#include <string>

struct TestClipSettings {
    int width = 640;
    int height = 360;
    int framesPerSecond = 25;
    int frames = 100;
    bool withAudio = true;
    int sampleRate = 48000;
    bool lossless = false;  // FFV1 video and 16-bit PCM audio (needs .mkv)
};

// Frame `index` of the pattern into a picture of the picture's size.
void DrawTestFrame(ArgbPicture &picture, int64_t index);

bool WriteTestClip(const std::string &path, const TestClipSettings &clipSettings, std::string &error);
