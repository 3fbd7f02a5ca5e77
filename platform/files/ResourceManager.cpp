// Resource Manager: a chain of open resource files, newest last, one of them
// current. Each file is read whole when it is opened and written whole (to a
// temporary file renamed over the old one) when it is updated or closed.
// A file opened for writing holds an exclusive lock beside it from open to
// close; one opened read-only shares that lock when it exists.
// Resource data is handed out in Memory Manager handles that stay owned by
// the file until they are detached, removed or the file is closed.
#include "files/AppleSingle.h"
#include "files/FilesPrivate.h"
#include "files/ResourceFork.h"

#include "MacMemory.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr OSErr kResAttrErr = -198;  // the resource's attributes forbid the call

struct LoadedResource {
    rsrc::Resource res;       // data is the last written (or read) state
    Handle handle = nullptr;  // loaded data, owned by the file
    bool changed = false;     // handle holds changes not yet written
};

struct ResFile {
    short refNum = 0;
    std::string path;
    bool writable = false;
    bool dirty = false;
    bool inContainer = false;          // AppleSingle file rather than a bare fork
    applesingle::Container container;  // its other entries, kept as they are
    uint16_t fileAttributes = 0;
    std::list<LoadedResource> resources;
    int lockFd = -1;  // the advisory lock, held until closed
};

using ResourceIt = std::list<LoadedResource>::iterator;

struct HandleOwner {
    ResFile *file;
    ResourceIt it;
};

thread_local OSErr tResError = noErr;

std::recursive_mutex gLock;
std::vector<std::unique_ptr<ResFile>> gChain;  // oldest first
short gCurrent = 0;                            // 0: no file
short gLastRefNum = 0;
std::unordered_map<Handle, HandleOwner> gHandles;

ResFile *FindFile(short refNum) {
    for (auto &f : gChain)
        if (f->refNum == refNum) return f.get();
    return nullptr;
}

ResFile *CurrentFile() { return FindFile(gCurrent); }

std::optional<HandleOwner> OwnerOf(Handle h) {
    auto it = gHandles.find(h);
    if (!h || it == gHandles.end()) return std::nullopt;
    return it->second;
}

// OwnerOf for a procedure that fails with `missing` when the handle is not a
// loaded resource, and with wrPermErr when it must be changed and its file
// is read-only; the error is left in tResError.
std::optional<HandleOwner> OwnerOrError(Handle h, OSErr missing, bool mustWrite = false) {
    auto owner = OwnerOf(h);
    if (!owner) {
        tResError = missing;
    } else if (mustWrite && !owner->file->writable) {
        tResError = wrPermErr;
        owner.reset();
    }
    return owner;
}

ResourceIt FindResource(ResFile &f, ResType type, short id) {
    return std::find_if(f.resources.begin(), f.resources.end(),
                        [&](const LoadedResource &r) { return r.res.type == type && r.res.id == id; });
}

std::vector<uint8_t> HandleBytes(Handle h) {
    const Size size = GetHandleSize(h);
    if (size <= 0 || !*h) return {};
    return std::vector<uint8_t>(reinterpret_cast<uint8_t *>(*h), reinterpret_cast<uint8_t *>(*h) + size);
}

// The handle for a resource, loading it on first use; nullptr when memory is short.
Handle Load(ResFile &f, ResourceIt it) {
    if (it->handle) return it->handle;
    Handle h = NewHandle(static_cast<Size>(it->res.data.size()));
    if (!h) {
        tResError = memFullErr;
        return nullptr;
    }
    if (!it->res.data.empty()) std::memcpy(*h, it->res.data.data(), it->res.data.size());
    it->handle = h;
    gHandles[h] = HandleOwner{&f, it};
    tResError = noErr;
    return h;
}

// From the current file back through the files opened before it.
std::optional<HandleOwner> FindInChain(ResType type, short id) {
    auto pos = std::find_if(gChain.rbegin(), gChain.rend(), [](auto &f) { return f->refNum == gCurrent; });
    for (; pos != gChain.rend(); ++pos) {
        auto it = FindResource(**pos, type, id);
        if (it != (*pos)->resources.end()) return HandleOwner{pos->get(), it};
    }
    return std::nullopt;
}

