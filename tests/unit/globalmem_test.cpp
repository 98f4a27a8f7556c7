#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "orvo/globalmem.h"

namespace {

// Fills `bytes` bytes of a block with a pattern derived from `seed`.
void fill(HGLOBAL handle, size_t bytes, unsigned seed) {
    if (bytes == 0) return;
    auto *p = static_cast<unsigned char *>(GlobalLock(handle));
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(seed + i * 7 + 1);
    GlobalUnlock(handle);
}

bool holdsPattern(const unsigned char *p, size_t bytes, unsigned seed) {
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != static_cast<unsigned char>(seed + i * 7 + 1)) return false;
    return true;
}

bool allZero(const unsigned char *p, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != 0) return false;
    return true;
}

TEST(GlobalMem, LockCountRisesAndFallsWithLockAndUnlock) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 64);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_EQ(GlobalUnlock(h), 0) << "unlocking an unlocked block";

    void *first = GlobalLock(h);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GlobalLock(h), first);
    EXPECT_EQ(GlobalLock(h), first);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 3u);

    EXPECT_NE(GlobalUnlock(h), 0);
    EXPECT_NE(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMem, LockCountSaturatesAt255) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(h, nullptr);
    void *p = GlobalLock(h);
    for (int i = 1; i < 300; ++i) ASSERT_EQ(GlobalLock(h), p) << "lock " << i;
    EXPECT_EQ(GlobalFlags(h), 255u);

    for (int i = 1; i < 255; ++i) ASSERT_NE(GlobalUnlock(h), 0) << "unlock " << i;
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMem, FixedHandleIsTheAddressMovableHandleIsNot) {
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 32);
    HGLOBAL movable = GlobalAlloc(GMEM_MOVEABLE, 32);
    ASSERT_NE(fixed, nullptr);
    ASSERT_NE(movable, nullptr);

    EXPECT_EQ(GlobalLock(fixed), fixed);
    GlobalUnlock(fixed);

    auto *block = static_cast<unsigned char *>(GlobalLock(movable));
    ASSERT_NE(block, nullptr);
    const auto value = reinterpret_cast<uintptr_t>(movable);
    const auto start = reinterpret_cast<uintptr_t>(block);
    EXPECT_FALSE(value >= start && value < start + 32) << "movable handle points into its block";
    // The handle is not an address at all: locking it by its block address fails.
    EXPECT_EQ(GlobalLock(block), nullptr);
    GlobalUnlock(movable);

    EXPECT_EQ(GlobalFree(fixed), nullptr);
    EXPECT_EQ(GlobalFree(movable), nullptr);
}

TEST(GlobalMem, ZeroByteMovableBlockLocksToNull) {
    HGLOBAL h = GlobalAlloc(GHND, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFlags(h), 0u) << "a failed lock leaves no count";
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMem, UnknownFlagsAreRefused) {
    EXPECT_EQ(GlobalAlloc(0x1000u, 16), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE | 0x0100u, 16), nullptr);

    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalReAlloc(h, 32, 0x1000u), nullptr);
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMem, MovableHandlesAreNeverReused) {
    std::set<HGLOBAL> seen;
    for (int i = 0; i < 2000; ++i) {
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(seen.insert(h).second) << "handle handed out twice";
        ASSERT_EQ(GlobalFree(h), nullptr);
    }
}

// --- Zero initialisation ---------------------------------------------------

class GlobalMemZeroInit : public testing::TestWithParam<UINT> {};

TEST_P(GlobalMemZeroInit, NewBlockIsZero) {
    // Dirty the heap first so a recycled chunk would show through.
    for (size_t bytes : {size_t{1}, size_t{100}, size_t{4096}, size_t{1} << 20}) {
        void *dirty = std::malloc(bytes);
        std::memset(dirty, 0xAB, bytes);
        std::free(dirty);

        HGLOBAL h = GlobalAlloc(GetParam(), bytes);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GlobalSize(h), bytes);
        auto *p = static_cast<unsigned char *>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(allZero(p, bytes)) << bytes << " bytes";
        GlobalUnlock(h);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, GlobalMemZeroInit, testing::Values(GHND, GPTR),
                         [](const auto &info) { return info.param == GHND ? "GHND" : "GPTR"; });

