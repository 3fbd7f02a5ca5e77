#include "host/iMovieGlue.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/carbonmacros.h"
#include "support/commonprocs.h"

pluginDataPtr gPascalData = nullptr;
Boolean gPascalInited = false;
SInt32 gMostRecentStartFrame = 0;
SInt32 gMostRecentFrameCount = 0;

void ResetGlueGlobals() {
    if (gPascalData != nullptr) DisposePtr(reinterpret_cast<Ptr>(gPascalData));
    gPascalData = nullptr;
    gPascalInited = false;
    gMostRecentStartFrame = 0;
    gMostRecentFrameCount = 0;
}

namespace {

// ---- Host callbacks. A slot the host left empty acts like one that is not
// implemented, so a damaged table fails the message instead of the host.

void *HostNewPtrClear(HYPluginParams *params, SInt32 size) {
    return params->procs->NewPtrClear ? params->procs->NewPtrClear(size) : nullptr;
}

void HostDisposePtr(HYPluginParams *params, void *block) {
    if (block && params->procs->DisposePtr) params->procs->DisposePtr(block);
}

HYPluginResult HostGetFrame(HYPluginParams *params, SInt32 frameIndex, GWorldPtr *picture, SInt32 width, SInt32 height,
                            HYRefDVQuality quality, void **cookie) {
    int16_t volume = 0;  // not used
    if (params->procs->GetFrame == nullptr) return kPluginUnimplemented;
    return params->procs->GetFrame(params->instance, frameIndex, picture, width, height, quality, &volume, cookie);
}

HYPluginResult HostReleaseFrame(HYPluginParams *params, void *cookie) {
    if (params->procs->ReleaseFrame == nullptr) return kPluginUnimplemented;
    return params->procs->ReleaseFrame(params->instance, cookie);
}

// Absolute frame index in 64 bits: a hostile block cannot overflow it.
int64_t AbsoluteIndex(SInt32 base, SInt32 offset) { return static_cast<int64_t>(base) + offset; }

// Opacity of the untouched frame in a fade zone: 255 * (1 - percent),
// truncated, kept within 0..255 (counts outside the selection or negative
// fade counts from a host would leave that range).
int16_t FadeOpacity(double percent) {
    double v = 255.0 * (1.0 - percent);
    if (std::isnan(v)) return 0;
    v = std::clamp(v, 0.0, 255.0);
    return static_cast<int16_t>(std::trunc(v));
}

void CopyCString(char *field, size_t fieldSize, ConstStr255Param text) {
    const size_t n = std::min<size_t>(text[0], fieldSize - 1);
    std::memcpy(field, text + 1, n);
    field[n] = '\0';
}

void SetFromStringList(char *field, size_t fieldSize, short listID, short index) {
    Str255 text;
    text[0] = 0;
    GetIndString(text, listID, index);  // a missing item gives an empty text
    CopyCString(field, fieldSize, text);
}

}  // namespace

HYRefDVQuality FrameQuality(const HYPluginParams *params, SInt32 height) {
    return (params->proxyOnly && height <= 259) ? kDVLowQuality : kDVHighQuality;
}

// ---- Entry point ----

int32_t KelvarinMain(int32_t which, HYPluginParams *params) {
    try {
        if (params == nullptr) return kPluginBadParams;
        if (params->interfaceVersion <= 3) return kPluginAppIsTooOld;
        // Without a callback table nothing can be allocated or fetched.
        if (params->procs == nullptr) return kPluginBadParams;
        if (!gPascalInited) {
            InitPascal();
            gPascalInited = true;
        }
        if (gPascalData == nullptr) {
            SInt32 size = 0;
            pGetConfigSize(&size);
            gPascalData = static_cast<pluginDataPtr>(HostNewPtrClear(params, size));
            InitMyPlugIn(reinterpret_cast<void **>(&gPascalData));
        }
        const auto w = static_cast<SInt16>(which);
        switch (params->selector) {
            case kPlugGetInfo:
                return EffectGetInfos(w, params);
            case kPlugInitialize:
                return EffectBegins(w, params);
            case kPlugFilePlaceHolder:
                return MakeEffectPlaceHolders(w, params);
            case kPlugDoFrame:
                return EffectDrives(w, params);
            case kPlugTerminate:
                return EffectEnds(w, params);
            case kPlugCustomButtonClick:
                return CustomButtons(w, params);
            default:
                return kPluginOK;  // icons, thumbnails, unknown selectors
        }
    } catch (...) {
        return kPluginFailed;  // nothing may cross into the host
    }
}

