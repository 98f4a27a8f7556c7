// The point operation exports through the public interface: argument
// checks, the palette and pixel paths on the raw bitmap, regions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "orvo/orvocore.h"
#include "tests/support/images.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A packed bitmap (the BMP file without its 14-byte file header) in a new
// movable block.
HGLOBAL blockOf(const Bytes &file) {
    const size_t size = file.size() - 14;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(block), file.data() + 14, size);
    GlobalUnlock(block);
    return block;
}

Bytes bytesOf(HGLOBAL block) {
    auto *p = static_cast<const uint8_t *>(GlobalLock(block));
    Bytes bytes(p, p + GlobalSize(block));
    GlobalUnlock(block);
    return bytes;
}

// 256 palette entries (i, 255 - i, i / 2, reserved 7) and 6 x 2 indices.
Bytes palette256File() {
    Bytes palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 7});
    Bytes rows = {0, 1, 2, 3, 4, 5, 0, 0, 250, 251, 252, 253, 254, 255, 0, 0};
    return orvo::test::makeBmp(6, 2, 8, palette, rows);
}

// A 4 x 3 grey ramp bitmap: stored rows bottom-up, index = 10 x row + x.
Bytes greyFile() {
    Bytes palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    Bytes rows;
    for (int stored = 0; stored < 3; ++stored) {
        for (int x = 0; x < 4; ++x) rows.push_back(uint8_t(10 * (2 - stored) + x));
    }
    return orvo::test::makeBmp(4, 3, 8, palette, rows);
}

// 3 x 2 full colour: nine colour bytes and three padding bytes per row.
Bytes rgbFile() {
    Bytes rows = {0, 10, 20, 30, 40, 50, 255, 128, 1, 0, 0, 0,
                  5, 6, 7, 100, 110, 120, 200, 210, 220, 0, 0, 0};
    return orvo::test::makeBmp(3, 2, 24, {}, rows);
}

constexpr size_t kHeader = 40;

class PointExports : public testing::Test {
protected:
    void TearDown() override {
        for (HGLOBAL block : blocks_) GlobalFree(block);
    }
    HGLOBAL keep(HGLOBAL block) {
        if (block != nullptr) blocks_.push_back(block);
        return block;
    }
    std::vector<HGLOBAL> blocks_;
};

TEST_F(PointExports, RefusedArgumentsLeaveTheInputAlone) {
    using Call = std::function<HGLOBAL(HGLOBAL, int32_t *)>;
    struct Case {
        const char *name;
        Call call;
    };
    const Case cases[] = {
        {"invert_mode_13", [](HGLOBAL h, int32_t *s) { return CmiInvert(h, 13, nullptr, 0, s); }},
        {"invert_mode_19", [](HGLOBAL h, int32_t *s) { return CmiInvert(h, 19, nullptr, 0, s); }},
        {"brightness_101", [](HGLOBAL h, int32_t *s) { return CmiBrightnessAndContrast(h, 16, 101, 0, 0, 0, s); }},
        {"contrast_-101", [](HGLOBAL h, int32_t *s) { return CmiBrightnessAndContrast(h, 16, 0, -101, 0, 0, s); }},
        {"brightness_mode_14", [](HGLOBAL h, int32_t *s) { return CmiBrightnessAndContrast(h, 14, 0, 0, 0, 0, s); }},
        {"balance_mode_17", [](HGLOBAL h, int32_t *s) { return CmiColourBalance(h, 17, 0, 0, 0, nullptr, 0, s); }},
        {"balance_blue_101", [](HGLOBAL h, int32_t *s) { return CmiColourBalance(h, 16, 0, 0, 101, nullptr, 0, s); }},
        {"hue_181", [](HGLOBAL h, int32_t *s) { return CmiHueSaturation(h, 16, 181, 0, 0, nullptr, 0, s); }},
        {"saturation_-101", [](HGLOBAL h, int32_t *s) { return CmiHueSaturation(h, 16, 0, -101, 0, nullptr, 0, s); }},
        {"lightness_101", [](HGLOBAL h, int32_t *s) { return CmiHueSaturation(h, 18, 0, 0, 101, nullptr, 0, s); }},
        {"gamma_mode_14", [](HGLOBAL h, int32_t *s) { return CmiGammaCorrection(h, 14, 2.0, nullptr, 0, s); }},
        {"solarize_mode_19", [](HGLOBAL h, int32_t *s) { return CmiSolarize(h, 19, nullptr, 0, s); }},
        {"equalize_mode_16", [](HGLOBAL h, int32_t *s) { return CmiEqualize(h, 16, nullptr, 0, s); }},
    };
    HGLOBAL input = keep(blockOf(palette256File()));
    const Bytes before = bytesOf(input);
    for (const Case &c : cases) {
        int32_t status = 7;
        EXPECT_EQ(c.call(input, &status), nullptr) << c.name;
        EXPECT_EQ(status, -100) << c.name;
        EXPECT_EQ(GlobalFlags(input) & GMEM_LOCKCOUNT, 0u) << c.name << ": left locked";
    }
    EXPECT_EQ(bytesOf(input), before);
}

