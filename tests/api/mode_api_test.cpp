// The colour mode exports as a host calls them: argument refusals, exact
// grey levels and palette entries, and results that are whole packed
// bitmaps of the expected depth.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "orvo/orvocore.h"
#include "tests/support/images.h"

namespace {

using orvo::test::Rgb;

// A packed bitmap in a new movable block, from a BMP file built in code.
HGLOBAL blockOf(const std::vector<uint8_t> &file) {
    HGLOBAL block = GlobalAlloc(GHND, file.size() - 14);
    std::memcpy(GlobalLock(block), file.data() + 14, file.size() - 14);
    GlobalUnlock(block);
    return block;
}

std::vector<uint8_t> rowsOf(int width, int height, int depth, const std::function<uint8_t(int, int)> &byte) {
    const int row = ((width * depth + 31) / 32) * 4;
    std::vector<uint8_t> rows(static_cast<size_t>(row * height), 0);
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < (width * depth + 7) / 8; ++i) rows[static_cast<size_t>(y * row + i)] = byte(i, y);
    }
    return rows;
}

// 5 x 3 pictures of every depth.
HGLOBAL bitmap1() {  // palette black, white; bits 1 0 1 0 1
    return blockOf(orvo::test::makeBmp(5, 3, 1, {0, 0, 0, 0, 255, 255, 255, 0},
                                       rowsOf(5, 3, 1, [](int, int) { return uint8_t{0xA8}; })));
}
HGLOBAL bitmap4() {
    std::vector<uint8_t> palette;
    for (int i = 0; i < 16; ++i) palette.insert(palette.end(), {uint8_t(i * 16), uint8_t(i * 8), uint8_t(i), 0});
    return blockOf(orvo::test::makeBmp(5, 3, 4, palette, rowsOf(5, 3, 4, [](int i, int y) { return uint8_t(i * 0x11 + y); })));
}
HGLOBAL grey8(uint8_t value) {
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return blockOf(orvo::test::makeBmp(5, 3, 8, palette, rowsOf(5, 3, 8, [value](int, int) { return value; })));
}
HGLOBAL grey8Pair() {  // 127 128 127 128 127 in every row
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return blockOf(
        orvo::test::makeBmp(5, 3, 8, palette, rowsOf(5, 3, 8, [](int i, int) { return uint8_t(127 + (i & 1)); })));
}
// Full colour; each pixel's blue, green, red given by its position.
HGLOBAL rgb24(uint8_t red, uint8_t green, uint8_t blue) {
    return blockOf(orvo::test::makeBmp(5, 3, 24, {}, rowsOf(5, 3, 24, [=](int i, int) {
                                           return i % 3 == 0 ? blue : i % 3 == 1 ? green : red;
                                       })));
}
HGLOBAL rgb24Ramp() {
    return blockOf(orvo::test::makeBmp(5, 3, 24, {}, rowsOf(5, 3, 24, [](int i, int y) { return uint8_t(i * 17 + y * 40); })));
}

struct Dib {
    int32_t width = 0, height = 0;
    uint16_t depth = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint8_t> bytes;
    const uint8_t *paletteEntry(int i) const { return bytes.data() + 40 + 4 * i; }
};

Dib dibOf(HGLOBAL handle) {
    Dib dib;
    auto *p = static_cast<const uint8_t *>(GlobalLock(handle));
    dib.bytes.assign(p, p + GlobalSize(handle));
    GlobalUnlock(handle);
    dib.width = static_cast<int32_t>(orvo::test::le32(p + 4));
    dib.height = static_cast<int32_t>(orvo::test::le32(p + 8));
    dib.depth = orvo::test::le16(p + 14);
    dib.coloursUsed = orvo::test::le32(p + 32);
    return dib;
}

