#include "dialog/clipCTRL.h"

// Placeholder until the control is written.
void RegisterClipCtrl() {}
void UnregisterClipCtrl() {}
