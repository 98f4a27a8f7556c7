// The BMP files of the shared corpus through the public reading functions:
// every file this reader accepts decodes to exactly its reference pixels,
// every other file ends with a non-zero status and no handle.
#include <gtest/gtest.h>

#include <filesystem>

#include "orvo/orvocore.h"
#include "tests/support/images.h"

namespace {

using orvo::test::Rgb;

enum class Expect { Pixels, Refused };

struct CorpusCase {
    const char *path;
    Expect expect;
    const char *why;
    const char *reference = nullptr;  // when not the file's own reference
};

const CorpusCase kCases[] = {
    {"g/pal1.bmp", Expect::Pixels, "1 bit, black first"},
    {"g/pal1wb.bmp", Expect::Pixels, "1 bit, white first"},
    {"g/pal4.bmp", Expect::Pixels, "4 bits, 12 colours"},
    {"g/pal8.bmp", Expect::Pixels, "8 bits, 252 colours"},
    {"g/pal8os2.bmp", Expect::Pixels, "OS/2 core header, 3-byte palette"},
    {"g/pal8v4.bmp", Expect::Pixels, "V4 header: palette after 108 bytes"},
    {"g/pal8w125.bmp", Expect::Pixels, "odd width"},
    {"g/rgb16.bmp", Expect::Pixels, "5-5-5 pixels become 24 bits"},
    {"g/rgb24.bmp", Expect::Pixels, "plain 24 bits"},
    {"g/rgb32.bmp", Expect::Pixels, "32 bits, fourth byte dropped"},
    {"q/pal1p1.bmp", Expect::Pixels, "one palette entry"},
    {"q/pal8offs.bmp", Expect::Pixels, "gap between palette and pixels"},
    // The stored reference reads this palette as 3-byte entries; the file
    // holds the 4-byte palette of g/pal8.bmp and the same picture.
    {"q/pal8os2v2.bmp", Expect::Pixels, "OS/2 2.x 64-byte header", "g/pal8.bmp.ref.ppm"},
    {"q/rgb16faketrns.bmp", Expect::Pixels, "unused 16-bit top bit set"},
    {"q/rgb24largepal.bmp", Expect::Pixels, "24 bits with a 300-entry palette"},
    {"q/rgb24prof.bmp", Expect::Pixels, "V5 header with a profile"},
    {"q/rgb32fakealpha.bmp", Expect::Pixels, "32 bits, fourth byte not zero"},
    // Bit-field layouts are not a compression this reader knows.
    {"g/rgb16-565.bmp", Expect::Refused, "bit fields"},
    {"g/rgb32bf.bmp", Expect::Refused, "bit fields"},
    {"q/rgba16-4444.bmp", Expect::Refused, "bit fields"},
    {"q/rgba32-1.bmp", Expect::Refused, "bit fields"},
    {"q/pal2.bmp", Expect::Refused, "2 bits per pixel"},
    {"g/pal4rle.bmp", Expect::Pixels, "RLE4"},
    {"g/pal8rle.bmp", Expect::Pixels, "RLE8"},
    // Pixels skipped by delta codes read as palette entry 0.
    {"q/pal4rletrns.bmp", Expect::Pixels, "RLE4 with delta codes"},
    {"bad/badbitcount.bmp", Expect::Refused, "30000 bits per pixel"},
    {"bad/badplanes.bmp", Expect::Refused, "planes not 1"},
    {"bad/badwidth.bmp", Expect::Refused, "negative width"},
    {"bad/rletopdown.bmp", Expect::Refused, "top-down run-length bitmap"},
    {"bad/shortfile.bmp", Expect::Refused, "truncated pixel data"},
};

class BmpCorpus : public testing::TestWithParam<CorpusCase> {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(ORVO_CORPUS_DIR) / "bmpsuite";
        if (!std::filesystem::exists(dir_)) GTEST_SKIP() << "shared corpus not found at " << dir_;
    }
    std::filesystem::path dir_;
};

