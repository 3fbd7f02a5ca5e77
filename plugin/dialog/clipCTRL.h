// Custom control class of the settings window.
#pragma once

void RegisterClipCtrl();
void UnregisterClipCtrl();
