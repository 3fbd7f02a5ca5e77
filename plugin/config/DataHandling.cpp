#include "config/DataHandling.h"

#include "config/PluginDefines.h"

// One rectangle is edited (cUsedNumberOfRects), so activeRel is not consulted.
relRect GetCurrentRel() {
    static_assert(cUsedNumberOfRects == 1);
    return gConfigWorkSpace.theConfig->startRel;
}

void PutCurrentRel(relRect theRel) { gConfigWorkSpace.theConfig->startRel = theRel; }
