// The rectangle being edited in the settings dialog. Only one rectangle is
// edited, so both always address gConfigWorkSpace.theConfig->startRel.
#pragma once
#include "render/relrects.h"

relRect GetCurrentRel();
void PutCurrentRel(relRect theRel);
