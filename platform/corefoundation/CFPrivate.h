// The records behind CFStringRef, CFURLRef and CFBundleRef. Internal to the
// platform library: other areas read a string's text through CFStringText.
#ifndef PLATFORM_CF_PRIVATE_H
#define PLATFORM_CF_PRIVATE_H

#include "CoreFoundation.h"
#include "corefoundation/CFObjectPrivate.h"

#include <string>
#include <vector>

struct CFStringObject : CFObjectHeader {
    std::string utf8;  // always valid UTF-8
};

struct CFURLObject : CFObjectHeader {
    std::string path;  // absolute, no trailing slash except for "/"
    bool isDirectory = false;
};

struct CFBundleObject : CFObjectHeader {
    std::string path;        // the bundle directory, absolute
    std::string identifier;  // empty when the Info.plist names none
    std::string executable;
    CFStringRef identifierString = nullptr;  // owned
    std::vector<short> resourceMaps;         // files opened by CFBundleOpenBundleResourceMap
};

// The object behind a reference when it is of that kind, else nullptr.
const CFStringObject *CFStringFromRef(CFStringRef s);
const CFURLObject *CFURLFromRef(CFURLRef u);
CFBundleObject *CFBundleFromRef(CFBundleRef b);

// UTF-8 text of a string ("" for nullptr or a non-string).
std::string CFStringText(CFStringRef s);

// New string (+1) from UTF-8 text known to be valid; new URL (+1) for a path.
CFStringRef CFStringMakeUTF8(std::string utf8);
CFURLRef CFURLMakeWithPath(const std::string &path, bool isDirectory);

#endif