// Brings the in-memory map to disk if anything changed.
OSErr WriteFile(ResFile &f) {
    if (!f.dirty) return noErr;
    if (!f.writable) return wrPermErr;
    rsrc::ResourceMap map;
    map.fileAttributes = f.fileAttributes;
    for (LoadedResource &r : f.resources) {
        rsrc::Resource copy = r.res;
        if (r.changed && r.handle) copy.data = HandleBytes(r.handle);
        map.resources.push_back(std::move(copy));
    }
    rsrc::WriteResult fork = rsrc::WriteResourceFork(map);
    if (fork.error) return fork.error;
    std::vector<uint8_t> bytes;
    if (f.inContainer) {
        applesingle::Container box = f.container;
        if (auto *entry = box.Find(applesingle::kResourceForkID))
            entry->bytes = fork.bytes;
        else
            box.entries.push_back({applesingle::kResourceForkID, fork.bytes});
        bytes = applesingle::WriteAppleSingle(box);
    } else {
        bytes = std::move(fork.bytes);
    }
    // Under our exclusive lock no other process is writing: temporaries of
    // this file left by killed processes can go.
    if (f.lockFd >= 0) RemoveStaleTemporaries(f.path);
    if (OSErr err = WriteFileAtomically(f.path, bytes, false)) return err;
    // Written: the file now holds what the handles hold.
    auto written = map.resources.begin();
    for (LoadedResource &r : f.resources) {
        r.res.data = std::move(written->data);
        r.changed = false;
        ++written;
    }
    f.dirty = false;
    return noErr;
}

short NextRefNum() {
    for (int tries = 0; tries < 0x7FFF; ++tries) {
        gLastRefNum = gLastRefNum >= 0x7FFF ? 1 : gLastRefNum + 1;
        if (!FindFile(gLastRefNum)) return gLastRefNum;
    }
    return -1;
}

std::string CanonicalPath(const char *path) {
    char *real = ::realpath(path, nullptr);
    if (!real) return path;
    std::string out(real);
    std::free(real);
    return out;
}

short OpenPath(const char *path, SInt8 permission) {
    if (!path || !*path) {
        tResError = paramErr;
        return -1;
    }
    const std::string canonical = CanonicalPath(path);
    std::lock_guard guard(gLock);
    for (auto &f : gChain) {
        if (f->path == canonical) {  // already open: the same reference, made current
            gCurrent = f->refNum;
            tResError = noErr;
            return f->refNum;
        }
    }
    auto file = std::make_unique<ResFile>();
    // Held from before the read to the close: a write of another process can
    // then neither interleave with ours nor be lost under it.
    struct LockGuard {
        int fd;
        ~LockGuard() { Unlock(fd); }
    } lock{LockBeside(canonical, permission != fsRdPerm)};
    std::vector<uint8_t> bytes;
    const size_t limit = rsrc::kMaxForkSize * 2;
    if (OSErr err = ReadWholeFile(canonical, bytes, limit)) {
        tResError = err;
        return -1;
    }
    std::span<const uint8_t> fork(bytes);
    if (applesingle::LooksLikeContainer(bytes)) {
        auto parsed = applesingle::ParseAppleSingle(bytes);
        if (parsed.error) {
            tResError = parsed.error;
            return -1;
        }
        file->inContainer = true;
        file->container = std::move(parsed.container);
        const auto *entry = file->container.Find(applesingle::kResourceForkID);
        if (!entry) {
            tResError = eofErr;  // a file without a resource fork
            return -1;
        }
        fork = entry->bytes;
    }
    rsrc::ParseResult parsed;
    // A container may carry an empty fork entry: that is a file without resources.
    if (!(file->inContainer && fork.empty())) {
        parsed = rsrc::ParseResourceFork(fork);
        if (parsed.error) {
            tResError = parsed.error;
            return -1;
        }
    }
    if (file->inContainer) {
        if (auto *entry = file->container.Find(applesingle::kResourceForkID)) entry->bytes.clear();
    }
    file->path = canonical;
    file->writable = permission != fsRdPerm;
    file->fileAttributes = parsed.map.fileAttributes;
    for (auto &r : parsed.map.resources) file->resources.push_back(LoadedResource{std::move(r), nullptr, false});
    file->refNum = NextRefNum();
    if (file->refNum < 0) {
        tResError = tmfoErr;
        return -1;
    }
    gCurrent = file->refNum;
    file->lockFd = lock.fd;
    lock.fd = -1;
    gChain.push_back(std::move(file));
    tResError = noErr;
    return gCurrent;
}

template <typename F>
auto Guarded(F f, decltype(f()) onError) -> decltype(f()) {
    try {
        std::lock_guard guard(gLock);
        return f();
    } catch (...) {
        tResError = memFullErr;
        return onError;
    }
}

