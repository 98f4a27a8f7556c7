// Writing packed bitmaps as files, buffers and handles through the public
// interface, and reading them back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "orvo/orvocore.h"
#include "tests/support/images.h"

namespace {

namespace fs = std::filesystem;
using orvo::test::Rgb;

HGLOBAL readBitmap(const std::vector<uint8_t> &file) {
    HGLOBAL handle = nullptr;
    int32_t status = -7;
    EXPECT_EQ(CmiImportAndParse(file.data(), &handle, 1, CMI_FORMAT_BMP, 0, static_cast<int32_t>(file.size()), nullptr,
                                0, &status),
              1);
    EXPECT_EQ(status, 0);
    return handle;
}

// An 8-bit bitmap with a 4-entry palette and a 24-bit one, both 5 x 3.
std::vector<uint8_t> palette8File() {
    std::vector<uint8_t> palette = {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
    std::vector<uint8_t> rows = {0, 1, 2, 3, 0, 0, 0, 0, 3, 3, 2, 1, 0, 0, 0, 0, 1, 1, 1, 1, 2, 0, 0, 0};
    return orvo::test::makeBmp(5, 3, 8, palette, rows, 0, 4);
}
std::vector<uint8_t> rgb24File() {
    std::vector<uint8_t> rows;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) rows.insert(rows.end(), {uint8_t(x * 40), uint8_t(y * 90), uint8_t(x * y * 10)});
        rows.push_back(0);
    }
    return orvo::test::makeBmp(5, 3, 24, {}, rows);
}

class WriteFiles : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("orvo-write-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(WriteFiles, PlainBmpIsTheBitmapBehindAFileHeader) {
    HGLOBAL bitmap = readBitmap(palette8File());
    const std::string out = (dir_ / "out.bmp").string();
    int32_t status = -7;
    EXPECT_EQ(CmiGenerateAndWrite(&bitmap, 1, out.c_str(), CMI_FORMAT_BMP, nullptr, 0, &status), 0);
    EXPECT_EQ(status, 0);
    std::vector<uint8_t> file = orvo::test::readFile(out);
    auto *dib = static_cast<const uint8_t *>(GlobalLock(bitmap));
    ASSERT_EQ(file.size(), 14 + GlobalSize(bitmap));
    EXPECT_EQ(0, std::memcmp(file.data() + 14, dib, GlobalSize(bitmap)));
    GlobalUnlock(bitmap);
    GlobalFree(bitmap);
}

struct RoundTrip {
    const char *name;
    int32_t format;
    std::vector<CmiAttribute> options;
    bool rgb;
};

class WriteRoundTrips : public WriteFiles, public testing::WithParamInterface<RoundTrip> {};

TEST_P(WriteRoundTrips, ReadBackGivesTheSamePixels) {
    const RoundTrip &c = GetParam();
    HGLOBAL bitmap = readBitmap(c.rgb ? rgb24File() : palette8File());
    const std::string out = (dir_ / "out").string();
    int32_t status = -7;
    CmiGenerateAndWrite(&bitmap, 1, out.c_str(), c.format, c.options.data(), static_cast<int32_t>(c.options.size()),
                        &status);
    ASSERT_EQ(status, 0) << OrvoStatusText(status);
    HGLOBAL back = nullptr;
    ASSERT_EQ(CmiReadAndParse(out.c_str(), &back, 1, c.format, 0, nullptr, 0, &status), 1) << status;
    Rgb original, again;
    ASSERT_TRUE(orvo::test::handleToRgb(bitmap, &original));
    ASSERT_TRUE(orvo::test::handleToRgb(back, &again));
    EXPECT_TRUE(original.pixels == again.pixels);
    GlobalFree(bitmap);
    GlobalFree(back);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WriteRoundTrips,
    testing::Values(RoundTrip{"bmp_palette", CMI_FORMAT_BMP, {}, false},
                    RoundTrip{"bmp_rgb", CMI_FORMAT_BMP, {}, true},
                    RoundTrip{"bmp_run_length", CMI_FORMAT_BMP, {{"compression", CMI_COMPRESSION_BMP_RLE}}, false}),
    [](const auto &info) { return std::string(info.param.name); });

