// Movable global memory on the C heap.
//
// Every live block is recorded in one registry keyed by its handle value, and
// every call looks the handle up there before touching anything: a handle that
// is not a key (freed, stale, foreign, a pointer into a block) is refused
// without ever being dereferenced.
//
// Handles:
//  - GMEM_FIXED: the block's address, as host code expects;
//  - GMEM_MOVEABLE: a tag in the top 16 bits over a 48-bit serial number.  The
//    tag makes the value non-canonical on x86-64 (4- and 5-level paging) and
//    out of range on AArch64 even with the top byte ignored, so it is never a
//    valid pointer, never equal to a fixed handle, and, since the serial only
//    grows, never handed out twice.
//
// One mutex guards the registry.  No exception leaves these functions:
// allocation failures of the registry itself become a NULL result.
#include "orvo/globalmem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

static_assert(sizeof(uintptr_t) == 8, "movable handles need a 64-bit address space");

namespace {

constexpr uintptr_t kMovableTag = 0xA5C3'0000'0000'0000u;
constexpr uintptr_t kSerialMask = 0x0000'FFFF'FFFF'FFFFu;
constexpr unsigned kMaxLockCount = GMEM_LOCKCOUNT;
constexpr UINT kAllocFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT kReAllocFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

struct Block {
    void *data;     // null only for a zero-byte movable block
    size_t size;    // as requested
    bool movable;
    unsigned locks;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, Block> blocks;
    uintptr_t lastSerial = 0;
};

// Never destroyed: hosts may free handles from atexit handlers or from
// threads still running while static destructors run.
Registry &registry() {
    static Registry *instance = new Registry;
    return *instance;
}

uintptr_t key(HGLOBAL handle) { return reinterpret_cast<uintptr_t>(handle); }

// Requests larger than the machine's physical memory are refused up front:
// they cannot be served, and an instrumented allocator would rather abort the
// process than return null for them.
bool sizeAcceptable(size_t bytes) {
    static const size_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        const size_t cap = static_cast<size_t>(PTRDIFF_MAX);
        if (pages <= 0 || pageSize <= 0) return cap;
        const auto p = static_cast<size_t>(pages), s = static_cast<size_t>(pageSize);
        return p > cap / s ? cap : p * s;
    }();
    return bytes <= limit;
}

// Heap storage for `bytes` bytes; a fixed block always gets an address of its
// own, even at zero bytes, since the address is its handle.
// Large blocks (whole images) are aligned to 2 MiB and offered to the kernel
// for huge pages: first touches then fault a few hundred times instead of
// thousands, which dominates the cost of filling a fresh image.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeBlock = size_t{8} << 20;

void *allocateStorage(size_t bytes, bool movable, bool zero) {
    if (bytes == 0) return movable ? nullptr : std::calloc(1, 1);
    if (bytes >= kHugeBlock) {
        void *data = nullptr;
        if (posix_memalign(&data, kHugePage, bytes) != 0) return nullptr;
        madvise(data, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
        if (zero) std::memset(data, 0, bytes);
        return data;
    }
    return zero ? std::calloc(1, bytes) : std::malloc(bytes);
}

Block *find(Registry &reg, HGLOBAL handle) {
    auto it = reg.blocks.find(key(handle));
    return it == reg.blocks.end() ? nullptr : &it->second;
}

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if ((flags & ~kAllocFlags) != 0 || !sizeAcceptable(bytes)) return nullptr;
    const bool movable = (flags & GMEM_MOVEABLE) != 0;
    void *data = allocateStorage(bytes, movable, (flags & GMEM_ZEROINIT) != 0);
    if (data == nullptr && (bytes != 0 || !movable)) return nullptr;
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        uintptr_t handle = reinterpret_cast<uintptr_t>(data);
        if (movable) {
            if (reg.lastSerial == kSerialMask) throw std::bad_alloc();
            handle = kMovableTag | ++reg.lastSerial;
        }
        reg.blocks.emplace(handle, Block{data, bytes, movable, 0});
        return reinterpret_cast<HGLOBAL>(handle);
    } catch (...) {
        std::free(data);
        return nullptr;
    }
}

LPVOID GlobalLock(HGLOBAL handle) {
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        Block *block = find(reg, handle);
        if (block == nullptr || block->size == 0) return nullptr;
        if (block->locks < kMaxLockCount) ++block->locks;
        return block->data;
    } catch (...) {
        return nullptr;
    }
}

BOOL GlobalUnlock(HGLOBAL handle) {
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        Block *block = find(reg, handle);
        if (block == nullptr || block->locks == 0) return 0;
        return --block->locks != 0;
    } catch (...) {
        return 0;
    }
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    void *data;
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.blocks.find(key(handle));
        if (it == reg.blocks.end()) return handle;
        data = it->second.data;
        reg.blocks.erase(it);
    } catch (...) {
        return handle;
    }
    std::free(data);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        const Block *block = find(reg, handle);
        return block == nullptr ? 0 : block->size;
    } catch (...) {
        return 0;
    }
}

UINT GlobalFlags(HGLOBAL handle) {
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        const Block *block = find(reg, handle);
        return block == nullptr ? GMEM_INVALID_HANDLE : (block->locks & GMEM_LOCKCOUNT);
    } catch (...) {
        return GMEM_INVALID_HANDLE;
    }
}

// A movable block keeps its handle.  A fixed block may move, and its handle,
// being its address, moves with it: the old value is then no longer valid.
// Locked blocks of either kind are refused, so a locked address never moves.
HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
    if ((flags & ~kReAllocFlags) != 0 || !sizeAcceptable(bytes)) return nullptr;
    try {
        Registry &reg = registry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.blocks.find(key(handle));
        if (it == reg.blocks.end() || it->second.locks != 0) return nullptr;
        Block &block = it->second;

        if (bytes == 0 && block.movable) {
            std::free(block.data);
            block.data = nullptr;
            block.size = 0;
            return handle;
        }
        void *data;
        if (bytes >= kHugeBlock) {
            // Large blocks keep their huge-page alignment: new storage, the
            // bytes copied over.
            data = allocateStorage(bytes, block.movable, false);
            if (data == nullptr) return nullptr;
            if (block.data != nullptr) std::memcpy(data, block.data, std::min(block.size, bytes));
            std::free(block.data);
        } else {
            // realloc(p, 0) is not portable; a fixed block keeps one byte.
            data = std::realloc(block.data, bytes == 0 ? 1 : bytes);
            if (data == nullptr) return nullptr;
        }
        if ((flags & GMEM_ZEROINIT) != 0 && bytes > block.size)
            std::memset(static_cast<unsigned char *>(data) + block.size, 0, bytes - block.size);
        block.data = data;
        block.size = bytes;
        if (block.movable || data == handle) return handle;

        // Re-key the moved fixed block; reusing the node allocates nothing.
        auto node = reg.blocks.extract(it);
        node.key() = reinterpret_cast<uintptr_t>(data);
        reg.blocks.insert(std::move(node));
        return data;
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
