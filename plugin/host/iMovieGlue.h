// The host glue: the entry point, the message handlers and frame access.
#pragma once
#include "Carbon.h"
#include "HYPlugin.h"
#include "config/pascalFX.h"

// The per-render block the host keeps in clientData between messages.
struct EffectData {
    SInt32 fadeInFrames;
    SInt32 fadeOutFrames;
    GWorldPtr effectGWorld;    // scratch picture, exists only inside ApplyEffect
    pluginDataPtr pascalData;  // this render's copy of the shared configuration
};

extern pluginDataPtr gPascalData;
extern Boolean gPascalInited;
extern SInt32 gMostRecentStartFrame;
extern SInt32 gMostRecentFrameCount;

// Puts the glue's globals back as the bundle starts them (for tests that
// load the plug-in once and run it many times): the shared record, made with
// NewPtrClear, is freed and the rest cleared.
void ResetGlueGlobals();

// The entry point; the bundle exports it as `main`. Never throws.
int32_t KelvarinMain(int32_t which, HYPluginParams *params);

HYPluginResult EffectGetInfos(SInt16 which, HYPluginParams *params);
void SetFilterParamInfos(SInt16 which, HYPluginParams *params);
HYPluginResult EffectBegins(SInt16 which, HYPluginParams *params);
HYPluginResult EffectDrives(SInt16 which, HYPluginParams *params);
HYPluginResult EffectEnds(SInt16 which, HYPluginParams *params);
HYPluginResult MakeEffectPlaceHolders(SInt16 which, HYPluginParams *params);
HYPluginResult CustomButtons(SInt16 which, HYPluginParams *params);

HYPluginResult ApplyEffect(GWorldPtr sourceFrame, HYPluginParams *params);
void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, HYPluginParams *params);

// Copies frame frameIndex of the selection (plus params->startFrame) into
// theGW, scaled; disposes the host's picture after use when disposeAfterUse > 0.
// Returns the host's result, or -1 for a negative absolute index.
SInt16 GetFrameIntoGW(GWorldPtr theGW, HYPluginParams *params, SInt32 frameIndex, SInt16 disposeAfterUse);

// Quality rule: low quality only for proxy renders of pictures <= 259 high.
HYRefDVQuality FrameQuality(const HYPluginParams *params, SInt32 height);
