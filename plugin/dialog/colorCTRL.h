// Custom control class of the settings window.
#pragma once

void RegisterColorBox();
void UnregisterColorBox();
