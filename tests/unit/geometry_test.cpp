// The geometric operators on small image objects: exact values
// of the kernels, the pixel correction of bitmaps, quarter turns, warps, and
// the SIMD kernels against their scalar references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/env/codes.h"
#include "core/process/frame.h"
#include "core/process/geometry.h"
#include "core/process/geometry_kernels.h"
#include "core/process/planes.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using Samples = std::vector<uint8_t>;

// An image object in work space of w x h x bands samples given band by band,
// rows top first, one byte per sample (0 or 1 for boolean images).
DataObject *makeImage(Environment *env, int64_t w, int64_t h, int64_t bands, bool boolean, const Samples &samples) {
    const CmiAttribute list[] = {{"xDimension", static_cast<intptr_t>(w)},
                                 {"yDimension", static_cast<intptr_t>(h)},
                                 {"bDimension", static_cast<intptr_t>(bands)},
                                 {"dataType", boolean ? code::kBoolean : code::kNonnegativeInteger},
                                 {"repository", code::kWorkSpace}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    EXPECT_NE(image, nullptr);
    if (image == nullptr) return nullptr;
    Planes planes;
    EXPECT_EQ(planes.open(env, image, true), kOk);
    EXPECT_EQ(samples.size(), static_cast<size_t>(w * h * bands));
    for (int64_t b = 0; b < bands; ++b) {
        std::memcpy(planes.plane(b), samples.data() + b * w * h, static_cast<size_t>(w * h));
    }
    EXPECT_EQ(planes.close(), kOk);
    return image;
}

DataObject *filledImage(Environment *env, int64_t w, int64_t h, int64_t bands, bool boolean, uint8_t value) {
    return makeImage(env, w, h, bands, boolean, Samples(static_cast<size_t>(w * h * bands), value));
}

Samples samplesOf(Environment *env, DataObject *image) {
    Planes planes;
    EXPECT_EQ(planes.open(env, image, false), kOk);
    Samples out(static_cast<size_t>(planes.planeBytes() * planes.bands()));
    if (!out.empty()) std::memcpy(out.data(), planes.plane(0), out.size());
    EXPECT_EQ(planes.close(), kOk);
    return out;
}

Samples randomSamples(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Samples s(n);
    for (uint8_t &v : s) v = static_cast<uint8_t>(random());
    return s;
}

int resizeWith(Environment *env, int32_t kernel, DataObject *from, DataObject *to, const Box *sourceBox = nullptr,
               const Box *destinationBox = nullptr, int32_t morphology = 0) {
    setEnvAttr(env, EnvAttr::interpolation, kernel);
    setEnvAttr(env, EnvAttr::morphologicalOperation, morphology);
    return resizeImage(env, from, to, sourceBox, destinationBox);
}

// --- Resize ----------------------------------------------------------------------

TEST(Resize, NearestDoublesA4x1Row) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 4, 1, 1, false, {0, 100, 200, 255});
    DataObject *to = filledImage(env, 8, 1, 1, false, 7);
    ASSERT_EQ(resizeWith(env, kNearest, from, to), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 0, 100, 100, 200, 200, 255, 255}));
}

TEST(Resize, BSplineDarkensAFlatImageAtScaleOne) {
    test::ScopedEnvironment env;
    DataObject *from = filledImage(env, 5, 4, 1, false, 200);
    DataObject *to = filledImage(env, 5, 4, 1, false, 0);
    ASSERT_EQ(resizeWith(env, kBSpline, from, to), kOk);
    EXPECT_EQ(samplesOf(env, to), Samples(20, 197));  // (200 × 254 × 254 + 32768) >> 16
}

TEST(Resize, BSplineWeightsAtZero) {
    int32_t w[4];
    resizeWeights(kBSpline, 0.0, w);
    EXPECT_EQ(w[0], 42);
    EXPECT_EQ(w[1], 170);
    EXPECT_EQ(w[2], 42);
    EXPECT_EQ(w[3], 0);
    resizeWeights(kCubicConvolution, 0.0, w);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[1], 256);
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(w[3], 0);
    resizeWeights(kCubicConvolution, 0.5, w);  // K(1.5) = -0.0625, K(0.5) = 0.5625
    EXPECT_EQ(w[0], -16);
    EXPECT_EQ(w[1], 144);
    EXPECT_EQ(w[2], 144);
    EXPECT_EQ(w[3], -16);
    resizeWeights(kBilinear, 0.3, w);
    EXPECT_EQ(w[0], 179);  // truncate(0.7 × 256) = 179, truncate(0.3 × 256) = 76: sum 255
    EXPECT_EQ(w[1], 76);
}

TEST(Resize, CubicConvolutionIsTheIdentityAtScaleOne) {
    test::ScopedEnvironment env;
    const Samples picture = randomSamples(13 * 7 * 3, 1);
    DataObject *from = makeImage(env, 13, 7, 3, false, picture);
    DataObject *to = filledImage(env, 13, 7, 3, false, 0);
    ASSERT_EQ(resizeWith(env, kCubicConvolution, from, to), kOk);
    EXPECT_EQ(samplesOf(env, to), picture);
}

