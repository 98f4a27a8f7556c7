// The geometric exports (ordinals 8 to 14) through the public interface:
// argument checks, the edge cases of each operation, fills and placements, and
// bitmaps, which some of them parse with rows of whole bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "orvo/orvocore.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A picture as the tests think of it: rows top first, one value per pixel
// (the palette index, or blue | green << 8 | red << 16 for 24 bits).
struct Picture {
    int32_t width = 0, height = 0, bits = 8;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<uint32_t> pixels;

    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    std::vector<uint32_t> row(int y) const {
        return {pixels.begin() + static_cast<ptrdiff_t>(y) * width, pixels.begin() + static_cast<ptrdiff_t>(y + 1) * width};
    }
};

size_t rowBytes(int32_t width, int32_t bits) { return (static_cast<size_t>(width) * bits + 31) / 32 * 4; }

std::vector<uint32_t> greyPalette() {
    std::vector<uint32_t> p(256);
    for (uint32_t i = 0; i < 256; ++i) p[i] = i * 0x010101u;
    return p;
}

// The packed bitmap of `picture` in a new movable block.
HGLOBAL blockOf(const Picture &picture) {
    const size_t entries = picture.bits == 24 ? 0 : size_t{1} << picture.bits;
    const size_t row = rowBytes(picture.width, picture.bits);
    Bytes dib(40 + 4 * entries + row * picture.height, 0);
    put32(&dib[0], 40);
    put32(&dib[4], static_cast<uint32_t>(picture.width));
    put32(&dib[8], static_cast<uint32_t>(picture.height));
    dib[12] = 1;
    dib[14] = static_cast<uint8_t>(picture.bits);
    for (size_t i = 0; i < entries && i < picture.palette.size(); ++i) put32(&dib[40 + 4 * i], picture.palette[i]);
    uint8_t *bits = &dib[40 + 4 * entries];
    for (int y = 0; y < picture.height; ++y) {
        uint8_t *r = bits + row * static_cast<size_t>(picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t v = picture.at(x, y);
            switch (picture.bits) {
            case 1: r[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
            case 4: r[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 == 0 ? 4 : 0)); break;
            case 8: r[x] = static_cast<uint8_t>(v); break;
            default:
                r[3 * x] = static_cast<uint8_t>(v);
                r[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                r[3 * x + 2] = static_cast<uint8_t>(v >> 16);
                break;
            }
        }
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    std::memcpy(GlobalLock(block), dib.data(), dib.size());
    GlobalUnlock(block);
    return block;
}

// Reads a returned block back; also checks its size and that padding bits
// and bytes are zero.
Picture pictureOf(HGLOBAL block) {
    Picture p;
    auto *dib = static_cast<const uint8_t *>(GlobalLock(block));
    EXPECT_NE(dib, nullptr);
    if (dib == nullptr) return p;
    const size_t size = GlobalSize(block);
    p.width = static_cast<int32_t>(le32(dib + 4));
    p.height = static_cast<int32_t>(le32(dib + 8));
    p.bits = dib[14];
    const size_t entries = p.bits == 24 ? 0 : size_t{1} << p.bits;
    const size_t row = rowBytes(p.width, p.bits);
    EXPECT_EQ(size, 40 + 4 * entries + row * p.height);
    for (size_t i = 0; i < entries; ++i) p.palette.push_back(le32(dib + 40 + 4 * i));
    const uint8_t *bits = dib + 40 + 4 * entries;
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t *r = bits + row * static_cast<size_t>(p.height - 1 - y);
        for (int x = 0; x < p.width; ++x) {
            uint32_t v;
            switch (p.bits) {
            case 1: v = (r[x / 8] >> (7 - x % 8)) & 1; break;
            case 4: v = (r[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15; break;
            case 8: v = r[x]; break;
            default: v = r[3 * x] | r[3 * x + 1] << 8 | static_cast<uint32_t>(r[3 * x + 2]) << 16; break;
            }
            p.pixels[static_cast<size_t>(y) * p.width + x] = v;
        }
        const size_t used = (static_cast<size_t>(p.width) * p.bits + 7) / 8;
        if (p.bits == 1 && p.width % 8 != 0) {
            EXPECT_EQ(r[used - 1] & (0xFF >> (p.width % 8)), 0) << "padding bits of row " << y;
        }
        for (size_t i = used; i < row; ++i) EXPECT_EQ(r[i], 0) << "padding byte of row " << y;
    }
    GlobalUnlock(block);
    return p;
}

Picture grey(int32_t width, int32_t height, std::vector<uint32_t> pixels) {
    return {width, height, 8, greyPalette(), std::move(pixels)};
}

Picture flatGrey(int32_t width, int32_t height, uint32_t value) {
    return grey(width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, value));
}

// Pixels value(x, y) of a width x height picture.
std::vector<uint32_t> pixelsOf(int width, int height, const std::function<uint32_t(int, int)> &value) {
    std::vector<uint32_t> v;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) v.push_back(value(x, y));
    }
    return v;
}

