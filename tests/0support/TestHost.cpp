#include "TestHost.h"

#include "Pictures.h"

TestHost *TestHost::current = nullptr;

void TestHost::Paint(GWorldPtr gw, int32_t index) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
    const int32_t rowBytes = GetPixRowBytes(pm);
    Rect b{};
    GetPortBounds(gw, &b);
    for (int y = 0; y < b.bottom - b.top; ++y)
        for (int x = 0; x < b.right - b.left; ++x) SourcePixel(index, x, y, base + y * rowBytes + x * 4);
}

testing::AssertionResult ShowsSourceFrame(GWorldPtr gw, int32_t index) {
    Rect b{};
    GetPortBounds(gw, &b);
    const Rect all = R(0, 0, b.bottom - b.top, b.right - b.left);
    GWorldPtr want = MakeGWorld(all.right, all.bottom);
    TestHost::Paint(want, index);
    const bool same = Read(gw, all).px == Read(want, all).px;
    DisposeGWorld(want);
    if (same) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the picture is not frame " << index << "'s";
}

namespace {

struct Callbacks {
    static HYPluginResult Unimplemented() { return kPluginUnimplemented; }

    static void *NewPtrClearCB(int32_t size) {
        TestHost *h = TestHost::current;
        h->calls.push_back({"NewPtrClear", size});
        if (h->failNewPtrClearAfter == 0) return nullptr;
        if (h->failNewPtrClearAfter > 0) --h->failNewPtrClearAfter;
        void *block = NewPtrClear(size);
        h->liveBlocks.insert(block);
        return block;
    }
    static void DisposePtrCB(void *block) {
        TestHost *h = TestHost::current;
        h->calls.push_back({"DisposePtr", 0, 0, 0, 0, block});
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
        *picture = h->giveNoPicture ? nullptr : h->prepared;
        if (!h->giveNoPicture && !h->prepared) {
            GWorldPtr gw = MakeGWorld(width, height);
            TestHost::Paint(gw, frameIndex);
            *picture = gw;
            h->framesOut[*cookie] = gw;
            if (h->hostDisposes == 0) h->pluginOwned.insert(*cookie);
            if (h->hostDisposes > 0) --h->hostDisposes;
        }
        h->calls.back().p = *picture;
        return h->getFrameResult;
    }
    static HYPluginResult ReleaseFrameCB(void *instance, void *cookie) {
        auto *h = static_cast<TestHost *>(instance);
        h->calls.push_back({"ReleaseFrame", 0, 0, 0, 0, cookie});
        auto it = h->framesOut.find(cookie);
        if (it != h->framesOut.end()) {
            if (!h->pluginOwned.erase(cookie)) DisposeGWorld(it->second);
            h->framesOut.erase(it);
        }
        return h->releaseResult;
    }
    // Records the blend; the pictures are left alone.
    static HYPluginResult BlitCB(PixMapHandle, PixMapHandle dst, Rect srcRect, const Rect *dstRect, int16_t opacity) {
        TestHost::current->calls.push_back({"Blit", opacity, 0, 0, 0, dst, srcRect, *dstRect});
        return TestHost::current->blitResult;
    }
    static HYPluginResult MixAudioCB(void *instance, void *cookie, int32_t level) {
        auto *h = static_cast<TestHost *>(instance);
        h->calls.push_back({"MixAudio", level, 0, 0, 0, cookie});
        return h->mixResult;
    }
    static HYPluginResult GetFilterInfoCB(void *instance, HYPluginFilterInfo **info) {
        auto *h = static_cast<TestHost *>(instance);
        h->calls.push_back({"GetFilterInfo"});
        h->info = HYPluginFilterInfo{{0.5f, 0.5f, 0.5f}, h->fadeIn, h->fadeOut};
        *info = h->giveFilterInfo ? &h->info : nullptr;
        return h->filterInfoResult;
    }
    static HYPluginResult ReleaseFilterInfoCB(void *instance, HYPluginFilterInfo *info) {
        static_cast<TestHost *>(instance)->calls.push_back({"ReleaseFilterInfo", 0, 0, 0, 0, info});
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
};

}  // namespace

void TestHost::Fill(HYProcs *p) { Callbacks::Fill(p); }
