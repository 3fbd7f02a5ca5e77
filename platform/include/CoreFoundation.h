/*
 * Core Foundation: reference-counted strings, file URLs and bundles.
 * Every CF and CG object shares one reference count (CFRetain/CFRelease).
 */
#ifndef PLATFORM_COREFOUNDATION_H
#define PLATFORM_COREFOUNDATION_H

#include "MacTypes.h"

PLATFORM_EXTERN_C_BEGIN

typedef const void *CFTypeRef;
typedef const struct __CFString *CFStringRef;
typedef struct __CFString *CFMutableStringRef;
typedef const struct __CFURL *CFURLRef;
typedef struct __CFBundle *CFBundleRef;
typedef const struct __CFAllocator *CFAllocatorRef;
typedef long CFIndex;
typedef unsigned long CFHashCode;
typedef uint32_t CFStringEncoding;
typedef struct CFRange {
    CFIndex location, length;
} CFRange;

#define kCFAllocatorDefault ((CFAllocatorRef)0)
enum { kCFStringEncodingMacRoman = 0, kCFStringEncodingASCII = 0x0600, kCFStringEncodingUTF8 = 0x08000100 };
typedef enum { kCFCompareEqualTo = 0, kCFCompareLessThan = -1, kCFCompareGreaterThan = 1 } CFComparisonResult;
enum { kCFCompareCaseInsensitive = 1 }; /* CFStringCompare option */

/* File system reference: a path on this system. */
typedef struct FSRef {
    char path[4096];
} FSRef;

PLATFORM_API CFTypeRef CFRetain(CFTypeRef cf);
PLATFORM_API void CFRelease(CFTypeRef cf);
PLATFORM_API CFIndex CFGetRetainCount(CFTypeRef cf);

PLATFORM_API CFStringRef CFStringCreateWithCString(CFAllocatorRef a, const char *s, CFStringEncoding enc);
PLATFORM_API CFStringRef CFStringCreateWithPascalString(CFAllocatorRef a, ConstStr255Param s, CFStringEncoding enc);
PLATFORM_API CFStringRef CFStringCreateCopy(CFAllocatorRef a, CFStringRef s);
PLATFORM_API CFIndex CFStringGetLength(CFStringRef s);
/* UTF-8 (or MacRoman) text into buf with a terminating zero; false if it does not fit. */
PLATFORM_API Boolean CFStringGetCString(CFStringRef s, char *buf, CFIndex bufSize, CFStringEncoding enc);
PLATFORM_API const char *CFStringGetCStringPtr(CFStringRef s, CFStringEncoding enc);
PLATFORM_API CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, uint32_t options);
/* Constant strings live for the whole process; CFRetain/CFRelease do not free them. */
PLATFORM_API CFStringRef __CFStringMakeConstantString(const char *s);
#define CFSTR(s) __CFStringMakeConstantString("" s "")

PLATFORM_API CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef a, const UInt8 *path, CFIndex len,
                                                              Boolean isDirectory);
PLATFORM_API Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8 *buf,
                                                      CFIndex maxLen);
PLATFORM_API Boolean CFURLGetFSRef(CFURLRef url, FSRef *ref); /* false if the file does not exist */

/* Bundles: CFBundleCreate on a bundle directory (Contents/Info.plist with
 * CFBundleIdentifier and CFBundleExecutable) registers it by identifier; the
 * registry keeps it until the process ends. */
PLATFORM_API CFBundleRef CFBundleCreate(CFAllocatorRef a, CFURLRef bundleURL);
PLATFORM_API CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier);
PLATFORM_API CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);
PLATFORM_API CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
PLATFORM_API CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle);
PLATFORM_API CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
PLATFORM_API CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type,
                                              CFStringRef subDir);
/* Opens every .rsrc file in the bundle's Resources folder into the resource chain; returns
 * the reference number of the last one opened, or -1. */
PLATFORM_API short CFBundleOpenBundleResourceMap(CFBundleRef bundle);
PLATFORM_API void CFBundleCloseBundleResourceMap(CFBundleRef bundle, short refNum);

PLATFORM_EXTERN_C_END

#endif
