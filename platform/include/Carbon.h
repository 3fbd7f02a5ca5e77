/* Everything the platform layer offers, as one include. */
#ifndef PLATFORM_CARBON_H
#define PLATFORM_CARBON_H
#include "MacTypes.h"
#include "MacMemory.h"
#include "QuickDraw.h"
#include "CoreGraphics.h"
#include "CoreFoundation.h"
#include "Files.h"
#include "Processes.h"
#include "Dialogs.h"
#include "LaunchServices.h"
#include "HIToolbox.h"
#endif