class GeometryExports : public testing::Test {
protected:
    void TearDown() override {
        for (HGLOBAL block : blocks_) GlobalFree(block);
    }
    HGLOBAL keep(HGLOBAL block) {
        if (block != nullptr) blocks_.push_back(block);
        return block;
    }
    HGLOBAL input(const Picture &picture) { return keep(blockOf(picture)); }
    // The result of a call that must succeed, read back.
    Picture result(HGLOBAL block, int32_t status) {
        EXPECT_EQ(status, 0);
        EXPECT_NE(block, nullptr);
        if (block == nullptr) return {};
        keep(block);
        return pictureOf(block);
    }
    std::vector<HGLOBAL> blocks_;
};

// --- Argument checks ------------------------------------------------------------

TEST_F(GeometryExports, RefusedArgumentsGiveMinus100AndNoBlock) {
    HGLOBAL image = input(flatGrey(4, 3, 9));
    const CmiAttribute cubic[] = {{"interpolation", 10}};
    using Call = std::function<HGLOBAL(int32_t *)>;
    struct Case {
        const char *name;
        Call call;
    };
    const Case cases[] = {
        {"resize interpolation 7", [&](int32_t *s) { return CmiResize(image, 4, 4, 7, 0, nullptr, 0, s); }},
        {"resize interpolation 12", [&](int32_t *s) { return CmiResize(image, 4, 4, 12, 0, nullptr, 0, s); }},
        {"resize morphology 1", [&](int32_t *s) { return CmiResize(image, 4, 4, 9, 1, nullptr, 0, s); }},
        {"resize width 0", [&](int32_t *s) { return CmiResize(image, 0, 4, 8, 0, nullptr, 0, s); }},
        {"resize height -3", [&](int32_t *s) { return CmiResize(image, 4, -3, 8, 0, nullptr, 0, s); }},
        {"resize too large", [&](int32_t *s) { return CmiResize(image, 100000, 100000, 8, 0, nullptr, 0, s); }},
        {"rotate angle 0", [&](int32_t *s) { return CmiRotate(image, 3, 4, 0, nullptr, 0, s); }},
        {"rotate angle 4", [&](int32_t *s) { return CmiRotate(image, 3, 4, 4, nullptr, 0, s); }},
        {"rotate width 0", [&](int32_t *s) { return CmiRotate(image, 0, 4, 1, nullptr, 0, s); }},
        {"rotate arbitrary cubic", [&](int32_t *s) { return CmiRotateArbitrary(image, 4, 3, 10.0, cubic, 1, s); }},
        {"rotate arbitrary too large",
         [&](int32_t *s) { return CmiRotateArbitrary(image, 2000000000, 2, 10.0, nullptr, 0, s); }},
        {"flip direction 50", [&](int32_t *s) { return CmiFlip(image, 50, nullptr, 0, s); }},
        {"flip direction 0", [&](int32_t *s) { return CmiFlip(image, 0, nullptr, 0, s); }},
        {"skew direction 47", [&](int32_t *s) { return CmiSkew(image, 8, 3, 47, 10.0, nullptr, 0, s); }},
        {"skew cubic", [&](int32_t *s) { return CmiSkew(image, 8, 3, 48, 10.0, cubic, 1, s); }},
        {"skew height 0", [&](int32_t *s) { return CmiSkew(image, 8, 0, 48, 10.0, nullptr, 0, s); }},
        {"subsample interpolation 12",
         [&](int32_t *s) { return CmiSubsample(image, 0, 0, 4, 3, 2, 2, 0, 0, 2, 2, 12, 0, nullptr, 0, s); }},
        {"subsample morphology 14",
         [&](int32_t *s) { return CmiSubsample(image, 0, 0, 4, 3, 2, 2, 0, 0, 2, 2, 8, 14, nullptr, 0, s); }},
        {"subsample result width 0",
         [&](int32_t *s) { return CmiSubsample(image, 0, 0, 4, 3, 0, 2, 0, 0, 2, 2, 8, 0, nullptr, 0, s); }},
        {"subsample source width 0",
         [&](int32_t *s) { return CmiSubsample(image, 0, 0, 0, 3, 2, 2, 0, 0, 2, 2, 8, 0, nullptr, 0, s); }},
        {"constant width 0", [&](int32_t *s) { return CmiConstant(image, 0, 0, 0, 2, 1, 1, 1, nullptr, 0, s); }},
    };
    for (const Case &c : cases) {
        int32_t status = 7;
        EXPECT_EQ(c.call(&status), nullptr) << c.name;
        EXPECT_EQ(status, -100) << c.name;
    }
    EXPECT_EQ(CmiResize(image, 0, 4, 8, 0, nullptr, 0, nullptr), nullptr);  // a null status is tolerated
    EXPECT_EQ(pictureOf(image).pixels, flatGrey(4, 3, 9).pixels);
}