TEST_F(PointExports, InvertOfAPaletteBitmapChangesOnlyThePalette) {
    const CmiAttribute region[] = {{"sourceXPoint", 1}, {"sourceYPoint", 0}, {"sourceWidth", 2}, {"sourceHeight", 1}};
    struct Case {
        const char *name;
        const CmiAttribute *attrs;
        int32_t count;
    };
    for (const Case &c : {Case{"whole", nullptr, 0}, Case{"region_ignored", region, 4}}) {
        HGLOBAL input = keep(blockOf(palette256File()));
        const Bytes in = bytesOf(input);
        int32_t status = 7;
        HGLOBAL result = keep(CmiInvert(input, 16, c.attrs, c.count, &status));
        ASSERT_NE(result, nullptr) << c.name;
        EXPECT_EQ(status, 0);
        const Bytes out = bytesOf(result);
        ASSERT_EQ(out.size(), in.size());
        EXPECT_EQ(0, std::memcmp(out.data(), in.data(), kHeader));
        for (size_t i = 0; i < 256 * 4; ++i) {
            const uint8_t expected = i % 4 == 3 ? 0 : static_cast<uint8_t>(255 - in[kHeader + i]);
            ASSERT_EQ(out[kHeader + i], expected) << c.name << " palette byte " << i;
        }
        EXPECT_TRUE(std::equal(out.begin() + kHeader + 1024, out.end(), in.begin() + kHeader + 1024)) << c.name;
        EXPECT_EQ(bytesOf(input), in);
    }
}

TEST_F(PointExports, GreyRegionChangesOnlyTheRectangle) {
    const CmiAttribute memory[] = {{"sourceXPoint", 1}, {"sourceYPoint", 1}, {"sourceWidth", 2}, {"sourceHeight", 2}};
    const CmiAttribute files[] = {{"sourceXPoint", 1}, {"sourceYPoint", 1}, {"sourceWidth", 2}, {"sourceHeight", 2},
                                  {"repository", 0}};
    for (const CmiAttribute *attrs : {memory, files}) {
        HGLOBAL input = keep(blockOf(greyFile()));
        int32_t status = 7;
        HGLOBAL result = keep(CmiInvert(input, 17, attrs, attrs == memory ? 4 : 5, &status));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(status, 0);
        orvo::test::Rgb rgb;
        ASSERT_TRUE(orvo::test::handleToRgb(result, &rgb));
        ASSERT_EQ(rgb.width, 4);
        ASSERT_EQ(rgb.height, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                const int original = 10 * y + x;
                const bool inside = x >= 1 && x <= 2 && y >= 1;
                EXPECT_EQ(rgb.pixels[(y * 4 + x) * 3], inside ? 255 - original : original) << x << "," << y;
            }
        }
    }
}

