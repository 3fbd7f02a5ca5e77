#include "config/PluginDefines.h"

pluginWorkSpace gConfigWorkSpace{};
pluginDataPtr gTheConfig = nullptr;
