// Shared reference counting for every CF and CG object.
#include "corefoundation/CFObjectPrivate.h"
#include "CoreFoundation.h"

#include <climits>

void CFObjectRetain(CFObjectHeader *obj) {
    if (obj && !obj->immortal) obj->retainCount.fetch_add(1, std::memory_order_relaxed);
}

void CFObjectRelease(CFObjectHeader *obj) {
    if (!obj || obj->immortal) return;
    if (obj->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1 && obj->finalize) obj->finalize(obj);
}

extern "C" {

PLATFORM_API CFTypeRef CFRetain(CFTypeRef cf) {
    CFObjectRetain(static_cast<CFObjectHeader *>(const_cast<void *>(cf)));
    return cf;
}

PLATFORM_API void CFRelease(CFTypeRef cf) { CFObjectRelease(static_cast<CFObjectHeader *>(const_cast<void *>(cf))); }

PLATFORM_API CFIndex CFGetRetainCount(CFTypeRef cf) {
    if (!cf) return 0;
    auto *obj = static_cast<const CFObjectHeader *>(cf);
    return obj->immortal ? LONG_MAX : obj->retainCount.load(std::memory_order_relaxed);
}
}