// --- Resizing --------------------------------------------------------------

struct ReAllocCase {
    const char *name;
    UINT allocFlags;
    size_t from;
    size_t to;
};

void PrintTo(const ReAllocCase &c, std::ostream *os) { *os << c.name; }

class GlobalMemReAlloc : public testing::TestWithParam<ReAllocCase> {};

TEST_P(GlobalMemReAlloc, KeepsContentsAndZeroFillsGrowth) {
    const ReAllocCase &c = GetParam();
    HGLOBAL h = GlobalAlloc(c.allocFlags, c.from);
    ASSERT_NE(h, nullptr);
    fill(h, c.from, 5);

    HGLOBAL resized = GlobalReAlloc(h, c.to, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(resized, nullptr);
    if (c.allocFlags & GMEM_MOVEABLE) {
        EXPECT_EQ(resized, h) << "a movable block keeps its handle";
    } else if (resized != h) {
        EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE) << "the old address of a moved fixed block";
    }
    EXPECT_EQ(GlobalSize(resized), c.to);

    auto *p = static_cast<unsigned char *>(GlobalLock(resized));
    if (c.to == 0) {
        EXPECT_EQ(p, nullptr);
    } else {
        ASSERT_NE(p, nullptr);
        const size_t kept = c.from < c.to ? c.from : c.to;
        EXPECT_TRUE(holdsPattern(p, kept, 5));
        if (c.to > c.from) {
            EXPECT_TRUE(allZero(p + c.from, c.to - c.from));
        }
        GlobalUnlock(resized);
    }
    EXPECT_EQ(GlobalFree(resized), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GlobalMemReAlloc,
    testing::Values(ReAllocCase{"MovableGrow", GMEM_MOVEABLE, 100, 1 << 20},
                    ReAllocCase{"MovableShrink", GMEM_MOVEABLE, 4096, 10},
                    ReAllocCase{"MovableToEmpty", GMEM_MOVEABLE, 64, 0},
                    ReAllocCase{"MovableFromEmpty", GMEM_MOVEABLE, 0, 300},
                    ReAllocCase{"FixedGrow", GMEM_FIXED, 100, 1 << 20},
                    ReAllocCase{"FixedShrink", GMEM_FIXED, 4096, 10}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GlobalMem, ReAllocRefusesALockedBlockAndLeavesItAlone) {
    for (UINT kind : {GMEM_MOVEABLE, GMEM_FIXED}) {
        SCOPED_TRACE(kind == GMEM_MOVEABLE ? "movable" : "fixed");
        HGLOBAL h = GlobalAlloc(kind, 50);
        ASSERT_NE(h, nullptr);
        fill(h, 50, 9);
        auto *p = static_cast<unsigned char *>(GlobalLock(h));
        EXPECT_EQ(GlobalReAlloc(h, 5000, GMEM_MOVEABLE), nullptr);
        EXPECT_EQ(GlobalSize(h), 50u);
        EXPECT_EQ(GlobalFlags(h), 1u);
        EXPECT_TRUE(holdsPattern(p, 50, 9));
        GlobalUnlock(h);
        HGLOBAL resized = GlobalReAlloc(h, 5000, GMEM_MOVEABLE);
        ASSERT_NE(resized, nullptr) << "unlocked again";
        EXPECT_EQ(GlobalFree(resized), nullptr);
    }
}

// --- Sizes that cannot be served ---------------------------------------------

TEST(GlobalMem, AbsurdSizesGiveNull) {
    const size_t sizes[] = {SIZE_MAX, SIZE_MAX / 2, size_t{1} << 62, size_t{1} << 48};
    HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(kept, nullptr);
    fill(kept, 16, 3);
    for (size_t bytes : sizes) {
        SCOPED_TRACE(bytes);
        for (UINT flags : {GMEM_FIXED, GMEM_MOVEABLE, GHND, GPTR})
            EXPECT_EQ(GlobalAlloc(flags, bytes), nullptr);
        EXPECT_EQ(GlobalReAlloc(kept, bytes, GMEM_MOVEABLE | GMEM_ZEROINIT), nullptr);
        EXPECT_EQ(GlobalSize(kept), 16u);
    }
    auto *p = static_cast<unsigned char *>(GlobalLock(kept));
    EXPECT_TRUE(holdsPattern(p, 16, 3));
    GlobalUnlock(kept);
    EXPECT_EQ(GlobalFree(kept), nullptr);
}

// --- Handles that are not (or no longer) valid -------------------------------

// Every call must refuse these without touching the memory they point at
// (under AddressSanitizer a dereference of the freed ones would be reported).
TEST(GlobalMem, InvalidHandlesAreRefusedByEveryCall) {
    // Everything live is allocated first: the heap would hand a just-freed
    // fixed address straight back to the next allocation.
    HGLOBAL live = GlobalAlloc(GMEM_MOVEABLE, 32);
    HGLOBAL liveFixed = GlobalAlloc(GMEM_FIXED, 32);
    auto *block = static_cast<unsigned char *>(GlobalLock(live));
    ASSERT_NE(block, nullptr);
    void *foreignHeap = std::malloc(32);
    int onStack = 0;

    HGLOBAL freedMovable = GlobalAlloc(GMEM_MOVEABLE, 32);
    HGLOBAL freedFixed = GlobalAlloc(GMEM_FIXED, 32);
    ASSERT_EQ(GlobalFree(freedMovable), nullptr);
    ASSERT_EQ(GlobalFree(freedFixed), nullptr);

    const struct {
        const char *name;
        HGLOBAL handle;
    } cases[] = {
        {"freed movable", freedMovable},
        {"freed fixed", freedFixed},
        {"movable block address", block},
        {"inside movable block", block + 8},
        {"inside fixed block", static_cast<unsigned char *>(liveFixed) + 1},
        {"heap pointer", foreignHeap},
        {"stack pointer", &onStack},
        {"small integer", reinterpret_cast<HGLOBAL>(uintptr_t{0x1234})},
        {"all bits", reinterpret_cast<HGLOBAL>(~uintptr_t{0})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GlobalLock(c.handle), nullptr);
        EXPECT_EQ(GlobalUnlock(c.handle), 0);
        EXPECT_EQ(GlobalSize(c.handle), 0u);
        EXPECT_EQ(GlobalFlags(c.handle), GMEM_INVALID_HANDLE);
        EXPECT_EQ(GlobalReAlloc(c.handle, 64, GMEM_MOVEABLE), nullptr);
        EXPECT_EQ(GlobalFree(c.handle), c.handle);
    }
    EXPECT_EQ(GlobalFlags(nullptr), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);

    // The live blocks came through untouched.
    EXPECT_EQ(GlobalFlags(live), 1u);
    EXPECT_EQ(GlobalSize(liveFixed), 32u);
    GlobalUnlock(live);
    EXPECT_EQ(GlobalFree(live), nullptr);
    EXPECT_EQ(GlobalFree(liveFixed), nullptr);
    std::free(foreignHeap);
}

// --- Concurrency -----------------------------------------------------------

// Threads allocate, fill, resize and free blocks side by side: every block
// keeps exactly its own contents, a freed movable handle stays refused,
// and no movable handle is handed to two threads.
TEST(GlobalMem, ConcurrentUseKeepsBlocksApart) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 1500;
    constexpr size_t kLive = 24;
    std::vector<std::vector<HGLOBAL>> movableHandles(kThreads);
    std::vector<int> failures(kThreads, 0);

    auto worker = [&](int id) {
        const auto mark = static_cast<unsigned char>(id + 1);
        int &failed = failures[id];
        std::vector<HGLOBAL> live;
        unsigned state = 12345u + static_cast<unsigned>(id);
        auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };

        for (int round = 0; round < kRounds; ++round) {
            const size_t bytes = 1 + next() % 3000;
            const UINT flags = round % 3 == 0 ? GPTR : GHND;
            HGLOBAL h = GlobalAlloc(flags, bytes);
            auto *p = static_cast<unsigned char *>(GlobalLock(h));
            if (p == nullptr || !allZero(p, bytes)) { ++failed; continue; }
            std::memset(p, mark, bytes);
            GlobalUnlock(h);
            live.push_back(h);
            if (flags & GMEM_MOVEABLE) movableHandles[id].push_back(h);

            if (round % 7 == 0) {
                HGLOBAL &target = live[next() % live.size()];
                const size_t grown = GlobalSize(target) + 1 + next() % 500;
                HGLOBAL resized = GlobalReAlloc(target, grown, GMEM_MOVEABLE);
                auto *q = static_cast<unsigned char *>(GlobalLock(resized));
                if (q == nullptr) { ++failed; continue; }
                std::memset(q, mark, grown);
                GlobalUnlock(resized);
                target = resized;
            }
            if (live.size() > kLive) {
                const size_t pick = next() % live.size();
                HGLOBAL victim = live[pick];
                live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
                const size_t size = GlobalSize(victim);
                auto *q = static_cast<unsigned char *>(GlobalLock(victim));
                if (q == nullptr) { ++failed; continue; }
                for (size_t i = 0; i < size; ++i)
                    if (q[i] != mark) { ++failed; break; }
                GlobalUnlock(victim);
                if (GlobalFree(victim) != nullptr) ++failed;
            }
        }
        for (HGLOBAL h : live)
            if (GlobalFree(h) != nullptr) ++failed;
        for (HGLOBAL h : movableHandles[id])
            if (GlobalFlags(h) != GMEM_INVALID_HANDLE) ++failed;
    };

    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id) threads.emplace_back(worker, id);
    for (auto &t : threads) t.join();
    for (int id = 0; id < kThreads; ++id) EXPECT_EQ(failures[id], 0) << "thread " << id;

    // (Freed fixed addresses may be reissued at once; movable handles never.)
    std::set<HGLOBAL> distinct;
    size_t total = 0;
    for (const auto &handles : movableHandles) {
        distinct.insert(handles.begin(), handles.end());
        total += handles.size();
    }
    EXPECT_EQ(distinct.size(), total);
}

