#include "config/pascalFX.h"

#include <cstring>

#include "HYPlugin.h"
#include "config/PluginDefines.h"
#include "dialog/clipCTRL.h"
#include "dialog/colorCTRL.h"
#include "dialog/configdlghandler.h"
#include "dialog/pictCTRL.h"
#include "dialog/sliderHandlers.h"
#include "host/iMovieGlue.h"
#include "render/callpixelfx.h"
#include "storage/prefsloader.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"

extern "C" {

void pGetConfigSize(SInt32 *theSize) {
    if (theSize) *theSize = static_cast<SInt32>(sizeof(pluginDataRec));
}

void pNewConfig(void **theData) {
    if (theData == nullptr) return;
    *theData = nullptr;
    *theData = NewPtrClear(static_cast<Size>(sizeof(pluginDataRec)));
    Assert(*theData, "Unable to allocate new data structure in pNewConfig");
}

void pDestroyConfig(void *aConfig) {
    if (aConfig) DisposePtr(static_cast<Ptr>(aConfig));
}

void pCopyConfig(const void *source, void *dest) {
    if (source == nullptr || dest == nullptr) return;
    if (GetPtrSize(static_cast<Ptr>(const_cast<void *>(source))) != GetPtrSize(static_cast<Ptr>(dest)))
        Terminate("Non-Matching Blocks", "The Size of Source and Dest do not match");
    const auto *src = static_cast<const pluginDataRec *>(source);
    auto *dst = static_cast<pluginDataRec *>(dest);
    std::memmove(dst, src, sizeof(pluginDataRec));
    // Each record owns its rendered image; the original is never shared.
    if (src->theRendered) dst->theRendered = CGImageCreateCopy(src->theRendered);
    dst->theOriginalImage = nullptr;
}

void pUncopyConfig(void *theData) {
    Assert(theData, "Nil data in pUncopyConfig");
    auto *config = static_cast<pluginDataRec *>(theData);
    if (config->theRendered) {
        CGImageRelease(config->theRendered);
        config->theRendered = nullptr;
    }
}

SInt16 GetMediaFormat(pluginDataPtr theData) { return theData ? theData->mediaType : static_cast<SInt16>(kMediaNTSC); }

void InitMyPlugIn(void **theData) {
    Assert(theData ? *theData : nullptr, "Unable to allocate new data structure");
    InitPluginData(static_cast<pluginDataPtr>(*theData));
}

void InitPluginData(pluginDataPtr theConfig) {
    Assert(theConfig, "Nil theConfig on InitPluginData");
    ResetConfig(theConfig, true);
    ReadConfig(theConfig);  // no stored record: the defaults stay
    SaveConfig(theConfig);  // the file exists from the first use on
}

void ResetConfig(pluginDataPtr theConfig, Boolean fullInit) {
    if (theConfig == nullptr) return;
    InitRelRect(&theConfig->startRel);
    InitRelRect(&theConfig->endRel);
    for (RGBColor &c : theConfig->colors) c = RGBColor{0, 0, 0};
    static constexpr SInt16 kSliderDefaults[6] = {10, 50, 0, 0, 0, 0};
    std::memcpy(theConfig->sliders, kSliderDefaults, sizeof kSliderDefaults);
    theConfig->frameStartColor = RGBColor{65535, 0, 0};
    theConfig->mediaType = kMediaNTSC;
    theConfig->keepProps = false;
    if (fullInit) {
        // Forgotten, not released: a new record holds nothing valid here.
        theConfig->theOriginalImage = nullptr;
        theConfig->theRendered = nullptr;
    }
    theConfig->outside = true;
    theConfig->clipActive = false;
    theConfig->rota = 1;
}

void InitPascal(void) {}

void DoEffect(pluginDataPtr myConfig, GrafPtr theSource, GrafPtr theTarget, SInt32 currentFrameIndex,
              SInt32 totalFrames) {
    Assert(myConfig, "uninited theData in Plugin Effect master proc. need to call init before calling me");
    const SavedGWorld saved;
    DoPascalPixelEffect(theSource, theTarget, myConfig, currentFrameIndex, totalFrames);
}

void ConfigurePlugIn(pluginDataPtr theData, GWorldPtr theGW, struct _PluginParams *params, SInt32 firstFrameIndex,
                     SInt32 numberOfFrames) {
    gTheConfig = theData;
    gConfigWorkSpace.theConfig = gTheConfig;
    gConfigWorkSpace.iMovieParams = params;
    gConfigWorkSpace.sourceClip = theGW;
    // The clip slider walks the frames of the last render's selection and
    // opens on the button's frame.
    SetClipSpan(firstFrameIndex, gMostRecentStartFrame, numberOfFrames);
    gConfigWorkSpace.activeRel = 1;

    const Rect theRect = GetPortRect(theGW);
    GWorldPtr theProcessed = AllocateRectGWorld(theRect);
    Assert(theProcessed, "Unable to allocate theProcessed in ConffigurePlug Init run");
    gConfigWorkSpace.theFXClip = theProcessed;
    Assert(theData, "uninited theData in Configure master proc. need to call init before calling me");

    CallPixelEffect(theGW, theProcessed);

    RegisterColorBox();
    RegisterClipCtrl();
    RegisterPictureControl();
    DoConfig(gTheConfig);
    UnregisterClipCtrl();
    UnregisterColorBox();
    UnregisterPictureControl();

    DisposeGWorld(gConfigWorkSpace.theFXClip);
    gConfigWorkSpace.theFXClip = nullptr;
}

}  // extern "C"
