// The clip compositor: cuts the active rectangle out of the source, turns it
// about the rectangle's centre and pastes it into Dest over the background.
#pragma once
#include "Carbon.h"
#include "config/pascalFX.h"

// Replaces the whole of Dest. Source and Dest are the same size with their
// origin at (0, 0) (every caller makes them so); a Dest of another size
// is left as it is (a debug build stops there).
void TheLineEffect(GrafPtr Source, GrafPtr Dest, Rect ActiveRect, pluginDataPtr theConfig, SInt32 CurrFrame,
                   SInt32 MaxFrame);
// Replaces theConfig->theRendered with a fresh copy of theOriginalImage.
void RenderLineArt(pluginDataPtr theConfig);