TEST_F(GeometryExports, NotABitmapGivesAnErrorStatus) {
    HGLOBAL junk = keep(GlobalAlloc(GHND, 16));
    int32_t status = 0;
    EXPECT_EQ(CmiRotate(junk, 1, 1, 1, nullptr, 0, &status), nullptr);
    EXPECT_NE(status, 0);
    EXPECT_EQ(CmiFlip(nullptr, 48, nullptr, 0, &status), nullptr);
    EXPECT_EQ(status, -1);
}

// --- Resize ---------------------------------------------------------------------

TEST_F(GeometryExports, ResizeNearestDoublesA4x1Row) {
    HGLOBAL image = input(grey(4, 1, {0, 100, 200, 255}));
    int32_t status = -7;
    Picture out = result(CmiResize(image, 8, 1, CMI_INTERPOLATION_NEAREST, 0, nullptr, 0, &status), status);
    EXPECT_EQ(out.width, 8);
    EXPECT_EQ(out.bits, 8);
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0, 0, 100, 100, 200, 200, 255, 255}));
    EXPECT_EQ(out.palette, greyPalette());
}

TEST_F(GeometryExports, ResizeBSplineDarkensAFlatImage) {
    HGLOBAL image = input(flatGrey(6, 5, 200));
    int32_t status = -7;
    Picture out = result(CmiResize(image, 6, 5, CMI_INTERPOLATION_BSPLINE, 0, nullptr, 0, &status), status);
    EXPECT_EQ(out.pixels, flatGrey(6, 5, 197).pixels);
}

TEST_F(GeometryExports, ResizeFullColourKeepsTheBands) {
    Picture rgb{2, 1, 24, {}, {0x102030, 0x405060}};
    HGLOBAL image = input(rgb);
    int32_t status = -7;
    Picture out = result(CmiResize(image, 4, 2, CMI_INTERPOLATION_NEAREST, 0, nullptr, 0, &status), status);
    EXPECT_EQ(out.bits, 24);
    EXPECT_EQ(out.pixels,
              (std::vector<uint32_t>{0x102030, 0x102030, 0x405060, 0x405060, 0x102030, 0x102030, 0x405060, 0x405060}));
}

