// The host message protocol (host/iMovieGlue.cpp), driven through the entry
// point by a recording test host.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Pictures.h"
#include "TestEnv.h"
#include "TestHost.h"
#include "host/iMovieGlue.h"
#include "storage/prefsloader.h"
#include "support/commonprocs.h"

// Every picture made or freed anywhere in this process passes through these,
// so the tests can tell that nothing is left behind.
namespace {
long gLiveGWorlds = 0;
QDErr gFailNewGWorld = noErr;  // when set, NewGWorld fails with it
}  // namespace
extern "C" QDErr NewGWorld(GWorldPtr *offscreen, short pixelDepth, const Rect *bounds, CTabHandle cTable,
                           GDHandle device, GWorldFlags flags) {
    using Fn = QDErr (*)(GWorldPtr *, short, const Rect *, CTabHandle, GDHandle, GWorldFlags);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "NewGWorld"));
    if (gFailNewGWorld != noErr) {
        if (offscreen) *offscreen = nullptr;
        return gFailNewGWorld;
    }
    const QDErr err = real(offscreen, pixelDepth, bounds, cTable, device, flags);
    if (offscreen && *offscreen) ++gLiveGWorlds;
    return err;
}
extern "C" void DisposeGWorld(GWorldPtr offscreen) {
    using Fn = void (*)(GWorldPtr);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "DisposeGWorld"));
    if (offscreen) --gLiveGWorlds;
    real(offscreen);
}

namespace {

// The first accepted message creates the shared record; the tests start
// after it, so the calls they look at are the message's own.
class Protocol : public testing::Test {
protected:
    ScopedPrefsFolder prefs;
    TestHost host{16, 8};
    void SetUp() override {
        ResetGlueGlobals();
        host.Send(kPlugDrawIcon);
        host.calls.clear();
    }
    void TearDown() override { ResetGlueGlobals(); }
    EffectData *Block() { return static_cast<EffectData *>(host.params.clientData); }
};

}  // namespace

TEST_F(Protocol, EntryRejectsBadBlocksAndLoadsTheSharedRecordOnce) {
    pluginDataRec saved;
    ResetConfig(&saved, true);
    saved.rota = 4;
    ASSERT_TRUE(SaveConfig(&saved));
    ResetGlueGlobals();  // before the first message
    host.calls.clear();
    EXPECT_EQ(KelvarinMain(0, nullptr), kPluginBadParams);
    for (int16_t version : {3, 0, -1, -32768}) {
        host.params.interfaceVersion = version;
        EXPECT_EQ(host.Send(kPlugGetInfo), kPluginAppIsTooOld) << version;
    }
    host.params.interfaceVersion = 4;
    host.params.procs = nullptr;  // nothing can be allocated
    EXPECT_EQ(host.Send(kPlugDrawIcon), kPluginBadParams);
    EXPECT_EQ(gPascalData, nullptr);
    host.params.procs = &host.procs;

    // The first accepted message, whatever it is, creates the record once
    // and loads the saved settings into it.
    EXPECT_EQ(host.Send(kPlugCallOnceWithInitAndTerminate), kPluginOK);
    ASSERT_NE(gPascalData, nullptr);
    EXPECT_EQ(host.CallsNamed("NewPtrClear").at(0).a, static_cast<int64_t>(sizeof(pluginDataRec)));
    EXPECT_EQ(gPascalData->rota, 4);
    pluginDataPtr first = gPascalData;
    first->rota = 3;  // an edit that a reload would lose
    for (int selector : {0, 3, 4, 7, 10, 200, 255, int(kPlugGetInfo)})
        EXPECT_EQ(host.Send(static_cast<HYPluginSelector>(selector)), kPluginOK);
    EXPECT_EQ(gPascalData, first);
    EXPECT_EQ(gPascalData->rota, 3);
    EXPECT_EQ(host.Names(), "NewPtrClear");
}