TEST(Resize, NearestAndBilinearAreTheIdentityAtScaleOne) {
    test::ScopedEnvironment env;
    const Samples picture = randomSamples(9 * 5, 2);
    DataObject *from = makeImage(env, 9, 5, 1, false, picture);
    for (int32_t kernel : {kNearest, kBilinear}) {
        DataObject *to = filledImage(env, 9, 5, 1, false, 0);
        ASSERT_EQ(resizeWith(env, kernel, from, to), kOk);
        EXPECT_EQ(samplesOf(env, to), picture) << kernel;
    }
}

TEST(Resize, BilinearEnlargesARampWithKnownValues) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 2, 1, 1, false, {0, 255});
    DataObject *to = filledImage(env, 4, 1, 1, false, 9);
    ASSERT_EQ(resizeWith(env, kBilinear, from, to), kOk);
    // u = (d + 0.5) × 0.5 - 0.5: -0.25 (f 0), 0.25, 0.75, 1.25 (right neighbour clamped).
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 64, 191, 255}));
}

TEST(Resize, BilinearHalvesWithTheSpecifiedRounding) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 4, 2, 1, false, {10, 20, 30, 41, 50, 60, 70, 80});
    DataObject *to = filledImage(env, 2, 1, 1, false, 0);
    ASSERT_EQ(resizeWith(env, kBilinear, from, to), kOk);
    // f = 0.5 both ways: weights 128; (Σ p × 128 × 128 + 32768) >> 16.
    EXPECT_EQ(samplesOf(env, to), (Samples{((10 + 20 + 50 + 60) * 16384 + 32768) >> 16,
                                            ((30 + 41 + 70 + 80) * 16384 + 32768) >> 16}));
}

TEST(Resize, CubicClampsToTheByteRange) {
    test::ScopedEnvironment env;
    // A step: cubic convolution overshoots on both sides.
    DataObject *from = makeImage(env, 4, 1, 1, false, {0, 0, 255, 255});
    DataObject *to = filledImage(env, 8, 1, 1, false, 9);
    ASSERT_EQ(resizeWith(env, kCubicConvolution, from, to), kOk);
    const Samples out = samplesOf(env, to);
    EXPECT_EQ(out.front(), 0);
    EXPECT_EQ(out.back(), 255);
    for (size_t i = 1; i < out.size(); ++i) EXPECT_LE(out[i - 1], out[i]) << i;
}

TEST(Resize, BoxesPlaceAScaledRectangleAndLeaveTheRest) {
    test::ScopedEnvironment env;
    Samples picture(6 * 4);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(10 + i);
    DataObject *from = makeImage(env, 6, 4, 1, false, picture);
    DataObject *to = filledImage(env, 5, 5, 1, false, 0xEE);
    const Box source{2, 1, 2, 2};       // samples 18, 19 / 24, 25
    const Box destination{1, 2, 4, 4};  // scaled twice, cut at the bottom
    ASSERT_EQ(resizeWith(env, kNearest, from, to, &source, &destination), kOk);
    const Samples expected = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE,  //
                              0xEE, 0xEE, 0xEE, 0xEE, 0xEE,  //
                              0xEE, 18,   18,   19,   19,    //
                              0xEE, 18,   18,   19,   19,    //
                              0xEE, 24,   24,   25,   25};
    EXPECT_EQ(samplesOf(env, to), expected);
}

TEST(Resize, SourcePositionsOutsideTheSourceAreNotWritten) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 2, 1, 1, false, {1, 2});
    DataObject *to = filledImage(env, 4, 1, 1, false, 0xEE);
    const Box source{1, 0, 2, 1};  // reaches one column past the source
    ASSERT_EQ(resizeWith(env, kNearest, from, to, &source), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{2, 2, 0xEE, 0xEE}));
}

TEST(Resize, RefusesOtherKernelsAndMixedTypes) {
    test::ScopedEnvironment env;
    DataObject *grey = filledImage(env, 2, 2, 1, false, 1);
    DataObject *bits = filledImage(env, 2, 2, 1, true, 1);
    EXPECT_EQ(resizeWith(env, 193, grey, grey), kNonPermissibleOption);
    EXPECT_EQ(resizeWith(env, 0, grey, grey), kNonPermissibleOption);
    EXPECT_EQ(resizeWith(env, kNearest, grey, bits), kMismatchDataType);
    EXPECT_EQ(resizeWith(env, kBilinear, bits, grey), kMismatchDataType);
}

TEST(Resize, MatchPointsShiftTheDestination) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 2, 1, 1, false, {5, 6});
    DataObject *to = filledImage(env, 4, 1, 1, false, 0);
    to->put(Attr::xMatchPoint, 1);
    setEnvAttr(env, EnvAttr::matchPointState, 1);
    const Box box{0, 0, 2, 1};
    ASSERT_EQ(resizeWith(env, kNearest, from, to, nullptr, &box), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 5, 6, 0}));
}

