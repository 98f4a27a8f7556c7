// The point operators on image objects made in code.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/env/codes.h"
#include "core/env/samples.h"
#include "core/process/point.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::ScopedEnvironment;

// An image of `bands` planes of `width` x `height` samples, filled from
// `samples` (band after band) when given.
DataObject *makeImage(Environment *env, int32_t width, int32_t height, int32_t bands,
                      const std::vector<uint8_t> &samples = {}, int32_t dataType = code::kNonnegativeInteger) {
    const CmiAttribute list[] = {{"repository", code::kWorkSpace}, {"dataType", dataType},
                                 {"dataPrecision", dataType == code::kBoolean ? 1 : 8}, {"xDimension", width},
                                 {"yDimension", height}, {"bDimension", bands}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    if (image != nullptr && !samples.empty()) EXPECT_EQ(importSamples(env, samples.data(), image, {}), kOk);
    return image;
}

std::vector<uint8_t> samplesOf(Environment *env, DataObject *image) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(test::readAllSamples(env, image, &bytes), kOk);
    return bytes;
}

std::vector<uint8_t> ramp() {
    std::vector<uint8_t> v(256);
    for (int i = 0; i < 256; ++i) v[i] = static_cast<uint8_t>(i);
    return v;
}

TEST(BrightnessContrastTable, NeutralIsIdentityInsideWithRepeatedEnds) {
    uint8_t table[256];
    brightnessContrastTable(0.0, 0.0, table);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[255], 254);
    for (int i = 1; i <= 254; ++i) EXPECT_EQ(table[i], i) << i;
}

TEST(BrightnessContrastTable, LowestContrastIsFlatAtThePivot) {
    struct Case {
        double brightness;
        int level;  // truncate((0.5 + 0.2 b) x 255)
    };
    for (const Case &c : {Case{0.0, 127}, Case{1.0, 178}, Case{-1.0, 76}}) {
        uint8_t table[256];
        brightnessContrastTable(c.brightness, -1.0, table);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], c.level) << c.brightness << " " << i;
    }
}

TEST(GammaTable, OneIsIdentityAndTwoLiftsTheMiddle) {
    uint8_t identity[256], two[256];
    gammaCorrectionTable(1.0, identity);
    gammaCorrectionTable(1.0 / 2.0, two);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i) << i;
    EXPECT_EQ(two[0], 0);
    EXPECT_EQ(two[64], 128);
    EXPECT_EQ(two[255], 255);
}

TEST(ColourBalanceOffset, RoundsHalvesUpAndKeepsTheSign) {
    const int32_t cases[][2] = {{100, 255}, {50, 128}, {10, 26}, {1, 3}, {-30, -77}, {0, 0}, {-100, -255},
                                {1000, 255}, {INT32_MIN, -255}};
    for (const auto &c : cases) EXPECT_EQ(colourBalanceOffset(c[0]), c[1]) << c[0];
}

class PointOperators : public testing::Test {
protected:
    ScopedEnvironment env_;
};

TEST_F(PointOperators, SolarizeFoldsTheUpperHalf) {
    DataObject *in = makeImage(env_, 4, 1, 1, {0, 127, 128, 255});
    DataObject *out = makeImage(env_, 4, 1, 1);
    ASSERT_EQ(solarize(env_, in, out), kOk);
    EXPECT_EQ(samplesOf(env_, out), (std::vector<uint8_t>{0, 127, 127, 0}));
}

TEST_F(PointOperators, InvertComplementsBytesAndBits) {
    DataObject *bytesIn = makeImage(env_, 3, 1, 1, {0, 100, 255});
    DataObject *bytesOut = makeImage(env_, 3, 1, 1);
    ASSERT_EQ(invertImage(env_, bytesIn, bytesOut), kOk);
    EXPECT_EQ(samplesOf(env_, bytesOut), (std::vector<uint8_t>{255, 155, 0}));

    // 10 bits: 1011001110 packed top bit first.
    DataObject *bitsIn = makeImage(env_, 10, 1, 1, {0xB3, 0x80}, code::kBoolean);
    DataObject *bitsOut = makeImage(env_, 10, 1, 1, {}, code::kBoolean);
    ASSERT_EQ(invertImage(env_, bitsIn, bitsOut), kOk);
    std::vector<uint8_t> bits = samplesOf(env_, bitsOut);
    ASSERT_EQ(bits.size(), 2u);
    EXPECT_EQ(bits[0], 0x4C);
    EXPECT_EQ(bits[1] & 0xC0, 0x40);
}

TEST_F(PointOperators, EveryOperatorRefusesOtherData) {
    DataObject *bits = makeImage(env_, 4, 1, 3, {}, code::kBoolean);
    DataObject *bytes = makeImage(env_, 4, 1, 3);
    DataObject *grey = makeImage(env_, 4, 1, 1);
    DataObject *greyOut = makeImage(env_, 4, 1, 1);
    EXPECT_EQ(invertImage(env_, bits, bytes), kMismatchDataType);
    EXPECT_EQ(solarize(env_, bits, bytes), kMismatchDataType);
    EXPECT_EQ(brightnessContrast(env_, bytes, bits, 0.0, 0.0), kMismatchDataType);
    EXPECT_EQ(gammaTable(env_, bits, bits, 1.0), kMismatchDataType);
    EXPECT_EQ(equalize(env_, bits, bytes), kMismatchDataType);
    EXPECT_EQ(colourBalance(env_, bits, bits, 0, 0, 0), kMismatchDataType);
    EXPECT_EQ(colourBalance(env_, grey, greyOut, 0, 0, 0), kMismatchDataType);
    EXPECT_EQ(hueSaturation(env_, grey, greyOut, 0, 0, 0), kMismatchDataType);
    EXPECT_EQ(equalizeHistogram(env_, grey, greyOut, 212, 0, 255), kOutOfRange);
}