// The index of pixel (x, y), top row 0.
uint32_t pixelIndex(const Dib &dib, int x, int y) {
    const size_t row = ((static_cast<size_t>(dib.width) * dib.depth + 31) / 32) * 4;
    const uint32_t entries = dib.depth == 24 ? 0 : 1u << dib.depth;
    const uint8_t *bits = dib.bytes.data() + 40 + 4 * entries + row * static_cast<size_t>(dib.height - 1 - y);
    switch (dib.depth) {
    case 1: return (bits[x / 8] >> (7 - x % 8)) & 1;
    case 4: return (bits[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
    default: return bits[x];
    }
}

struct Call {
    const char *name;
    std::function<HGLOBAL()> image;
    std::function<HGLOBAL(HGLOBAL, int32_t *)> run;
};

HGLOBAL toRgb(HGLOBAL image, int32_t mode, int32_t *status) { return CmiModeRGBColor(image, mode, nullptr, 0, status); }
HGLOBAL toGrey(HGLOBAL image, int32_t mode, int32_t *status) { return CmiModeGrayscale(image, mode, nullptr, 0, status); }
HGLOBAL toBitmap(HGLOBAL image, int32_t mode, int32_t method, int32_t threshold, int32_t *status) {
    return CmiModeBitmap(image, mode, method, threshold, nullptr, 0, status);
}
HGLOBAL to256(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization, int32_t *status) {
    return CmiModeIndexedColor256(image, mode, dither, quantization, 8, 8, 4, nullptr, 0, status);
}
HGLOBAL to16(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization, int32_t *status) {
    return CmiModeIndexedColor16(image, mode, dither, quantization, 2, 4, 2, nullptr, 0, status);
}

TEST(ModeApi, RefusesModesDepthsAndMethods) {
    const Call cases[] = {
        {"rgb: mode 15 for 8 bits", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return toRgb(h, 15, s); }},
        {"rgb: mode 18", [] { return rgb24(1, 2, 3); }, [](HGLOBAL h, int32_t *s) { return toRgb(h, 18, s); }},
        {"grey: mode 18 for 8 bits", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return toGrey(h, 18, s); }},
        {"grey: mode 17", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return toGrey(h, 17, s); }},
        {"grey: mode 50 for 24 bits", [] { return rgb24(1, 2, 3); }, [](HGLOBAL h, int32_t *s) { return toGrey(h, 50, s); }},
        {"bitmap: mode 17 for 24 bits", [] { return rgb24(1, 2, 3); },
         [](HGLOBAL h, int32_t *s) { return toBitmap(h, 17, 20, 0, s); }},
        {"bitmap: mode 14", [] { return bitmap1(); }, [](HGLOBAL h, int32_t *s) { return toBitmap(h, 14, 20, 0, s); }},
        {"bitmap: method 22", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return toBitmap(h, 17, 22, 0, s); }},
        {"bitmap: threshold 256", [] { return grey8(1); },
         [](HGLOBAL h, int32_t *s) { return toBitmap(h, 17, 19, 256, s); }},
        {"bitmap: threshold -1", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return toBitmap(h, 17, 19, -1, s); }},
        {"256: mode 16", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return to256(h, 16, 0, 22, s); }},
        {"256: mode 15 for 24 bits", [] { return rgb24(1, 2, 3); }, [](HGLOBAL h, int32_t *s) { return to256(h, 15, 0, 22, s); }},
        {"256: dither 19", [] { return rgb24(1, 2, 3); }, [](HGLOBAL h, int32_t *s) { return to256(h, 18, 19, 22, s); }},
        {"256: quantization 25", [] { return rgb24(1, 2, 3); }, [](HGLOBAL h, int32_t *s) { return to256(h, 18, 0, 25, s); }},
        {"16: mode 15", [] { return bitmap4(); }, [](HGLOBAL h, int32_t *s) { return to16(h, 15, 0, 22, s); }},
        {"16: mode 14 for 8 bits", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return to16(h, 14, 0, 22, s); }},
        {"16: quantization 21", [] { return grey8(1); }, [](HGLOBAL h, int32_t *s) { return to16(h, 17, 0, 21, s); }},
    };
    for (const Call &c : cases) {
        HGLOBAL image = c.image();
        int32_t status = 7;
        EXPECT_EQ(c.run(image, &status), nullptr) << c.name;
        EXPECT_EQ(status, CMI_STATUS_REFUSED_ARGUMENT) << c.name;
        GlobalFree(image);
    }
}

TEST(ModeApi, GreyOfPureColours) {
    struct Case {
        uint8_t red, green, blue, grey;
    };
    const Case cases[] = {{255, 0, 0, 76}, {255, 255, 255, 255}, {0, 0, 255, 29}};
    for (const Case &c : cases) {
        HGLOBAL image = rgb24(c.red, c.green, c.blue);
        int32_t status = 7;
        HGLOBAL grey = toGrey(image, 18, &status);
        ASSERT_NE(grey, nullptr);
        EXPECT_EQ(status, 0);
        const Dib dib = dibOf(grey);
        EXPECT_EQ(dib.depth, 8);
        EXPECT_EQ(pixelIndex(dib, 4, 2), c.grey);
        EXPECT_EQ(dib.paletteEntry(c.grey)[0], c.grey);  // a grey ramp
        EXPECT_EQ(dib.paletteEntry(c.grey)[2], c.grey);
        GlobalFree(grey);
        GlobalFree(image);
    }
}