TEST_F(PointExports, BitmapInvertsItsPaletteOrItsRegionBits) {
    // 10 x 2, black and white; top row 1100110011, bottom row all clear.
    const Bytes palette = {0, 0, 0, 5, 255, 255, 255, 5};
    const Bytes rows = {0x00, 0x00, 0, 0, 0xCC, 0xC0, 0, 0};
    HGLOBAL input = keep(blockOf(orvo::test::makeBmp(10, 2, 1, palette, rows)));
    int32_t status = 7;
    HGLOBAL whole = keep(CmiInvert(input, 14, nullptr, 0, &status));
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(status, 0);
    const Bytes out = bytesOf(whole);
    EXPECT_EQ(Bytes(out.begin() + kHeader, out.begin() + kHeader + 8), (Bytes{255, 255, 255, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(out.begin() + kHeader + 8, out.end()), rows);

    const CmiAttribute region[] = {{"sourceXPoint", 2}, {"sourceYPoint", 0}, {"sourceWidth", 4}, {"sourceHeight", 1}};
    status = 7;
    HGLOBAL part = keep(CmiInvert(input, 14, region, 4, &status));
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(status, 0);
    orvo::test::Rgb rgb;
    ASSERT_TRUE(orvo::test::handleToRgb(part, &rgb));
    ASSERT_EQ(rgb.width, 10);
    const char *expected[2] = {"1111000011", "0000000000"};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(rgb.pixels[(y * 10 + x) * 3], expected[y][x] == '1' ? 255 : 0) << x << "," << y;
        }
    }
}

TEST_F(PointExports, PixelPathTreatsEveryRowByteAlike) {
    struct Case {
        const char *name;
        std::function<HGLOBAL(HGLOBAL, int32_t *)> call;
        std::function<uint8_t(uint8_t)> expected;
    };
    const Case cases[] = {
        {"invert", [](HGLOBAL h, int32_t *s) { return CmiInvert(h, 18, nullptr, 0, s); },
         [](uint8_t v) { return uint8_t(255 - v); }},
        {"solarize", [](HGLOBAL h, int32_t *s) { return CmiSolarize(h, 18, nullptr, 0, s); },
         [](uint8_t v) { return uint8_t(v < 128 ? v : 255 - v); }},
        // Neutral brightness and contrast: the ends move in by one.
        {"brightness_neutral",
         [](HGLOBAL h, int32_t *s) { return CmiBrightnessAndContrast(h, 18, 0, 0, nullptr, 0, s); },
         [](uint8_t v) { return uint8_t(v == 0 ? 1 : v == 255 ? 254 : v); }},
        {"gamma_one", [](HGLOBAL h, int32_t *s) { return CmiGammaCorrection(h, 18, 1.0, nullptr, 0, s); },
         [](uint8_t v) { return v; }},
    };
    for (const Case &c : cases) {
        HGLOBAL input = keep(blockOf(rgbFile()));
        const Bytes in = bytesOf(input);
        int32_t status = 7;
        HGLOBAL result = keep(c.call(input, &status));
        ASSERT_NE(result, nullptr) << c.name;
        EXPECT_EQ(status, 0) << c.name;
        const Bytes out = bytesOf(result);
        ASSERT_EQ(out.size(), in.size()) << c.name;
        EXPECT_EQ(0, std::memcmp(out.data(), in.data(), kHeader)) << c.name;
        for (size_t i = kHeader; i < in.size(); ++i) EXPECT_EQ(out[i], c.expected(in[i])) << c.name << " byte " << i;
    }
}

TEST_F(PointExports, ColourOperationsOnAPaletteMoveOnlyTheColours) {
    struct Case {
        const char *name;
        std::function<HGLOBAL(HGLOBAL, int32_t *)> call;
        std::function<Bytes(int)> entry;  // blue, green, red, reserved of entry i
    };
    // The palette holds (blue i, green 255 - i, red i / 2).
    const Case cases[] = {
        {"balance", [](HGLOBAL h, int32_t *s) { return CmiColourBalance(h, 16, 100, 0, -100, nullptr, 0, s); },
         [](int i) { return Bytes{0, uint8_t(255 - i), 255, 0}; }},
        {"lightness", [](HGLOBAL h, int32_t *s) { return CmiHueSaturation(h, 15, 0, 0, 100, nullptr, 0, s); },
         [](int) { return Bytes{255, 255, 255, 0}; }},
        {"desaturate", [](HGLOBAL h, int32_t *s) { return CmiHueSaturation(h, 16, 0, -100, 0, nullptr, 0, s); },
         [](int i) {
             const uint8_t grey = uint8_t((i + (255 - i) + i / 2) / 255.0 / 3 * 255 + 0.5);
             return Bytes{grey, grey, grey, 0};
         }},
    };
    for (const Case &c : cases) {
        HGLOBAL input = keep(blockOf(palette256File()));
        const Bytes in = bytesOf(input);
        int32_t status = 7;
        HGLOBAL result = keep(c.call(input, &status));
        ASSERT_NE(result, nullptr) << c.name;
        EXPECT_EQ(status, 0) << c.name;
        const Bytes out = bytesOf(result);
        ASSERT_EQ(out.size(), in.size()) << c.name;
        for (int i = 0; i < 256; ++i) {
            const Bytes entry(out.begin() + kHeader + 4 * i, out.begin() + kHeader + 4 * i + 4);
            ASSERT_EQ(entry, c.entry(i)) << c.name << " entry " << i;
        }
        EXPECT_TRUE(std::equal(out.begin() + kHeader + 1024, out.end(), in.begin() + kHeader + 1024)) << c.name;
    }
}

