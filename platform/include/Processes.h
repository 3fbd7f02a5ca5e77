/* Process Manager. */
#ifndef PLATFORM_PROCESSES_H
#define PLATFORM_PROCESSES_H

#include "MacTypes.h"

PLATFORM_EXTERN_C_BEGIN

/* Ends the host process: flushes standard streams, runs atexit handlers
 * (so a host can remove its unfinished output) and exits with status 1,
 * since the only caller is a fatal condition. */
PLATFORM_API __attribute__((noreturn)) void ExitToShell(void);

PLATFORM_EXTERN_C_END

#endif