TEST_F(GeometryExports, ResizeInFileRepositoriesGivesTheSameResult) {
    Picture picture = grey(5, 4, pixelsOf(5, 4, [](int x, int y) { return uint32_t(x * 40 + y * 7); }));
    HGLOBAL image = input(picture);
    const CmiAttribute files[] = {{"repository", 1}};
    int32_t status = -7;
    Picture memory = result(CmiResize(image, 7, 3, CMI_INTERPOLATION_CUBIC, 0, nullptr, 0, &status), status);
    Picture file = result(CmiResize(image, 7, 3, CMI_INTERPOLATION_CUBIC, 0, files, 1, &status), status);
    EXPECT_EQ(memory.pixels, file.pixels);
}

// --- Quarter turns --------------------------------------------------------------

// The 3 x 2 picture (a, b, c) over (d, e, f).
Picture threeByTwo() { return grey(3, 2, {1, 2, 3, 4, 5, 6}); }

TEST_F(GeometryExports, RotateAngle1TurnsCounterClockwise) {
    HGLOBAL image = input(threeByTwo());
    int32_t status = -7;
    Picture out = result(CmiRotate(image, 2, 3, CMI_ROTATE_90, nullptr, 0, &status), status);
    EXPECT_EQ(out.width, 2);
    EXPECT_EQ(out.height, 3);
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));  // (c, f), (b, e), (a, d)
}

TEST_F(GeometryExports, RotateAngles2And3) {
    HGLOBAL image = input(threeByTwo());
    int32_t status = -7;
    Picture half = result(CmiRotate(image, 3, 2, CMI_ROTATE_180, nullptr, 0, &status), status);
    EXPECT_EQ(half.pixels, (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));
    Picture clockwise = result(CmiRotate(image, 2, 3, CMI_ROTATE_270, nullptr, 0, &status), status);
    EXPECT_EQ(clockwise.pixels, (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
}

TEST_F(GeometryExports, RotateIntoAnotherSizeKeepsTheTopLeftAndFills) {
    HGLOBAL image = input(threeByTwo());
    int32_t status = -7;
    const CmiAttribute level[] = {{"constantLevel", 77}};
    Picture out = result(CmiRotate(image, 3, 4, CMI_ROTATE_90, level, 1, &status), status);
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{3, 6, 77, 2, 5, 77, 1, 4, 77, 77, 77, 77}));
    // The default level is the lightest palette entry: 255 in a grey palette.
    Picture cut = result(CmiRotate(image, 1, 4, CMI_ROTATE_90, nullptr, 0, &status), status);
    EXPECT_EQ(cut.pixels, (std::vector<uint32_t>{3, 2, 1, 255}));
}

TEST_F(GeometryExports, RotateFullColourAndBitmaps) {
    Picture rgb{3, 1, 24, {}, {0x010203, 0x040506, 0x070809}};
    int32_t status = -7;
    Picture out = result(CmiRotate(input(rgb), 1, 3, CMI_ROTATE_270, nullptr, 0, &status), status);
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0x010203, 0x040506, 0x070809}));
    Picture bits{10, 3, 1, {0x000000, 0xFFFFFF}, pixelsOf(10, 3, [](int x, int y) { return uint32_t((x + y) % 3 == 0); })};
    Picture turned = result(CmiRotate(input(bits), 3, 10, CMI_ROTATE_90, nullptr, 0, &status), status);
    ASSERT_EQ(turned.width, 3);
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(turned.at(c, r), bits.at(9 - r, c)) << c << "," << r;
    }
}

// --- Rotation by any angle -------------------------------------------------------

