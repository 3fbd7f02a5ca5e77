// The colour box of the settings window (class "com.qmz.varnolex.color"):
// shows the colour held in its value (0x00RRGGBB) and opens the colour picker
// when clicked; the box's command then tells the window.
#pragma once
#include "Carbon.h"

inline constexpr const char cColorCtrlID[] = "com.qmz.varnolex.color";

void RegisterColorBox();
void UnregisterColorBox();
OSStatus ColorBoxControlHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void *userData);
// Paints theRect in theColor with a one-pixel black border.
void ColorBoxDraw(Rect theRect, RGBColor theColor);
// Runs the colour picker; true with the chosen colour in outColor, false
// (outColor untouched) when cancelled or failed.
Boolean UseColorPicker(Point where, ConstStr255Param prompt, RGBColor inColor, RGBColor &outColor);
