// Bundles: a directory with Contents/Info.plist, found again by identifier.
// The registry keeps every bundle it registered until the process ends.
#include "corefoundation/CFPrivate.h"

#include "Files.h"

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace {

std::mutex gRegistryLock;
std::map<std::string, CFBundleObject *> &Registry() {
    static auto *registry = new std::map<std::string, CFBundleObject *>;
    return *registry;
}

void FinalizeBundle(CFObjectHeader *self) {
    auto *b = static_cast<CFBundleObject *>(self);
    if (b->identifierString) CFRelease(b->identifierString);
    delete b;
}

CFBundleRef ToRef(CFBundleObject *b) { return reinterpret_cast<CFBundleRef>(static_cast<CFObjectHeader *>(b)); }

// Reads the top-level keys of an XML property list into `keys` (string
// values only); the rest of the document is skipped.
struct PlistReader {
    explicit PlistReader(std::map<std::string, std::string> &into) : keys(into) {}
    std::map<std::string, std::string> &keys;
    int depth = 0;            // of the element being read; 1 is <plist>
    bool wrongShape = false;  // the root is not <plist><dict>
    bool inText = false;      // collecting a <key> or <string> of the dict
    bool textIsKey = false;
    bool haveKey = false;
    std::string key, text;

    static std::string Trimmed(const std::string &s) {
        const char *space = " \t\r\n";
        const size_t first = s.find_first_not_of(space);
        if (first == std::string::npos) return {};
        return s.substr(first, s.find_last_not_of(space) - first + 1);
    }
    void Start(const char *name) {
        ++depth;
        if (wrongShape) return;
        if ((depth == 1 && std::strcmp(name, "plist") != 0) || (depth == 2 && std::strcmp(name, "dict") != 0)) {
            wrongShape = true;
            return;
        }
        if (depth != 3) return;
        const bool isKey = std::strcmp(name, "key") == 0;
        if (isKey || (haveKey && std::strcmp(name, "string") == 0)) {
            inText = true;
            textIsKey = isKey;
            text.clear();
        } else {
            haveKey = false;  // a value of another type: its key is skipped
        }
    }
    void End() {
        if (depth == 3 && inText && !wrongShape) {
            if (textIsKey) {
                key = Trimmed(text);
                haveKey = true;
            } else {
                keys[key] = Trimmed(text);
                haveKey = false;
            }
            inText = false;
        }
        --depth;
    }
};

void ReadInfoPlist(const std::string &path, std::map<std::string, std::string> &keys) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        std::fclose(file);
        return;
    }
    PlistReader reader(keys);
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(
        parser, [](void *r, const XML_Char *name, const XML_Char **) { static_cast<PlistReader *>(r)->Start(name); },
        [](void *r, const XML_Char *) { static_cast<PlistReader *>(r)->End(); });
    XML_SetCharacterDataHandler(parser, [](void *r, const XML_Char *s, int len) {
        auto *self = static_cast<PlistReader *>(r);
        if (self->inText && self->depth == 3) self->text.append(s, static_cast<size_t>(len));
    });
    char buffer[8192];
    for (;;) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        const bool last = n < sizeof buffer;
        // A damaged document keeps the keys read before the damage.
        if (XML_Parse(parser, buffer, static_cast<int>(n), last) != XML_STATUS_OK || last) break;
    }
    XML_ParserFree(parser);
    std::fclose(file);
}

CFURLRef URLIfExists(const fs::path &p, bool isDirectory) {
    std::error_code ec;
    if (!fs::exists(p, ec)) return nullptr;
    return CFURLMakeWithPath(p.string(), isDirectory);
}

bool SafeComponent(const std::string &s) { return s != "." && s != ".." && s.find('\0') == std::string::npos; }

}  // namespace

CFBundleObject *CFBundleFromRef(CFBundleRef b) {
    auto *h = reinterpret_cast<CFObjectHeader *>(b);
    if (!h || h->typeID != kCFTypeBundle) return nullptr;
    return static_cast<CFBundleObject *>(h);
}

