#include "config/PluginDefines.h"

pluginWorkSpace gConfigWorkSpace{};
pluginDataPtr gTheConfig = nullptr;

void ResetConfigWorkSpace() {
    gConfigWorkSpace = pluginWorkSpace{};
    gTheConfig = nullptr;
}
