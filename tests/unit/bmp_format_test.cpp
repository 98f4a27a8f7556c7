// BMP files and packed bitmaps: reading every depth into band-sequential
// images, palettes, the writer's layout and default palettes, the block sizes
// of imageToDib, round trips, and headers that lie about their sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/env/codes.h"
#include "core/env/dispatch.h"
#include "core/formats/bmp.h"
#include "tests/support/allocation_probe.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::Bytes;
using test::pointerPair;
using test::ScopedEnvironment;

// A bitmap described field by field; build() lays it out.
struct BmpLayout {
    bool fileHeader = true;              // format 225; false: packed bitmap (255)
    const char *signature = "BM";
    uint32_t headerSize = 40;            // 12: OS/2 core header with 16-bit sizes
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t depth = 24;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    uint32_t coloursUsed = 0;
    std::optional<uint32_t> dataOffset;  // default: right after the palette
    std::vector<uint8_t> palette;        // stored entries, 4 (or 3 for OS/2) bytes each
    std::vector<uint8_t> pixels;         // stored rows, bottom row first
};

std::vector<uint8_t> build(const BmpLayout &s) {
    const uint32_t infoAt = s.fileHeader ? 14 : 0;
    const uint32_t pixelsAt = infoAt + s.headerSize + static_cast<uint32_t>(s.palette.size());
    Bytes b;
    if (s.fileHeader) {
        b.text(s.signature).u32(pixelsAt + static_cast<uint32_t>(s.pixels.size())).u16(0).u16(0);
        b.u32(s.dataOffset.value_or(pixelsAt));
    }
    b.u32(s.headerSize);
    if (s.headerSize == 12) {
        b.u16(static_cast<uint32_t>(s.width)).u16(static_cast<uint32_t>(s.height)).u16(s.planes).u16(s.depth);
    } else {
        b.u32(static_cast<uint32_t>(s.width)).u32(static_cast<uint32_t>(s.height)).u16(s.planes).u16(s.depth);
        b.u32(s.compression).u32(s.imageSize).u32(2835).u32(2835).u32(s.coloursUsed).u32(0);
        if (s.headerSize > 40) b.zeros(s.headerSize - 40);
    }
    std::vector<uint8_t> bytes = b.data();
    bytes.resize(infoAt + std::max<uint32_t>(s.headerSize, 4), 0);  // short header sizes keep 4 bytes
    bytes.insert(bytes.end(), s.palette.begin(), s.palette.end());
    bytes.insert(bytes.end(), s.pixels.begin(), s.pixels.end());
    return bytes;
}

uint32_t u16At(const uint8_t *p) { return p[0] | (p[1] << 8); }
uint32_t u32At(const uint8_t *p) { return u16At(p) | (u16At(p + 2) << 16); }

std::vector<uint8_t> greyPalette(int entries, int entryBytes = 4) {
    std::vector<uint8_t> p;
    for (int i = 0; i < entries; ++i) {
        for (int c = 0; c < entryBytes; ++c) p.push_back(c < 3 ? static_cast<uint8_t>(i) : 0);
    }
    return p;
}

struct Decoded {
    int code = kOk;
    DataObject *image = nullptr;
    DataObject *lut = nullptr;
};

// Reads `bytes` with the BMP reader into an image of class `cls` that has a
// palette object, both in work space.
Decoded readBitmap(Environment *env, const std::vector<uint8_t> &bytes, int32_t format,
                   ObjectClass cls = ObjectClass::GenericImage, int32_t mode = code::kParseAll) {
    Decoded d;
    const CmiAttribute lutList[] = {{"repository", code::kWorkSpace}};
    d.lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr, lutList);
    const CmiAttribute imageList[] = {{"repository", code::kWorkSpace}, pointerPair("lut", d.lut)};
    d.image = createObject(env, nullptr, cls, nullptr, imageList);
    const CmiAttribute fileList[] = {{"repository", code::kApplicationAddressSpace},
                                     pointerPair("applicationAddressSpace", bytes.data()),
                                     {"size", static_cast<intptr_t>(bytes.size())},
                                     {"fileFormat", format}};
    DataObject *file = createObject(env, nullptr, cls, d.image, fileList);
    if (d.lut == nullptr || d.image == nullptr || file == nullptr) {
        d.code = lastError(env);
        return d;
    }
    d.code = readBmp(env, file, d.image, mode, format);
    destroyObject(env, file);
    return d;
}