extern "C" {

PLATFORM_API CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    const CFURLObject *url = CFURLFromRef(bundleURL);
    if (!url) return nullptr;
    try {
        std::error_code ec;
        if (!fs::is_directory(url->path, ec)) return nullptr;
        const std::string path = fs::weakly_canonical(url->path, ec).string();
        std::lock_guard guard(gRegistryLock);
        // The same directory gives the registered bundle again.
        for (auto &[id, b] : Registry())
            if (b->path == path) return static_cast<CFBundleRef>(const_cast<void *>(CFRetain(ToRef(b))));

        std::map<std::string, std::string> keys;
        ReadInfoPlist(path + "/Contents/Info.plist", keys);
        auto *b = new CFBundleObject;
        b->typeID = kCFTypeBundle;
        b->finalize = FinalizeBundle;
        b->path = path;
        b->identifier = keys["CFBundleIdentifier"];
        b->executable = keys["CFBundleExecutable"];
        if (!b->identifier.empty()) {
            b->identifierString = CFStringMakeUTF8(b->identifier);
            // The first bundle registered under an identifier keeps it.
            if (Registry().emplace(b->identifier, b).second) CFRetain(ToRef(b));
        }
        return ToRef(b);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier) {
    try {
        const std::string id = CFStringText(identifier);
        std::lock_guard guard(gRegistryLock);
        auto it = Registry().find(id);
        return it == Registry().end() ? nullptr : ToRef(it->second);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    return b ? b->identifierString : nullptr;
}

PLATFORM_API CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b) return nullptr;
    try {
        return CFURLMakeWithPath(b->path, true);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b || b->executable.empty() || b->executable.find('/') != std::string::npos) return nullptr;
    try {
        return URLIfExists(fs::path(b->path) / "Contents/Linux" / (b->executable + ".so"), false);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b) return nullptr;
    try {
        return CFURLMakeWithPath(b->path + "/Contents/Resources", true);
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type,
                                              CFStringRef subDir) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b || !name) return nullptr;
    try {
        std::string file = CFStringText(name);
        const std::string ext = CFStringText(type);
        if (!ext.empty()) file += (ext.front() == '.' ? "" : ".") + ext;
        const std::string sub = CFStringText(subDir);
        if (file.empty() || !SafeComponent(file) || file.find('/') != std::string::npos) return nullptr;
        // Resources stay inside the bundle: no absolute or upward sub-folders.
        if (fs::path(sub).is_absolute()) return nullptr;
        for (const fs::path &part : fs::path(sub))
            if (!SafeComponent(part.string())) return nullptr;
        const fs::path resources = fs::path(b->path) / "Contents/Resources";
        // The folder itself first, then the language folders a Mac bundle may use.
        for (const char *lang : {"", "Base.lproj", "en.lproj", "English.lproj"}) {
            fs::path dir = resources / lang;
            if (!sub.empty()) dir /= sub;
            std::error_code ec;
            fs::path candidate = dir / file;
            if (fs::exists(candidate, ec))
                return CFURLMakeWithPath(candidate.string(), fs::is_directory(candidate, ec));
        }
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API short CFBundleOpenBundleResourceMap(CFBundleRef bundle) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b) return -1;
    try {
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(b->path + "/Contents/Resources", ec))
            if (entry.path().extension() == ".rsrc" && entry.is_regular_file(ec))
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        short last = -1;
        for (const std::string &f : files) {
            const short ref = OpenResFilePath(f.c_str(), fsRdPerm);
            if (ref == -1) continue;
            if (std::find(b->resourceMaps.begin(), b->resourceMaps.end(), ref) == b->resourceMaps.end())
                b->resourceMaps.push_back(ref);
            last = ref;
        }
        return last;
    } catch (...) {
        return -1;
    }
}

PLATFORM_API void CFBundleCloseBundleResourceMap(CFBundleRef bundle, short refNum) {
    CFBundleObject *b = CFBundleFromRef(bundle);
    if (!b) return;
    // Closes every file the bundle opened; refNum is one of them.
    (void)refNum;
    for (short ref : b->resourceMaps) CloseResFile(ref);
    b->resourceMaps.clear();
}

}  // extern "C"
