/* Launch Services: open a document with the desktop's default application. */
#ifndef PLATFORM_LAUNCHSERVICES_H
#define PLATFORM_LAUNCHSERVICES_H

#include "MacTypes.h"
#include "CoreFoundation.h"

PLATFORM_EXTERN_C_BEGIN

/* 0 when the opener was started; fnfErr for a missing file,
 * kLSApplicationNotFoundErr when nothing can open it. */
PLATFORM_API OSStatus LSOpenFSRef(const FSRef *inRef, FSRef *outLaunchedRef);

PLATFORM_EXTERN_C_END

#endif
