// A stand-in HY plug-in that checks what the host sends and does something
// easy to predict: inverts the colours of every frame it is given. It passes
// the audio of frame r at level 256 when r % 3 == 0, at 128 when r % 3 == 2,
// and not at all when r % 3 == 1. HYHOST_PROBE=fail makes frame 2 fail with
// kPluginOutOfMemory, HYHOST_PROBE=exit ends the process at frame 2 the way
// a fatal assertion does. Observations go to the file HYHOST_PROBE_LOG.
#include "HYPlugin.h"
#include "Processes.h"
#include "QuickDraw.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Log(const std::string &line) {
    if (FILE *f = std::getenv("HYHOST_PROBE_LOG") ? std::fopen(std::getenv("HYHOST_PROBE_LOG"), "a") : nullptr) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

int32_t DoFrame(HYPluginParams *p) {
    const int32_t r = p->renderFrame;
    const std::string mode = std::getenv("HYHOST_PROBE") ? std::getenv("HYHOST_PROBE") : "";
    if (r == 2 && mode == "fail") return kPluginOutOfMemory;
    if (r == 2 && mode == "exit") ExitToShell();
    const int w = p->frameRect.right - p->frameRect.left, h = p->frameRect.bottom - p->frameRect.top;
    HYProcs *procs = p->procs;
    GWorldPtr pic = nullptr, none = nullptr;
    void *cookie = nullptr, *noCookie = nullptr;
    int16_t volume = 0;
    // Frames before the clip and far past it are refused.
    int outside1 = procs->GetFrame(p->instance, -1, &none, w, h, kDVHighQuality, &volume, &noCookie);
    int outside2 =
        procs->GetFrame(p->instance, p->startFrame + 100000, &none, w, h, kDVHighQuality, &volume, &noCookie);
    int got = procs->GetFrame(p->instance, p->startFrame + r, &pic, w, h, kDVHighQuality, &volume, &cookie);
    Log("frame " + std::to_string(r) + " start " + std::to_string(p->startFrame) + " count " +
        std::to_string(p->frameCount) + " get " + std::to_string(got) + " outside " + std::to_string(outside1) + "," +
        std::to_string(outside2));
    if (got != kPluginOK) return got;
    PixMapHandle src = GetGWorldPixMap(pic), dst = GetGWorldPixMap(p->frame);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *sp = reinterpret_cast<uint8_t *>(GetPixBaseAddr(src)) + y * GetPixRowBytes(src) + 4 * x;
            uint8_t *dp = reinterpret_cast<uint8_t *>(GetPixBaseAddr(dst)) +
                          (y + p->frameRect.top) * GetPixRowBytes(dst) + 4 * (x + p->frameRect.left);
            dp[0] = sp[0];
            for (int c = 1; c < 4; ++c) dp[c] = uint8_t(255 - sp[c]);
        }
    if (!p->proxyOnly && r % 3 != 1) procs->MixAudio(p->instance, cookie, r % 3 == 0 ? 256 : 128);
    return procs->ReleaseFrame(p->instance, cookie);
}

int32_t Entry(int32_t, HYPluginParams *p) {
    if (!p) return kPluginBadParams;
    if (p->interfaceVersion <= 3) return kPluginAppIsTooOld;
    switch (p->selector) {
        case kPlugGetInfo: {
            p->getInfo.pluginType = kPluginFilterType;
            std::strcpy(p->getInfo2.group, "Probe");
            int unimplemented = reinterpret_cast<HYPluginResult (*)()>(p->procs->GetClipInfo)();
            Log("info version " + std::to_string(p->interfaceVersion) + " selected " +
                std::to_string(p->getInfo2.selectedFrames) + " unimplemented " + std::to_string(unimplemented));
            return kPluginOK;
        }
        case kPlugInitialize: {
            HYPluginFilterInfo *info = nullptr;
            int rc = p->procs->GetFilterInfo(p->instance, &info);
            Log("begin start " + std::to_string(p->startFrame) + " count " + std::to_string(p->frameCount) + " fades " +
                std::to_string(info ? info->fadeInFrames : -1) + "," + std::to_string(info ? info->fadeOutFrames : -1));
            if (info) p->procs->ReleaseFilterInfo(p->instance, info);
            return rc;
        }
        case kPlugDoFrame:
            return DoFrame(p);
        case kPlugTerminate:
            Log("end");
    }
    return kPluginOK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t ProbeMain(int32_t which,
                                                                    HYPluginParams *params) __asm__("main");
int32_t ProbeMain(int32_t which, HYPluginParams *params) { return Entry(which, params); }
