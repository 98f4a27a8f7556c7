// Colour mode operators on small images built in code: exact luminance,
// threshold, Floyd-Steinberg, pattern dither, both quantizers and the
// object-level conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "core/env/codes.h"
#include "core/env/palette.h"
#include "core/process/colourmode.h"
#include "core/process/planes.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::ScopedEnvironment;

// An image of `bands` planes; `samples` band after band, rows top to bottom
// (boolean images take 0/1 bytes).  Empty samples: not written.
DataObject *makeImage(Environment *env, int64_t width, int64_t height, int32_t bands, int32_t precision,
                      const std::vector<uint8_t> &samples = {}, int32_t colourSpace = code::kRGB) {
    const bool boolean = precision == 1;
    const CmiAttribute list[] = {
        {"repository", code::kWorkSpace},
        {"xDimension", static_cast<intptr_t>(width)},
        {"yDimension", static_cast<intptr_t>(height)},
        {"bDimension", bands},
        {"dataType", boolean ? code::kBoolean : code::kNonnegativeInteger},
        {"dataPrecision", precision},
        {"colourSpace", colourSpace},
    };
    DataObject *image = createObject(env, "test", ObjectClass::GenericImage, nullptr, list);
    if (image == nullptr || samples.empty()) return image;
    Planes planes;
    EXPECT_EQ(planes.open(env, image, true), kOk);
    EXPECT_EQ(samples.size(), static_cast<size_t>(planes.planeBytes() * planes.bands()));
    std::copy(samples.begin(), samples.end(), planes.plane(0));
    EXPECT_EQ(planes.close(), kOk);
    return image;
}

std::vector<uint8_t> samplesOf(Environment *env, DataObject *image) {
    Planes planes;
    EXPECT_EQ(planes.open(env, image, false), kOk);
    std::vector<uint8_t> out(planes.plane(0), planes.plane(0) + planes.planeBytes() * planes.bands());
    EXPECT_EQ(planes.close(), kOk);
    return out;
}

// One RGB pixel per entry, planes R, G, B.
std::vector<uint8_t> planar(const std::vector<std::array<uint8_t, 3>> &pixels) {
    std::vector<uint8_t> out(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        for (size_t b = 0; b < 3; ++b) out[b * pixels.size() + i] = pixels[i][b];
    }
    return out;
}

PaletteData paletteOf(Environment *env, DataObject *image) {
    PaletteData palette;
    EXPECT_EQ(readPalette(env, image, &palette), kOk);
    return palette;
}

std::array<int, 3> entry(const PaletteData &p, int i) {
    return {p.red[static_cast<size_t>(i)], p.green[static_cast<size_t>(i)], p.blue[static_cast<size_t>(i)]};
}

struct LuminanceCase {
    int32_t colourSpace;
    std::array<uint8_t, 3> pixel;
    uint8_t grey;
};

TEST(ColourLuminance, IntegerWeightsByColourSpace) {
    const LuminanceCase cases[] = {
        {121, {255, 0, 0}, 76},   {121, {255, 255, 255}, 255}, {121, {0, 255, 0}, 150}, {121, {0, 0, 255}, 29},
        {121, {10, 20, 30}, 18},  {121, {0, 0, 0}, 0},         {118, {255, 0, 0}, 54},  {118, {0, 255, 0}, 182},
    };
    for (const LuminanceCase &c : cases) {
        ScopedEnvironment env;
        DataObject *rgb = makeImage(env, 1, 1, 3, 8, planar({c.pixel}), c.colourSpace);
        DataObject *grey = makeImage(env, 1, 1, 1, 8);
        ASSERT_EQ(toLuminance(env, rgb, grey), kOk);
        EXPECT_EQ(samplesOf(env, grey)[0], c.grey) << c.colourSpace << " " << int(c.pixel[0]);
    }
}

