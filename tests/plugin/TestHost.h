// A test host: its own HYProcs table recording every call, handing out
// prepared pictures, and tracking every block and picture it gives out.
#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
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

struct HostCall {
    std::string name;
    int64_t a = 0, b = 0, c = 0, d = 0;   // arguments worth checking
    const void *p = nullptr;              // cookie / picture / block
    Rect r1{}, r2{};                      // Blit rectangles
};

class TestHost {
public:
    // ---- knobs ----
    HYPluginResult getFrameResult = kPluginOK;
    bool giveNoPicture = false;           // GetFrame hands out no picture
    HYPluginResult filterInfoResult = kPluginOK;
    bool giveFilterInfo = true;
    int32_t fadeIn = 0, fadeOut = 0;
    HYPluginResult blitResult = kPluginOK;
    HYPluginResult mixResult = kPluginOK;
    HYPluginResult releaseResult = kPluginOK;
    bool disposeAtRelease = true;         // false: the plug-in disposes pictures itself
    int failNewPtrClearAfter = -1;        // >= 0: that many more succeed, then nil
    GWorldPtr prepared = nullptr;         // when set, GetFrame hands out this picture

    // ---- records ----
    std::vector<HostCall> calls;
    std::set<void *> liveBlocks;
    std::map<void *, GWorldPtr> framesOut;   // cookie -> picture not yet released

    HYProcs procs{};
    HYPluginParams params{};

    TestHost(int width, int height) {
        current = this;
        Fill(&procs);
        std::memset(&params, 0, sizeof params);
        params.interfaceVersion = 4;
        params.instance = this;
        params.procs = &procs;
        params.frameCount = 100;
        SetOutput(width, height);
    }
    ~TestHost() {
        for (auto &[cookie, pic] : framesOut)
            if (disposeAtRelease) DisposeGWorld(pic);
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
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const HostCall &c : calls) out.push_back(c.name);
        return out;
    }

    // Fills a picture with the prepared pixels of frame `index`.
    static void Paint(GWorldPtr gw, int32_t index) {
        PixMapHandle pm = GetGWorldPixMap(gw);
        auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
        const int32_t rowBytes = GetPixRowBytes(pm);
        Rect b{};
        GetPortBounds(gw, &b);
        for (int y = 0; y < b.bottom - b.top; ++y)
            for (int x = 0; x < b.right - b.left; ++x) SourcePixel(index, x, y, base + y * rowBytes + x * 4);
    }

    static TestHost *current;