// Every sample of `object` in element order (x fastest, band slowest).
std::vector<uint32_t> sampleValues(Environment *env, DataObject *object) {
    uint64_t count = 0;
    std::vector<uint32_t> values;
    if (!elementCount(object, &count) || count > (1u << 20)) return values;
    DataAccess *in;
    if (openAccess(env, object, AccessMode::Read, 0, {}, &in) != kOk) return values;
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t v = 0;
        if (readElement(in, static_cast<int64_t>(i), &v) != kOk) break;
        values.push_back(v);
    }
    closeAccess(env, in);
    return values;
}

// Builds an image in work space holding `samples` (one value per element).
DataObject *makeImage(Environment *env, ObjectClass cls, int32_t dataType, int32_t precision, int32_t width,
                      int32_t height, int32_t bands, const std::vector<uint32_t> &samples) {
    const CmiAttribute list[] = {{"repository", code::kWorkSpace}, {"dataType", dataType},
                                 {"dataPrecision", precision}, {"xDimension", width},
                                 {"yDimension", height},       {"bDimension", bands}};
    DataObject *image = createObject(env, nullptr, cls, nullptr, list);
    if (image == nullptr) return nullptr;
    DataAccess *out;
    if (openAccess(env, image, AccessMode::Write, 0, {}, &out) != kOk) return nullptr;
    for (size_t i = 0; i < samples.size(); ++i) writeElement(out, static_cast<int64_t>(i), samples[i]);
    if (closeAccess(env, out) != kOk) return nullptr;
    return image;
}

std::vector<uint32_t> pattern(size_t count, uint32_t modulo, uint32_t seed) {
    std::vector<uint32_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint32_t>((i * 7 + seed) % modulo);
    return v;
}

// ---------------------------------------------------------------------------
// Reading

struct ReadCase {
    const char *name;
    BmpLayout bmp;
    ObjectClass cls;
    int expected;  // always 0 here; refused headers have a table of their own
    intptr_t x, y, bands, precision, dataType;
    std::vector<uint32_t> samples;  // band sequential, top row first
};

const ReadCase kReadCases[] = {
    {"one_pixel_24_bit_has_a_row_of_4_bytes",
     {.depth = 24, .pixels = {0x30, 0x20, 0x10, 0x00}}, ObjectClass::ColourImage, kOk, 1, 1, 3, 8, 153,
     {0x10, 0x20, 0x30}},
    {"rows_are_stored_bottom_up",
     {.width = 2, .height = 2, .depth = 24, .pixels = {3, 2, 1, 6, 5, 4, 0, 0, 9, 8, 7, 12, 11, 10, 0, 0}},
     ObjectClass::GenericImage, kOk, 2, 2, 3, 8, 153,
     {7, 10, 1, 4, 8, 11, 2, 5, 9, 12, 3, 6}},
    {"sixteen_bit_expands_5_5_5",
     // 7FFF white, 0001 blue 1, 7C00 red 31, 03E0 green 31, 8000 only the unused bit; 2 bytes pad
     {.width = 5, .depth = 16, .pixels = {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x7C, 0xE0, 0x03, 0x00, 0x80, 0, 0}},
     ObjectClass::ColourImage, kOk, 5, 1, 3, 8, 153,
     {255, 0, 255, 0, 0, 255, 0, 0, 255, 0, 255, 8, 0, 0, 0}},
    {"thirty_two_bit_drops_the_fourth_byte",
     {.width = 2, .depth = 32, .pixels = {3, 2, 1, 0xAA, 6, 5, 4, 0xBB}}, ObjectClass::ColourImage, kOk, 2, 1, 3, 8,
     153, {1, 4, 2, 5, 3, 6}},
    {"eight_bit_indices",
     {.width = 3, .height = 2, .depth = 8, .palette = greyPalette(256), .pixels = {7, 8, 9, 0, 1, 2, 3, 0}},
     ObjectClass::MonochromeImage, kOk, 3, 2, 1, 8, 153, {1, 2, 3, 7, 8, 9}},
    {"four_bit_high_half_first",
     {.width = 3, .depth = 4, .palette = greyPalette(16), .pixels = {0x12, 0x30, 0, 0}}, ObjectClass::GenericImage,
     kOk, 3, 1, 1, 4, 153, {1, 2, 3}},
    {"one_bit_odd_width",
     {.width = 13, .height = 2, .depth = 1, .palette = greyPalette(2),
      .pixels = {0xAA, 0xA8, 0, 0, 0xFF, 0xF8, 0, 0}},
     ObjectClass::MonochromeImage, kOk, 13, 2, 1, 1, 18,
     {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}},
    {"os2_core_header", {.headerSize = 12, .width = 3, .depth = 1, .palette = greyPalette(2, 3), .pixels = {0xA0, 0, 0, 0}},
     ObjectClass::GenericImage, kOk, 3, 1, 1, 1, 18, {1, 0, 1}},
    {"v4_header", {.headerSize = 108, .width = 2, .depth = 8, .palette = greyPalette(256), .pixels = {5, 6, 0, 0}},
     ObjectClass::GenericImage, kOk, 2, 1, 1, 8, 153, {5, 6}},
    {"packed_bitmap", {.fileHeader = false, .width = 1, .depth = 24, .pixels = {0x30, 0x20, 0x10, 0x00}},
     ObjectClass::GenericImage, kOk, 1, 1, 3, 8, 153, {0x10, 0x20, 0x30}},
};