// ---- Information ----

HYPluginResult EffectGetInfos(SInt16 which, HYPluginParams *params) {
    HYPluginGetInfo &info = params->getInfo;
    info.pluginType = kPluginFilterType;
    info.framesToBeRendered = 0;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = 0;
    info.minSpeedFrames = 0;
    info.maxSpeedFrames = 0;
    info.mustTakeFromSingleClips = false;
    info.pluginFlags |= kPluginFlagFilterSliders;
    params->getInfo2.baseMemoryNeeded = 50000;
    SetFilterParamInfos(which, params);
    return kPluginOK;
}

void SetFilterParamInfos(SInt16 /*which*/, HYPluginParams *params) {
    HYPluginGetInfo &info = params->getInfo;
    HY2PluginGetInfo &info2 = params->getInfo2;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = info2.selectedFrames;
    info.framesToBeRendered = info2.selectedFrames;
    for (short i = 0; i < 3; ++i) {
        HYPluginFilterSliderInfo &slider = info2.filterSliders[i];
        slider.defaultValue = 0.5f;
        SetFromStringList(slider.label, sizeof slider.label, 128, static_cast<short>(i + 1));
        SetFromStringList(slider.minLabel, sizeof slider.minLabel, 129, static_cast<short>(2 * i + 1));
        SetFromStringList(slider.maxLabel, sizeof slider.maxLabel, 129, static_cast<short>(2 * i + 2));
    }
    info.pluginFlags |= kPluginFlagCustomButton;
    SetFromStringList(params->getInfo3.buttonTitle, sizeof params->getInfo3.buttonTitle, 130, 1);
    SetFromStringList(info2.group, sizeof info2.group, 17000, 1);
}

// ---- Render instance ----

HYPluginResult EffectBegins(SInt16 /*which*/, HYPluginParams *params) {
    bool madeBlock = false;
    if (params->clientData == nullptr) {
        params->clientData = HostNewPtrClear(params, static_cast<SInt32>(sizeof(EffectData)));
        if (params->clientData == nullptr) return kPluginOutOfMemory;
        madeBlock = true;
    }
    auto *data = static_cast<EffectData *>(params->clientData);

    // The new copy is taken before anything is let go, so a failure leaves
    // an existing instance as it was and nothing half-made behind.
    SInt32 size = 0;
    pGetConfigSize(&size);
    void *copy = HostNewPtrClear(params, size);
    if (copy == nullptr) {
        if (madeBlock) {
            HostDisposePtr(params, params->clientData);
            params->clientData = nullptr;
        }
        return kPluginOutOfMemory;
    }
    if (data->pascalData) {  // a second begin on the same block
        pUncopyConfig(data->pascalData);
        HostDisposePtr(params, data->pascalData);
    }
    data->pascalData = static_cast<pluginDataPtr>(copy);
    pCopyConfig(gPascalData, data->pascalData);

    data->fadeInFrames = 0;
    data->fadeOutFrames = 0;
    HYPluginFilterInfo *info = nullptr;
    const HYPluginResult result = params->procs->GetFilterInfo ? params->procs->GetFilterInfo(params->instance, &info)
                                                               : static_cast<HYPluginResult>(kPluginUnimplemented);
    if (info != nullptr) {
        data->fadeInFrames = info->fadeInFrames;
        data->fadeOutFrames = info->fadeOutFrames;
        if (params->procs->ReleaseFilterInfo) params->procs->ReleaseFilterInfo(params->instance, info);
    }

    const SInt32 frameCount = params->frameCount;
    SInt32 &fadeIn = data->fadeInFrames;
    SInt32 &fadeOut = data->fadeOutFrames;
    if (fadeIn != 0 && fadeOut != 0) {
        const SInt32 half = frameCount / 2;
        if (fadeIn > half) fadeIn = half;
        if (fadeOut > half) fadeOut = half;
    } else if (fadeIn != 0) {
        if (fadeIn > frameCount) fadeIn = frameCount;
    } else if (fadeOut != 0) {
        if (fadeOut > frameCount) fadeOut = frameCount;
    }
    data->effectGWorld = nullptr;
    return result;
}