// Image-sized blocks live in mappings of their own: zeroed, kept across
// growing and shrinking, and given back whole, for both kinds of block.
TEST(GlobalMem, LargeBlocksGrowAndShrinkKeepingTheirBytes) {
    const size_t large = size_t{9} << 20, larger = size_t{20} << 20, small = size_t{1} << 20;
    for (UINT kind : {UINT{GMEM_FIXED}, UINT{GMEM_MOVEABLE}}) {
        HGLOBAL h = GlobalAlloc(kind | GMEM_ZEROINIT, large);
        ASSERT_NE(h, nullptr);
        auto *p = static_cast<uint8_t *>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[large - 1], 0);
        p[0] = 1;
        p[large - 1] = 2;
        GlobalUnlock(h);
        for (size_t size : {larger, small, large}) {
            HGLOBAL moved = GlobalReAlloc(h, size, GMEM_MOVEABLE | GMEM_ZEROINIT);
            ASSERT_NE(moved, nullptr) << size;
            h = moved;
            ASSERT_EQ(GlobalSize(h), size);
            p = static_cast<uint8_t *>(GlobalLock(h));
            EXPECT_EQ(p[0], 1) << size;
            if (size == larger) {
                EXPECT_EQ(p[large - 1], 2);
                EXPECT_EQ(p[larger - 1], 0) << "grown bytes are zero";
            }
            p[size - 1] = 2;
            GlobalUnlock(h);
        }
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

}  // namespace
