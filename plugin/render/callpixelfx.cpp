#include "render/callpixelfx.h"

#include "config/PluginDefines.h"
#include "render/lineEffect.h"
#include "support/commonprocs.h"

// Every frame of a selection gets the same rectangle: the frame position is
// accepted for the compositor but does not move it, and endRel is not used.
Rect CalcTweenRect(pluginDataPtr theConfig, Rect theFrame, SInt32 /*currentFrameIndex*/, SInt32 /*maxFrames*/) {
    return Rel2Rect(theConfig->startRel, theFrame);
}

void DoPascalPixelEffect(GrafPtr Source, GrafPtr Dest, pluginDataPtr theConfig, SInt32 currentFrameIndex,
                         SInt32 maxFrames) {
    const Rect theFrame = GetPortRect(Dest);
    const Rect theRect = CalcTweenRect(theConfig, theFrame, currentFrameIndex, maxFrames);
    PixelDrive(Source, Dest, theRect, theConfig, currentFrameIndex, maxFrames);
}

void CallPixelEffect(GrafPtr Source, GrafPtr Dest) {
    DoPascalPixelEffect(Source, Dest, gConfigWorkSpace.theConfig, gConfigWorkSpace.currFrameIndex,
                        gConfigWorkSpace.maxFrameIndex);
}

void PixelDrive(GrafPtr Source, GrafPtr Dest, Rect theRect, pluginDataPtr theConfig, SInt32 currentFrame,
                SInt32 numFrames) {
    TheLineEffect(Source, Dest, theRect, theConfig, currentFrame, numFrames);
}