TEST_F(Protocol, GetInfoFillsTheThreeBlocks) {
    HYPluginParams &p = host.params;
    for (auto [block, size] : {std::pair<void *, size_t>{&p.getInfo, sizeof p.getInfo},
                               {&p.getInfo2, sizeof p.getInfo2},
                               {&p.getInfo3, sizeof p.getInfo3},
                               {&p.getInfo4, sizeof p.getInfo4}})
        std::memset(block, 0xA5, size);
    host.params.getInfo.pluginFlags = 0x1;
    host.params.getInfo.bestThumbOffset = 17;
    host.params.getInfo2.selectedFrames = 75;
    const HYPluginParams before = host.params;

    const short ref = OpenResFilePath(KELVARIN_TEST_RSRC, fsRdPerm);
    ASSERT_NE(ref, -1) << "built resources missing: " << KELVARIN_TEST_RSRC;
    EXPECT_EQ(host.Send(kPlugGetInfo), kPluginOK);
    CloseResFile(ref);
    const HYPluginGetInfo &info = host.params.getInfo;
    const HY2PluginGetInfo &info2 = host.params.getInfo2;
    // Type, flags, frames to render, taken before/after, speeds, single clips, thumb, memory, selection.
    EXPECT_EQ(
        std::tuple(int(info.pluginType), info.pluginFlags, info.framesToBeRendered, info.takeFromClipBefore,
                   info.takeFromClipAfter, info.minSpeedFrames, info.maxSpeedFrames, int(info.mustTakeFromSingleClips),
                   info.bestThumbOffset, info2.baseMemoryNeeded, info2.selectedFrames),
        std::tuple(int(kPluginFilterType), 0x1381u, 75, 0, 75, 0, 0, 0, 17, 50000, 75));
    EXPECT_EQ(std::memcmp(&host.params.getInfo4, &before.getInfo4, sizeof before.getInfo4), 0);
    EXPECT_EQ(std::memcmp(info.reserved2, before.getInfo.reserved2, sizeof info.reserved2), 0);
    EXPECT_EQ(std::memcmp(host.params.getInfo3.reserved0, before.getInfo3.reserved0, 96), 0);
    // Every text zero-terminated inside its field (plugin/resources/kelvarin.r).
    auto expectText = [](const char *field, size_t size, const char *want) {
        ASSERT_NE(std::memchr(field, 0, size), nullptr);
        EXPECT_STREQ(field, want);
    };
    for (int i = 0; i < 3; ++i) {
        const HYPluginFilterSliderInfo &s = info2.filterSliders[i];
        EXPECT_EQ(s.defaultValue, 0.5f);
        const std::string label = "Unused slider " + std::to_string(i + 1) + " (settings are behind the button)";
        expectText(s.label, sizeof s.label, label.c_str());
        expectText(s.minLabel, sizeof s.minLabel, "no effect");
        expectText(s.maxLabel, sizeof s.maxLabel, "no effect");
    }
    expectText(host.params.getInfo3.buttonTitle, sizeof host.params.getInfo3.buttonTitle, "Kelvarin Settings...");
    expectText(info2.group, sizeof info2.group, "Kelvarin");
}

TEST_F(Protocol, BundleExportsOnlyMain) {
    const std::string so = std::string(KELVARIN_TEST_BUNDLE) + "/Contents/Linux/Kelvarin.so";
    void *lib = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto entry = reinterpret_cast<HYPluginMainProc>(dlsym(lib, "main"));
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(reinterpret_cast<void *>(entry), reinterpret_cast<void *>(&KelvarinMain));
    for (const char *hidden :
         {"_Z12KelvarinMainiP13_PluginParams", "gPascalData", "_Z13TheLineEffectP8GrafPortS0_4RectP13pluginDataRecii"})
        EXPECT_EQ(dlsym(lib, hidden), nullptr) << hidden;
    // The library stays loaded: the platform may still hold its callbacks.
}

