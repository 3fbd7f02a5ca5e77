// Custom control class of the settings window.
#pragma once

void RegisterPictureControl();
void UnregisterPictureControl();
