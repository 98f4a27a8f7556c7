// Writing packed bitmaps as files, buffers and handles through the public
// interface, and reading them back.
#include <gtest/gtest.h>

#include <filesystem>

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
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0) << "no partial files";
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