// The defining formulas of the resize of 8-bit samples, one destination sample at a
// time, for the whole source onto the whole destination.
Samples referenceResize(int32_t kernel, const Samples &source, int64_t sw, int64_t sh, int64_t bands, int64_t dw,
                        int64_t dh) {
    struct Tap {
        int64_t index[4];
        int32_t weight[4];
    };
    auto axis = [&](int64_t s, int64_t d, int64_t j) {
        Tap tap{};
        const double scale = static_cast<double>(s) / static_cast<double>(d);
        const double u = (static_cast<double>(j) + 0.5) * scale - 0.5;
        const int64_t i = static_cast<int64_t>(u);
        const double f = u > 0 ? u - static_cast<double>(i) : 0.0;
        resizeWeights(kernel, f, tap.weight);
        // Neighbours i, i + 1 (bilinear) or i - 1 .. i + 2, an index before
        // the first replaced by i (= 0) and one after the last by the last.
        const int64_t first = kernel == kBilinear ? i : i - 1;
        for (int t = 0; t < 4; ++t) tap.index[t] = std::clamp<int64_t>(first + t, 0, s - 1);
        return tap;
    };
    const int taps = kernel == kBilinear ? 2 : 4;
    Samples out(static_cast<size_t>(dw * dh * bands));
    for (int64_t b = 0; b < bands; ++b) {
        for (int64_t y = 0; y < dh; ++y) {
            const Tap ty = axis(sh, dh, y);
            for (int64_t x = 0; x < dw; ++x) {
                const Tap tx = axis(sw, dw, x);
                int64_t sum = 0;
                for (int r = 0; r < taps; ++r) {
                    int64_t row = 0;
                    for (int c = 0; c < taps; ++c) {
                        row += source[static_cast<size_t>((b * sh + ty.index[r]) * sw + tx.index[c])] * tx.weight[c];
                    }
                    sum += row * ty.weight[r];
                }
                out[static_cast<size_t>((b * dh + y) * dw + x)] =
                    static_cast<uint8_t>(std::clamp<int64_t>((sum + 32768) >> 16, 0, 255));
            }
        }
    }
    return out;
}

struct ResizeSize {
    int64_t sw, sh, dw, dh;
};

TEST(Resize, SmoothKernelsMatchTheFormulaSampleBySample) {
    const ResizeSize sizes[] = {{37, 23, 61, 17}, {100, 80, 33, 29}, {64, 9, 200, 30}, {300, 4, 301, 5}, {5, 5, 97, 3}};
    for (const ResizeSize &z : sizes) {
        test::ScopedEnvironment env;
        const Samples picture = randomSamples(static_cast<size_t>(z.sw * z.sh * 3), static_cast<uint32_t>(z.sw));
        DataObject *from = makeImage(env, z.sw, z.sh, 3, false, picture);
        for (int32_t kernel : {kBilinear, kBSpline, kCubicConvolution}) {
            DataObject *to = filledImage(env, z.dw, z.dh, 3, false, 0);
            ASSERT_EQ(resizeWith(env, kernel, from, to), kOk);
            EXPECT_EQ(samplesOf(env, to), referenceResize(kernel, picture, z.sw, z.sh, 3, z.dw, z.dh))
                << kernel << " " << z.sw << "x" << z.sh << " -> " << z.dw << "x" << z.dh;
        }
    }
}

TEST(Resize, NearestMatchesTheFormulaSampleBySample) {
    test::ScopedEnvironment env;
    const int64_t sw = 45, sh = 20, dw = 130, dh = 7;
    const Samples picture = randomSamples(static_cast<size_t>(sw * sh), 9);
    DataObject *from = makeImage(env, sw, sh, 1, false, picture);
    DataObject *to = filledImage(env, dw, dh, 1, false, 0);
    ASSERT_EQ(resizeWith(env, kNearest, from, to), kOk);
    Samples expected;
    for (int64_t y = 0; y < dh; ++y) {
        const int64_t iy = static_cast<int64_t>((y + 0.5) * (static_cast<double>(sh) / dh));
        for (int64_t x = 0; x < dw; ++x) {
            const int64_t ix = static_cast<int64_t>((x + 0.5) * (static_cast<double>(sw) / dw));
            expected.push_back(picture[static_cast<size_t>(iy * sw + ix)]);
        }
    }
    EXPECT_EQ(samplesOf(env, to), expected);
}

// --- Pixel correction of bitmaps -------------------------------------------------

Samples lonePixel(uint8_t background) {
    Samples s(16, background);
    s[1 * 4 + 1] = background ^ 1;
    return s;
}

TEST(PixelCorrection, AnIsolatedSetPixelVanishesWithoutMorphology) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 4, 4, 1, true, lonePixel(0));
    DataObject *to = filledImage(env, 2, 2, 1, true, 1);
    ASSERT_EQ(resizeWith(env, kBilinear, from, to, nullptr, nullptr, 0), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 0, 0, 0}));  // 128 × 128 = 16384 < 32768
}