TEST_F(GeometryExports, RotateArbitraryByZeroCentresThePictureOnTheFill) {
    HGLOBAL image = input(threeByTwo());
    for (int32_t interpolation : {8, 9}) {
        const CmiAttribute options[] = {{"interpolation", interpolation}};
        int32_t status = -7;
        Picture out = result(CmiRotateArbitrary(image, 7, 6, 0.0, options, 1, &status), status);
        ASSERT_EQ(out.width, 7);
        ASSERT_EQ(out.height, 6);
        // Placed at ((7 - 3) / 2, (6 - 2) / 2) = (2, 2).
        EXPECT_EQ(out.pixels, pixelsOf(7, 6, [](int x, int y) -> uint32_t {
                      if (x >= 2 && x < 5 && y >= 2 && y < 4) return static_cast<uint32_t>(1 + (x - 2) + 3 * (y - 2));
                      return 255;
                  })) << interpolation;
    }
}

TEST_F(GeometryExports, RotateArbitraryByNinetyTurnsCounterClockwise) {
    // A bright block right of the centre of a 9 x 9 picture ends above it.
    // Pixel (x, y) samples about (8 - y, x); cos(π/2) is not exactly 0, so
    // a truncation may land one pixel lower, and the block is 3 wide.
    Picture picture = grey(9, 9, pixelsOf(9, 9, [](int x, int y) -> uint32_t {
                               return x >= 6 && y >= 3 && y <= 5 ? 255 : 0;
                           }));
    const CmiAttribute options[] = {{"constantLevel", 100}};
    int32_t status = -7;
    Picture out = result(CmiRotateArbitrary(input(picture), 9, 9, 90.0, options, 1, &status), status);
    EXPECT_EQ(out.at(4, 1), 255u);  // above the centre
    EXPECT_EQ(out.at(7, 4), 0u);    // where the block was
    EXPECT_EQ(out.at(4, 7), 0u);    // below the centre
}

TEST_F(GeometryExports, RotateArbitraryOfFullColourUsesThreeLevels) {
    Picture rgb{2, 2, 24, {}, {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF}};
    const CmiAttribute levels[] = {{"constantLevel", 1}, {"constantLevel2", 2}, {"constantLevel3", 3}};
    int32_t status = -7;
    Picture out = result(CmiRotateArbitrary(input(rgb), 4, 2, 0.0, levels, 3, &status), status);
    // Bands are R, G, B: fill red 1, green 2, blue 3.
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0x010203, 0x0000FF, 0x00FF00, 0x010203,  //
                                                 0x010203, 0xFF0000, 0xFFFFFF, 0x010203}));
}

// --- Skew -----------------------------------------------------------------------

TEST_F(GeometryExports, SkewHorizontal45Of10x10Into20x10) {
    Picture picture = grey(10, 10, pixelsOf(10, 10, [](int x, int y) { return uint32_t(y * 10 + x); }));
    const CmiAttribute fill[] = {{"constantLevel", 250}};
    int32_t status = -7;
    Picture out = result(CmiSkew(input(picture), 20, 10, CMI_HORIZONTAL, 45.0, fill, 1, &status), status);
    ASSERT_EQ(out.width, 20);
    ASSERT_EQ(out.height, 10);
    // The source sits at canvas x 10..19; result (x, y) samples canvas (x + y, y).
    EXPECT_EQ(out.pixels, pixelsOf(20, 10, [&](int x, int y) -> uint32_t {
                  const int cx = x + y;
                  return cx >= 10 && cx < 20 ? picture.at(cx - 10, y) : 250;
              }));
}

TEST_F(GeometryExports, SkewVerticalNegativeStartsAtTheTopLeft) {
    Picture picture = grey(4, 4, pixelsOf(4, 4, [](int x, int y) { return uint32_t(1 + y * 4 + x); }));
    const CmiAttribute fill[] = {{"constantLevel", 0}};
    int32_t status = -7;
    Picture out = result(CmiSkew(input(picture), 4, 8, CMI_VERTICAL, -45.0, fill, 1, &status), status);
    // θ = -90 - (-45) = -45 degrees, k = cos θ / sin θ (about -1): (x, y)
    // samples canvas (x, k x + y), the picture at the canvas's top left.
    // k is -1.0000000000000002, so k x + y truncates one row up wherever
    // it is a positive whole number.
    const double theta = -45.0 * 0.017453292519943292;
    const double k = std::cos(theta) / std::sin(theta);
    EXPECT_EQ(out.pixels, pixelsOf(4, 8, [&](int x, int y) -> uint32_t {
                  const double sy = (0.0 + k * x) + 1.0 * y;
                  if (!(sy > -1.0 && sy < 8.0)) return 0;
                  const int iy = static_cast<int>(sy);
                  return iy < 4 ? picture.at(x, iy) : 0;
              }));
    EXPECT_EQ(out.at(0, 0), 1u);
    EXPECT_EQ(out.at(3, 3), picture.at(3, 0));
}