// Long rows go through the vector path: every value of every band, with a
// tail that is not a whole vector.
TEST(ColourLuminance, LongRowsMatchTheIntegerFormula) {
    ScopedEnvironment env;
    const int n = 256 + 7;
    std::vector<std::array<uint8_t, 3>> pixels(n);
    for (int i = 0; i < n; ++i) pixels[i] = {uint8_t(i), uint8_t(i * 37), uint8_t(255 - i)};
    DataObject *grey = makeImage(env, n, 1, 1, 8);
    ASSERT_EQ(toLuminance(env, makeImage(env, n, 1, 3, 8, planar(pixels)), grey), kOk);
    const std::vector<uint8_t> out = samplesOf(env, grey);
    for (int i = 0; i < n; ++i) {
        const auto &p = pixels[static_cast<size_t>(i)];
        EXPECT_EQ(out[static_cast<size_t>(i)], (p[0] * 9794 + p[1] * 19222 + p[2] * 3751 + 16384) >> 15) << i;
    }
}

TEST(ColourLuminance, RefusesUnknownColourSpaceAndOtherData) {
    ScopedEnvironment env;
    DataObject *grey = makeImage(env, 1, 1, 1, 8, {0});
    EXPECT_EQ(toLuminance(env, makeImage(env, 1, 1, 3, 8, planar({{1, 2, 3}}), 219), grey), kNonPermissibleOption);
    EXPECT_EQ(toLuminance(env, makeImage(env, 1, 1, 3, 8, planar({{1, 2, 3}})), makeImage(env, 8, 1, 1, 1)),
              kMismatchDataType);
}

TEST(ColourThreshold, BelowTheLevelIsLow) {
    struct Case {
        int32_t level;
        std::vector<uint8_t> bits;
    };
    const std::vector<uint8_t> values = {0, 127, 128, 254, 255};
    const Case cases[] = {{128, {0, 0, 1, 1, 1}}, {0, {1, 1, 1, 1, 1}}, {255, {0, 0, 0, 0, 1}}};
    for (const Case &c : cases) {
        ScopedEnvironment env;
        DataObject *bits = makeImage(env, 5, 1, 1, 1);
        ASSERT_EQ(thresholdImage(env, makeImage(env, 5, 1, 1, 8, values), bits, c.level, 0, 1), kOk);
        EXPECT_EQ(samplesOf(env, bits), c.bits) << c.level;
    }
}

