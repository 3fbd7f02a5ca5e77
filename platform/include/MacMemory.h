/* Memory Manager: pointers and relocatable handles. */
#ifndef PLATFORM_MACMEMORY_H
#define PLATFORM_MACMEMORY_H

#include "MacTypes.h"

PLATFORM_EXTERN_C_BEGIN

/* Blocks remember their size; NewPtrClear zero-fills. nil when memory is
 * short (MemError() then says memFullErr). */
PLATFORM_API Ptr NewPtr(Size byteCount);
PLATFORM_API Ptr NewPtrClear(Size byteCount);
PLATFORM_API void DisposePtr(Ptr p);
PLATFORM_API Size GetPtrSize(Ptr p);

/* A handle points at a master pointer that points at the data. */
PLATFORM_API Handle NewHandle(Size byteCount);
PLATFORM_API Handle NewHandleClear(Size byteCount);
PLATFORM_API void DisposeHandle(Handle h);
PLATFORM_API Size GetHandleSize(Handle h);
PLATFORM_API void SetHandleSize(Handle h, Size newSize);
PLATFORM_API void HLock(Handle h);
PLATFORM_API void HUnlock(Handle h);
PLATFORM_API OSErr MemError(void);
PLATFORM_API void BlockMoveData(const void *src, void *dst, Size byteCount);

PLATFORM_EXTERN_C_END

#endif