// --- Subsample ------------------------------------------------------------------

TEST_F(GeometryExports, SubsampleWithEqualSizesCopiesWithoutResampling) {
    Picture picture = grey(6, 5, pixelsOf(6, 5, [](int x, int y) { return uint32_t(10 * y + x); }));
    HGLOBAL image = input(picture);
    int32_t status = -7;
    // Source rectangle (1, 2) 4 x 3 onto (1, 0) of a 4 x 3 canvas: source
    // (1, 2) lands on (1, 0), and copySamples copies the whole overlap, so
    // the canvas column left of the target shows source column 0.
    Picture out = result(CmiSubsample(image, 1, 2, 4, 3, 4, 3, 1, 0, 4, 3, 9, 0, nullptr, 0, &status), status);
    EXPECT_EQ(out.pixels, pixelsOf(4, 3, [&](int x, int y) { return picture.at(x, y + 2); }));
    // Offset the other way: the canvas pixels without a source pixel hold
    // 0 (the fill is skipped when target and result sizes agree).
    Picture shifted = result(CmiSubsample(image, 0, 0, 4, 3, 4, 3, 2, 1, 4, 3, 9, 0, nullptr, 0, &status), status);
    EXPECT_EQ(shifted.pixels, pixelsOf(4, 3, [&](int x, int y) -> uint32_t {
                  return x < 2 || y < 1 ? 0 : picture.at(x - 2, y - 1);
              }));
}

TEST_F(GeometryExports, SubsampleScalesARectangleIntoAFilledCanvas) {
    Picture picture = grey(4, 4, pixelsOf(4, 4, [](int x, int y) { return uint32_t(10 * y + x); }));
    const CmiAttribute fill[] = {{"constantLevel", 99}};
    int32_t status = -7;
    // The 2 x 2 at (1, 1) doubled onto (1, 1) of a 6 x 6 canvas.
    Picture out = result(CmiSubsample(input(picture), 1, 1, 2, 2, 6, 6, 1, 1, 4, 4, 8, 0, fill, 1, &status), status);
    EXPECT_EQ(out.pixels, pixelsOf(6, 6, [&](int x, int y) -> uint32_t {
                  if (x < 1 || x > 4 || y < 1 || y > 4) return 99;
                  return picture.at(1 + (x - 1) / 2, 1 + (y - 1) / 2);
              }));
}

TEST_F(GeometryExports, SubsampleOfABitmapKeepsTheResultWidth) {
    Picture bits{13, 4, 1, {0x000000, 0xFFFFFF}, pixelsOf(13, 4, [](int x, int y) { return uint32_t((x ^ y) & 1); })};
    HGLOBAL image = input(bits);
    int32_t status = -7;
    // A plain copy into an 11-pixel-wide canvas.
    Picture copy = result(CmiSubsample(image, 2, 0, 11, 4, 11, 4, 0, 0, 11, 4, 8, 0, nullptr, 0, &status), status);
    EXPECT_EQ(copy.width, 11);
    EXPECT_EQ(copy.bits, 1);
    EXPECT_EQ(copy.pixels, pixelsOf(11, 4, [&](int x, int y) { return bits.at(x + 2, y); }));
    // Scaled into part of a canvas of odd width: the fill (white, entry 1)
    // around it and zero padding bits after each row.
    Picture scaled = result(CmiSubsample(image, 0, 0, 4, 4, 9, 5, 1, 0, 8, 4, 8, 0, nullptr, 0, &status), status);
    EXPECT_EQ(scaled.width, 9);
    EXPECT_EQ(scaled.pixels, pixelsOf(9, 5, [&](int x, int y) -> uint32_t {
                  if (x < 1 || y > 3) return 1;
                  return bits.at((x - 1) / 2, y);
              }));
}

