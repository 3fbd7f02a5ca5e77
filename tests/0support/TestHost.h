// A test host: its own HYProcs table recording every call, handing out
// prepared pictures, and tracking every block and picture it gives out.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Carbon.h"
#include "HYPlugin.h"
#include "host/iMovieGlue.h"

// Pixel of the prepared source picture of frame `index` at (x, y): opaque,
// bytes A, R, G, B, different in every channel, position and frame.
inline void SourcePixel(int32_t index, int x, int y, uint8_t out[4]) {
    out[0] = 0xFF;
    out[1] = static_cast<uint8_t>(x * 7 + y * 3 + index * 11);
    out[2] = static_cast<uint8_t>(y * 13 + x + index * 5);
    out[3] = static_cast<uint8_t>((x * 31) ^ (y * 17) ^ index);
}

// Whether every pixel of the picture is the prepared source of frame `index`.
testing::AssertionResult ShowsSourceFrame(GWorldPtr gw, int32_t index);

struct HostCall {
    std::string name;
    int64_t a = 0, b = 0, c = 0, d = 0;  // arguments worth checking
    const void *p = nullptr;             // cookie / picture / block
    Rect r1{}, r2{};                     // Blit rectangles
    std::tuple<int64_t, int64_t, int64_t, int64_t> Args() const { return {a, b, c, d}; }
};

class TestHost {
public:
    // ---- knobs ----
    HYPluginResult getFrameResult = kPluginOK;
    bool giveNoPicture = false;  // GetFrame hands out no picture
    HYPluginResult filterInfoResult = kPluginOK;
    bool giveFilterInfo = true;
    int32_t fadeIn = 0, fadeOut = 0;
    HYPluginResult blitResult = kPluginOK;
    HYPluginResult mixResult = kPluginOK;
    HYPluginResult releaseResult = kPluginOK;
    int hostDisposes = -1;          // >= 0: that many more pictures are disposed at
                                    // release, later ones by the plug-in
    int failNewPtrClearAfter = -1;  // >= 0: that many more succeed, then nil
    GWorldPtr prepared = nullptr;   // when set, GetFrame hands out this picture

    // ---- records ----
    std::vector<HostCall> calls;
    std::set<void *> liveBlocks;
    std::map<void *, GWorldPtr> framesOut;  // cookie -> picture not yet released
    std::set<void *> pluginOwned;           // cookies whose pictures the plug-in disposes

    HYProcs procs{};
    HYPluginParams params{};

    TestHost(int width, int height) {
        current = this;
        Fill(&procs);
        params.interfaceVersion = 4;
        params.instance = this;
        params.procs = &procs;
        params.frameCount = 100;
        SetOutput(width, height);
    }
    ~TestHost() {
        for (auto &[cookie, pic] : framesOut)
            if (!pluginOwned.count(cookie)) DisposeGWorld(pic);
        if (params.frame) DisposeGWorld(params.frame);
        if (current == this) current = nullptr;
    }
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    void SetOutput(int width, int height) {
        if (params.frame) DisposeGWorld(params.frame);
        const Rect bounds{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
        NewGWorld(&params.frame, 32, &bounds, nullptr, nullptr, 0);
        params.frameRect = bounds;
    }

    // One message through the plug-in's entry point.
    int32_t Send(HYPluginSelector selector) {
        params.selector = selector;
        return KelvarinMain(0, &params);
    }

    std::vector<HostCall> CallsNamed(const std::string &name) const {
        std::vector<HostCall> out;
        for (const HostCall &c : calls)
            if (c.name == name) out.push_back(c);
        return out;
    }
    // The callbacks' names, space separated.
    std::string Names() const {
        std::string out;
        for (const HostCall &c : calls) out += (out.empty() ? "" : " ") + c.name;
        return out;
    }

    // Fills a picture with the prepared pixels of frame `index`.
    static void Paint(GWorldPtr gw, int32_t index);

    static TestHost *current;

    HYPluginFilterInfo info{};  // what GetFilterInfo hands out

private:
    static void Fill(HYProcs *p);
};