private:
    static HYPluginResult Unimplemented() { return kPluginUnimplemented; }

    static void *NewPtrClearCB(int32_t size) {
        TestHost *h = current;
        h->calls.push_back({"NewPtrClear", size});
        if (h->failNewPtrClearAfter == 0) return nullptr;
        if (h->failNewPtrClearAfter > 0) --h->failNewPtrClearAfter;
        void *block = NewPtrClear(size);
        h->liveBlocks.insert(block);
        return block;
    }
    static void DisposePtrCB(void *block) {
        TestHost *h = current;
        HostCall c{"DisposePtr"};
        c.p = block;
        h->calls.push_back(c);
        h->liveBlocks.erase(block);
        DisposePtr(static_cast<Ptr>(block));
    }
    static HYPluginResult GetFrameCB(void *instance, int32_t frameIndex, GWorldPtr *picture, int32_t width,
                                     int32_t height, HYRefDVQuality quality, int16_t *volume, void **cookie) {
        auto *h = static_cast<TestHost *>(instance);
        h->calls.push_back({"GetFrame", frameIndex, width, height, quality});
        if (volume) *volume = 0;
        static int counter = 0;
        *cookie = reinterpret_cast<void *>(static_cast<intptr_t>(0x1000 + ++counter));
        if (h->giveNoPicture) {
            *picture = nullptr;
            return h->getFrameResult;
        }
        if (h->prepared) {
            *picture = h->prepared;
        } else {
            const Rect bounds{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
            GWorldPtr gw = nullptr;
            NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0);
            Paint(gw, frameIndex);
            *picture = gw;
            h->framesOut[*cookie] = gw;
        }
        h->calls.back().p = *picture;
        return h->getFrameResult;
    }
    static HYPluginResult ReleaseFrameCB(void *instance, void *cookie) {
        auto *h = static_cast<TestHost *>(instance);
        HostCall c{"ReleaseFrame"};
        c.p = cookie;
        h->calls.push_back(c);
        auto it = h->framesOut.find(cookie);
        if (it != h->framesOut.end()) {
            if (h->disposeAtRelease) DisposeGWorld(it->second);
            h->framesOut.erase(it);
        }
        return h->releaseResult;
    }
    static HYPluginResult BlitCB(PixMapHandle src, PixMapHandle dst, Rect srcRect, const Rect *dstRect,
                                 int16_t opacity) {
        TestHost *h = current;
        HostCall c{"Blit", opacity};
        c.r1 = srcRect;
        c.r2 = *dstRect;
        c.p = dst;
        h->calls.push_back(c);
        if (h->blitResult != kPluginOK) return h->blitResult;
        // src over dst at opacity, same-size rectangles.
        const PixMap &s = **src;
        const PixMap &d = **dst;
        for (int y = 0; y < srcRect.bottom - srcRect.top; ++y)
            for (int x = 0; x < srcRect.right - srcRect.left; ++x) {
                const auto *sp = reinterpret_cast<const uint8_t *>(s.baseAddr) + (srcRect.top + y) * s.rowBytes +
                                 (srcRect.left + x) * 4;
                auto *dp = reinterpret_cast<uint8_t *>(d.baseAddr) + (dstRect->top + y) * d.rowBytes +
                           (dstRect->left + x) * 4;
                for (int k = 0; k < 4; ++k) dp[k] = static_cast<uint8_t>((sp[k] * opacity + dp[k] * (255 - opacity) + 127) / 255);
            }
        return kPluginOK;
    }
    static HYPluginResult MixAudioCB(void *instance, void *cookie, int32_t level) {
        auto *h = static_cast<TestHost *>(instance);
        HostCall c{"MixAudio", level};
        c.p = cookie;
        h->calls.push_back(c);
        return h->mixResult;
    }
    static HYPluginResult GetFilterInfoCB(void *instance, HYPluginFilterInfo **info) {
        auto *h = static_cast<TestHost *>(instance);
        h->calls.push_back({"GetFilterInfo"});
        if (h->giveFilterInfo) {
            h->info = HYPluginFilterInfo{{0.5f, 0.5f, 0.5f}, h->fadeIn, h->fadeOut};
            *info = &h->info;
        } else {
            *info = nullptr;
        }
        return h->filterInfoResult;
    }
    static HYPluginResult ReleaseFilterInfoCB(void *instance, HYPluginFilterInfo *info) {
        auto *h = static_cast<TestHost *>(instance);
        HostCall c{"ReleaseFilterInfo"};
        c.p = info;
        h->calls.push_back(c);
        return kPluginOK;
    }

    static void Fill(HYProcs *p) {
        auto unimplemented = reinterpret_cast<HYUntypedProc>(&Unimplemented);
        HYUntypedProc *table = reinterpret_cast<HYUntypedProc *>(p);
        for (size_t i = 0; i < sizeof(HYProcs) / sizeof(HYUntypedProc); ++i) table[i] = unimplemented;
        p->NewPtr = &NewPtrClearCB;
        p->NewPtrClear = &NewPtrClearCB;
        p->DisposePtr = &DisposePtrCB;
        p->GetFrame = &GetFrameCB;
        p->ReleaseFrame = &ReleaseFrameCB;
        p->Blit = &BlitCB;
        p->MixAudio = &MixAudioCB;
        p->GetFilterInfo = &GetFilterInfoCB;
        p->ReleaseFilterInfo = &ReleaseFilterInfoCB;
    }

    HYPluginFilterInfo info{};
};

inline TestHost *TestHost::current = nullptr;