// The expected picture of a conversion, from the source picture.
using Expect = Rgb (*)(const Rgb &source);

struct ConvertCase {
    const char *name;
    std::vector<CmiAttribute> options;
    int depth;                // bits per pixel of the result
    Expect expect;            // null: only the depth is checked
};

Rgb pixelAt(const Rgb &image, int x, int y, Rgb *out) {
    const size_t at = (static_cast<size_t>(y) * image.width + x) * 3;
    out->pixels.insert(out->pixels.end(), image.pixels.begin() + at, image.pixels.begin() + at + 3);
    return *out;
}

class ConvertTransforms : public WriteFiles, public testing::WithParamInterface<ConvertCase> {};

TEST_P(ConvertTransforms, ScaleAndColourModeReachTheFile) {
    const ConvertCase &c = GetParam();
    const std::string in = (dir_ / "in.bmp").string(), out = (dir_ / "out.bmp").string();
    {
        const std::vector<uint8_t> bytes = rgb24File();
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
    }
    int32_t status = -7;
    ASSERT_EQ(CmiFileFormatConvert(in.c_str(), out.c_str(), CMI_FORMAT_BMP, CMI_FORMAT_BMP, c.options.data(),
                                   static_cast<int32_t>(c.options.size()), &status),
              0);
    const std::vector<uint8_t> file = orvo::test::readFile(out);
    ASSERT_GT(file.size(), 54u);
    EXPECT_EQ(file[28], c.depth);
    if (c.expect == nullptr) return;
    HGLOBAL source = readBitmap(rgb24File()), result = readBitmap(file);
    Rgb original, converted;
    ASSERT_TRUE(orvo::test::handleToRgb(source, &original));
    ASSERT_TRUE(orvo::test::handleToRgb(result, &converted));
    const Rgb expected = c.expect(original);
    EXPECT_EQ(converted.width, expected.width);
    EXPECT_EQ(converted.height, expected.height);
    EXPECT_TRUE(converted.pixels == expected.pixels);
    GlobalFree(source);
    GlobalFree(result);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConvertTransforms,
    testing::Values(
        ConvertCase{"double_size_nearest", {{"xDimension", 10}, {"yDimension", 6}}, 24,
                    [](const Rgb &s) {
                        Rgb e{10, 6, {}};
                        for (int y = 0; y < 6; ++y)
                            for (int x = 0; x < 10; ++x) pixelAt(s, x / 2, y / 2, &e);
                        return e;
                    }},
        ConvertCase{"width_only_keeps_height", {{"xDimension", 10}}, 24,
                    [](const Rgb &s) {
                        Rgb e{10, 3, {}};
                        for (int y = 0; y < 3; ++y)
                            for (int x = 0; x < 10; ++x) pixelAt(s, x / 2, y, &e);
                        return e;
                    }},
        ConvertCase{"rectangle_on_filled_canvas",
                    {{"xDimension", 7}, {"yDimension", 5}, {"destinationXPoint", 1}, {"destinationYPoint", 1},
                     {"destinationWidth", 5}, {"destinationHeight", 3}, {"constantLevel", 10},
                     {"constantLevel2", 20}, {"constantLevel3", 30}},
                    24,
                    [](const Rgb &s) {
                        Rgb e{7, 5, {}};
                        for (int y = 0; y < 5; ++y)
                            for (int x = 0; x < 7; ++x) {
                                if (x >= 1 && x <= 5 && y >= 1 && y <= 3) pixelAt(s, x - 1, y - 1, &e);
                                else e.pixels.insert(e.pixels.end(), {10, 20, 30});
                            }
                        return e;
                    }},
        ConvertCase{"grey", {{"colorMode", CMI_MODE_GRAYSCALE}}, 8,
                    [](const Rgb &s) {
                        Rgb e{s.width, s.height, {}};
                        for (size_t i = 0; i < s.pixels.size(); i += 3) {
                            const int v = (s.pixels[i] * 9794 + s.pixels[i + 1] * 19222 + s.pixels[i + 2] * 3751 +
                                           16384) >> 15;
                            e.pixels.insert(e.pixels.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
                        }
                        return e;
                    }},
        ConvertCase{"bitmap_by_threshold", {{"colorMode", CMI_MODE_BITMAP}, {"modeMethod", 19}, {"modeValue", 60}},
                    1,
                    [](const Rgb &s) {
                        Rgb e{s.width, s.height, {}};
                        for (size_t i = 0; i < s.pixels.size(); i += 3) {
                            const int v = (s.pixels[i] * 9794 + s.pixels[i + 1] * 19222 + s.pixels[i + 2] * 3751 +
                                           16384) >> 15;
                            const uint8_t level = v >= 60 ? 255 : 0;
                            e.pixels.insert(e.pixels.end(), {level, level, level});
                        }
                        return e;
                    }},
        ConvertCase{"palette_then_scale", {{"colorMode", CMI_MODE_256_COLOURS}, {"xDimension", 3},
                                           {"internalOperation", 47}},
                    8, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WriteFiles, RefusalsAndFailuresLeaveNoFile) {
    HGLOBAL bitmap = readBitmap(rgb24File());
    const std::string out = (dir_ / "never").string();
    struct Case {
        int32_t format;
        std::vector<CmiAttribute> options;
        int32_t status;
    };
    const Case cases[] = {
        {CMI_FORMAT_SIA, {}, CMI_STATUS_REFUSED_ARGUMENT},                                 // readable only
        {CMI_FORMAT_BMP, {{"compression", CMI_COMPRESSION_PACKBITS}}, CMI_STATUS_REFUSED_ARGUMENT},
        {CMI_FORMAT_BMP, {{"compression", CMI_COMPRESSION_BMP_RLE}}, 12},                  // 24 bits cannot be run-length coded
        {CMI_FORMAT_GIF, {}, 10},                                                          // GIF of three bands
    };
    for (const Case &c : cases) {
        int32_t status = -7;
        CmiGenerateAndWrite(&bitmap, 1, out.c_str(), c.format, c.options.data(), static_cast<int32_t>(c.options.size()),
                            &status);
        EXPECT_EQ(status, c.status) << "format " << c.format;
        EXPECT_FALSE(fs::exists(out));
    }
    // A one-band GIF reaches its LZW coding, which does not exist here.
    HGLOBAL palette = readBitmap(palette8File());
    int32_t status = -7;
    CmiGenerateAndWrite(&palette, 1, out.c_str(), CMI_FORMAT_GIF, nullptr, 0, &status);
    EXPECT_EQ(status, 12);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0) << "no partial files";
    GlobalFree(palette);
    GlobalFree(bitmap);
}

TEST_F(WriteFiles, ExportsHoldTheFileBytes) {
    HGLOBAL bitmap = readBitmap(palette8File());
    const std::string out = (dir_ / "ref.bmp").string();
    int32_t status = -7, size = 0, handleSize = 0;
    CmiGenerateAndWrite(&bitmap, 1, out.c_str(), CMI_FORMAT_BMP, nullptr, 0, &status);
    const std::vector<uint8_t> file = orvo::test::readFile(out);

    void *buffer = CmiGenerateAndExport(&bitmap, 1, CMI_FORMAT_BMP, &size, nullptr, 0, &status);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(size, static_cast<int32_t>(file.size()));
    EXPECT_EQ(0, std::memcmp(buffer, file.data(), file.size()));
    CmiReleaseBuffer(buffer);

    HGLOBAL handle = CmiGenerateAndExportHandle(&bitmap, 1, CMI_FORMAT_BMP, &handleSize, nullptr, 0, &status);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GlobalFlags(handle) & GMEM_LOCKCOUNT, 0u) << "returned unlocked";
    ASSERT_EQ(handleSize, static_cast<int32_t>(file.size()));
    EXPECT_EQ(0, std::memcmp(GlobalLock(handle), file.data(), file.size()));
    GlobalUnlock(handle);
    GlobalFree(handle);
    GlobalFree(bitmap);
}

}  // namespace