TEST_P(BmpCorpus, FileAndMemoryFormsAgree) {
    const CorpusCase &c = GetParam();
    const std::string path = (dir_ / c.path).string();
    std::vector<uint8_t> bytes = orvo::test::readFile(path);
    ASSERT_FALSE(bytes.empty()) << path;

    int32_t status = -7;
    EXPECT_EQ(CmiInquireFileFormat(path.c_str(), nullptr, 0, &status), CMI_FORMAT_BMP);
    EXPECT_EQ(status, 0);

    HGLOBAL fromFile = nullptr, fromMemory = nullptr;
    int32_t fileStatus = -7, memoryStatus = -7;
    int32_t fileCount = CmiReadAndParse(path.c_str(), &fromFile, 1, CMI_FORMAT_BMP, 0, nullptr, 0, &fileStatus);
    int32_t memoryCount = CmiImportAndParse(bytes.data(), &fromMemory, 1, CMI_FORMAT_BMP, 0,
                                            static_cast<int32_t>(bytes.size()), nullptr, 0, &memoryStatus);
    EXPECT_EQ(fileStatus, memoryStatus);
    EXPECT_EQ(fileCount, memoryCount);

    if (c.expect == Expect::Refused) {
        EXPECT_NE(fileStatus, 0) << c.why;
        EXPECT_EQ(fileCount, 0);
        EXPECT_EQ(fromFile, nullptr);
        EXPECT_EQ(fromMemory, nullptr);
        return;
    }
    ASSERT_EQ(fileStatus, 0) << c.why << ": " << OrvoStatusText(fileStatus);
    ASSERT_EQ(fileCount, 1);
    Rgb reference, decoded, decodedFromMemory;
    const std::string referencePath = c.reference != nullptr ? (dir_ / c.reference).string() : path + ".ref.ppm";
    ASSERT_TRUE(orvo::test::readPnm(referencePath, &reference));
    ASSERT_TRUE(orvo::test::handleToRgb(fromFile, &decoded));
    ASSERT_TRUE(orvo::test::handleToRgb(fromMemory, &decodedFromMemory));
    EXPECT_EQ(decoded.width, reference.width);
    EXPECT_EQ(decoded.height, reference.height);
    EXPECT_TRUE(decoded.pixels == reference.pixels) << c.why;
    EXPECT_TRUE(decodedFromMemory.pixels == decoded.pixels);
    GlobalFree(fromFile);
    GlobalFree(fromMemory);
}

class BmpCorpusReadable : public BmpCorpus {};

TEST_P(BmpCorpusReadable, InquiriesAnswerWhatTheReferenceShows) {
    const CorpusCase &c = GetParam();
    const std::string path = (dir_ / c.path).string();
    int32_t width = 0, height = 0, mode = 0, compression = -1;
    CmiAttribute values[] = {
        {"xDimension", reinterpret_cast<intptr_t>(&width)},
        {"yDimension", reinterpret_cast<intptr_t>(&height)},
        {"colorMode", reinterpret_cast<intptr_t>(&mode)},
        {"compression", reinterpret_cast<intptr_t>(&compression)},
    };
    int32_t status = -7;
    EXPECT_EQ(CmiInquireValues(path.c_str(), 1, 0, CMI_FORMAT_BMP, values, 4, &status), 0);
    EXPECT_EQ(status, 0);
    Rgb reference;
    ASSERT_TRUE(orvo::test::readPnm(path + ".ref.ppm", &reference));
    EXPECT_EQ(width, reference.width);
    EXPECT_EQ(height, reference.height);
    EXPECT_EQ(compression, std::string(c.path).find("rle") != std::string::npos ? CMI_COMPRESSION_BMP_RLE
                                                                                 : CMI_COMPRESSION_NONE);
    EXPECT_TRUE(mode == CMI_MODE_BITMAP || mode == CMI_MODE_16_COLOURS || mode == CMI_MODE_256_COLOURS ||
                mode == CMI_MODE_RGB);
}

std::string caseName(const testing::TestParamInfo<CorpusCase> &info) { return orvo::test::testNameOf(info.param.path); }

std::vector<CorpusCase> readableCases() {
    std::vector<CorpusCase> cases;
    for (const CorpusCase &c : kCases) {
        if (c.expect == Expect::Pixels) cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Suite, BmpCorpus, testing::ValuesIn(kCases), caseName);
INSTANTIATE_TEST_SUITE_P(Suite, BmpCorpusReadable, testing::ValuesIn(readableCases()), caseName);

}  // namespace
