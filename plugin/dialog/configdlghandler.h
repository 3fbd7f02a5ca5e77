// The settings window: opens the nib window of the media type, binds its
// controls, runs the modal loop, and handles the commands.
#pragma once
#include "Carbon.h"

typedef struct pluginDataRec *pluginDataPtr;

void DoConfig(pluginDataPtr theConfig);