template <typename F>
void GuardedVoid(F f) {
    try {
        std::lock_guard guard(gLock);
        f();
    } catch (...) {
        tResError = memFullErr;
    }
}

}  // namespace

void SetResError(OSErr err) { tResError = err; }

extern "C" {

PLATFORM_API OSErr ResError(void) { return tResError; }

PLATFORM_API void FSpCreateResFile(const FSSpec *fileSpec, OSType creator, OSType fileType, ScriptCode) {
    GuardedVoid([&] {
        auto path = fileSpec ? FSSpecPath(*fileSpec) : std::nullopt;
        if (!path) {
            tResError = fileSpec ? dirNFErr : paramErr;
            return;
        }
        auto fork = rsrc::WriteResourceFork({});
        auto box = applesingle::MakeResourceFile(fileType, creator, std::move(fork.bytes));
        // A file this process has open already holds the lock.
        const std::string canonical = CanonicalPath(path->c_str());
        const bool open = std::any_of(gChain.begin(), gChain.end(), [&](auto &f) { return f->path == canonical; });
        const int lock = open ? -1 : LockBeside(*path, true);
        tResError = WriteFileAtomically(*path, applesingle::WriteAppleSingle(box), true);
        Unlock(lock);
    });
}

PLATFORM_API short FSpOpenResFile(const FSSpec *fileSpec, SInt8 permission) {
    return Guarded(
        [&]() -> short {
            auto path = fileSpec ? FSSpecPath(*fileSpec) : std::nullopt;
            if (!path) {
                tResError = fileSpec ? dirNFErr : paramErr;
                return -1;
            }
            return OpenPath(path->c_str(), permission);
        },
        -1);
}

PLATFORM_API short OpenResFilePath(const char *path, SInt8 permission) {
    return Guarded([&] { return OpenPath(path, permission); }, short(-1));
}

PLATFORM_API void CloseResFile(short refNum) {
    GuardedVoid([&] {
        auto pos = std::find_if(gChain.begin(), gChain.end(), [&](auto &f) { return f->refNum == refNum; });
        if (pos == gChain.end()) {
            tResError = resFNotFound;
            return;
        }
        ResFile &f = **pos;
        // A failed write is reported; the file on disk then keeps its old content.
        tResError = WriteFile(f);
        for (LoadedResource &r : f.resources) {
            if (!r.handle) continue;
            gHandles.erase(r.handle);
            DisposeHandle(r.handle);
        }
        // The file opened before the current one becomes current again.
        if (gCurrent == refNum)
            gCurrent = pos == gChain.begin() ? (gChain.size() > 1 ? gChain.back()->refNum : 0) : (*(pos - 1))->refNum;
        Unlock(f.lockFd);
        gChain.erase(pos);
        if (gCurrent == refNum) gCurrent = 0;
    });
}

PLATFORM_API void UseResFile(short refNum) {
    GuardedVoid([&] {
        // 0 names the system file, which exists but holds nothing here.
        if (refNum == 0 || FindFile(refNum)) {
            gCurrent = refNum;
            tResError = noErr;
        } else {
            tResError = resFNotFound;
        }
    });
}

PLATFORM_API short CurResFile(void) {
    return Guarded([] { return gCurrent; }, short(0));
}

PLATFORM_API Handle Get1Resource(ResType type, short id) {
    return Guarded(
        [&]() -> Handle {
            ResFile *f = CurrentFile();
            if (!f) {
                tResError = resFNotFound;
                return nullptr;
            }
            auto it = FindResource(*f, type, id);
            if (it == f->resources.end()) {
                tResError = resNotFound;
                return nullptr;
            }
            return Load(*f, it);
        },
        nullptr);
}

PLATFORM_API Handle GetResource(ResType type, short id) {
    return Guarded(
        [&]() -> Handle {
            auto found = FindInChain(type, id);
            if (!found) {
                tResError = resNotFound;
                return nullptr;
            }
            return Load(*found->file, found->it);
        },
        nullptr);
}

PLATFORM_API void DetachResource(Handle h) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, resNotFound);
        if (!owner) return;
        LoadedResource &r = *owner->it;
        // Unwritten changes stay in the map, so detaching loses nothing.
        if (r.changed) r.res.data = HandleBytes(h);
        r.changed = false;
        r.handle = nullptr;
        gHandles.erase(h);
        tResError = noErr;
    });
}