// --- Constant -------------------------------------------------------------------

TEST_F(GeometryExports, ConstantFillsAClippedRectangle) {
    HGLOBAL image = input(flatGrey(5, 4, 3));
    int32_t status = -7;
    Picture out = result(CmiConstant(image, 3, -1, 4, 3, 60, 0, 0, nullptr, 0, &status), status);
    EXPECT_EQ(out.pixels, pixelsOf(5, 4, [](int x, int y) -> uint32_t { return x >= 3 && y < 2 ? 60 : 3; }));
    // A negative level means the default: the lightest palette entry.
    Picture light = result(CmiConstant(image, 0, 0, 2, 2, -1, -1, -1, nullptr, 0, &status), status);
    EXPECT_EQ(light.pixels, pixelsOf(5, 4, [](int x, int y) -> uint32_t { return x < 2 && y < 2 ? 255 : 3; }));
    // Wholly outside: the picture unchanged.
    Picture same = result(CmiConstant(image, 9, 9, 2, 2, 1, 1, 1, nullptr, 0, &status), status);
    EXPECT_EQ(same.pixels, flatGrey(5, 4, 3).pixels);
}

TEST_F(GeometryExports, ConstantFillsFullColourBandByBand) {
    Picture rgb{2, 2, 24, {}, std::vector<uint32_t>(4, 0)};
    int32_t status = -7;
    Picture out = result(CmiConstant(input(rgb), 1, 0, 1, 2, 10, 20, -1, nullptr, 0, &status), status);
    // Red 10, green 20, blue the default 255 (no palette).
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0, 0x0A14FF, 0, 0x0A14FF}));
}

TEST_F(GeometryExports, ConstantOnBitmapsUsesTheLightestEntry) {
    // Palette (white, black): the default level is 0, the white entry.
    Picture whiteFirst{11, 2, 1, {0xFFFFFF, 0x000000}, std::vector<uint32_t>(22, 1)};
    int32_t status = -7;
    Picture out = result(CmiConstant(input(whiteFirst), 2, 0, 7, 1, -1, -1, -1, nullptr, 0, &status), status);
    EXPECT_EQ(out.width, 11);
    EXPECT_EQ(out.pixels, pixelsOf(11, 2, [](int x, int y) -> uint32_t { return x >= 2 && x < 9 && y == 0 ? 0 : 1; }));
    // Palette (black, white): 255, so set bits.
    Picture blackFirst{11, 2, 1, {0x000000, 0xFFFFFF}, std::vector<uint32_t>(22, 0)};
    Picture set = result(CmiConstant(input(blackFirst), 9, 1, 5, 5, -1, -1, -1, nullptr, 0, &status), status);
    EXPECT_EQ(set.pixels, pixelsOf(11, 2, [](int x, int y) -> uint32_t { return x >= 9 && y == 1 ? 1 : 0; }));
}

// --- Flip -----------------------------------------------------------------------

TEST_F(GeometryExports, FlipWholeImage) {
    HGLOBAL image = input(threeByTwo());
    int32_t status = -7;
    Picture mirror = result(CmiFlip(image, CMI_HORIZONTAL, nullptr, 0, &status), status);
    EXPECT_EQ(mirror.pixels, (std::vector<uint32_t>{3, 2, 1, 6, 5, 4}));
    Picture upsideDown = result(CmiFlip(image, CMI_VERTICAL, nullptr, 0, &status), status);
    EXPECT_EQ(upsideDown.pixels, (std::vector<uint32_t>{4, 5, 6, 1, 2, 3}));
}

