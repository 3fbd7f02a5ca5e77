// Reuse of large pixel buffers between pictures.
#include "memory/PixelBufferPool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kAlign = 64;
// Small blocks come and go through malloc's own bins cheaply.
constexpr size_t kPoolMinBytes = 256 * 1024;
constexpr size_t kPoolMaxBlocks = 8;
constexpr size_t kPoolMaxBytes = size_t(512) << 20;

struct CachedBlock {
    void *block;
    size_t capacity;
};

struct Pool {
    std::mutex lock;
    std::vector<CachedBlock> blocks;  // oldest first
    size_t cachedBytes = 0;
    ~Pool() {
        for (auto &b : blocks) std::free(b.block);
    }
};

Pool &ThePool() {
    static Pool pool;
    return pool;
}

size_t RoundUp(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

#ifdef KELVARIN_SANITIZED
// Under the sanitizers every block is fresh so use-after-free is caught.
constexpr bool kPoolEnabled = false;
#else
constexpr bool kPoolEnabled = true;
#endif

// Frames and larger cut-outs sit on huge pages where the kernel has them:
// a quarter turn walks down columns, a new 4 KiB page at every row, and the
// address translations would cost more than the pixels.
constexpr size_t kHugePage = size_t(2) << 20;

void *FreshBlock(size_t want, size_t *capacity) {
    if (want >= kHugePage) {
        const size_t rounded = (want + kHugePage - 1) / kHugePage * kHugePage;
        void *block = std::aligned_alloc(kHugePage, rounded);
        if (block) {
            madvise(block, rounded, MADV_HUGEPAGE);  // a hint: 4 KiB pages serve as well
            *capacity = rounded;
            return block;
        }
    }
    void *block = std::aligned_alloc(kAlign, want);
    if (block) *capacity = want;
    return block;
}

}  // namespace

void *PixelBufferAcquire(size_t bytes, size_t *capacity) {
    if (bytes > SIZE_MAX - kAlign) return nullptr;
    const size_t want = RoundUp(bytes ? bytes : 1);
    if (kPoolEnabled && want >= kPoolMinBytes) {
        Pool &pool = ThePool();
        std::lock_guard<std::mutex> guard(pool.lock);
        // Best fit, but never hand out a block more than twice the size asked
        // for: a small cut-out must not pin a whole frame's memory.
        size_t best = pool.blocks.size();
        for (size_t i = 0; i < pool.blocks.size(); ++i) {
            const size_t cap = pool.blocks[i].capacity;
            if (cap >= want && cap / 2 <= want && (best == pool.blocks.size() || cap < pool.blocks[best].capacity))
                best = i;
        }
        if (best != pool.blocks.size()) {
            CachedBlock found = pool.blocks[best];
            pool.blocks.erase(pool.blocks.begin() + static_cast<long>(best));
            pool.cachedBytes -= found.capacity;
            *capacity = found.capacity;
            return found.block;
        }
    }
    return FreshBlock(want, capacity);
}

void PixelBufferRelease(void *block, size_t capacity) {
    if (!block) return;
    if (!kPoolEnabled || capacity < kPoolMinBytes || capacity > kPoolMaxBytes) {
        std::free(block);
        return;
    }
    Pool &pool = ThePool();
    std::vector<void *> evicted;
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        pool.blocks.push_back({block, capacity});
        pool.cachedBytes += capacity;
        while (pool.blocks.size() > kPoolMaxBlocks || pool.cachedBytes > kPoolMaxBytes) {
            evicted.push_back(pool.blocks.front().block);
            pool.cachedBytes -= pool.blocks.front().capacity;
            pool.blocks.erase(pool.blocks.begin());
        }
    }
    for (void *b : evicted) std::free(b);
}

void PixelBufferTrim(void) {
    Pool &pool = ThePool();
    std::vector<CachedBlock> all;
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        all.swap(pool.blocks);
        pool.cachedBytes = 0;
    }
    for (auto &b : all) std::free(b.block);
}
