// Process Manager.
#include "Processes.h"

#include <cstdio>
#include <cstdlib>

extern "C" PLATFORM_API void ExitToShell(void) {
    // exit() rather than _exit(): the host's atexit handlers remove unfinished output.
    std::fflush(nullptr);
    std::exit(1);
}