TEST_F(Protocol, BeginTakesACopyClampsTheFadesAndFailsWhole) {
    gPascalData->rota = 2;
    struct Case {
        int32_t frames, in, out, wantIn, wantOut;
    };
    for (const Case c : {Case{31, 20, 20, 15, 15}, Case{31, 40, 0, 31, 0}, Case{3, 0, 5, 0, 3}, Case{0, 4, 0, 0, 0}}) {
        host.calls.clear();
        host.params.frameCount = c.frames;
        host.fadeIn = c.in;
        host.fadeOut = c.out;
        EXPECT_EQ(host.Send(kPlugInitialize), kPluginOK);
        ASSERT_NE(Block(), nullptr);
        EXPECT_EQ(std::pair(Block()->fadeInFrames, Block()->fadeOutFrames), std::pair(c.wantIn, c.wantOut))
            << c.frames << " " << c.in << " " << c.out;
        EXPECT_EQ(host.Names(), "NewPtrClear NewPtrClear GetFilterInfo ReleaseFilterInfo");
        gPascalData->rota = 4;  // the copy is the record as it was at the begin
        EXPECT_EQ(Block()->pascalData->rota, 2);
        gPascalData->rota = 2;
        EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    }

    // No information block: no fades, the host's result is the begin's.
    host.giveFilterInfo = false;
    host.filterInfoResult = kPluginTryAgainLater;
    host.fadeIn = 5;
    host.calls.clear();
    EXPECT_EQ(host.Send(kPlugInitialize), kPluginTryAgainLater);
    ASSERT_NE(Block(), nullptr);
    EXPECT_EQ(Block()->fadeInFrames, 0);
    EXPECT_TRUE(host.CallsNamed("ReleaseFilterInfo").empty());

    // Terminate: the copy, then the block; a second terminate frees nothing.
    const void *copy = Block()->pascalData;
    const void *block = host.params.clientData;
    host.calls.clear();
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    EXPECT_EQ(host.Names(), "DisposePtr DisposePtr");
    EXPECT_EQ(std::pair(host.calls[0].p, host.calls[1].p), std::pair(copy, block));
    EXPECT_EQ(host.params.clientData, nullptr);
    EXPECT_EQ(host.liveBlocks.size(), 1u);  // only the shared record

    // Failures leave nothing half made: no block at all; then the block but
    // no configuration copy.
    host.giveFilterInfo = true;
    host.filterInfoResult = kPluginOK;
    host.calls.clear();
    for (int succeeding : {0, 1}) {
        host.failNewPtrClearAfter = succeeding;
        EXPECT_EQ(host.Send(kPlugInitialize), kPluginOutOfMemory);
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(host.liveBlocks.size(), 1u);
    }
    EXPECT_TRUE(host.CallsNamed("GetFilterInfo").empty());
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginBadParams);  // refused, not fatal

    // A second begin on a live block replaces its copy, releasing the first...
    host.failNewPtrClearAfter = -1;
    ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
    void *live = host.params.clientData;
    void *firstCopy = Block()->pascalData;
    host.calls.clear();
    ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
    EXPECT_EQ(host.params.clientData, live);
    EXPECT_EQ(host.CallsNamed("DisposePtr").at(0).p, firstCopy);
    EXPECT_EQ(host.liveBlocks.size(), 3u);
    // ...and when that second copy cannot be made, the first one stays.
    void *secondCopy = Block()->pascalData;
    host.failNewPtrClearAfter = 0;
    EXPECT_EQ(host.Send(kPlugInitialize), kPluginOutOfMemory);
    EXPECT_EQ(host.params.clientData, live);
    EXPECT_EQ(Block()->pascalData, secondCopy);
    host.failNewPtrClearAfter = -1;
    host.Send(kPlugTerminate);
    EXPECT_EQ(host.liveBlocks.size(), 1u);
}

TEST_F(Protocol, FramesFollowTheCallbackOrderAndFadeTable) {
    host.SetOutput(32, 24);
    gPascalData->rota = 2;
    const long pictures = gLiveGWorlds;
    host.params.startFrame = 1000;  // frameCount 100
    host.fadeIn = host.fadeOut = 10;
    ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
    std::vector<int> opacities(100, -1);
    for (int32_t f = 0; f < 100; ++f) {
        host.calls.clear();
        host.params.renderFrame = f;
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK) << f;
        EXPECT_EQ(host.calls.at(0).Args(), std::tuple(1000 + f, 32, 24, kDVHighQuality));
        // Fetch, (blend), audio at unity, give back the same cookie.
        const auto blits = host.CallsNamed("Blit");
        EXPECT_EQ(host.Names(),
                  blits.empty() ? "GetFrame MixAudio ReleaseFrame" : "GetFrame Blit MixAudio ReleaseFrame")
            << f;
        EXPECT_EQ(host.CallsNamed("MixAudio").at(0).a, 256);
        EXPECT_EQ(host.CallsNamed("MixAudio")[0].p, host.CallsNamed("ReleaseFrame").at(0).p);
        if (blits.empty()) continue;
        opacities[f] = static_cast<int>(blits[0].a);
        EXPECT_TRUE(SameRect(blits[0].r1, R(0, 0, 24, 32)));
        EXPECT_TRUE(SameRect(blits[0].r2, host.params.frameRect));
        EXPECT_EQ(blits[0].p, GetGWorldPixMap(host.params.frame));
    }
    EXPECT_EQ(std::pair(gMostRecentStartFrame, gMostRecentFrameCount), std::pair(1000, 100));
    // Opacity of the untouched frame, by hand: 255 * (1 - f / 10) truncated
    // fading in, 255 * (1 - (100 - f) / 10) fading out; frame 90 unblended.
    const int fadeIn[10] = {255, 229, 204, 178, 153, 127, 102, 76, 50, 25};
    const int fadeOut[9] = {25, 50, 76, 102, 127, 153, 178, 204, 229};
    for (int f = 0; f < 100; ++f) EXPECT_EQ(opacities[f], f < 10 ? fadeIn[f] : f > 90 ? fadeOut[f - 91] : -1) << f;

    // A long selection leaves no picture or block behind.
    host.Send(kPlugTerminate);
    EXPECT_EQ(gLiveGWorlds, pictures);
    EXPECT_EQ(host.liveBlocks.size(), 1u);
    EXPECT_TRUE(host.framesOut.empty());
}