TEST(PixelCorrection, FavouringSetBitsKeepsAnIsolatedSetPixel) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 4, 4, 1, true, lonePixel(0));
    DataObject *to = filledImage(env, 2, 2, 1, true, 0);
    ASSERT_EQ(resizeWith(env, kBilinear, from, to, nullptr, nullptr, kFavourSet), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{1, 0, 0, 0}));  // threshold 1 (ramp 42, s = 2, h = 1)
}

TEST(PixelCorrection, FavouringClearBitsKeepsAnIsolatedClearPixel) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 4, 4, 1, true, lonePixel(1));
    for (int32_t morphology : {0, kFavourClear}) {
        DataObject *to = filledImage(env, 2, 2, 1, true, 0);
        ASSERT_EQ(resizeWith(env, kBilinear, from, to, nullptr, nullptr, morphology), kOk);
        EXPECT_EQ(samplesOf(env, to), (Samples{uint8_t(morphology == 0 ? 1 : 0), 1, 1, 1})) << morphology;
    }
}

TEST(PixelCorrection, CubicKernelsDecideBitsToo) {
    test::ScopedEnvironment env;
    Samples stripes(8 * 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) stripes[y * 8 + x] = x < 4 ? 1 : 0;
    }
    DataObject *from = makeImage(env, 8, 8, 1, true, stripes);
    for (int32_t kernel : {kBSpline, kCubicConvolution}) {
        DataObject *to = filledImage(env, 8, 8, 1, true, 0);
        ASSERT_EQ(resizeWith(env, kernel, from, to), kOk);
        EXPECT_EQ(samplesOf(env, to), stripes) << kernel;  // scale 1 keeps a clean edge
    }
}

struct ThresholdCase {
    int32_t morphology, kernel, ramp;
    double sx, sy;
    int64_t expected;
};

TEST(PixelCorrection, Thresholds) {
    const ThresholdCase cases[] = {
        {0, kBilinear, 42, 2.0, 2.0, 32768},
        {kFavourSet, kBilinear, 42, 0.5, 0.5, 32768},           // enlarging: r = 1
        {kFavourSet, kBilinear, 42, 2.0, 2.0, 1},               // r = 0, raised to 1
        {kFavourSet, kBilinear, 42, 1.5, 1.0, 4096},            // 0.5³ × 32768
        {kFavourSet, kBilinear, 181, 1.5, 1.0, 8192},           // 0.5²
        {kFavourSet, kBilinear, 211, 1.5, 1.0, 16384},          // 0.5
        {kFavourSet, kBSpline, 42, 2.5, 1.0, 4096},             // h = 3: ((1 + 3 - 2.5) / 3)³ = 0.125
        {kFavourClear, kCubicConvolution, 42, 5.0, 1.0, 1},     // s - 1 > h
        {kFavourSet, kBilinear, 0, 1.0, 1.0, 32768},            // cosine ramp at s = 1: 0.34 + 0.5 + 0.16
        {kFavourSet, kBilinear, 0, 2.0, 1.0, 0 + 1},            // 0.34 - 0.5 + 0.16 = 0 (about): 1
    };
    for (const ThresholdCase &c : cases) {
        EXPECT_EQ(pixelCorrectionThreshold(c.morphology, c.kernel, c.ramp, c.sx, c.sy), c.expected)
            << c.morphology << " " << c.kernel << " " << c.ramp << " " << c.sx;
    }
}

// --- Quarter turns and mirrors ---------------------------------------------------

struct QuarterCase {
    const char *name;
    int32_t code;
    int64_t width, height;
    Samples expected;
};

class QuarterTurns : public testing::TestWithParam<QuarterCase> {};

// The 3 x 2 picture (1, 2, 3) over (4, 5, 6).
TEST_P(QuarterTurns, Of3x2Image) {
    const QuarterCase &c = GetParam();
    for (bool boolean : {false, true}) {
        test::ScopedEnvironment env;
        Samples picture = {1, 2, 3, 4, 5, 6};
        Samples expected = c.expected;
        if (boolean) {
            // Bits: the same layout with only the value 2 and 6 set.
            for (uint8_t &v : picture) v = v == 2 || v == 6;
            for (uint8_t &v : expected) v = v == 2 || v == 6;
        }
        DataObject *from = makeImage(env, 3, 2, 1, boolean, picture);
        DataObject *to = filledImage(env, c.width, c.height, 1, boolean, 0);
        ASSERT_EQ(rotateQuarter(env, from, to, c.code), kOk);
        EXPECT_EQ(samplesOf(env, to), expected) << (boolean ? "boolean" : "8-bit");
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllCodes, QuarterTurns,
    testing::Values(QuarterCase{"CounterClockwise", kQuarterCounterClockwise, 2, 3, {3, 6, 2, 5, 1, 4}},
                    QuarterCase{"Clockwise", kQuarterClockwise, 2, 3, {4, 1, 5, 2, 6, 3}},
                    QuarterCase{"HalfTurn", kHalfTurn, 3, 2, {6, 5, 4, 3, 2, 1}},
                    QuarterCase{"MirrorLeftRight", kMirrorLeftRight, 3, 2, {3, 2, 1, 6, 5, 4}},
                    QuarterCase{"MirrorTopBottom", kMirrorTopBottom, 3, 2, {4, 5, 6, 1, 2, 3}},
                    // Other sizes: top-left placement, cut or surrounded.
                    QuarterCase{"ClockwiseIntoWiderCanvas", kQuarterClockwise, 3, 3, {4, 1, 0, 5, 2, 0, 6, 3, 0}},
                    QuarterCase{"HalfTurnCut", kHalfTurn, 2, 1, {6, 5}}),
    [](const testing::TestParamInfo<QuarterCase> &info) { return std::string(info.param.name); });

TEST(QuarterTurn, OtherCodesDoNothing) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 3, 2, 1, false, {1, 2, 3, 4, 5, 6});
    DataObject *to = filledImage(env, 3, 2, 1, false, 9);
    EXPECT_EQ(rotateQuarter(env, from, to, 4), kOk);
    EXPECT_EQ(samplesOf(env, to), Samples(6, 9));
}