namespace {

// Where a frame stands in the fades: whether it is inside one, and then the
// opacity of the untouched frame over the effect.
struct FadeStep {
    bool inFade = false;
    int16_t opacity = 0;
};

FadeStep FadeStepOf(const HYPluginParams *params, const EffectData *data) {
    const SInt32 renderFrame = params->renderFrame;
    const int64_t fadeIn = data->fadeInFrames, fadeOut = data->fadeOutFrames;
    FadeStep step;
    step.inFade = (fadeIn > 0 || fadeOut != 0) && (renderFrame < fadeIn || renderFrame > params->frameCount - fadeOut);
    if (!step.inFade) return step;
    const double percent = renderFrame < fadeIn
                               ? static_cast<double>(renderFrame) / static_cast<double>(fadeIn)
                               : static_cast<double>(params->frameCount - static_cast<int64_t>(renderFrame)) /
                                     static_cast<double>(fadeOut);
    step.opacity = FadeOpacity(percent);
    return step;
}

// A copy of the source for the fade to blend from; nil when there is no
// memory for it.
GWorldPtr CopyForFade(GWorldPtr source, int16_t width, int16_t height) {
    const Rect bounds{0, 0, height, width};
    GWorldPtr copy = nullptr;
    if (NewGWorld(&copy, 32, &bounds, nullptr, nullptr, 0) != noErr || copy == nullptr) return nullptr;
    LockPixels(GetGWorldPixMap(copy));
    Source2Target(source, copy);
    return copy;
}

HYPluginResult BlendFade(GWorldPtr blendFrom, HYPluginParams *params, const Rect &frameRect, int16_t opacity) {
    if (params->procs->Blit == nullptr) return kPluginUnimplemented;
    Rect srcRect{0, 0, 0, 0};
    GetPortBounds(blendFrom, &srcRect);
    return params->procs->Blit(GetGWorldPixMap(blendFrom), GetGWorldPixMap(params->frame), srcRect, &frameRect,
                               opacity);
}

// The effect, the fade and the sound for a source picture the host lent.
HYPluginResult DrawLentFrame(GWorldPtr source, void *cookie, HYPluginParams *params, const EffectData *data) {
    const Rect frameRect = params->frameRect;
    const FadeStep fade = FadeStepOf(params, data);
    // ApplyEffect only reads the host's picture, so it still holds the
    // untouched frame at the blend; a copy is needed only when the host
    // hands out its output picture as the source.
    GWorldPtr fadeCopy = nullptr;
    if (fade.inFade && source == params->frame) {
        fadeCopy = CopyForFade(source, static_cast<int16_t>(frameRect.right - frameRect.left),
                               static_cast<int16_t>(frameRect.bottom - frameRect.top));
        if (fadeCopy == nullptr) return kPluginFailed;
    }
    HYPluginResult result = ApplyEffect(source, params);
    // A frame the effect could not draw is not blended: its failure is the
    // one reported.
    if (result == kPluginOK && fade.inFade)
        result = BlendFade(fadeCopy ? fadeCopy : source, params, frameRect, fade.opacity);
    if (result == kPluginOK && !params->proxyOnly)
        result = params->procs->MixAudio ? params->procs->MixAudio(params->instance, cookie, 256)
                                         : static_cast<HYPluginResult>(kPluginUnimplemented);
    if (fadeCopy) DisposeGWorld(fadeCopy);
    return result;
}

}  // namespace

