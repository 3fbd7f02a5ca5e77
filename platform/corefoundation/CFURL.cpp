// File URLs: an absolute path on this system.
#include "corefoundation/CFPrivate.h"

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace {

void FinalizeURL(CFObjectHeader *self) { delete static_cast<CFURLObject *>(self); }

}  // namespace

const CFURLObject *CFURLFromRef(CFURLRef u) {
    auto *h = reinterpret_cast<const CFObjectHeader *>(u);
    if (!h || h->typeID != kCFTypeURL) return nullptr;
    return static_cast<const CFURLObject *>(h);
}

CFURLRef CFURLMakeWithPath(const std::string &path, bool isDirectory) {
    std::filesystem::path p(path);
    if (p.is_relative()) {
        std::error_code ec;
        p = std::filesystem::current_path(ec) / p;
    }
    std::string normal = p.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    auto *obj = new CFURLObject;
    obj->typeID = kCFTypeURL;
    obj->finalize = FinalizeURL;
    obj->path = std::move(normal);
    obj->isDirectory = isDirectory;
    return reinterpret_cast<CFURLRef>(static_cast<CFObjectHeader *>(obj));
}

extern "C" {

PLATFORM_API CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *path, CFIndex len,
                                                              Boolean isDirectory) {
    if (!path || len <= 0) return nullptr;
    try {
        std::string p(reinterpret_cast<const char *>(path), static_cast<size_t>(len));
        if (p.find('\0') != std::string::npos) return nullptr;
        return CFURLMakeWithPath(p, isDirectory);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8 *buf, CFIndex maxLen) {
    const CFURLObject *obj = CFURLFromRef(url);
    if (!obj || !buf || maxLen <= 0 || obj->path.size() >= static_cast<size_t>(maxLen)) return false;
    std::memcpy(buf, obj->path.c_str(), obj->path.size() + 1);
    return true;
}

PLATFORM_API Boolean CFURLGetFSRef(CFURLRef url, FSRef *ref) {
    const CFURLObject *obj = CFURLFromRef(url);
    if (!obj || !ref || obj->path.size() >= sizeof ref->path) return false;
    struct stat st;
    if (::stat(obj->path.c_str(), &st) != 0) return false;
    std::memcpy(ref->path, obj->path.c_str(), obj->path.size() + 1);
    return true;
}

}  // extern "C"