TEST(QuarterTurn, MismatchedTypesGive10) {
    test::ScopedEnvironment env;
    DataObject *from = filledImage(env, 3, 2, 1, false, 1);
    DataObject *to = filledImage(env, 2, 3, 1, true, 0);
    EXPECT_EQ(rotateQuarter(env, from, to, kHalfTurn), kMismatchDataType);
}

TEST(QuarterTurn, MatchPointsPlaceTheTurnedPicture) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 3, 2, 1, false, {1, 2, 3, 4, 5, 6});
    DataObject *to = filledImage(env, 4, 3, 1, false, 0);
    to->put(Attr::xMatchPoint, 1);
    to->put(Attr::yMatchPoint, 1);
    setEnvAttr(env, EnvAttr::matchPointState, 1);
    ASSERT_EQ(rotateQuarter(env, from, to, kMirrorTopBottom), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 0, 0, 0, 0, 4, 5, 6, 0, 1, 2, 3}));
}

TEST(QuarterTurn, LargeTurnsMatchTheDefinition) {
    test::ScopedEnvironment env;
    const int64_t w = 77, h = 45;
    const Samples picture = randomSamples(static_cast<size_t>(w * h * 3), 3);
    DataObject *from = makeImage(env, w, h, 3, false, picture);
    for (int32_t code : {kQuarterClockwise, kQuarterCounterClockwise, kHalfTurn, kMirrorLeftRight}) {
        const bool quarter = code == kQuarterClockwise || code == kQuarterCounterClockwise;
        const int64_t dw = quarter ? h : w, dh = quarter ? w : h;
        DataObject *to = filledImage(env, dw, dh, 3, false, 0);
        ASSERT_EQ(rotateQuarter(env, from, to, code), kOk);
        const Samples out = samplesOf(env, to);
        for (int64_t b = 0; b < 3; ++b) {
            for (int64_t r = 0; r < dh; ++r) {
                for (int64_t c = 0; c < dw; ++c) {
                    int64_t sx, sy;
                    switch (code) {
                    case kQuarterClockwise: sx = r, sy = h - 1 - c; break;
                    case kQuarterCounterClockwise: sx = w - 1 - r, sy = c; break;
                    case kHalfTurn: sx = w - 1 - c, sy = h - 1 - r; break;
                    default: sx = w - 1 - c, sy = r; break;
                    }
                    ASSERT_EQ(out[(b * dh + r) * dw + c], picture[(b * h + sy) * w + sx]) << code;
                }
            }
        }
    }
}

// --- Warps -----------------------------------------------------------------------

int warpWith(Environment *env, int32_t kernel, DataObject *from, DataObject *to, std::initializer_list<double> p,
             std::initializer_list<double> q) {
    double xRow[16] = {}, yRow[16] = {};
    std::copy(p.begin(), p.end(), xRow);
    std::copy(q.begin(), q.end(), yRow);
    setEnvAttr(env, EnvAttr::interpolation, kernel);
    return warpAffine(env, from, to, xRow, yRow);
}

TEST(Warp, NearestTruncatesAndLeavesOutsidePixels) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 3, 2, 1, false, {1, 2, 3, 4, 5, 6});
    DataObject *to = filledImage(env, 4, 2, 1, false, 0xEE);
    // sx = x - 0.5: -0.5 truncates to pixel 0; x = 3 gives 2.5 (pixel 2).
    ASSERT_EQ(warpWith(env, kNearest, from, to, {-0.5, 1, 0}, {0, 0, 1}), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{1, 1, 2, 3, 4, 4, 5, 6}));
    DataObject *shifted = filledImage(env, 4, 2, 1, false, 0xEE);
    ASSERT_EQ(warpWith(env, kNearest, from, shifted, {-1, 1, 0}, {0, 0, 1}), kOk);  // x = 0 samples -1: outside
    EXPECT_EQ(samplesOf(env, shifted), (Samples{0xEE, 1, 2, 3, 0xEE, 4, 5, 6}));
}