TEST_F(Protocol, QualityPreviewAndFailures) {
    host.SetOutput(32, 240);
    ASSERT_EQ(host.Send(kPlugDoFrame), kPluginBadParams);  // no render instance
    ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
    // Preview: low quality up to 259 rows, no audio.
    host.params.proxyOnly = 1;
    for (int h : {259, 260}) {
        host.SetOutput(16, h);
        host.calls.clear();
        EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        EXPECT_EQ(host.calls.at(0).d, h <= 259 ? kDVLowQuality : kDVHighQuality) << h;
        EXPECT_EQ(host.Names(), "GetFrame ReleaseFrame");
    }
    host.params.proxyOnly = 0;
    host.SetOutput(16, 12);

    // A negative absolute index: nothing fetched or released.
    host.params.renderFrame = -1;
    host.calls.clear();
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
    EXPECT_TRUE(host.calls.empty());

    // Failures: the earliest wins, ReleaseFrame always follows GetFrame, no
    // picture is left behind. The output is larger than frameRect, so the
    // effect needs a scratch picture, which the platform may fail to make: a
    // frame the effect cannot draw is neither blended nor passed on.
    host.Send(kPlugTerminate);
    host.SetOutput(64, 48);
    host.params.frameRect = R(4, 4, 28, 36);
    host.prepared = MakeGWorld(32, 24);  // GetFrame allocates nothing
    host.fadeIn = 5;
    host.Send(kPlugInitialize);
    host.params.renderFrame = 2;  // in the fade-in
    struct Case {
        HYPluginResult get, blit, mix, release;
        QDErr newGWorld;
        HYPluginResult want;
        const char *calls;
    };
    const Case cases[] = {
        {kPluginCantGetNeededFrame, 0, 0, 0, noErr, kPluginCantGetNeededFrame, "GetFrame ReleaseFrame"},
        {kPluginCantGetNeededFrame, 0, 0, kPluginTryAgainLater, noErr, kPluginCantGetNeededFrame,
         "GetFrame ReleaseFrame"},
        {0, kPluginOutOfDiskSpace, 0, kPluginTryAgainLater, noErr, kPluginOutOfDiskSpace, "GetFrame Blit ReleaseFrame"},
        {0, 0, kPluginCancel, 0, noErr, kPluginCancel, "GetFrame Blit MixAudio ReleaseFrame"},
        {0, 0, 0, kPluginTryAgainLater, noErr, kPluginTryAgainLater, "GetFrame Blit MixAudio ReleaseFrame"},
        {0, 0, 0, 0, memFullErr, kPluginOutOfMemory, "GetFrame ReleaseFrame"},
        {0, 0, 0, 0, paramErr, kPluginFailed, "GetFrame ReleaseFrame"},
        {0, 0, 0, 0, noErr, kPluginOK, "GetFrame Blit MixAudio ReleaseFrame"},
    };
    for (const Case &c : cases) {
        host.getFrameResult = c.get;
        host.blitResult = c.blit;
        host.mixResult = c.mix;
        host.releaseResult = c.release;
        host.calls.clear();
        const long pictures = gLiveGWorlds;
        gFailNewGWorld = c.newGWorld;
        EXPECT_EQ(host.Send(kPlugDoFrame), c.want);
        gFailNewGWorld = noErr;
        EXPECT_EQ(host.Names(), c.calls);
        EXPECT_EQ(gLiveGWorlds, pictures);
    }
    // Success reported without a picture is a failure, and still released.
    host.giveNoPicture = true;
    host.calls.clear();
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginFailed);
    EXPECT_EQ(host.Names(), "GetFrame ReleaseFrame");
    host.Send(kPlugTerminate);
    DisposeGWorld(host.prepared);
}

