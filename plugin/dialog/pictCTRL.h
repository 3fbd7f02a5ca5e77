// The picture box (class "com.qmz.varnolex.imageCTRL"): shows the image held
// in its value (a CGImageRef or 0) fitted into its bounds, with a black border.
#pragma once
#include "Carbon.h"

inline constexpr const char cImageCtrlID[] = "com.qmz.varnolex.imageCTRL";

void RegisterPictureControl();
void UnregisterPictureControl();
OSStatus PictureControlHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void *userData);
