// Memory Manager: non-relocatable blocks (Ptr) and relocatable handles.
//
// A Ptr block carries a small header in front of the caller's bytes holding
// its size and a tag, so GetPtrSize works and a foreign pointer is noticed
// instead of being freed. A handle is the address of a master pointer kept in
// a record together with the data's size and capacity and the lock state.
#include "MacMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The last result, per thread: a decoder thread calling NewPtr must not
// overwrite what the main thread is about to read.
thread_local OSErr lgMemErr = noErr;

// No block here can be larger; bigger requests fail as memory being full
// rather than reaching the allocator with a nonsensical size.
constexpr Size kMaxBlock = Size(1) << 40;

constexpr uint32_t kPtrTag = 0x50747221;     // "Ptr!"
constexpr uint32_t kHandleTag = 0x486e6421;  // "Hnd!"
constexpr uint32_t kDeadTag = 0x44656164;    // "Dead": disposed

// 16 bytes so the caller's data keeps malloc's alignment.
struct alignas(16) PtrHeader {
    Size size;
    uint32_t tag;
};
static_assert(sizeof(PtrHeader) == 16);

// The master pointer must be the first member: a Handle is its address.
struct HandleRecord {
    Ptr master;
    Size size;
    Size capacity;
    uint32_t tag;
    bool locked;
};

PtrHeader *HeaderOf(Ptr p) { return reinterpret_cast<PtrHeader *>(p) - 1; }

HandleRecord *RecordOf(Handle h) {
    auto *rec = reinterpret_cast<HandleRecord *>(h);
    return rec->tag == kHandleTag ? rec : nullptr;
}

Ptr AllocPtr(Size byteCount, bool clear) {
    if (byteCount < 0 || byteCount > kMaxBlock) {
        lgMemErr = byteCount < 0 ? paramErr : memFullErr;
        return nullptr;
    }
    const size_t total = sizeof(PtrHeader) + static_cast<size_t>(byteCount);
    void *raw = clear ? std::calloc(1, total) : std::malloc(total);
    if (!raw) {
        lgMemErr = memFullErr;
        return nullptr;
    }
    auto *hdr = new (raw) PtrHeader{byteCount, kPtrTag};
    lgMemErr = noErr;
    return reinterpret_cast<Ptr>(hdr + 1);
}

Handle AllocHandle(Size byteCount, bool clear) {
    if (byteCount < 0 || byteCount > kMaxBlock) {
        lgMemErr = byteCount < 0 ? paramErr : memFullErr;
        return nullptr;
    }
    auto *rec = static_cast<HandleRecord *>(std::malloc(sizeof(HandleRecord)));
    if (!rec) {
        lgMemErr = memFullErr;
        return nullptr;
    }
    // Even an empty handle gets a data block, so *h is never NULL for a live handle.
    const size_t cap = byteCount > 0 ? static_cast<size_t>(byteCount) : 1;
    void *data = clear ? std::calloc(1, cap) : std::malloc(cap);
    if (!data) {
        std::free(rec);
        lgMemErr = memFullErr;
        return nullptr;
    }
    new (rec) HandleRecord{static_cast<Ptr>(data), byteCount, static_cast<Size>(cap), kHandleTag, false};
    lgMemErr = noErr;
    return &rec->master;
}

}  // namespace

extern "C" {

PLATFORM_API Ptr NewPtr(Size byteCount) { return AllocPtr(byteCount, false); }

PLATFORM_API Ptr NewPtrClear(Size byteCount) { return AllocPtr(byteCount, true); }

PLATFORM_API void DisposePtr(Ptr p) {
    if (!p) {
        lgMemErr = noErr;
        return;
    }
    PtrHeader *hdr = HeaderOf(p);
    if (hdr->tag != kPtrTag) {  // not ours, or disposed twice: leave it alone
        lgMemErr = memWZErr;
        return;
    }
    hdr->tag = kDeadTag;
    std::free(hdr);
    lgMemErr = noErr;
}

PLATFORM_API Size GetPtrSize(Ptr p) {
    if (!p || HeaderOf(p)->tag != kPtrTag) {
        lgMemErr = p ? memWZErr : nilHandleErr;
        return 0;
    }
    lgMemErr = noErr;
    return HeaderOf(p)->size;
}

PLATFORM_API Handle NewHandle(Size byteCount) { return AllocHandle(byteCount, false); }

PLATFORM_API Handle NewHandleClear(Size byteCount) { return AllocHandle(byteCount, true); }

PLATFORM_API void DisposeHandle(Handle h) {
    if (!h) {
        lgMemErr = nilHandleErr;
        return;
    }
    HandleRecord *rec = RecordOf(h);
    if (!rec) {
        lgMemErr = memWZErr;
        return;
    }
    std::free(rec->master);
    rec->master = nullptr;
    rec->tag = kDeadTag;
    std::free(rec);
    lgMemErr = noErr;
}

PLATFORM_API Size GetHandleSize(Handle h) {
    HandleRecord *rec = h ? RecordOf(h) : nullptr;
    if (!rec) {
        lgMemErr = h ? memWZErr : nilHandleErr;
        return 0;
    }
    lgMemErr = noErr;
    return rec->size;
}

// A locked handle's data must stay where it is (callers hold *h), so it can
// only grow within its current capacity; otherwise memFullErr and no change.
PLATFORM_API void SetHandleSize(Handle h, Size newSize) {
    HandleRecord *rec = h ? RecordOf(h) : nullptr;
    if (!rec) {
        lgMemErr = h ? memWZErr : nilHandleErr;
        return;
    }
    if (newSize < 0 || newSize > kMaxBlock) {
        lgMemErr = newSize < 0 ? paramErr : memFullErr;
        return;
    }
    if (newSize <= rec->capacity) {
        rec->size = newSize;
        lgMemErr = noErr;
        return;
    }
    if (rec->locked) {
        lgMemErr = memFullErr;
        return;
    }
    void *grown = std::realloc(rec->master, static_cast<size_t>(newSize));
    if (!grown) {
        lgMemErr = memFullErr;
        return;
    }
    rec->master = static_cast<Ptr>(grown);
    rec->size = rec->capacity = newSize;
    lgMemErr = noErr;
}

PLATFORM_API void HLock(Handle h) {
    HandleRecord *rec = h ? RecordOf(h) : nullptr;
    if (rec) rec->locked = true;
    lgMemErr = rec ? noErr : nilHandleErr;
}

PLATFORM_API void HUnlock(Handle h) {
    HandleRecord *rec = h ? RecordOf(h) : nullptr;
    if (rec) rec->locked = false;
    lgMemErr = rec ? noErr : nilHandleErr;
}

PLATFORM_API OSErr MemError(void) { return lgMemErr; }

PLATFORM_API void BlockMoveData(const void *src, void *dst, Size byteCount) {
    if (src && dst && byteCount > 0) std::memmove(dst, src, static_cast<size_t>(byteCount));
}

}  // extern "C"
