// The TIFF files of the shared corpus through the public reading functions:
// page counts, every page of every file this reader decodes compared with
// its reference exactly, and clean refusals for what it cannot decode.
#include <gtest/gtest.h>

#include <filesystem>

#include "orvo/orvocore.h"
#include "tests/support/images.h"

namespace {

using orvo::test::Rgb;

enum class Expect {
    Pixels,   // every page equals its reference
    Decodes,  // read without error; 16-bit pages are packed colour pixels here, not grey
    Refused,  // a non-zero status and no handle
};

struct TiffCase {
    const char *path;
    int32_t pages;
    Expect expect;
    const char *why;
};

const TiffCase kCases[] = {
    {"libtiff/minisblack-1c-8b.tiff", 1, Expect::Pixels, "8-bit grey"},
    {"libtiff/miniswhite-1c-1b.tiff", 1, Expect::Pixels, "1 bit, minimum is white"},
    {"libtiff/palette-1c-1b.tiff", 1, Expect::Pixels, "1-bit palette"},
    {"libtiff/palette-1c-4b.tiff", 1, Expect::Pixels, "4-bit palette"},
    {"libtiff/rgb-3c-8b.tiff", 1, Expect::Pixels, "chunky RGB"},
    {"libtiff/test_two_ifds.tif", 2, Expect::Pixels, "two directories"},
    {"image-tiff/seq/seq-1c-1b-71f6a21a.tiff", 1, Expect::Pixels, "1 bit"},
    {"image-tiff/seq/seq-1c-4b-fb92dcae.tiff", 1, Expect::Pixels, "4-bit grey"},
    {"image-tiff/seq/seq-1c-8b-bigendian-20f3db0c.tiff", 1, Expect::Pixels, "big-endian grey"},
    {"image-tiff/seq/seq-1c-8b-multipage-adeefdcc.tiff", 3, Expect::Pixels, "three pages"},
    {"image-tiff/seq/seq-1c-8b-multistrip-20f3db0c.tiff", 1, Expect::Pixels, "several strips"},
    {"image-tiff/seq/seq-1c-8b-packbits-20f3db0c.tiff", 1, Expect::Pixels, "PackBits"},
    {"image-tiff/seq/seq-1c-8b-palette-89b39bc3.tiff", 1, Expect::Pixels, "8-bit palette"},
    {"image-tiff/seq/seq-1c-8b-tiled-20f3db0c.tiff", 1, Expect::Pixels, "one tile as wide as the image"},
    {"image-tiff/seq/seq-3c-8b-bigendian-8743c999.tiff", 1, Expect::Pixels, "big-endian RGB"},
    {"libtiffpic/cramps.tif", 1, Expect::Pixels, "PackBits, minimum is white"},
    {"libtiffpic/jello.tif", 1, Expect::Pixels, "PackBits palette"},
    {"libtiffpic/jim___ah.tif", 1, Expect::Pixels, "1 bit, minimum is white"},
    {"twelvemonkeys/tiff/sm_colors_pb.tif", 1, Expect::Pixels, "PackBits RGB"},
    {"image-tiff/seq/seq-1c-16b-bigendian-68f373a0.tiff", 1, Expect::Decodes, "16 bits per sample"},
    {"image-tiff/issue_69_packbits.tiff", 1, Expect::Refused, "16-bit PackBits strips"},
    {"image-tiff/fax4.tiff", 1, Expect::Refused, "T.6 without codec"},
    {"libtiffpic/fax2d.tif", 1, Expect::Refused, "T.4 without codec"},
    {"twelvemonkeys/tiff/group4.tif", 1, Expect::Refused, "T.6 without codec"},
};

class TiffCorpus : public testing::TestWithParam<TiffCase> {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(ORVO_CORPUS_DIR);
        if (!std::filesystem::exists(dir_ / GetParam().path)) GTEST_SKIP() << "shared corpus not found at " << dir_;
    }
    std::filesystem::path dir_;
};

bool readReference(const std::string &base, int page, Rgb *image) {
    const std::string stem = page == 0 ? base : base + ".page" + std::to_string(page + 1);
    return orvo::test::readPnm(stem + ".ref.ppm", image) || orvo::test::readPnm(stem + ".ref.pgm", image);
}