struct RefusedCase {
    const char *name;
    BmpLayout bmp;
    ObjectClass cls;
    int expected;
};

const RefusedCase kRefusedCases[] = {
    {"one_pixel_24_bit_row_cut_to_3_bytes", {.depth = 24, .pixels = {0x30, 0x20, 0x10}}, ObjectClass::GenericImage,
     kInsufficientSize},
    {"negative_height_top_down", {.height = -1, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"zero_width", {.width = 0, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"zero_height", {.height = 0, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"negative_width", {.width = -3, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"two_planes", {.planes = 2, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"depth_2", {.depth = 2, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"depth_0", {.depth = 0, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"run_length_8_at_24_bit", {.depth = 24, .compression = 1, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage,
     kSyntaxError},
    {"run_length_4_at_8_bit", {.depth = 8, .compression = 2, .palette = greyPalette(256), .pixels = {0, 0, 0, 0}},
     ObjectClass::GenericImage, kSyntaxError},
    {"bit_fields", {.depth = 16, .compression = 3, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"header_size_20", {.headerSize = 20, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"header_size_0", {.headerSize = 0, .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"no_signature", {.signature = "BA", .pixels = {0, 0, 0, 0}}, ObjectClass::GenericImage, kSyntaxError},
    {"colour_class_for_8_bit", {.depth = 8, .palette = greyPalette(256), .pixels = {0, 0, 0, 0}},
     ObjectClass::ColourImage, kMismatchObjectClass},
    {"monochrome_class_for_24_bit", {.depth = 24, .pixels = {0, 0, 0, 0}}, ObjectClass::MonochromeImage,
     kMismatchObjectClass},
};

class BmpRead : public testing::TestWithParam<ReadCase> {};

TEST_P(BmpRead, GivesBandSequentialSamples) {
    const ReadCase &c = GetParam();
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = build(c.bmp);
    Decoded d = readBitmap(env, bytes, c.bmp.fileHeader ? code::kFormatBMP : code::kFormatPackedDIB, c.cls);
    ASSERT_EQ(d.code, kOk);
    EXPECT_EQ(d.image->get(Attr::xDimension), c.x);
    EXPECT_EQ(d.image->get(Attr::yDimension), c.y);
    EXPECT_EQ(d.image->get(Attr::bDimension), c.bands);
    EXPECT_EQ(d.image->get(Attr::dataPrecision), c.precision);
    EXPECT_EQ(d.image->get(Attr::dataType), c.dataType);
    EXPECT_EQ(d.image->get(Attr::compression), 0);
    if (c.bands == 3) EXPECT_EQ(d.image->get(Attr::colourSpace), code::kRGB);
    EXPECT_EQ(sampleValues(env, d.image), c.samples);
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpRead, testing::ValuesIn(kReadCases),
                         [](const auto &info) { return std::string(info.param.name); });

class BmpRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(BmpRefused, ReportsTheReason) {
    const RefusedCase &c = GetParam();
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = build(c.bmp);
    Decoded d = readBitmap(env, bytes, c.bmp.fileHeader ? code::kFormatBMP : code::kFormatPackedDIB, c.cls);
    EXPECT_EQ(d.code, c.expected);
    EXPECT_EQ(lastError(env), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpRefused, testing::ValuesIn(kRefusedCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BmpReadModes, HeaderOnlyThenSamplesOnly) {
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = build({.width = 2, .depth = 24, .pixels = {3, 2, 1, 6, 5, 4, 0, 0}});
    Decoded d = readBitmap(env, bytes, code::kFormatBMP, ObjectClass::ColourImage, code::kParseHeaderOnly);
    ASSERT_EQ(d.code, kOk);
    EXPECT_EQ(d.image->get(Attr::xDimension), 2);
    EXPECT_FALSE(d.image->inited()) << "a header-only parse stores no samples";

    const CmiAttribute fileList[] = {{"repository", code::kApplicationAddressSpace},
                                     pointerPair("applicationAddressSpace", bytes.data()),
                                     {"size", static_cast<intptr_t>(bytes.size())}};
    DataObject *file = createObject(env, nullptr, ObjectClass::ColourImage, d.image, fileList);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(readBmp(env, file, d.image, code::kParseSamplesOnly, code::kFormatBMP), kOk);
    EXPECT_EQ(sampleValues(env, d.image), (std::vector<uint32_t>{1, 4, 2, 5, 3, 6}));

    // Samples-only into an image whose type no longer matches the file.
    ASSERT_EQ(setAttribute(env, d.image, "dataType", code::kBoolean), kOk);
    EXPECT_EQ(readBmp(env, file, d.image, code::kParseSamplesOnly, code::kFormatBMP), kMismatchDataType);
    EXPECT_EQ(readBmp(env, file, d.image, 5, code::kFormatBMP), kOutOfRange);
    EXPECT_EQ(readBmp(env, file, d.image, code::kParseAll, code::kFormatPNG), kOutOfRange);
}

TEST(BmpReadResolution, BmpRecordGetsPixelsPerMetre) {
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = build({.depth = 24, .pixels = {0, 0, 0, 0}});
    const CmiAttribute imageList[] = {{"repository", code::kWorkSpace}, {"fileFormat", code::kFormatBMP}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
    ASSERT_NE(image, nullptr);
    const CmiAttribute fileList[] = {{"repository", code::kApplicationAddressSpace},
                                     pointerPair("applicationAddressSpace", bytes.data()),
                                     {"size", static_cast<intptr_t>(bytes.size())}};
    DataObject *file = createObject(env, nullptr, ObjectClass::GenericImage, image, fileList);
    ASSERT_EQ(readBmp(env, file, image, code::kParseHeaderOnly, code::kFormatBMP), kOk);
    EXPECT_EQ(formatWord(image, "resolutionUnit"), code::kPixelsPerMetre);
    EXPECT_EQ(formatWord(image, "xResolution"), 2835);
    EXPECT_EQ(formatWord(image, "yResolution"), 2835);
}

// ---------------------------------------------------------------------------
// Palettes read into the "lut" object

struct PaletteCase {
    const char *name;
    BmpLayout bmp;
    intptr_t entries;                   // "xDimension" of the table
    std::vector<uint8_t> firstEntries;  // R G B of the leading entries; the rest are black
};

std::vector<uint8_t> colouredPalette(int entries, int entryBytes = 4) {
    std::vector<uint8_t> p;
    for (int i = 0; i < entries; ++i) {
        p.push_back(static_cast<uint8_t>(100 + i));     // blue
        p.push_back(static_cast<uint8_t>(50 + i));      // green
        p.push_back(static_cast<uint8_t>(200 + i));     // red
        if (entryBytes == 4) p.push_back(0xEE);         // unused
    }
    return p;
}

std::vector<uint8_t> colouredRgb(int entries) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < entries; ++i) {
        rgb.push_back(static_cast<uint8_t>(200 + i));
        rgb.push_back(static_cast<uint8_t>(50 + i));
        rgb.push_back(static_cast<uint8_t>(100 + i));
    }
    return rgb;
}

const PaletteCase kPaletteCases[] = {
    {"eight_bit_colours_used_16",
     {.width = 2, .depth = 8, .coloursUsed = 16, .palette = colouredPalette(16), .pixels = {0, 15, 0, 0}}, 256,
     colouredRgb(16)},
    {"four_bit_full_palette", {.width = 2, .depth = 4, .palette = colouredPalette(16), .pixels = {0x0F, 0, 0, 0}}, 16,
     colouredRgb(16)},
    {"one_bit", {.depth = 1, .palette = colouredPalette(2), .pixels = {0x80, 0, 0, 0}}, 2, colouredRgb(2)},
    {"os2_three_byte_entries", {.headerSize = 12, .depth = 1, .palette = colouredPalette(2, 3), .pixels = {0, 0, 0, 0}},
     2, colouredRgb(2)},
    {"v5_header", {.headerSize = 124, .depth = 4, .palette = colouredPalette(16), .pixels = {0, 0, 0, 0}}, 16,
     colouredRgb(16)},
    {"packed_bitmap_colours_used_3",
     {.fileHeader = false, .depth = 8, .coloursUsed = 3, .palette = colouredPalette(3), .pixels = {2, 0, 0, 0}}, 256,
     colouredRgb(3)},
};

class BmpPalette : public testing::TestWithParam<PaletteCase> {};

TEST_P(BmpPalette, FillsTheTablePlaneByPlane) {
    const PaletteCase &c = GetParam();
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = build(c.bmp);
    Decoded d = readBitmap(env, bytes, c.bmp.fileHeader ? code::kFormatBMP : code::kFormatPackedDIB);
    ASSERT_EQ(d.code, kOk);
    ASSERT_EQ(d.lut->get(Attr::xDimension), c.entries);
    EXPECT_EQ(d.lut->get(Attr::bDimension), 3);
    const size_t n = static_cast<size_t>(c.entries);
    std::vector<uint8_t> expected(3 * n, 0);  // red plane, green plane, blue plane
    for (size_t i = 0; i < c.firstEntries.size() / 3; ++i) {
        for (size_t p = 0; p < 3; ++p) expected[p * n + i] = c.firstEntries[3 * i + p];
    }
    std::vector<uint8_t> planes;
    ASSERT_EQ(test::readAllSamples(env, d.lut, &planes), kOk);
    EXPECT_EQ(planes, expected);
}

INSTANTIATE_TEST_SUITE_P(Palettes, BmpPalette, testing::ValuesIn(kPaletteCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Writing

TEST(BmpWrite, OnePixel24BitFileLayout) {
    ScopedEnvironment env;
    DataObject *image = makeImage(env, ObjectClass::ColourImage, 153, 8, 1, 1, 3, {0x10, 0x20, 0x30});
    ASSERT_NE(image, nullptr);
    std::vector<uint8_t> memory(80, 0xEE);
    const CmiAttribute targetList[] = {{"repository", code::kApplicationAddressSpace},
                                       pointerPair("applicationAddressSpace", memory.data()),
                                       {"size", static_cast<intptr_t>(memory.size())},
                                       {"fileFormat", code::kFormatBMP}};
    DataObject *target = createObject(env, nullptr, ObjectClass::ColourImage, image, targetList);
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(writeBmp(env, image, target, code::kFormatBMP), kOk);
    const std::vector<uint8_t> expected = Bytes()
                                              .text("BM").u32(58).u16(0).u16(0).u32(54)  // file header
                                              .u32(40).u32(1).u32(1).u16(1).u16(24)      // size, w, h, planes, depth
                                              .u32(0).u32(0).u32(0).u32(0).u32(0).u32(0) // no palette, no resolution
                                              .u8s({0x30, 0x20, 0x10, 0x00})             // B G R, pad
                                              .data();
    EXPECT_EQ(std::vector<uint8_t>(memory.begin(), memory.begin() + 58), expected);
    EXPECT_EQ(memory[58], 0xEE);
}

struct DefaultPaletteCase {
    const char *name;
    int32_t dataType;
    int32_t precision;
    uint32_t entries;
    uint32_t step;
};

class BmpDefaultPalette : public testing::TestWithParam<DefaultPaletteCase> {};

TEST_P(BmpDefaultPalette, ImagesWithoutATableGetGreyLevels) {
    const DefaultPaletteCase &c = GetParam();
    ScopedEnvironment env;
    DataObject *image = makeImage(env, ObjectClass::GenericImage, c.dataType, c.precision, 2, 1, 1, {0, 1});
    ASSERT_NE(image, nullptr);
    HGLOBAL handle;
    ASSERT_EQ(imageToDib(env, image, &handle), kOk);
    auto *dib = static_cast<const uint8_t *>(GlobalLock(handle));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(u32At(dib), 40u);
    EXPECT_EQ(u16At(dib + 14), c.precision);
    EXPECT_EQ(u32At(dib + 32), c.entries) << "colours used";
    EXPECT_EQ(u32At(dib + 36), c.entries) << "colours important";
    for (uint32_t i = 0; i < c.entries; ++i) {
        const uint8_t level = static_cast<uint8_t>(i * c.step);
        const uint8_t *entry = dib + 40 + 4 * i;
        ASSERT_EQ(std::vector<uint8_t>(entry, entry + 4), (std::vector<uint8_t>{level, level, level, 0})) << i;
    }
    GlobalUnlock(handle);
    GlobalFree(handle);
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpDefaultPalette,
                         testing::Values(DefaultPaletteCase{"one_bit_black_and_white", 18, 1, 2, 255},
                                         DefaultPaletteCase{"four_bit_steps_of_0x11", 153, 4, 16, 0x11},
                                         DefaultPaletteCase{"eight_bit_256_levels", 153, 8, 256, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BmpWrite, PaletteComesFromTheLookupTable) {
    ScopedEnvironment env;
    const CmiAttribute lutList[] = {{"repository", code::kWorkSpace}, {"xDimension", 4}, {"bDimension", 3}};
    DataObject *lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr, lutList);
    ASSERT_NE(lut, nullptr);
    // Red plane, green plane, blue plane of 4 entries.
    ASSERT_EQ(test::writeAllSamples(env, lut, {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24}), kOk);
    DataObject *image = makeImage(env, ObjectClass::GenericImage, 153, 4, 2, 1, 1, {0, 3});
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(setAttribute(env, image, "lut", reinterpret_cast<intptr_t>(lut)), kOk);
    HGLOBAL handle;
    ASSERT_EQ(imageToDib(env, image, &handle), kOk);
    auto *dib = static_cast<const uint8_t *>(GlobalLock(handle));
    ASSERT_NE(dib, nullptr);
    const std::vector<uint8_t> palette(dib + 40, dib + 40 + 16 * 4);
    std::vector<uint8_t> expected(16 * 4, 0);  // entries past the table stay black
    for (int i = 0; i < 4; ++i) {
        expected[4 * i] = static_cast<uint8_t>(21 + i);
        expected[4 * i + 1] = static_cast<uint8_t>(11 + i);
        expected[4 * i + 2] = static_cast<uint8_t>(1 + i);
    }
    EXPECT_EQ(palette, expected);
    EXPECT_EQ(dib[40 + 64], 0x03) << "samples 0 and 3 packed high half first";
    GlobalUnlock(handle);
    GlobalFree(handle);
}

TEST(BmpWrite, RefusesWhatABitmapCannotHold) {
    ScopedEnvironment env;
    struct Case {
        const char *name;
        ObjectClass cls;
        int32_t dataType, precision, bands;
        int32_t compression;
        int expected;
    };
    const Case cases[] = {
        {"sixteen_bit_colour", ObjectClass::ColourImage, 174, 16, 3, 0, kNonPermissibleOption},
        {"sixteen_bit_grey", ObjectClass::GenericImage, 174, 16, 1, 0, kNonPermissibleOption},
        {"two_bit_grey", ObjectClass::GenericImage, 153, 2, 1, 0, kNonPermissibleOption},
        {"coded_with_lzw", ObjectClass::GenericImage, 153, 8, 1, code::kLZW, kNonPermissibleOption},
        {"run_length_at_24_bit", ObjectClass::ColourImage, 153, 8, 3, code::kBmpRunLength, kNonPermissibleOption},
        {"run_length_at_1_bit", ObjectClass::GenericImage, 18, 1, 1, code::kBmpRunLength, kNonPermissibleOption},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DataObject *image = makeImage(env, c.cls, c.dataType, c.precision, 2, 2, c.bands, {});
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(setAttribute(env, image, "compression", c.compression), kOk);
        std::vector<uint8_t> memory(4096, 0xEE);
        const CmiAttribute targetList[] = {{"repository", code::kApplicationAddressSpace},
                                           pointerPair("applicationAddressSpace", memory.data()),
                                           {"size", static_cast<intptr_t>(memory.size())}};
        DataObject *target = createObject(env, nullptr, c.cls, image, targetList);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(writeBmp(env, image, target, code::kFormatPackedDIB), c.expected);
        EXPECT_EQ(memory, std::vector<uint8_t>(4096, 0xEE)) << "nothing written";
    }
}

// ---------------------------------------------------------------------------
// imageToDib block sizes and round trips

struct DibCase {
    const char *name;
    int32_t dataType;
    int32_t precision;
    int32_t bands;
};

uint64_t expectedBlockSize(const DibCase &c, uint64_t w, uint64_t h) {
    switch (c.precision == 8 && c.bands == 3 ? 24 : c.precision) {
    case 1: return ((w + 7) / 8 + 3) / 4 * 4 * h + 48;
    case 4: return ((w + 1) / 2 + 3) / 4 * 4 * h + 104;
    case 8: return (w + 3) / 4 * 4 * h + 1064;
    default: return (3 * w + 3) / 4 * 4 * h + 40;
    }
}

class BmpDib : public testing::TestWithParam<DibCase> {};

TEST_P(BmpDib, BlockSizeFollowsTheRowLengthOfTheDepth) {
    const DibCase &c = GetParam();
    ScopedEnvironment env;
    for (int32_t w : {1, 2, 3, 4, 5, 7, 8, 9, 13, 31, 33}) {
        for (int32_t h : {1, 3}) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            DataObject *image = makeImage(env, ObjectClass::GenericImage, c.dataType, c.precision, w, h, c.bands, {});
            ASSERT_NE(image, nullptr);
            HGLOBAL handle;
            ASSERT_EQ(imageToDib(env, image, &handle), kOk);
            EXPECT_EQ(GlobalSize(handle), expectedBlockSize(c, static_cast<uint64_t>(w), static_cast<uint64_t>(h)));
            auto *dib = static_cast<const uint8_t *>(GlobalLock(handle));
            ASSERT_NE(dib, nullptr);
            EXPECT_EQ(u32At(dib + 4), static_cast<uint32_t>(w));
            EXPECT_EQ(u32At(dib + 8), static_cast<uint32_t>(h));
            GlobalUnlock(handle);
            GlobalFree(handle);
            ASSERT_EQ(destroyObject(env, image), kOk);
        }
    }
}

TEST_P(BmpDib, SamplesSurviveImageToDibToImage) {
    const DibCase &c = GetParam();
    constexpr int32_t kWidth = 13, kHeight = 3;
    const uint32_t modulo = c.precision == 1 ? 2 : c.precision == 4 ? 16 : 256;
    const std::vector<uint32_t> samples = pattern(size_t(kWidth) * kHeight * c.bands, modulo, 5);
    for (int32_t repository : {code::kWorkSpace, code::kFile}) {
        SCOPED_TRACE(repository);
        ScopedEnvironment env;
        DataObject *image = makeImage(env, ObjectClass::GenericImage, c.dataType, c.precision, kWidth, kHeight,
                                      c.bands, samples);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(sampleValues(env, image), samples);
        HGLOBAL handle;
        ASSERT_EQ(imageToDib(env, image, &handle), kOk);
        const void *dib = GlobalLock(handle);
        ASSERT_NE(dib, nullptr);
        DataObject *back = nullptr;
        ASSERT_EQ(dibToImage(env, dib, GlobalSize(handle), repository, &back), kOk);
        GlobalUnlock(handle);
        GlobalFree(handle);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->get(Attr::xDimension), kWidth);
        EXPECT_EQ(back->get(Attr::yDimension), kHeight);
        EXPECT_EQ(back->get(Attr::bDimension), c.bands);
        EXPECT_EQ(back->get(Attr::dataType), c.dataType);
        EXPECT_EQ(back->get(Attr::dataPrecision), c.precision);
        EXPECT_EQ(back->get(Attr::repository), repository);
        ASSERT_NE(back->lutObject(), nullptr);
        EXPECT_EQ(sampleValues(env, back), samples);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpDib,
                         testing::Values(DibCase{"one_bit", 18, 1, 1}, DibCase{"four_bit", 153, 4, 1},
                                         DibCase{"eight_bit", 153, 8, 1}, DibCase{"twenty_four_bit", 153, 8, 3}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BmpDibSize, ImagesABitmapCannotHoldAreRefused) {
    ScopedEnvironment env;
    struct Case {
        int32_t dataType, precision, bands;
    };
    for (const Case &c : {Case{153, 8, 2}, Case{153, 8, 4}, Case{174, 16, 1}, Case{153, 2, 1}}) {
        SCOPED_TRACE(testing::Message() << c.precision << " bits, " << c.bands << " bands");
        DataObject *image = makeImage(env, ObjectClass::GenericImage, c.dataType, c.precision, 2, 2, c.bands, {});
        ASSERT_NE(image, nullptr);
        HGLOBAL handle = reinterpret_cast<HGLOBAL>(1);
        EXPECT_EQ(imageToDib(env, image, &handle), kNonPermissibleOption);
        EXPECT_EQ(handle, nullptr);
    }
}

// ---------------------------------------------------------------------------
// Headers that claim more than the file holds

struct HostileCase {
    const char *name;
    BmpLayout bmp;
    size_t keepBytes;  // when non-zero the file is cut to this many bytes
    int expected;
};

const HostileCase kHostileCases[] = {
    {"huge_24_bit", {.width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .depth = 24, .pixels = {0, 0, 0, 0}}, 0,
     kInsufficientSize},
    {"huge_32_bit", {.width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .depth = 32, .pixels = {0, 0, 0, 0}}, 0,
     kInsufficientSize},
    {"huge_8_bit", {.width = 65535, .height = 65535, .depth = 8, .palette = greyPalette(256), .pixels = {0, 0, 0, 0}},
     0, kInsufficientSize},
    {"huge_1_bit", {.width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .depth = 1, .palette = greyPalette(2), .pixels = {0}}, 0,
     kInsufficientSize},
    {"huge_packed_bitmap",
     {.fileHeader = false, .width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .depth = 24, .pixels = {0, 0, 0, 0}}, 0,
     kInsufficientSize},
    // With a file header the palette is bounded by the pixel data offset: the
    // claim is ignored and the complete pixel data is read.
    {"colours_used_all_ones_8_bit", {.depth = 8, .coloursUsed = 0xFFFFFFFF, .pixels = {0, 0, 0, 0}}, 0, kOk},
    {"colours_used_all_ones_24_bit", {.depth = 24, .coloursUsed = 0xFFFFFFFF, .pixels = {0, 0, 0, 0}}, 0, kOk},
    {"colours_used_all_ones_packed",
     {.fileHeader = false, .depth = 8, .coloursUsed = 0xFFFFFFFF, .pixels = {0, 0, 0, 0}}, 0, kSyntaxError},
    {"colours_used_all_ones_and_far_pixels",
     {.depth = 8, .coloursUsed = 0xFFFFFFFF, .dataOffset = 0xFFFFFFF0u, .pixels = {0, 0, 0, 0}}, 0,
     kInsufficientSize},
    {"data_offset_past_the_end", {.depth = 24, .dataOffset = 0xFFFFFFF0u, .pixels = {0, 0, 0, 0}}, 0,
     kInsufficientSize},
    {"data_offset_just_past_the_end", {.depth = 24, .dataOffset = 55, .pixels = {0, 0, 0, 0}}, 0, kInsufficientSize},
    // The coded size is bounded by the bytes present (2): an end-of-bitmap
    // code, which decodes without allocating what the header claims.
    {"run_length_size_past_the_end",
     {.depth = 8, .compression = 1, .imageSize = 0xFFFFFFFF, .palette = greyPalette(256), .pixels = {0, 1}}, 0,
     kOk},
    {"information_header_cut", {.depth = 24, .pixels = {0, 0, 0, 0}}, 30, kInsufficientSize},
    {"file_header_cut", {.depth = 24, .pixels = {0, 0, 0, 0}}, 9, kInsufficientSize},
};

class BmpHostile : public testing::TestWithParam<HostileCase> {};

TEST_P(BmpHostile, FailsQuicklyWithoutAHugeAllocation) {
    const HostileCase &c = GetParam();
    std::vector<uint8_t> bytes = build(c.bmp);
    if (c.keepBytes != 0) bytes.resize(c.keepBytes);
    ScopedEnvironment env;
    const auto start = std::chrono::steady_clock::now();
    test::AllocationProbe probe;
    Decoded d = readBitmap(env, bytes, c.bmp.fileHeader ? code::kFormatBMP : code::kFormatPackedDIB);
    EXPECT_EQ(d.code, c.expected);
    if (!c.bmp.fileHeader) {
        DataObject *image = nullptr;
        EXPECT_EQ(dibToImage(env, bytes.data(), bytes.size(), code::kWorkSpace, &image), c.expected);
        EXPECT_EQ(image == nullptr, c.expected != kOk);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    if (test::AllocationProbe::available()) EXPECT_LT(probe.largest(), size_t{16} << 20) << "bytes in one allocation";
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpHostile, testing::ValuesIn(kHostileCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A few bytes of run-length data claiming a 16384 x 16384 image: the read
// pipeline refuses the claimed expansion before anything is allocated.
std::vector<uint8_t> tinyRunLengthClaimingAHugeImage(bool fileHeader) {
    return build({.fileHeader = fileHeader, .width = 16384, .height = 16384, .depth = 8, .compression = 1,
                  .imageSize = 4, .palette = greyPalette(256), .pixels = {0, 0, 0, 1}});
}

TEST(BmpHostileRunLength, ReadPipelineRefusesTheClaimedExpansion) {
    ScopedEnvironment env;
    const std::vector<uint8_t> bytes = tinyRunLengthClaimingAHugeImage(true);
    const CmiAttribute list[] = {{"repository", code::kWorkSpace}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    test::AllocationProbe probe;
    EXPECT_EQ(readImageFromMemory(env, bytes.data(), bytes.size(), image, code::kFormatBMP, {}), kSemanticError);
    if (test::AllocationProbe::available()) EXPECT_LT(probe.largest(), size_t{16} << 20);
}

// A few bytes of run-length data claiming an enormous image are refused
// before the image is allocated, by the reader itself as by the pipeline.
TEST(BmpHostileRunLength, ReaderAndDibToImageDoNotAllocateTheClaimedImage) {
    for (bool fileHeader : {true, false}) {
        SCOPED_TRACE(fileHeader ? "file" : "packed bitmap");
        const std::vector<uint8_t> bytes = tinyRunLengthClaimingAHugeImage(fileHeader);
        ScopedEnvironment env;
        test::AllocationProbe probe;
        readBitmap(env, bytes, fileHeader ? code::kFormatBMP : code::kFormatPackedDIB);
        if (test::AllocationProbe::available()) EXPECT_LT(probe.largest(), size_t{16} << 20) << "readBmp";
        if (!fileHeader) {
            test::AllocationProbe dibProbe;
            DataObject *image = nullptr;
            dibToImage(env, bytes.data(), bytes.size(), code::kWorkSpace, &image);
            if (test::AllocationProbe::available()) {
                EXPECT_LT(dibProbe.largest(), size_t{16} << 20) << "dibToImage";
            }
        }
    }
}

}  // namespace
}  // namespace orvo
