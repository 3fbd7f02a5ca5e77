// The bundle's only exported symbol: the host looks up `main`.
#include "host/iMovieGlue.h"

extern "C" __attribute__((visibility("default"))) int32_t KelvarinExportedMain(int32_t which,
                                                                               HYPluginParams *params) __asm__("main");

int32_t KelvarinExportedMain(int32_t which, HYPluginParams *params) { return KelvarinMain(which, params); }