TEST(Warp, BilinearWeightsAndClampedNeighbours) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 2, 2, 1, false, {0, 200, 100, 255});
    DataObject *to = filledImage(env, 2, 2, 1, false, 0xEE);
    ASSERT_EQ(warpWith(env, kBilinear, from, to, {0.5, 1, 0}, {0.25, 0, 1}), kOk);
    // (0, 0): sx 0.5, sy 0.25: weights x 128/128, y 192/64.
    const int v00 = (0 * 128 * 192 + 200 * 128 * 192 + 100 * 128 * 64 + 255 * 128 * 64 + 32768) >> 16;
    // (1, 0): sx 1.5 (right neighbour clamped to column 1).
    const int v10 = (200 * 128 * 192 + 200 * 128 * 192 + 255 * 128 * 64 + 255 * 128 * 64 + 32768) >> 16;
    // Row 1: sy 1.25, lower neighbour clamped.
    const int v01 = (100 * 128 * 192 + 255 * 128 * 192 + 100 * 128 * 64 + 255 * 128 * 64 + 32768) >> 16;
    const int v11 = (255 * 256 * 256 + 32768) >> 16;
    EXPECT_EQ(samplesOf(env, to), (Samples{uint8_t(v00), uint8_t(v10), uint8_t(v01), uint8_t(v11)}));
}

TEST(Warp, BilinearBooleanHasNoCorrection) {
    test::ScopedEnvironment env;
    DataObject *from = makeImage(env, 2, 1, 1, true, {1, 0});
    DataObject *to = filledImage(env, 3, 1, 1, true, 0);
    // sx = 0.25, 0.5, 0.75: 1 while the weight of pixel 0 (192, 128, 64) × 256 reaches 32768.
    ASSERT_EQ(warpWith(env, kBilinear, from, to, {0.25, 0.25, 0}, {0, 0, 1}), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{1, 1, 0}));
}

TEST(Warp, RefusesCubicKernels) {
    test::ScopedEnvironment env;
    DataObject *from = filledImage(env, 2, 2, 1, false, 1);
    DataObject *to = filledImage(env, 2, 2, 1, false, 1);
    EXPECT_EQ(warpWith(env, kBSpline, from, to, {0, 1, 0}, {0, 0, 1}), kNonPermissibleOption);
    EXPECT_EQ(warpWith(env, 193, from, to, {0, 1, 0}, {0, 0, 1}), kNonPermissibleOption);
}

TEST(Warp, PolynomialTermsFollowTheMonomialOrder) {
    test::ScopedEnvironment env;
    Samples ramp(16);
    for (int i = 0; i < 16; ++i) ramp[i] = static_cast<uint8_t>(i * 10);
    DataObject *from = makeImage(env, 16, 1, 1, false, ramp);
    DataObject *to = filledImage(env, 5, 1, 1, false, 0xEE);
    // sx = x² (term 3): 0, 1, 4, 9, 16 (outside).
    ASSERT_EQ(warpWith(env, kNearest, from, to, {0, 0, 0, 1}, {0, 0, 1}), kOk);
    EXPECT_EQ(samplesOf(env, to), (Samples{0, 10, 40, 90, 0xEE}));
    DataObject *cubic = filledImage(env, 3, 1, 1, false, 0xEE);
    // sx = x³ / 2 (term 6): 0, 0.5, 4.
    ASSERT_EQ(warpWith(env, kNearest, from, cubic, {0, 0, 0, 0, 0, 0, 0.5}, {0, 0, 1}), kOk);
    EXPECT_EQ(samplesOf(env, cubic), (Samples{0, 0, 40}));
}

TEST(Warp, RotateAboutByZeroIsTheIdentity) {
    test::ScopedEnvironment env;
    const Samples picture = randomSamples(8 * 6 * 3, 4);
    DataObject *from = makeImage(env, 8, 6, 3, false, picture);
    for (int32_t kernel : {kNearest, kBilinear}) {
        DataObject *to = filledImage(env, 8, 6, 3, false, 0);
        setEnvAttr(env, EnvAttr::interpolation, kernel);
        ASSERT_EQ(rotateAbout(env, from, to, 4, 3, 0.0), kOk);
        EXPECT_EQ(samplesOf(env, to), picture) << kernel;
    }
}