TEST_P(TiffCorpus, PagesDecodeFromFileAndMemory) {
    const TiffCase &c = GetParam();
    const std::string path = (dir_ / c.path).string();
    const std::vector<uint8_t> bytes = orvo::test::readFile(path);
    int32_t status = -7;
    EXPECT_EQ(CmiInquireFileFormat(path.c_str(), nullptr, 0, &status), CMI_FORMAT_TIFF);
    EXPECT_EQ(CmiInquireImageNumber(path.c_str(), CMI_FORMAT_TIFF, nullptr, 0, &status), c.pages);
    EXPECT_EQ(CmiInquireImageNumberAddressSpace(bytes.data(), CMI_FORMAT_TIFF, static_cast<int32_t>(bytes.size()),
                                                nullptr, 0, &status),
              c.pages);

    // Ask for more pages than there are: the count read is the page count.
    std::vector<HGLOBAL> fromFile(c.pages + 2, nullptr), fromMemory(c.pages + 2, nullptr);
    int32_t fileStatus = -7, memoryStatus = -7;
    int32_t fileCount = CmiReadAndParse(path.c_str(), fromFile.data(), c.pages + 2, CMI_FORMAT_TIFF, 0, nullptr, 0,
                                        &fileStatus);
    int32_t memoryCount = CmiImportAndParse(bytes.data(), fromMemory.data(), c.pages + 2, CMI_FORMAT_TIFF, 0,
                                            static_cast<int32_t>(bytes.size()), nullptr, 0, &memoryStatus);
    EXPECT_EQ(fileStatus, memoryStatus);
    EXPECT_EQ(fileCount, memoryCount);
    if (c.expect == Expect::Refused) {
        EXPECT_NE(fileStatus, 0) << c.why;
        EXPECT_EQ(fileCount, 0);
        for (HGLOBAL h : fromFile) EXPECT_EQ(h, nullptr);
        return;
    }
    ASSERT_EQ(fileStatus, 0) << c.why << ": " << OrvoStatusText(fileStatus);
    ASSERT_EQ(fileCount, c.pages);
    for (int page = 0; page < c.pages; ++page) {
        Rgb decoded, again, reference;
        ASSERT_TRUE(orvo::test::handleToRgb(fromFile[page], &decoded));
        ASSERT_TRUE(orvo::test::handleToRgb(fromMemory[page], &again));
        EXPECT_TRUE(decoded.pixels == again.pixels);
        ASSERT_TRUE(readReference(path, page, &reference));
        EXPECT_EQ(decoded.width, reference.width);
        EXPECT_EQ(decoded.height, reference.height);
        if (c.expect == Expect::Pixels) EXPECT_TRUE(decoded.pixels == reference.pixels) << c.why << ", page " << page;
        GlobalFree(fromFile[page]);
        GlobalFree(fromMemory[page]);
    }
}

class TiffCorpusPages : public TiffCorpus {};

TEST_P(TiffCorpusPages, LaterPagesAloneMatchTheirReference) {
    const TiffCase &c = GetParam();
    const std::string path = (dir_ / c.path).string();
    HGLOBAL handle = nullptr;
    int32_t status = -7;
    ASSERT_EQ(CmiReadAndParse(path.c_str(), &handle, 1, CMI_FORMAT_TIFF, c.pages - 1, nullptr, 0, &status), 1);
    Rgb decoded, reference;
    ASSERT_TRUE(orvo::test::handleToRgb(handle, &decoded));
    ASSERT_TRUE(readReference(path, c.pages - 1, &reference));
    EXPECT_TRUE(decoded.pixels == reference.pixels);
    GlobalFree(handle);
    // One past the last page is refused.
    EXPECT_EQ(CmiReadAndParse(path.c_str(), &handle, 1, CMI_FORMAT_TIFF, c.pages, nullptr, 0, &status), 0);
    EXPECT_NE(status, 0);
}

std::string caseName(const testing::TestParamInfo<TiffCase> &info) { return orvo::test::testNameOf(info.param.path); }

std::vector<TiffCase> multiPageCases() {
    std::vector<TiffCase> cases;
    for (const TiffCase &c : kCases) {
        if (c.pages > 1 && c.expect == Expect::Pixels) cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Suite, TiffCorpus, testing::ValuesIn(kCases), caseName);
INSTANTIATE_TEST_SUITE_P(Suite, TiffCorpusPages, testing::ValuesIn(multiPageCases()), caseName);

}  // namespace

namespace {

// Inputs found by fuzzing, each a file that once made the reader misbehave.
struct Finding {
    const char *file;
    const char *what;
};

const Finding kFindings[] = {
    {"tiff-strips-shorter-than-claimed.tif", "second page 805306377 pixels wide in a 244-byte file"},
};

class FuzzFindings : public testing::TestWithParam<Finding> {};

TEST_P(FuzzFindings, AreRefusedCleanly) {
    const std::string path = std::string(ORVO_TEST_DATA_DIR) + "/" + GetParam().file;
    HGLOBAL handles[4] = {};
    int32_t status = 0;
    EXPECT_EQ(CmiReadAndParse(path.c_str(), handles, 4, CMI_FORMAT_TIFF, 0, nullptr, 0, &status), 0) << GetParam().what;
    EXPECT_NE(status, 0);
    for (HGLOBAL handle : handles) EXPECT_EQ(handle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Files, FuzzFindings, testing::ValuesIn(kFindings));

}  // namespace