TEST(ModeApi, InvertedGreyAndThreshold) {
    HGLOBAL image = grey8(10);
    int32_t status = 7;
    HGLOBAL inverted = toGrey(image, CMI_MODE_INVERTED_GRAY, &status);
    ASSERT_NE(inverted, nullptr);
    EXPECT_EQ(pixelIndex(dibOf(inverted), 2, 1), 245u);
    GlobalFree(inverted);
    GlobalFree(image);

    image = grey8Pair();
    HGLOBAL bits = toBitmap(image, 17, CMI_METHOD_THRESHOLD, 128, &status);
    ASSERT_NE(bits, nullptr);
    const Dib dib = dibOf(bits);
    EXPECT_EQ(dib.width, 5);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(pixelIndex(dib, x, 0), static_cast<uint32_t>(x & 1)) << x;
    EXPECT_EQ(dib.paletteEntry(1)[0], 255);  // white
    EXPECT_EQ(dib.paletteEntry(0)[0], 0);
    GlobalFree(bits);
    GlobalFree(image);
}

TEST(ModeApi, BitmapTo256ColoursKeepsItsTwoColours) {
    HGLOBAL image = bitmap1();
    int32_t status = 7;
    HGLOBAL result = to256(image, 14, 99, 99, &status);  // dither and quantization are not used
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(status, 0);
    const Dib dib = dibOf(result);
    EXPECT_EQ(dib.depth, 8);
    EXPECT_EQ(dib.width, 5);
    EXPECT_EQ(std::vector<uint8_t>(dib.paletteEntry(255), dib.paletteEntry(255) + 3), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(dib.paletteEntry(0), dib.paletteEntry(0) + 3), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(pixelIndex(dib, 0, 0), 255u);
    EXPECT_EQ(pixelIndex(dib, 1, 0), 0u);
    EXPECT_EQ(pixelIndex(dib, 4, 2), 255u);
    GlobalFree(result);
    GlobalFree(image);
}

TEST(ModeApi, MedianCutIsRefusedByTheQuantizer) {
    HGLOBAL image = rgb24Ramp();
    int32_t status = 7;
    EXPECT_EQ(to256(image, 18, 0, CMI_QUANTIZE_MEDIAN_CUT, &status), nullptr);
    EXPECT_EQ(status, 12);
    GlobalFree(image);
}

// Levels that cannot make a palette of the result's size are out of range.
TEST(ModeApi, LevelsOutsideThePaletteAreOutOfRange) {
    struct Case {
        const char *name;
        std::function<HGLOBAL(HGLOBAL, int32_t *)> run;
    };
    const Case cases[] = {
        {"16 colours of 8 x 8 x 4",
         [](HGLOBAL h, int32_t *s) { return CmiModeIndexedColor16(h, 18, 0, 23, 8, 8, 4, nullptr, 0, s); }},
        {"diffused to a huge level",
         [](HGLOBAL h, int32_t *s) { return CmiModeIndexedColor256(h, 18, 20, 22, INT32_MAX, 2, 2, nullptr, 0, s); }},
        {"a level of 1", [](HGLOBAL h, int32_t *s) { return CmiModeIndexedColor256(h, 18, 0, 23, 1, 8, 8, nullptr, 0, s); }},
        {"popularity of 4 colours",
         [](HGLOBAL h, int32_t *s) { return CmiModeIndexedColor256(h, 18, 0, 22, 2, 2, 1, nullptr, 0, s); }},
    };
    for (const Case &c : cases) {
        HGLOBAL image = rgb24Ramp();
        int32_t status = 7;
        EXPECT_EQ(c.run(image, &status), nullptr) << c.name;
        EXPECT_EQ(status, 18) << c.name;
        GlobalFree(image);
    }
}

// Every conversion gives a whole packed bitmap of its depth, 5 x 3.
TEST(ModeApi, ResultsArePackedBitmapsOfTheirDepth) {
    struct Case {
        const char *name;
        std::function<HGLOBAL()> image;
        std::function<HGLOBAL(HGLOBAL, int32_t *)> run;
        uint16_t depth;
    };
    const Case cases[] = {
        {"rgb of 1 bit", bitmap1, [](HGLOBAL h, int32_t *s) { return toRgb(h, 14, s); }, 24},
        {"rgb of 4 bits", bitmap4, [](HGLOBAL h, int32_t *s) { return toRgb(h, 15, s); }, 24},
        {"rgb of grey", [] { return grey8(9); }, [](HGLOBAL h, int32_t *s) { return toRgb(h, 17, s); }, 24},
        {"grey of 1 bit", bitmap1, [](HGLOBAL h, int32_t *s) { return toGrey(h, 14, s); }, 8},
        {"grey of 4 bits", bitmap4, [](HGLOBAL h, int32_t *s) { return toGrey(h, 15, s); }, 8},
        {"bitmap by diffusion", rgb24Ramp, [](HGLOBAL h, int32_t *s) { return toBitmap(h, 18, 20, 0, s); }, 1},
        {"bitmap by pattern", bitmap4, [](HGLOBAL h, int32_t *s) { return toBitmap(h, 15, 21, 0, s); }, 1},
        {"256 of 4 bits", bitmap4, [](HGLOBAL h, int32_t *s) { return to256(h, 15, 0, 0, s); }, 8},
        {"256 popular, diffused", rgb24Ramp, [](HGLOBAL h, int32_t *s) { return to256(h, 18, 20, 22, s); }, 8},
        {"256 uniform, pattern", rgb24Ramp, [](HGLOBAL h, int32_t *s) { return to256(h, 18, 21, 23, s); }, 8},
        {"16 of 1 bit", bitmap1, [](HGLOBAL h, int32_t *s) { return to16(h, 14, 0, 0, s); }, 4},
        {"16 popular of grey", [] { return grey8(77); }, [](HGLOBAL h, int32_t *s) { return to16(h, 17, 20, 22, s); }, 4},
        {"16 uniform", rgb24Ramp, [](HGLOBAL h, int32_t *s) { return to16(h, 18, 0, 23, s); }, 4},
    };
    for (const Case &c : cases) {
        HGLOBAL image = c.image();
        int32_t status = 7;
        HGLOBAL result = c.run(image, &status);
        ASSERT_NE(result, nullptr) << c.name << " status " << status;
        EXPECT_EQ(status, 0) << c.name;
        const Dib dib = dibOf(result);
        EXPECT_EQ(dib.depth, c.depth) << c.name;
        EXPECT_EQ(dib.width, 5) << c.name;
        EXPECT_EQ(dib.height, 3) << c.name;
        const size_t entries = c.depth == 24 ? 0 : size_t{1} << c.depth;
        const size_t row = ((5 * size_t{c.depth} + 31) / 32) * 4;
        EXPECT_EQ(dib.bytes.size(), 40 + 4 * entries + 3 * row) << c.name;
        Rgb rgb;
        EXPECT_TRUE(orvo::test::dibToRgb(dib.bytes.data(), dib.bytes.size(), &rgb)) << c.name;
        GlobalFree(result);
        GlobalFree(image);
    }
}

TEST(ModeApi, SixteenColoursOfABitmapUseTheLastEntry) {
    HGLOBAL image = bitmap1();
    int32_t status = 7;
    HGLOBAL result = to16(image, 14, 0, 0, &status);
    ASSERT_NE(result, nullptr);
    const Dib dib = dibOf(result);
    EXPECT_EQ(pixelIndex(dib, 0, 0), 15u);
    EXPECT_EQ(pixelIndex(dib, 1, 0), 0u);
    EXPECT_EQ(dib.paletteEntry(15)[1], 255);
    EXPECT_EQ(dib.paletteEntry(14)[1], 0);
    GlobalFree(result);
    GlobalFree(image);
}

// Working images in temporary files give the same bitmaps as work space.
TEST(ModeApi, FileRepositoriesGiveTheSameResults) {
    const CmiAttribute files[] = {{"repository", 83}};
    const std::function<HGLOBAL(HGLOBAL, const CmiAttribute *, int32_t, int32_t *)> calls[] = {
        [](HGLOBAL h, const CmiAttribute *a, int32_t n, int32_t *s) {
            return CmiModeIndexedColor256(h, 18, 20, 22, 8, 8, 4, a, n, s);
        },
        [](HGLOBAL h, const CmiAttribute *a, int32_t n, int32_t *s) { return CmiModeBitmap(h, 18, 20, 0, a, n, s); },
        [](HGLOBAL h, const CmiAttribute *a, int32_t n, int32_t *s) { return CmiModeGrayscale(h, 18, a, n, s); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        HGLOBAL image = rgb24Ramp();
        int32_t status = 7;
        HGLOBAL inMemory = calls[i](image, nullptr, 0, &status);
        HGLOBAL inFiles = calls[i](image, files, 1, &status);
        ASSERT_NE(inMemory, nullptr) << i;
        ASSERT_NE(inFiles, nullptr) << i;
        EXPECT_EQ(dibOf(inMemory).bytes, dibOf(inFiles).bytes) << i;
        GlobalFree(inMemory);
        GlobalFree(inFiles);
        GlobalFree(image);
    }
}

}  // namespace