TEST_F(PointExports, RegionOutsideTheImageIsRefused) {
    HGLOBAL input = keep(blockOf(greyFile()));
    const CmiAttribute region[] = {{"sourceXPoint", 4}, {"sourceWidth", 2}};
    int32_t status = 0;
    EXPECT_EQ(CmiSolarize(input, 17, region, 2, &status), nullptr);
    EXPECT_EQ(status, 18);
}

TEST_F(PointExports, FullColourBalanceGoesThroughTheParsedImage) {
    // One pixel (R, G, B) = (10, 20, 200).
    HGLOBAL input = keep(blockOf(orvo::test::makeBmp(1, 1, 24, {}, {200, 20, 10, 0})));
    int32_t status = 7;
    HGLOBAL result = keep(CmiColourBalance(input, 18, 100, 0, -100, nullptr, 0, &status));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(status, 0);
    orvo::test::Rgb rgb;
    ASSERT_TRUE(orvo::test::handleToRgb(result, &rgb));
    EXPECT_EQ(rgb.pixels, (Bytes{255, 20, 0}));
}

TEST_F(PointExports, EqualizeOfAFlatGreyImageIsWhite) {
    Bytes palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    HGLOBAL input = keep(blockOf(orvo::test::makeBmp(3, 2, 8, palette, Bytes(8, 7))));
    int32_t status = 7;
    HGLOBAL result = keep(CmiEqualize(input, 17, nullptr, 0, &status));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(status, 0);
    orvo::test::Rgb rgb;
    ASSERT_TRUE(orvo::test::handleToRgb(result, &rgb));
    EXPECT_EQ(rgb.pixels, Bytes(18, 255));
}

TEST_F(PointExports, ConvertCopiesTheBlock) {
    HGLOBAL input = keep(blockOf(rgbFile()));
    int32_t status = 7;
    HGLOBAL copy = keep(CmiConvert(input, 0, 0, &status));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_NE(copy, input);
    EXPECT_EQ(bytesOf(copy), bytesOf(input));

    status = 7;
    EXPECT_EQ(CmiConvert(nullptr, 0, 0, &status), nullptr);
    EXPECT_EQ(status, -1);
}

TEST_F(PointExports, BitmapsThatDoNotFitTheirBlockAreRefused) {
    struct Case {
        const char *name;
        Bytes file;
        size_t cut;  // bytes dropped from the end of the packed bitmap
    };
    Bytes palette(16 * 4, 9);
    const Case cases[] = {
        {"palette_claims_more_entries", orvo::test::makeBmp(2, 2, 8, palette, Bytes(8, 1), 0, 200000), 0},
        {"pixel_rows_cut_short", rgbFile(), 5},
        {"palette_cut_short", orvo::test::makeBmp(2, 2, 4, palette, Bytes(8, 1)), 40},
    };
    for (const Case &c : cases) {
        Bytes file = c.file;
        file.resize(file.size() - c.cut);
        HGLOBAL input = keep(blockOf(file));
        for (int32_t mode : {16, 17, 18}) {
            int32_t status = 0;
            EXPECT_EQ(CmiInvert(input, mode, nullptr, 0, &status), nullptr) << c.name;
            EXPECT_NE(status, 0) << c.name;
            status = 0;
            EXPECT_EQ(CmiHueSaturation(input, mode == 17 ? 15 : mode, 10, 0, 0, nullptr, 0, &status), nullptr)
                << c.name;
            EXPECT_NE(status, 0) << c.name;
        }
    }
}

}  // namespace
