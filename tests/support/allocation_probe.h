// Records the largest single heap allocation made while a probe is alive, so
// that tests of hostile headers can check that a tiny file never makes the
// reader ask for a huge block.  Needs the sanitizer allocator hooks; in other
// builds available() is false and largest() stays 0.
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVO_TEST_ALLOCATION_HOOKS 1
#endif
#endif
#if !defined(ORVO_TEST_ALLOCATION_HOOKS) && defined(__SANITIZE_ADDRESS__)
#define ORVO_TEST_ALLOCATION_HOOKS 1
#endif

#if defined(ORVO_TEST_ALLOCATION_HOOKS)
#include <sanitizer/allocator_interface.h>
#endif

namespace orvo::test {

class AllocationProbe {
public:
    AllocationProbe() {
        available();
        largestBytes().store(0);
        recording().store(true);
    }
    ~AllocationProbe() { recording().store(false); }
    AllocationProbe(const AllocationProbe &) = delete;
    AllocationProbe &operator=(const AllocationProbe &) = delete;

    static bool available() {
#if defined(ORVO_TEST_ALLOCATION_HOOKS)
        // The hooks cannot be removed once installed, so they are installed
        // once and only record while a probe is alive.
        static const bool installed = __sanitizer_install_malloc_and_free_hooks(&onMalloc, &onFree) != 0;
        return installed;
#else
        return false;
#endif
    }
    size_t largest() const { return largestBytes().load(); }

private:
    static std::atomic<bool> &recording() {
        static std::atomic<bool> flag{false};
        return flag;
    }
    static std::atomic<size_t> &largestBytes() {
        static std::atomic<size_t> bytes{0};
        return bytes;
    }
    static void onMalloc(const volatile void *, size_t size) {
        if (!recording().load(std::memory_order_relaxed)) return;
        size_t seen = largestBytes().load(std::memory_order_relaxed);
        while (size > seen && !largestBytes().compare_exchange_weak(seen, size)) {
        }
    }
    static void onFree(const volatile void *) {}
};

}  // namespace orvo::test