namespace {

// TIFF output: single and multi-page files read back by this reader and by
// libtiff's own tools, and page editing.
class TiffPages : public WriteFiles {
protected:
    std::vector<HGLOBAL> bitmaps(int n) {
        std::vector<HGLOBAL> handles;
        for (int i = 0; i < n; ++i) handles.push_back(readBitmap(i % 2 ? rgb24File() : palette8File()));
        return handles;
    }
    int32_t pages(const std::string &file) {
        int32_t status = 0;
        return CmiInquireImageNumber(file.c_str(), CMI_FORMAT_TIFF, nullptr, 0, &status);
    }
    // Pixels of page `page` of `file` equal those of `bitmap`.
    bool samePixels(const std::string &file, int page, HGLOBAL bitmap) {
        HGLOBAL back = nullptr;
        int32_t status = 0;
        if (CmiReadAndParse(file.c_str(), &back, 1, CMI_FORMAT_TIFF, page, nullptr, 0, &status) != 1) return false;
        Rgb a, b;
        bool same = orvo::test::handleToRgb(bitmap, &a) && orvo::test::handleToRgb(back, &b) && a.pixels == b.pixels;
        GlobalFree(back);
        return same;
    }
    static bool libtiffAccepts(const std::string &file) {
        if (std::system("command -v tiffinfo >/dev/null 2>&1") != 0) return true;
        const std::string command = "tiffinfo -D '" + file + "' 2>&1 >/dev/null | grep -q . && exit 1 || exit 0";
        return std::system(command.c_str()) == 0;
    }
};

TEST_F(TiffPages, MultiPageFilesReadBackPageByPage) {
    for (int32_t compression : {CMI_COMPRESSION_NONE, CMI_COMPRESSION_PACKBITS}) {
        std::vector<HGLOBAL> handles = bitmaps(3);
        const std::string out = (dir_ / ("pages" + std::to_string(compression) + ".tif")).string();
        const CmiAttribute options[] = {{"compression", compression}, {"newSubfileType", CMI_SUBFILE_PAGE}};
        int32_t status = -7;
        CmiGenerateAndWrite(handles.data(), 3, out.c_str(), CMI_FORMAT_TIFF, options, 2, &status);
        ASSERT_EQ(status, 0) << OrvoStatusText(status);
        EXPECT_EQ(pages(out), 3);
        EXPECT_TRUE(libtiffAccepts(out));
        for (int page = 0; page < 3; ++page) EXPECT_TRUE(samePixels(out, page, handles[page])) << page;
        for (HGLOBAL h : handles) GlobalFree(h);
    }
}

TEST_F(TiffPages, EditingKeepsTheOtherPages) {
    std::vector<HGLOBAL> handles = bitmaps(2);  // palette, rgb
    const std::string file = (dir_ / "edit.tif").string();
    int32_t status = -7;
    auto edit = [&](int32_t operation, int32_t index, HGLOBAL *images, int32_t count) {
        CmiGenerateAndWriteAndControl(images, count, file.c_str(), CMI_FORMAT_TIFF, operation, index, nullptr, 0,
                                      &status);
        return status;
    };
    EXPECT_EQ(edit(CMI_PAGES_INSERT, 0, &handles[0], 1), 26) << "no file to insert into";
    ASSERT_EQ(edit(CMI_PAGES_APPEND, 0, &handles[0], 1), 0);  // creates the file
    ASSERT_EQ(edit(CMI_PAGES_APPEND, 0, &handles[0], 1), 0);
    ASSERT_EQ(edit(CMI_PAGES_INSERT, 0, &handles[1], 1), 0);  // rgb, palette, palette
    ASSERT_EQ(pages(file), 3);
    EXPECT_TRUE(samePixels(file, 0, handles[1]));
    EXPECT_TRUE(samePixels(file, 2, handles[0]));
    ASSERT_EQ(edit(CMI_PAGES_REPLACE, 2, &handles[1], 1), 0);  // rgb, palette, rgb
    EXPECT_TRUE(samePixels(file, 2, handles[1]));
    EXPECT_EQ(edit(CMI_PAGES_DELETE, 2, nullptr, 2), CMI_STATUS_REFUSED_ARGUMENT) << "past the last page";
    ASSERT_EQ(edit(CMI_PAGES_DELETE, 1, nullptr, 1), 0);  // rgb, rgb
    EXPECT_EQ(pages(file), 2);
    EXPECT_TRUE(samePixels(file, 1, handles[1]));
    EXPECT_TRUE(libtiffAccepts(file));
    ASSERT_EQ(edit(CMI_PAGES_DELETE, 0, nullptr, 2), 0);
    EXPECT_FALSE(fs::exists(file)) << "deleting every page removes the file";
    for (HGLOBAL h : handles) GlobalFree(h);
}

TEST_F(TiffPages, ConversionsBetweenBmpAndTiff) {
    HGLOBAL bitmap = readBitmap(palette8File());
    const std::string bmp = (dir_ / "in.bmp").string(), tif = (dir_ / "out.tif").string();
    const std::string back = (dir_ / "back.bmp").string();
    int32_t status = -7;
    CmiGenerateAndWrite(&bitmap, 1, bmp.c_str(), CMI_FORMAT_BMP, nullptr, 0, &status);
    const CmiAttribute packbits[] = {{"compression", CMI_COMPRESSION_PACKBITS}};
    EXPECT_EQ(CmiFileFormatConvert(bmp.c_str(), tif.c_str(), CMI_FORMAT_BMP, CMI_FORMAT_TIFF, packbits, 1, &status), 0);
    EXPECT_TRUE(samePixels(tif, 0, bitmap));
    EXPECT_EQ(CmiFileFormatConvert(tif.c_str(), back.c_str(), CMI_FORMAT_TIFF, CMI_FORMAT_BMP, nullptr, 0, &status), 0);
    HGLOBAL again = readBitmap(orvo::test::readFile(back));
    Rgb original, converted;
    ASSERT_TRUE(orvo::test::handleToRgb(bitmap, &original));
    ASSERT_TRUE(orvo::test::handleToRgb(again, &converted));
    EXPECT_TRUE(original.pixels == converted.pixels);
    GlobalFree(again);

    // In memory and through handles, with the same result.
    const std::vector<uint8_t> bytes = orvo::test::readFile(bmp);
    int32_t size = 0;
    void *inMemory = CmiAddressSpaceFormatConvert(bytes.data(), CMI_FORMAT_BMP, CMI_FORMAT_TIFF,
                                                   static_cast<int32_t>(bytes.size()), &size, packbits, 1, &status);
    ASSERT_NE(inMemory, nullptr);
    const std::vector<uint8_t> file = orvo::test::readFile(tif);
    ASSERT_EQ(size, static_cast<int32_t>(file.size()));
    EXPECT_EQ(0, std::memcmp(inMemory, file.data(), file.size()));
    CmiReleaseBuffer(inMemory);

    // Refused before any file is touched.
    const CmiAttribute rgbGif[] = {{"colorMode", CMI_MODE_RGB}};
    EXPECT_EQ(CmiFileFormatConvert(bmp.c_str(), (dir_ / "x.gif").c_str(), CMI_FORMAT_BMP, CMI_FORMAT_GIF, rgbGif, 1,
                                   &status),
              CMI_STATUS_REFUSED_ARGUMENT);
    EXPECT_FALSE(fs::exists(dir_ / "x.gif"));
    GlobalFree(bitmap);
}

}  // namespace