TEST(Warp, RotateAboutAQuarterTurnsCounterClockwise) {
    test::ScopedEnvironment env;
    // A bright pixel right of the centre ends above it.  The centre
    // (2.25, 2) keeps every source position a quarter away from a pixel
    // edge, so the rounding of cos(π/2) cannot move a truncation.
    Samples picture(25, 0);
    for (int i = 0; i < 25; ++i) picture[i] = static_cast<uint8_t>(i);
    DataObject *from = makeImage(env, 5, 5, 1, false, picture);
    DataObject *to = filledImage(env, 5, 5, 1, false, 0xEE);
    setEnvAttr(env, EnvAttr::interpolation, kNearest);
    ASSERT_EQ(rotateAbout(env, from, to, 2.25, 2.0, 3.141592653589793 / 2), kOk);
    // (x, y) samples (4.25 - y, x - 0.25).
    Samples expected(25);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) expected[y * 5 + x] = picture[(x == 0 ? 0 : x - 1) * 5 + (4 - y)];
    }
    EXPECT_EQ(samplesOf(env, to), expected);
    EXPECT_EQ(samplesOf(env, to)[0 * 5 + 3], picture[2 * 5 + 4]);  // (4, 2) went to (3, 0)
}

TEST(Warp, RotationsMatchTheFormulaSampleBySample) {
    test::ScopedEnvironment env;
    const int64_t w = 67, h = 41;
    Samples picture = randomSamples(static_cast<size_t>(w * h * 3), 10);
    for (bool boolean : {false, true}) {
        if (boolean) {
            for (uint8_t &v : picture) v &= 1;
        }
        DataObject *from = makeImage(env, w, h, 3, boolean, picture);
        for (int32_t kernel : {kNearest, kBilinear}) {
            for (double angle : {0.3, -2.0, 1.0}) {
                DataObject *to = filledImage(env, w + 9, h + 5, 3, boolean, 0xEE & (boolean ? 1 : 0xFF));
                setEnvAttr(env, EnvAttr::interpolation, kernel);
                const double cx = 30, cy = 20;
                ASSERT_EQ(rotateAbout(env, from, to, cx, cy, angle), kOk);
                const double c = std::cos(angle), s = std::sin(angle);
                const double p[3] = {cx - c * cx + s * cy, c, -s}, q[3] = {cy - s * cx - c * cy, s, c};
                const int64_t dw = w + 9, dh = h + 5;
                Samples expected(static_cast<size_t>(dw * dh * 3), 0xEE & (boolean ? 1 : 0xFF));
                for (int64_t b = 0; b < 3; ++b) {
                    for (int64_t y = 0; y < dh; ++y) {
                        for (int64_t x = 0; x < dw; ++x) {
                            const double sx = (p[0] + p[1] * x) + p[2] * y, sy = (q[0] + q[1] * x) + q[2] * y;
                            if (!(sx > -1 && sx < w && sy > -1 && sy < h)) continue;
                            const int64_t ix = static_cast<int64_t>(sx), iy = static_cast<int64_t>(sy);
                            auto at = [&](int64_t xx, int64_t yy) -> int32_t {
                                return picture[static_cast<size_t>((b * h + std::min(yy, h - 1)) * w + std::min(xx, w - 1))];
                            };
                            uint8_t v;
                            if (kernel == kNearest) {
                                v = static_cast<uint8_t>(at(ix, iy));
                            } else {
                                const double fx = sx > 0 ? sx - ix : 0, fy = sy > 0 ? sy - iy : 0;
                                const int32_t wx[2] = {int32_t((1 - fx) * 256), int32_t(fx * 256)};
                                const int32_t wy[2] = {int32_t((1 - fy) * 256), int32_t(fy * 256)};
                                int32_t sum = 0;
                                for (int r = 0; r < 2; ++r) {
                                    for (int k = 0; k < 2; ++k) {
                                        const int32_t px = at(ix + k, iy + r);
                                        sum += boolean ? (px != 0 ? wx[k] * wy[r] : 0) : px * wx[k] * wy[r];
                                    }
                                }
                                v = boolean ? uint8_t(sum >= 32768) : static_cast<uint8_t>((sum + 32768) >> 16);
                            }
                            expected[static_cast<size_t>((b * dh + y) * dw + x)] = v;
                        }
                    }
                }
                EXPECT_EQ(samplesOf(env, to), expected) << kernel << " " << angle << " " << boolean;
            }
        }
    }
}

// --- SIMD variants ---------------------------------------------------------------

