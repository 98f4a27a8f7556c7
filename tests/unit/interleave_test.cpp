// Splitting and merging three-sample pixels, at every length around the
// vector width.
#include <gtest/gtest.h>

#include <vector>

#include "core/env/interleave.h"

namespace orvo {
namespace {

TEST(Interleave, SplitAndMergeMatchThePlainLoops) {
    for (size_t n = 0; n <= 50; ++n) {
        std::vector<uint8_t> pixels(3 * n);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + n);
        std::vector<uint8_t> a(n + 1, 0xEE), b(n + 1, 0xEE), c(n + 1, 0xEE);
        splitTriples(pixels.data(), n, a.data(), b.data(), c.data());
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(a[i], pixels[3 * i]) << n;
            ASSERT_EQ(b[i], pixels[3 * i + 1]) << n;
            ASSERT_EQ(c[i], pixels[3 * i + 2]) << n;
        }
        EXPECT_EQ(a[n], 0xEE) << "wrote past the plane, length " << n;
        std::vector<uint8_t> back(3 * n + 1, 0xEE);
        mergeTriples(a.data(), b.data(), c.data(), n, back.data());
        EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end() - 1), pixels) << n;
        EXPECT_EQ(back.back(), 0xEE) << "wrote past the pixels, length " << n;
    }
}

}  // namespace
}  // namespace orvo
