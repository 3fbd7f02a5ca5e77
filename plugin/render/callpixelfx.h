// The frame driver: turns the configuration into the active rectangle and
// hands everything to the compositor.
#pragma once
#include "Carbon.h"
#include "config/pascalFX.h"

Rect CalcTweenRect(pluginDataPtr theConfig, Rect theFrame, SInt32 currentFrameIndex, SInt32 maxFrames);
// A frame of the host's render.
void DoPascalPixelEffect(GrafPtr Source, GrafPtr Dest, pluginDataPtr theConfig, SInt32 currentFrameIndex,
                         SInt32 maxFrames);
// A preview frame, with the configuration and frame position of gConfigWorkSpace.
void CallPixelEffect(GrafPtr Source, GrafPtr Dest);
void PixelDrive(GrafPtr Source, GrafPtr Dest, Rect theRect, pluginDataPtr theConfig, SInt32 currentFrame,
                SInt32 numFrames);