TEST(GeometryKernels, SimdMatchesScalarOnRandomRows) {
    const ResizeKernels *simd = avx2ResizeKernels();
    if (simd == nullptr || !__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 variant";
    const ResizeKernels &scalar = scalarResizeKernels();
    std::mt19937 random(5);
    for (int32_t kernel : {kBilinear, kBSpline, kCubicConvolution}) {
        for (int64_t sourceWidth : {1, 3, 17, 64, 301, 1000}) {
            for (int64_t n : {1, 7, 8, 33, 250, 640, 2001}) {
                ResizeAxis axis;
                buildAxis(kernel, sourceWidth, 0, n, 0, n, sourceWidth, &axis);
                const int slot = axis.taps == 2 ? 0 : 1;
                const Samples row = randomSamples(static_cast<size_t>(sourceWidth), random());
                std::vector<int32_t> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
                scalar.horizontal[slot](row.data(), sourceWidth, axis.index.data(), axis.weight.data(), n, a.data());
                simd->horizontal[slot](row.data(), sourceWidth, axis.index.data(), axis.weight.data(), n, b.data());
                ASSERT_EQ(a, b) << kernel << " " << sourceWidth << " " << n;
                // Nearest neighbour on the same sizes.
                ResizeAxis nearest;
                buildAxis(kNearest, sourceWidth, 0, n, 0, n, sourceWidth, &nearest);
                Samples gatheredA(static_cast<size_t>(n)), gatheredB(static_cast<size_t>(n));
                scalar.nearest(row.data(), sourceWidth, nearest.index.data(), n, gatheredA.data());
                simd->nearest(row.data(), sourceWidth, nearest.index.data(), n, gatheredB.data());
                ASSERT_EQ(gatheredA, gatheredB) << sourceWidth << " " << n;
                // Vertical: rows of horizontal sums, the weights of a row position.
                std::vector<std::vector<int32_t>> sums(4, std::vector<int32_t>(static_cast<size_t>(n)));
                const int32_t *rows[4];
                for (int t = 0; t < 4; ++t) {
                    for (int32_t &v : sums[t]) v = static_cast<int32_t>(random() % 90000) - 8000;
                    rows[t] = sums[t].data();
                }
                Samples outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
                scalar.vertical[slot](rows, axis.weight.data(), n, outA.data());
                simd->vertical[slot](rows, axis.weight.data(), n, outB.data());
                ASSERT_EQ(outA, outB) << kernel << " " << n;
            }
        }
    }
}

TEST(GeometryKernels, SimdQuarterTurnsMatchScalar) {
    const QuarterKernels *simd = avx2QuarterKernels();
    if (simd == nullptr || !__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 variant";
    const QuarterKernels &scalar = scalarQuarterKernels();
    for (int64_t w : {1, 15, 16, 33, 70}) {
        for (int64_t h : {1, 16, 31, 50}) {
            const Samples source = randomSamples(static_cast<size_t>(w * h), static_cast<uint32_t>(w * 100 + h));
            // Into a canvas offset by (2, 1), cut at the right.
            const int64_t dw = h + 1, dh = w + 3;
            for (int clockwise = 0; clockwise < 2; ++clockwise) {
                Samples a(static_cast<size_t>(dw * dh), 7), b = a;
                QuarterBlock q{source.data(), w, h, a.data(), dw, 2, dw, 1, std::min(dh, w + 1), 2, 1};
                (clockwise ? scalar.clockwise : scalar.counterClockwise)(q);
                q.destination = b.data();
                (clockwise ? simd->clockwise : simd->counterClockwise)(q);
                ASSERT_EQ(a, b) << w << "x" << h << " " << clockwise;
            }
            Samples a(static_cast<size_t>(w)), b(static_cast<size_t>(w));
            scalar.reverse(source.data() + w - 1, a.data(), w);
            simd->reverse(source.data() + w - 1, b.data(), w);
            ASSERT_EQ(a, b);
        }
    }
}

TEST(GeometryKernels, SimdWarpMatchesScalar) {
    const WarpKernels *simd = avx2WarpKernels();
    if (simd == nullptr || !__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 variant";
    const WarpKernels &scalar = scalarWarpKernels();
    const int64_t sw = 37, sh = 23, n = 101;
    const Samples picture = randomSamples(static_cast<size_t>(sw * sh * 3), 6);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-3.2, 3.2);
    for (int round = 0; round < 40; ++round) {
        for (int mode = 0; mode < 3; ++mode) {  // nearest, bilinear, bilinear boolean
            Samples source = picture;
            if (mode == 2) {
                for (uint8_t &v : source) v &= 1;
            }
            const double theta = angle(random), c = std::cos(theta), s = std::sin(theta);
            std::vector<double> cx(static_cast<size_t>(n)), cy(static_cast<size_t>(n));
            for (int64_t x = 0; x < n; ++x) {
                cx[x] = 18 - c * 50 + c * static_cast<double>(x) * 0.5;
                cy[x] = 11 - s * 50 + s * static_cast<double>(x) * 0.5;
            }
            Samples a(static_cast<size_t>(n * 3), 0xEE), b = a;
            WarpRow row;
            row.bands = 3;
            row.sourceWidth = sw;
            row.sourceHeight = sh;
            row.count = n;
            row.columnX = cx.data();
            row.columnY = cy.data();
            row.rowX = -s * (round - 20) * 0.7;
            row.rowY = c * (round - 20) * 0.7;
            row.boolean = mode == 2;
            row.bilinear = mode != 0;
            for (int band = 0; band < 3; ++band) row.source[band] = source.data() + band * sw * sh;
            for (int band = 0; band < 3; ++band) row.destination[band] = a.data() + band * n;
            scalar.row(row);
            for (int band = 0; band < 3; ++band) row.destination[band] = b.data() + band * n;
            simd->row(row);
            ASSERT_EQ(a, b) << round << " " << mode;
        }
    }
}

}  // namespace
}  // namespace orvo
