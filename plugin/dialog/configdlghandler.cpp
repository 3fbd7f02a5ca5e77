#include "dialog/configdlghandler.h"

// Placeholder until the dialog is written: the dialog ends as if cancelled.
void DoConfig(pluginDataPtr) {}