HYPluginResult EffectDrives(SInt16 /*which*/, HYPluginParams *params) {
    if (params->clientData == nullptr) return kPluginBadParams;
    const auto *data = static_cast<EffectData *>(params->clientData);
    // A block whose begin failed has no configuration: nothing to render with.
    if (data->pascalData == nullptr) return kPluginBadParams;

    const SavedGWorld saved;
    SetGWorld(params->frame, nullptr);
    const Rect frameRect = params->frameRect;
    const auto width = static_cast<int16_t>(frameRect.right - frameRect.left);
    const auto height = static_cast<int16_t>(frameRect.bottom - frameRect.top);
    const int64_t index = AbsoluteIndex(params->startFrame, params->renderFrame);
    gMostRecentStartFrame = params->startFrame;
    gMostRecentFrameCount = params->frameCount;
    if (index < 0 || index > INT32_MAX) return index < 0 ? kPluginOK : kPluginBadParams;

    GWorldPtr source = nullptr;
    void *cookie = nullptr;
    HYPluginResult result =
        HostGetFrame(params, static_cast<SInt32>(index), &source, width, height, FrameQuality(params, height), &cookie);
    if (result == kPluginOK && source == nullptr) result = kPluginFailed;  // success without a picture
    if (result == kPluginOK) result = DrawLentFrame(source, cookie, params, data);
    const HYPluginResult released = HostReleaseFrame(params, cookie);
    return result == kPluginOK ? released : result;
}

HYPluginResult ApplyEffect(GWorldPtr sourceFrame, HYPluginParams *params) {
    auto *data = static_cast<EffectData *>(params->clientData);
    Rect rect = GetPortRect(sourceFrame);
    rect.right = static_cast<int16_t>(rect.right - rect.left);
    rect.bottom = static_cast<int16_t>(rect.bottom - rect.top);
    rect.left = rect.top = 0;

    // When the output frame is exactly the size of the source and receives it
    // whole, the effect draws straight into it: the scratch picture and its
    // two copies would give the same pixels.
    const Rect frameBounds = GetPortRect(params->frame);
    const Rect &fr = params->frameRect;
    const bool direct = params->frame != sourceFrame && std::memcmp(&frameBounds, &rect, sizeof rect) == 0 &&
                        std::memcmp(&fr, &rect, sizeof rect) == 0;
    if (direct) {
        ApplyLineArtEffect(sourceFrame, params->frame, params);
        return kPluginOK;
    }

    const QDErr err = NewGWorld(&data->effectGWorld, 32, &rect, nullptr, nullptr, 0);
    if (err != noErr || data->effectGWorld == nullptr) {
        if (data->effectGWorld) DisposeGWorld(data->effectGWorld);
        data->effectGWorld = nullptr;
        return err == memFullErr ? kPluginOutOfMemory : kPluginFailed;
    }
    LockPixels(GetGWorldPixMap(data->effectGWorld));
    // The compositor replaces every pixel of its target, so the scratch
    // picture does not need the source copied in first.
    ApplyLineArtEffect(sourceFrame, data->effectGWorld, params);

    const RGBColor white{65535, 65535, 65535}, black{0, 0, 0};
    RGBBackColor(&white);
    RGBForeColor(&black);
    CopyBits(GetPortBitMapForCopyBits(data->effectGWorld), GetPortBitMapForCopyBits(params->frame), &rect,
             &params->frameRect, srcCopy, nullptr);
    DisposeGWorld(data->effectGWorld);
    data->effectGWorld = nullptr;
    return kPluginOK;
}

