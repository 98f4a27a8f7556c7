// The shared pieces of the processing exports: aligned sample copies, fill
// levels, regions and whole-plane access.
#include <gtest/gtest.h>

#include <vector>

#include "core/env/codes.h"
#include "core/env/palette.h"
#include "core/env/samples.h"
#include "core/process/frame.h"
#include "core/process/planes.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::ScopedEnvironment;

DataObject *makeImage(Environment *env, int32_t type, int32_t width, int32_t height, int32_t bands,
                      int32_t repository, const std::vector<uint8_t> &samples) {
    const CmiAttribute list[] = {{"dataType", type},      {"xDimension", width},     {"yDimension", height},
                                 {"bDimension", bands},   {"repository", repository}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    if (image != nullptr && !samples.empty() && importSamples(env, samples.data(), image, {}) != kOk) return nullptr;
    return image;
}

std::vector<uint8_t> samplesOf(Environment *env, DataObject *image) {
    uint64_t bytes = 0;
    dataSize(env, image, &bytes);
    std::vector<uint8_t> out(bytes);
    EXPECT_EQ(exportSamples(env, image, out.data(), {}), kOk);
    return out;
}

struct PasteCase {
    const char *name;
    int32_t repository;
    int64_t x, y;
    std::vector<uint8_t> expected;  // 4 x 3 destination after pasting 2 x 2 {1, 2, 3, 4}
};

class Paste : public testing::TestWithParam<PasteCase> {};

TEST_P(Paste, WritesOnlyTheOverlapAtTheMatchPoint) {
    const PasteCase &c = GetParam();
    ScopedEnvironment env;
    DataObject *image = makeImage(env, code::kNonnegativeInteger, 4, 3, 1, c.repository, std::vector<uint8_t>(12, 9));
    DataObject *part = makeImage(env, code::kNonnegativeInteger, 2, 2, 1, c.repository, {1, 2, 3, 4});
    ASSERT_NE(image, nullptr);
    ASSERT_NE(part, nullptr);
    ASSERT_EQ(pasteRegion(env, part, image, c.x, c.y), kOk);
    EXPECT_EQ(samplesOf(env, image), c.expected);
    EXPECT_EQ(envAttr(env, EnvAttr::matchPointState), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, Paste,
    testing::Values(PasteCase{"inside_memory", code::kWorkSpace, 1, 1, {9, 9, 9, 9, 9, 1, 2, 9, 9, 3, 4, 9}},
                    PasteCase{"inside_file", code::kFile, 1, 1, {9, 9, 9, 9, 9, 1, 2, 9, 9, 3, 4, 9}},
                    PasteCase{"bottom_right_corner", code::kWorkSpace, 3, 2, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 1}},
                    PasteCase{"before_the_origin_file", code::kFile, -1, -1, {4, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
                    PasteCase{"outside", code::kWorkSpace, 4, 0, std::vector<uint8_t>(12, 9)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Extract, CopiesTheRectangleAndRefusesAnEmptyOne) {
    ScopedEnvironment env;
    std::vector<uint8_t> samples(12);
    for (int i = 0; i < 12; ++i) samples[i] = static_cast<uint8_t>(i);
    DataObject *image = makeImage(env, code::kNonnegativeInteger, 4, 3, 1, code::kWorkSpace, samples);
    DataObject *part = nullptr;
    ASSERT_EQ(extractRegion(env, image, Box{1, 1, 2, 2}, &part), kOk);
    EXPECT_EQ(part->get(Attr::xDimension), 2);
    EXPECT_EQ(samplesOf(env, part), (std::vector<uint8_t>{5, 6, 9, 10}));
    EXPECT_EQ(extractRegion(env, image, Box{1, 1, 0, 2}, &part), kOutOfRange);
}

TEST(CopySamplesWiden, BitmapBecomesZeroAnd255) {
    ScopedEnvironment env;
    DataObject *bits = makeImage(env, code::kBoolean, 5, 1, 1, code::kWorkSpace, {0b10110000});
    DataObject *bytes = makeImage(env, code::kNonnegativeInteger, 5, 1, 1, code::kWorkSpace, {});
    ASSERT_EQ(copySamples(env, bits, bytes), kOk);
    EXPECT_EQ(samplesOf(env, bytes), (std::vector<uint8_t>{255, 0, 255, 255, 0}));
    EXPECT_EQ(copySamples(env, bytes, bits), kMismatchDataType);
}

struct FillCase {
    const char *name;
    int32_t precision;
    std::vector<uint8_t> palette;  // red plane, green plane, blue plane
    int32_t expected;
};

class DefaultFill : public testing::TestWithParam<FillCase> {};

TEST_P(DefaultFill, IsTheLightestPaletteEntry) {
    const FillCase &c = GetParam();
    ScopedEnvironment env;
    const int32_t type = c.precision == 1 ? code::kBoolean : code::kNonnegativeInteger;
    const CmiAttribute list[] = {{"dataType", type}, {"dataPrecision", c.precision}, {"xDimension", 2},
                                 {"yDimension", 2}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    if (!c.palette.empty()) {
        PaletteData palette;
        const int32_t n = static_cast<int32_t>(c.palette.size() / 3);
        palette.resize(n);
        for (int32_t i = 0; i < n; ++i) {
            palette.red[i] = c.palette[i];
            palette.green[i] = c.palette[n + i];
            palette.blue[i] = c.palette[2 * n + i];
        }
        ASSERT_EQ(writePalette(env, image, palette), kOk);
    }
    EXPECT_EQ(defaultFillLevel(env, image), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Palettes, DefaultFill,
    testing::Values(FillCase{"no_palette", 8, {}, 255},
                    FillCase{"bitmap_white_black", 1, {255, 0, 255, 0, 255, 0}, 0},
                    FillCase{"bitmap_black_white", 1, {0, 255, 0, 255, 0, 255}, 255},
                    FillCase{"nibble_in_both_halves", 4, {0, 90, 200, 10, 0, 90, 0, 0, 0, 90, 0, 0}, 0x22},
                    FillCase{"equal_lightness_later_wins", 8, {255, 0, 0, 0, 255, 0, 0, 0, 255}, 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FillPlanes, SpreadsLevelsOverTheBitsOfAByte) {
    ScopedEnvironment env;
    const struct {
        int32_t type, precision, bands;
        int32_t levels[3];
        std::vector<uint8_t> expected;
    } cases[] = {
        {code::kBoolean, 1, 1, {1, -1, -1}, {255, 255}},
        {code::kBoolean, 1, 1, {0, -1, -1}, {0, 0}},
        {code::kNonnegativeInteger, 4, 1, {5, -1, -1}, {5, 5}},
        {code::kNonnegativeInteger, 4, 1, {0x55, -1, -1}, {5, 5}},
        {code::kNonnegativeInteger, 8, 3, {10, -1, 30}, {10, 10, 255, 255, 30, 30}},
    };
    for (const auto &c : cases) {
        const CmiAttribute list[] = {{"dataType", c.type}, {"dataPrecision", c.precision}, {"bDimension", c.bands}};
        DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
        ASSERT_NE(image, nullptr);
        std::vector<uint8_t> buffer(c.expected.size(), 7);
        fillPlanes(env, buffer.data(), buffer.size(), image, c.levels);
        EXPECT_EQ(buffer, c.expected) << "precision " << c.precision << " level " << c.levels[0];
    }
}

TEST(ReadRegion, DefaultsToTheWholeImageAndClips) {
    const CmiAttribute none[] = {{"sourceWidth", 10}};
    Region whole = readRegion(none, 1, 10, 8);
    EXPECT_FALSE(whole.given);
    EXPECT_EQ(whole.box.height, 8);
    const CmiAttribute beyond[] = {{"sourceXPoint", -2}, {"sourceYPoint", 6}, {"sourceWidth", 5}, {"sourceHeight", 5}};
    Region clipped = readRegion(beyond, 4, 10, 8);
    EXPECT_TRUE(clipped.given);
    EXPECT_EQ(clipped.box.x, 0);
    EXPECT_EQ(clipped.box.y, 6);
    EXPECT_EQ(clipped.box.width, 3);
    EXPECT_EQ(clipped.box.height, 2);
    const CmiAttribute second[] = {{"source2XPoint", 1}};
    EXPECT_TRUE(readRegion(second, 1, 10, 8, true).given);
    EXPECT_FALSE(readRegion(second, 1, 10, 8).given);
}

TEST(Planes, BitmapsOfOddWidthRoundTripThroughFiles) {
    ScopedEnvironment env;
    // 5 x 2, rows packed across byte boundaries: 10110 01101
    DataObject *image = makeImage(env, code::kBoolean, 5, 2, 1, code::kFile, {0b10110011, 0b01000000});
    ASSERT_NE(image, nullptr);
    {
        Planes planes;
        ASSERT_EQ(planes.open(env, image, true), kOk);
        EXPECT_EQ(std::vector<uint8_t>(planes.plane(0), planes.plane(0) + 10),
                  (std::vector<uint8_t>{1, 0, 1, 1, 0, 0, 1, 1, 0, 1}));
        planes.row(0, 1)[0] = 1;
        planes.row(0, 1)[4] = 0;
        ASSERT_EQ(planes.close(), kOk);
    }
    EXPECT_EQ(samplesOf(env, image), (std::vector<uint8_t>{0b10110111, 0b00000000}));
}

}  // namespace
}  // namespace orvo
