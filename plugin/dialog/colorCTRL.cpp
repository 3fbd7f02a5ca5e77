#include "dialog/colorCTRL.h"

// Placeholder until the control is written.
void RegisterColorBox() {}
void UnregisterColorBox() {}