TEST_F(GeometryExports, FlipARegionInItsPlace) {
    Picture picture = grey(5, 3, pixelsOf(5, 3, [](int x, int y) { return uint32_t(10 * y + x); }));
    HGLOBAL image = input(picture);
    const CmiAttribute region[] = {{"sourceXPoint", 1}, {"sourceYPoint", 1}, {"sourceWidth", 3}, {"sourceHeight", 2}};
    int32_t status = -7;
    Picture out = result(CmiFlip(image, CMI_HORIZONTAL, region, 4, &status), status);
    EXPECT_EQ(out.pixels, pixelsOf(5, 3, [&](int x, int y) -> uint32_t {
                  return x >= 1 && x < 4 && y >= 1 ? picture.at(4 - x, y) : picture.at(x, y);
              }));
    // A region reaching past the image is clipped to it.
    const CmiAttribute beyond[] = {{"sourceXPoint", 3}, {"sourceYPoint", 0}, {"sourceWidth", 9}, {"sourceHeight", 9}};
    Picture clipped = result(CmiFlip(image, CMI_VERTICAL, beyond, 4, &status), status);
    EXPECT_EQ(clipped.pixels, pixelsOf(5, 3, [&](int x, int y) -> uint32_t {
                  return x >= 3 ? picture.at(x, 2 - y) : picture.at(x, y);
              }));
}

TEST_F(GeometryExports, FlipABitmapRegion) {
    Picture bits{12, 2, 1, {0x000000, 0xFFFFFF}, pixelsOf(12, 2, [](int x, int y) { return uint32_t(x < 3); })};
    const CmiAttribute region[] = {{"sourceXPoint", 1}, {"sourceYPoint", 0}, {"sourceWidth", 5}, {"sourceHeight", 2}};
    int32_t status = -7;
    Picture out = result(CmiFlip(input(bits), CMI_HORIZONTAL, region, 4, &status), status);
    // Columns 1..5 (1 1 0 0 0) mirrored: 0 0 0 1 1.
    EXPECT_EQ(out.row(0), (std::vector<uint32_t>{1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0}));
}

// --- Bitmaps through the resampling kernels --------------------------------------

TEST_F(GeometryExports, HalvingABitmapKeepsALonePixelOnlyWithMorphology) {
    Picture bits{4, 4, 1, {0x000000, 0xFFFFFF}, std::vector<uint32_t>(16, 0)};
    bits.pixels[1 * 4 + 1] = 1;
    HGLOBAL image = input(bits);
    int32_t status = -7;
    Picture plain = result(CmiResize(image, 2, 2, CMI_INTERPOLATION_BILINEAR, CMI_MORPHOLOGY_NONE, nullptr, 0, &status),
                           status);
    EXPECT_EQ(plain.pixels, (std::vector<uint32_t>{0, 0, 0, 0}));
    Picture kept = result(
        CmiResize(image, 2, 2, CMI_INTERPOLATION_BILINEAR, CMI_MORPHOLOGY_KEEP_SET, nullptr, 0, &status), status);
    EXPECT_EQ(kept.pixels, (std::vector<uint32_t>{1, 0, 0, 0}));
}

TEST_F(GeometryExports, FourBitPicturesRotateAndFill) {
    std::vector<uint32_t> palette(16);
    for (uint32_t i = 0; i < 16; ++i) palette[i] = i * 0x111111u;
    Picture nibbles{3, 2, 4, palette, {1, 2, 3, 4, 5, 6}};
    const CmiAttribute level[] = {{"constantLevel", 9}};
    int32_t status = -7;
    Picture out = result(CmiRotate(input(nibbles), 3, 3, CMI_ROTATE_90, level, 1, &status), status);
    EXPECT_EQ(out.bits, 4);
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{3, 6, 9, 2, 5, 9, 1, 4, 9}));
    // The default: the lightest entry, 15.
    Picture light = result(CmiRotate(input(nibbles), 2, 4, CMI_ROTATE_90, nullptr, 0, &status), status);
    EXPECT_EQ(light.pixels, (std::vector<uint32_t>{3, 6, 2, 5, 1, 4, 15, 15}));
}

}  // namespace