void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, HYPluginParams *params) {
    auto *data = static_cast<EffectData *>(params->clientData);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(targetFrame, nullptr);
    DoEffect(data->pascalData, sourceFrame, targetFrame, params->renderFrame, params->frameCount);
    SetGWorld(savedPort, savedDevice);
}

HYPluginResult EffectEnds(SInt16 /*which*/, HYPluginParams *params) {
    if (params->clientData == nullptr) return kPluginOK;
    auto *data = static_cast<EffectData *>(params->clientData);
    if (data->effectGWorld) {
        DisposeGWorld(data->effectGWorld);
        data->effectGWorld = nullptr;
    }
    if (data->pascalData) {
        pUncopyConfig(data->pascalData);
        HostDisposePtr(params, data->pascalData);
        data->pascalData = nullptr;
    }
    HostDisposePtr(params, params->clientData);
    params->clientData = nullptr;
    return kPluginOK;
}

// ---- Placeholder and button ----

HYPluginResult MakeEffectPlaceHolders(SInt16 which, HYPluginParams *params) {
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(params->frame, nullptr);

    HYPluginParams copy;
    std::memcpy(&copy, params, sizeof copy);
    copy.renderFrame = params->getInfo.bestThumbOffset;
    // The copy runs its own instance: a block the host holds in clientData
    // is neither reused nor freed.
    copy.clientData = nullptr;
    copy.selector = kPlugInitialize;
    const HYPluginResult began = EffectBegins(which, &copy);
    HYPluginResult drawn = kPluginOK;
    if (began == kPluginOK) {
        copy.selector = kPlugDoFrame;
        drawn = EffectDrives(which, &copy);
    }
    // A begin that failed after making its block must not leak it.
    if (began == kPluginOK || copy.clientData != nullptr) {
        copy.selector = kPlugTerminate;
        EffectEnds(which, &copy);
    }
    SetGWorld(savedPort, savedDevice);
    // A placeholder that could not be drawn is reported, not passed as done.
    return began != kPluginOK ? began : drawn;
}

HYPluginResult CustomButtons(SInt16 /*which*/, HYPluginParams *params) {
    const int64_t index = AbsoluteIndex(params->renderFrame, gMostRecentStartFrame);
    SInt32 width = 720, height = 480;
    switch (GetMediaFormat(gPascalData)) {
        case kMediaPAL:
            width = 720;
            height = 576;
            break;
        case kMediaHD:
            width = 960;
            height = 540;
            break;
        default:
            break;  // NTSC and every other value
    }
    const auto frameIndex = static_cast<SInt32>(std::clamp<int64_t>(index, INT32_MIN, INT32_MAX));
    GWorldPtr picture = nullptr;
    void *cookie = nullptr;
    HostGetFrame(params, frameIndex, &picture, width, height, kDVHighQuality, &cookie);
    // Without a picture there is nothing to show the dialog on.
    if (picture != nullptr) ConfigurePlugIn(gPascalData, picture, params, frameIndex, gMostRecentFrameCount);
    HostReleaseFrame(params, cookie);
    return kPluginOK;
}

// ---- Frames for the dialog's clip slider ----

SInt16 GetFrameIntoGW(GWorldPtr theGW, HYPluginParams *params, SInt32 frameIndex, SInt16 disposeAfterUse) {
    const Rect rect = GetPortRect(theGW);
    SInt32 wid = 0, hig = 0;
    GetDims(rect, &wid, &hig);
    const int64_t index = AbsoluteIndex(frameIndex, params->startFrame);
    if (index < 0) return -1;
    if (index > INT32_MAX) return kPluginBadParams;
    GWorldPtr picture = nullptr;
    void *cookie = nullptr;
    SInt16 result =
        HostGetFrame(params, static_cast<SInt32>(index), &picture, wid, hig, FrameQuality(params, hig), &cookie);
    if (picture != nullptr) {
        Source2Target(picture, theGW);
        result = HostReleaseFrame(params, cookie);
        if (disposeAfterUse > 0) DisposeGWorld(picture);
    }
    return result;
}