PLATFORM_API void RemoveResource(Handle h) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, rmvResFailed, true);
        if (!owner) return;
        owner->file->resources.erase(owner->it);
        owner->file->dirty = true;
        gHandles.erase(h);  // the caller now owns the handle
        tResError = noErr;
    });
}

PLATFORM_API void AddResource(Handle data, ResType type, short id, ConstStr255Param name) {
    GuardedVoid([&] {
        ResFile *f = CurrentFile();
        if (!data || OwnerOf(data)) {
            tResError = addResFailed;
            return;
        }
        if (!f) {
            tResError = resFNotFound;
            return;
        }
        if (!f->writable) {
            tResError = wrPermErr;
            return;
        }
        // A second resource of the same type and ID would make the file
        // ambiguous (and unreadable here): refuse it instead.
        if (FindResource(*f, type, id) != f->resources.end()) {
            tResError = addResFailed;
            return;
        }
        LoadedResource r;
        r.res.type = type;
        r.res.id = id;
        if (name && name[0]) {
            r.res.hasName = true;
            r.res.name.assign(reinterpret_cast<const char *>(name + 1), name[0]);
        }
        r.handle = data;
        r.changed = true;
        f->resources.push_back(std::move(r));
        gHandles[data] = HandleOwner{f, std::prev(f->resources.end())};
        f->dirty = true;
        tResError = noErr;
    });
}

PLATFORM_API void ChangedResource(Handle h) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, resNotFound, true);
        if (!owner) return;
        owner->it->changed = true;
        owner->file->dirty = true;
        tResError = noErr;
    });
}

PLATFORM_API void WriteResource(Handle h) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, resNotFound);
        if (!owner) return;
        tResError = owner->it->changed ? WriteFile(*owner->file) : OSErr(noErr);
    });
}

PLATFORM_API void UpdateResFile(short refNum) {
    GuardedVoid([&] {
        ResFile *f = FindFile(refNum);
        tResError = f ? WriteFile(*f) : OSErr(resFNotFound);
    });
}

PLATFORM_API void ReleaseResource(Handle h) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, resNotFound);
        if (!owner) return;
        // Releasing unwritten changes would lose them.
        if (owner->it->changed) {
            tResError = kResAttrErr;
            return;
        }
        owner->it->handle = nullptr;
        gHandles.erase(h);
        DisposeHandle(h);
        tResError = noErr;
    });
}

PLATFORM_API short Count1Resources(ResType type) {
    return Guarded(
        [&]() -> short {
            ResFile *f = CurrentFile();
            if (!f) {
                tResError = resFNotFound;
                return 0;
            }
            tResError = noErr;
            return static_cast<short>(std::count_if(f->resources.begin(), f->resources.end(),
                                                    [&](const LoadedResource &r) { return r.res.type == type; }));
        },
        short(0));
}

PLATFORM_API void GetResInfo(Handle h, short *id, ResType *type, Str255 name) {
    GuardedVoid([&] {
        auto owner = OwnerOrError(h, resNotFound);
        if (!owner) return;
        const rsrc::Resource &r = owner->it->res;
        if (id) *id = r.id;
        if (type) *type = r.type;
        if (name) {
            name[0] = static_cast<unsigned char>(r.hasName ? r.name.size() : 0);
            std::memcpy(name + 1, r.name.data(), name[0]);
        }
        tResError = noErr;
    });
}

PLATFORM_API void GetIndString(Str255 theString, short strListID, short index) {
    if (!theString) return;
    theString[0] = 0;
    GuardedVoid([&] {
        // Read straight from the map: the list need not be loaded into a handle.
        auto found = FindInChain(PLATFORM_FOURCC('S', 'T', 'R', '#'), strListID);
        if (!found || index < 1) return;
        const LoadedResource &r = *found->it;
        const std::vector<uint8_t> list = r.changed && r.handle ? HandleBytes(r.handle) : r.res.data;
        if (list.size() < 2) return;
        const int count = list[0] << 8 | list[1];
        size_t pos = 2;
        for (int i = 1; i <= count && pos < list.size(); ++i) {
            const size_t length = list[pos];
            if (pos + 1 + length > list.size()) return;
            if (i == index) {
                theString[0] = static_cast<unsigned char>(length);
                std::memcpy(theString + 1, list.data() + pos + 1, length);
                return;
            }
            pos += 1 + length;
        }
    });
}

}  // extern "C"