TEST(ColourErrorDiffusion, FlatGreyAlternatesRowByRow) {
    ScopedEnvironment env;
    DataObject *bits = makeImage(env, 8, 2, 1, 1);
    ASSERT_EQ(errorDiffuse(env, makeImage(env, 8, 2, 1, 8, std::vector<uint8_t>(16, 128)), bits, nullptr), kOk);
    EXPECT_EQ(samplesOf(env, bits),
              (std::vector<uint8_t>{0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(ColourErrorDiffusion, LevelledDestinationRoundsToSteps) {
    ScopedEnvironment env;
    Levels levels;
    levels.level[0] = 3;  // steps of 127
    DataObject *out = makeImage(env, 6, 2, 1, 8);
    ASSERT_EQ(errorDiffuse(env, makeImage(env, 6, 2, 1, 8, std::vector<uint8_t>(12, 100)), out, &levels), kOk);
    EXPECT_EQ(samplesOf(env, out),
              (std::vector<uint8_t>{127, 127, 127, 127, 127, 127, 127, 0, 127, 127, 0, 127}));
}

// An odd number of rows of varied values, bilevel and with four levels.
TEST(ColourErrorDiffusion, VariedRowsCarryTheirErrors) {
    const std::vector<uint8_t> grey = {17,  70,  123, 176, 229, 26,  79,  108, 161, 214, 11,
                                       64,  117, 170, 199, 252, 49,  102, 155, 208, 5};
    ScopedEnvironment env;
    DataObject *source = makeImage(env, 7, 3, 1, 8, grey);
    DataObject *bits = makeImage(env, 7, 3, 1, 1);
    ASSERT_EQ(errorDiffuse(env, source, bits, nullptr), kOk);
    EXPECT_EQ(samplesOf(env, bits),
              (std::vector<uint8_t>{0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 0}));
    Levels four;
    four.level[0] = 4;
    DataObject *levelled = makeImage(env, 7, 3, 1, 8);
    ASSERT_EQ(errorDiffuse(env, source, levelled, &four), kOk);
    EXPECT_EQ(samplesOf(env, levelled), (std::vector<uint8_t>{0,   85,  85, 170, 255, 0,   85,  85,  170, 255, 0,
                                                              85,  85,  170, 170, 255, 85, 85,  170, 170, 0}));
}

TEST(ColourErrorDiffusion, RefusesOtherMethodsAndFewLevels) {
    ScopedEnvironment env;
    DataObject *grey = makeImage(env, 2, 2, 1, 8, {1, 2, 3, 4});
    Levels one;
    one.level[0] = 1;
    EXPECT_EQ(errorDiffuse(env, grey, makeImage(env, 2, 2, 1, 8), &one), kOutOfRange);
    setEnvAttr(env, EnvAttr::errorDiffusion, 86);
    EXPECT_EQ(errorDiffuse(env, grey, makeImage(env, 2, 2, 1, 1), nullptr), kNonPermissibleOption);
}

TEST(ColourOrderedDither, PatternOfFlatGreys) {
    struct Case {
        uint8_t grey;
        std::vector<uint8_t> bits;  // 4 x 2
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {255, {1, 1, 1, 1, 1, 1, 1, 1}},
        {128, {1, 0, 1, 0, 0, 1, 0, 1}},  // set where the matrix entry is below 8
    };
    for (const Case &c : cases) {
        ScopedEnvironment env;
        DataObject *bits = makeImage(env, 4, 2, 1, 1);
        ASSERT_EQ(orderedDither(env, makeImage(env, 4, 2, 1, 8, std::vector<uint8_t>(8, c.grey)), bits, nullptr), kOk);
        EXPECT_EQ(samplesOf(env, bits), c.bits) << int(c.grey);
    }
}

TEST(ColourOrderedDither, LevelledDestinationStepsUpByTheMatrix) {
    ScopedEnvironment env;
    Levels levels;
    levels.level[0] = 2;  // q = 255: (v - 0) x 16 > D x 255
    DataObject *out = makeImage(env, 4, 1, 1, 8);
    ASSERT_EQ(orderedDither(env, makeImage(env, 4, 1, 1, 8, {100, 100, 100, 100}), out, &levels), kOk);
    // Row 0 of the matrix: 0 8 2 10; 1600 > 0, 2040, 510, 2550.
    EXPECT_EQ(samplesOf(env, out), (std::vector<uint8_t>{255, 0, 255, 0}));
}

TEST(ColourQuantize, UniformLevelsTruncate) {
    ScopedEnvironment env;
    setEnvAttr(env, EnvAttr::colourQuantization, kUniformQuantization);
    DataObject *rgb = makeImage(env, 4, 1, 3, 8, planar({{255, 255, 255}, {35, 0, 0}, {36, 0, 0}, {0, 36, 85}}));
    DataObject *indices = makeImage(env, 4, 1, 1, 8);
    ASSERT_EQ(writePalette(env, indices, PaletteData{}), kOk);
    Levels levels;
    levels.level[0] = 8, levels.level[1] = 8, levels.level[2] = 4;
    ASSERT_EQ(quantizeColours(env, rgb, indices, indices->lutObject(), levels), kOk);
    EXPECT_EQ(samplesOf(env, indices), (std::vector<uint8_t>{255, 0, 1, 8 + 64}));
    const PaletteData palette = paletteOf(env, indices);
    ASSERT_EQ(palette.entries, 256);
    EXPECT_EQ(entry(palette, 255), (std::array<int, 3>{252, 252, 255}));
    EXPECT_EQ(entry(palette, 1 + 8 * 2 + 64 * 1), (std::array<int, 3>{36, 72, 85}));
}

TEST(ColourQuantize, PopularityOfThreeCellsGivesTheirCentres) {
    ScopedEnvironment env;
    setEnvAttr(env, EnvAttr::colourQuantization, kPopularityQuantization);
    DataObject *rgb = makeImage(env, 3, 2, 3, 8,
                                planar({{0, 0, 0}, {100, 150, 200}, {255, 255, 255}, {1, 2, 3}, {110, 155, 205}, {250, 251, 252}}));
    DataObject *indices = makeImage(env, 3, 2, 1, 8);
    PaletteData black;
    black.resize(256);
    ASSERT_EQ(writePalette(env, indices, black), kOk);
    Levels levels;
    levels.level[0] = 8, levels.level[1] = 8, levels.level[2] = 4;
    ASSERT_EQ(quantizeColours(env, rgb, indices, indices->lutObject(), levels), kOk);
    EXPECT_EQ(samplesOf(env, indices), (std::vector<uint8_t>{0, 1, 2, 0, 1, 2}));
    const PaletteData palette = paletteOf(env, indices);
    ASSERT_EQ(palette.entries, 256);
    EXPECT_EQ(entry(palette, 0), (std::array<int, 3>{7, 7, 7}));
    EXPECT_EQ(entry(palette, 1), (std::array<int, 3>{103, 151, 199}));
    EXPECT_EQ(entry(palette, 2), (std::array<int, 3>{247, 247, 247}));
    for (int i = 3; i < 256; ++i) EXPECT_EQ(entry(palette, i), (std::array<int, 3>{0, 0, 0})) << i;
}

// Eight colours from ten populated cells of 52 levels: four walks with a
// falling threshold; the cell between two chosen ones is equally near both,
// so each of its pixels takes the entry nearer to itself.
TEST(ColourQuantize, PopularityWalksAndEqualCandidates) {
    struct Cell {
        std::array<uint8_t, 3> colour;
        int count;
    };
    const Cell cells[] = {{{10, 10, 10}, 100}, {{114, 10, 10}, 60}, {{10, 114, 10}, 40}, {{10, 10, 114}, 30},
                          {{114, 114, 10}, 20}, {{10, 114, 114}, 15}, {{114, 10, 114}, 10}, {{114, 114, 114}, 8},
                          {{218, 218, 218}, 5}, {{218, 10, 10}, 3},   {{60, 10, 10}, 1},    {{100, 10, 10}, 1}};
    std::vector<std::array<uint8_t, 3>> pixels;
    for (const Cell &cell : cells) pixels.insert(pixels.end(), static_cast<size_t>(cell.count), cell.colour);
    ScopedEnvironment env;
    setEnvAttr(env, EnvAttr::colourQuantization, kPopularityQuantization);
    const int64_t n = static_cast<int64_t>(pixels.size());
    DataObject *rgb = makeImage(env, n, 1, 3, 8, planar(pixels));
    DataObject *indices = makeImage(env, n, 1, 1, 8);
    PaletteData black;
    black.resize(256);
    ASSERT_EQ(writePalette(env, indices, black), kOk);
    Levels levels;  // 2 x 2 x 2 = 8 colours
    ASSERT_EQ(quantizeColours(env, rgb, indices, indices->lutObject(), levels), kOk);
    const PaletteData palette = paletteOf(env, indices);
    const std::array<int, 3> expected[] = {{25, 25, 25},  {129, 25, 25},  {25, 129, 25},  {129, 129, 25},
                                           {25, 25, 129}, {25, 129, 129}, {129, 25, 129}, {129, 129, 129}};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(entry(palette, i), expected[i]) << i;
    const std::vector<uint8_t> out = samplesOf(env, indices);
    EXPECT_EQ(out[static_cast<size_t>(n - 2)], 0);  // red 60: nearer 25
    EXPECT_EQ(out[static_cast<size_t>(n - 1)], 1);  // red 100: nearer 129
    EXPECT_EQ(out[static_cast<size_t>(n - 3)], 1);  // red 218 maps to the red entry
    EXPECT_EQ(out[static_cast<size_t>(n - 6)], 7);  // grey 218 to the lightest
}

TEST(ColourQuantize, RefusalsByCode) {
    struct Case {
        int32_t method;
        Levels levels;
        int expected;
    };
    Levels one;
    one.level[2] = 1;
    Levels tooMany;  // 512 colours for an 8-bit destination
    tooMany.level[0] = tooMany.level[1] = tooMany.level[2] = 8;
    const Case cases[] = {
        {kMedianCutQuantization, Levels{}, kNonPermissibleOption},
        {kUniformQuantization, one, kOutOfRange},
        {kPopularityQuantization, one, kOutOfRange},
        {kUniformQuantization, tooMany, kOutOfRange},
        {kPopularityQuantization, tooMany, kOutOfRange},
    };
    for (const Case &c : cases) {
        ScopedEnvironment env;
        setEnvAttr(env, EnvAttr::colourQuantization, c.method);
        DataObject *indices = makeImage(env, 1, 1, 1, 8);
        ASSERT_EQ(writePalette(env, indices, PaletteData{}), kOk);
        EXPECT_EQ(quantizeColours(env, makeImage(env, 1, 1, 3, 8, planar({{1, 2, 3}})), indices, indices->lutObject(),
                                  c.levels),
                  c.expected)
            << c.method;
    }
}

TEST(ColourExpand, PaletteColoursByIndex) {
    ScopedEnvironment env;
    DataObject *bits = makeImage(env, 3, 1, 1, 1, {0, 1, 1});
    PaletteData palette;
    palette.resize(2);
    palette.red = {10, 200};
    palette.green = {20, 210};
    palette.blue = {30, 220};
    ASSERT_EQ(writePalette(env, bits, palette), kOk);
    DataObject *rgb = makeImage(env, 3, 1, 3, 8);
    ASSERT_EQ(expandPalette(env, bits, rgb, bits->lutObject()), kOk);
    EXPECT_EQ(samplesOf(env, rgb), (std::vector<uint8_t>{10, 200, 200, 20, 210, 210, 30, 220, 220}));
}

// A 4 x 2 full-colour image to every mode, by the object-level entry with
// its defaults.
TEST(ColourConvert, FullColourToEveryMode) {
    struct Case {
        int32_t target;
        int32_t bands;
        int32_t precision;
        int32_t paletteEntries;
    };
    const Case cases[] = {{kModeBitmap, 1, 1, 2}, {kMode16, 1, 4, 16}, {kMode256, 1, 8, 256}, {kModeGray, 1, 8, 256}};
    const auto pixels = planar({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255},
                                {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    for (const Case &c : cases) {
        ScopedEnvironment env;
        DataObject *rgb = makeImage(env, 4, 2, 3, 8, pixels);
        DataObject *result = nullptr;
        ASSERT_EQ(convertColourMode(env, rgb, c.target, {}, &result), kOk) << c.target;
        ASSERT_NE(result, rgb);
        EXPECT_EQ(sourceModeOf(result), c.target == kModeGray ? kMode256 : c.target);
        EXPECT_EQ(result->get(Attr::bDimension), c.bands);
        EXPECT_EQ(result->get32(Attr::dataPrecision), c.precision);
        EXPECT_EQ(paletteOf(env, result).entries, c.paletteEntries);
        EXPECT_EQ(result->get(Attr::yDimension), 2);
        if (c.target == kModeGray) {
            EXPECT_EQ(samplesOf(env, result), (std::vector<uint8_t>{76, 150, 29, 255, 0, 76, 150, 29}));
        }
    }
    ScopedEnvironment env;
    DataObject *rgb = makeImage(env, 4, 2, 3, 8, pixels);
    DataObject *same = nullptr;
    ASSERT_EQ(convertColourMode(env, rgb, kModeRGB, {}, &same), kOk);
    EXPECT_EQ(same, rgb);
}

TEST(ColourConvert, OptionsChooseMethodAndLevels) {
    ScopedEnvironment env;
    DataObject *rgb = makeImage(env, 2, 1, 3, 8, planar({{127, 127, 127}, {128, 128, 128}}));
    DataObject *bits = nullptr;
    const CmiAttribute threshold[] = {{"modeMethod", kMethodThreshold}, {"modeValue", 128}};
    ASSERT_EQ(convertColourMode(env, rgb, kModeBitmap, threshold, &bits), kOk);
    EXPECT_EQ(bits->get(Attr::xDimension), 2);
    EXPECT_EQ(samplesOf(env, bits), (std::vector<uint8_t>{0, 1}));
    setEnvAttr(env, EnvAttr::byteBoundary, 256);  // rows of whole bytes asked for
    ASSERT_EQ(convertColourMode(env, rgb, kModeBitmap, threshold, &bits), kOk);
    EXPECT_EQ(bits->get(Attr::xDimension), 8);
    EXPECT_EQ(bits->get(Attr::widthByteBoundary), 2);
    EXPECT_EQ(samplesOf(env, bits)[0], 0);
    EXPECT_EQ(samplesOf(env, bits)[1], 1);
    setEnvAttr(env, EnvAttr::byteBoundary, 0);

    DataObject *indexed = nullptr;
    const CmiAttribute uniform[] = {{"modeMethod", kDitherNone}, {"colourQuantization", kQuantizeUniform},
                                    {"modeLevel", 2}, {"modeLevel2", 2}, {"modeLevel3", 2}};
    ASSERT_EQ(convertColourMode(env, rgb, kMode16, uniform, &indexed), kOk);
    EXPECT_EQ(samplesOf(env, indexed), (std::vector<uint8_t>{0, 0}));  // 127 / 255 and 128 / 255
    EXPECT_EQ(entry(paletteOf(env, indexed), 7), (std::array<int, 3>{255, 255, 255}));

    const CmiAttribute medianCut[] = {{"colourQuantization", kQuantizeMedianCut}};
    EXPECT_EQ(convertColourMode(env, rgb, kMode256, medianCut, &indexed), kNonPermissibleOption);
}

TEST(ColourConvert, BitmapToPaletteAndFullColour) {
    ScopedEnvironment env;
    // A bitmap read with rows widened to 8: real width 3.
    DataObject *bits = makeImage(env, 8, 1, 1, 1, {1, 0, 1, 0, 0, 0, 0, 0});
    bits->put(Attr::widthByteBoundary, 3);
    PaletteData blackWhite;
    blackWhite.resize(2);
    blackWhite.red[1] = blackWhite.green[1] = blackWhite.blue[1] = 255;
    ASSERT_EQ(writePalette(env, bits, blackWhite), kOk);

    DataObject *indexed = nullptr;
    ASSERT_EQ(convertColourMode(env, bits, kMode256, {}, &indexed), kOk);
    EXPECT_EQ(samplesOf(env, indexed), (std::vector<uint8_t>{255, 0, 255}));
    const PaletteData palette = paletteOf(env, indexed);
    EXPECT_EQ(entry(palette, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(entry(palette, 255), (std::array<int, 3>{255, 255, 255}));

    DataObject *sixteen = nullptr;
    ASSERT_EQ(convertColourMode(env, bits, kMode16, {}, &sixteen), kOk);
    EXPECT_EQ(samplesOf(env, sixteen), (std::vector<uint8_t>{15, 0, 15}));

    DataObject *rgb = nullptr;
    ASSERT_EQ(convertColourMode(env, bits, kModeRGB, {}, &rgb), kOk);
    EXPECT_EQ(samplesOf(env, rgb), (std::vector<uint8_t>{255, 0, 255, 255, 0, 255, 255, 0, 255}));
}

}  // namespace
}  // namespace orvo