TEST_F(PointOperators, ApplyTableTakesALookupTableObject) {
    std::vector<uint8_t> reversed(256);
    for (int i = 0; i < 256; ++i) reversed[i] = static_cast<uint8_t>(255 - i);
    DataObject *table = createObject(env_, nullptr, ObjectClass::LookupTable, nullptr);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(test::writeAllSamples(env_, table, reversed), kOk);
    DataObject *in = makeImage(env_, 16, 16, 1, ramp());
    DataObject *out = makeImage(env_, 16, 16, 1);
    ASSERT_EQ(applyTable(env_, in, out, table), kOk);
    EXPECT_EQ(samplesOf(env_, out), reversed);

    const CmiAttribute shortList[] = {{"xDimension", 16}};
    DataObject *shortTable = createObject(env_, nullptr, ObjectClass::LookupTable, nullptr, shortList);
    EXPECT_EQ(applyTable(env_, in, out, shortTable), kInsufficientSize);
}

TEST_F(PointOperators, MatchPointsShiftTheSharedRectangle) {
    DataObject *in = makeImage(env_, 3, 2, 1, {1, 2, 3, 4, 5, 6});
    DataObject *out = makeImage(env_, 3, 2, 1, {9, 9, 9, 9, 9, 9});
    setEnvAttr(env_, EnvAttr::matchPointState, 1);
    out->put(Attr::xMatchPoint, 1);
    ASSERT_EQ(invertImage(env_, in, out), kOk);
    EXPECT_EQ(samplesOf(env_, out), (std::vector<uint8_t>{9, 254, 253, 9, 251, 250}));
}

TEST_F(PointOperators, ColourBalanceAddsClampedOffsets) {
    DataObject *in = makeImage(env_, 1, 1, 3, {10, 20, 200});
    DataObject *out = makeImage(env_, 1, 1, 3);
    ASSERT_EQ(colourBalance(env_, in, out, 100, 0, -100), kOk);
    EXPECT_EQ(samplesOf(env_, out), (std::vector<uint8_t>{255, 20, 0}));
    ASSERT_EQ(colourBalance(env_, in, out, 10, -30, 1), kOk);
    EXPECT_EQ(samplesOf(env_, out), (std::vector<uint8_t>{36, 0, 203}));
}

TEST_F(PointOperators, HueSaturationAtRestKeepsEveryColour) {
    // Every red and green level against a spread of blue levels.
    const int32_t width = 256, height = 256;
    std::vector<uint8_t> samples(static_cast<size_t>(width) * height * 3);
    const size_t plane = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < plane; ++i) {
        samples[i] = static_cast<uint8_t>(i % 256);
        samples[plane + i] = static_cast<uint8_t>(i / 256);
        samples[2 * plane + i] = static_cast<uint8_t>((i * 7 + i / 256 * 13) % 256);
    }
    DataObject *in = makeImage(env_, width, height, 3, samples);
    DataObject *out = makeImage(env_, width, height, 3);
    ASSERT_EQ(hueSaturation(env_, in, out, 0, 0, 0), kOk);
    EXPECT_EQ(samplesOf(env_, out), samples);
}

TEST_F(PointOperators, HueSaturationCases) {
    struct Case {
        const char *name;
        int32_t hue, saturation, lightness;
        std::vector<uint8_t> in, out;  // one pixel R, G, B
    };
    const Case cases[] = {
        {"lightness_full_is_white", 0, 0, 100, {10, 128, 250}, {255, 255, 255}},
        {"lightness_lowest_is_black", 0, 0, -100, {10, 128, 250}, {0, 0, 0}},
        {"desaturated_is_grey", 0, -100, 0, {30, 60, 90}, {60, 60, 60}},
        {"grey_stays_grey_when_saturated", 0, 100, 0, {77, 77, 77}, {77, 77, 77}},
        {"half_turn_swaps_opponents", 180, 0, 0, {255, 0, 0}, {0, 170, 170}},
    };
    for (const Case &c : cases) {
        DataObject *in = makeImage(env_, 1, 1, 3, c.in);
        DataObject *out = makeImage(env_, 1, 1, 3);
        ASSERT_EQ(hueSaturation(env_, in, out, c.hue, c.saturation, c.lightness), kOk) << c.name;
        EXPECT_EQ(samplesOf(env_, out), c.out) << c.name;
    }
}

TEST_F(PointOperators, EqualizeCountsAllBandsTogether) {
    DataObject *flat = makeImage(env_, 5, 3, 1, std::vector<uint8_t>(15, 7));
    DataObject *flatOut = makeImage(env_, 5, 3, 1);
    ASSERT_EQ(equalize(env_, flat, flatOut), kOk);
    EXPECT_EQ(samplesOf(env_, flatOut), std::vector<uint8_t>(15, 255));

    // Two pixels, six samples: 0 twice, 100 three times, 200 once.
    DataObject *colour = makeImage(env_, 2, 1, 3, {0, 100, 100, 0, 100, 200});
    DataObject *colourOut = makeImage(env_, 2, 1, 3);
    ASSERT_EQ(equalize(env_, colour, colourOut), kOk);
    // F = 2/6, 5/6, 1: 85.5, 213, 255.5 truncated.
    EXPECT_EQ(samplesOf(env_, colourOut), (std::vector<uint8_t>{85, 213, 213, 85, 213, 255}));
}

}  // namespace
}  // namespace orvo
