/*
 * Every CF and CG object starts with this header, so CFRetain/CFRelease work
 * on all of them. Internal to the platform library.
 */
#ifndef PLATFORM_CFOBJECT_PRIVATE_H
#define PLATFORM_CFOBJECT_PRIVATE_H

#include <atomic>
#include <cstdint>

struct CFObjectHeader {
    std::atomic<long> retainCount{1};
    void (*finalize)(CFObjectHeader *self) = nullptr; /* frees the whole object */
    uint32_t typeID = 0;
    bool immortal = false; /* constant strings */
};

enum : uint32_t {
    kCFTypeString = 1,
    kCFTypeURL = 2,
    kCFTypeBundle = 3,
    kCGTypeImage = 10,
    kCGTypeContext = 11,
    kCGTypeColorSpace = 12
};

/* Shared retain/release: CFRelease frees through finalize at zero. */
void CFObjectRetain(CFObjectHeader *obj);
void CFObjectRelease(CFObjectHeader *obj);

#endif