TEST_F(Protocol, PlaceholderRunsItsOwnInstanceOnACopy) {
    host.SetOutput(40, 30);
    gPascalData->outside = 0;  // rota 1: the frame comes out as the source
    host.params.startFrame = 200;
    host.params.renderFrame = 3;
    host.params.getInfo.bestThumbOffset = 7;
    // A block the host already holds for a render in progress.
    EffectData held{11, 12, nullptr, nullptr};
    host.params.clientData = &held;
    host.params.selector = kPlugFilePlaceHolder;
    const HYPluginParams before = host.params;

    EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginOK);
    EXPECT_EQ(std::memcmp(&host.params, &before, sizeof before), 0);
    EXPECT_EQ(std::pair(held.fadeInFrames, held.pascalData), std::pair(11, pluginDataPtr(nullptr)));
    EXPECT_EQ(host.Names(),
              "NewPtrClear NewPtrClear GetFilterInfo ReleaseFilterInfo GetFrame MixAudio ReleaseFrame "
              "DisposePtr DisposePtr");
    EXPECT_EQ(host.CallsNamed("GetFrame").at(0).a, 207);
    EXPECT_EQ(host.liveBlocks.size(), 1u);  // its own block and copy are gone
    EXPECT_TRUE(ShowsSourceFrame(host.params.frame, 207));

    // A frame that cannot be drawn is reported; a failed begin is ended too.
    host.getFrameResult = kPluginCantGetNeededFrame;
    EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginCantGetNeededFrame);
    host.getFrameResult = kPluginOK;
    host.filterInfoResult = kPluginTryAgainLater;
    host.calls.clear();
    EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginTryAgainLater);
    EXPECT_TRUE(host.CallsNamed("GetFrame").empty());
    EXPECT_EQ(host.liveBlocks.size(), 1u);
    EXPECT_EQ(host.params.clientData, &held);
}

TEST_F(Protocol, ButtonFetchesAFrameOfTheConfiguredStandard) {
    host.giveNoPicture = true;  // the dialog cannot open without a picture
    host.getFrameResult = kPluginCantGetNeededFrame;
    host.params.renderFrame = 4;
    struct Case {
        SInt16 media;
        int32_t start;  // of the last render
        int64_t index, w, h;
    };
    for (const Case c :
         {Case{2, 0, 4, 720, 576}, Case{3, 0, 4, 960, 540}, Case{7, 0, 4, 720, 480}, Case{0, 500, 504, 720, 480}}) {
        gPascalData->mediaType = c.media;
        gMostRecentStartFrame = c.start;
        host.calls.clear();
        EXPECT_EQ(host.Send(kPlugCustomButtonClick), kPluginOK);
        EXPECT_EQ(host.Names(), "GetFrame ReleaseFrame");
        EXPECT_EQ(host.calls.at(0).Args(), std::tuple(c.index, c.w, c.h, int64_t(kDVHighQuality)));
    }
}

TEST_F(Protocol, ClipSliderFetchesIntoThePicture) {
    host.params.startFrame = 30;
    host.params.proxyOnly = 1;
    GWorldPtr gw = MakeGWorld(90, 120);
    // The plug-in disposes the host's picture after giving it back.
    host.hostDisposes = 0;
    const long pictures = gLiveGWorlds;
    EXPECT_EQ(GetFrameIntoGW(gw, &host.params, 5, 1), kPluginOK);
    EXPECT_EQ(gLiveGWorlds, pictures);
    EXPECT_EQ(host.calls.at(0).Args(), std::tuple(35, 90, 120, kDVLowQuality));
    EXPECT_EQ(host.Names(), "GetFrame ReleaseFrame");
    EXPECT_TRUE(ShowsSourceFrame(gw, 35));

    // With 0 the picture stays the host's.
    host.calls.clear();
    host.releaseResult = kPluginTryAgainLater;
    EXPECT_EQ(GetFrameIntoGW(gw, &host.params, 0, 0), kPluginTryAgainLater);
    EXPECT_EQ(gLiveGWorlds, pictures + 1);
    DisposeGWorld(static_cast<GWorldPtr>(const_cast<void *>(host.calls.at(0).p)));
    host.releaseResult = kPluginOK;

    // No picture: GetFrame's result, no ReleaseFrame; negative index: -1.
    host.giveNoPicture = true;
    host.getFrameResult = kPluginCantGetNeededFrame;
    host.calls.clear();
    EXPECT_EQ(GetFrameIntoGW(gw, &host.params, 1, 1), kPluginCantGetNeededFrame);
    EXPECT_EQ(host.Names(), "GetFrame");
    host.calls.clear();
    EXPECT_EQ(GetFrameIntoGW(gw, &host.params, -31, 1), -1);
    EXPECT_TRUE(host.calls.empty());
    DisposeGWorld(gw);
}
