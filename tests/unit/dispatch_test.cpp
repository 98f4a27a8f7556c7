// Format detection, routing of reads and writes to the formats, the write
// pipeline's all-or-nothing file, and TIFF page counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/env/codes.h"
#include "core/env/dispatch.h"
#include "core/formats/registry.h"
#include "tests/support/core_fixtures.h"
#include "tests/support/images.h"

namespace orvo {
namespace {

using test::Bytes;
using test::pointerPair;
using test::ScopedEnvironment;
using test::ScratchFolder;

std::vector<uint8_t> bytesOf(std::initializer_list<uint8_t> head, size_t total = 16) {
    std::vector<uint8_t> bytes(head);
    if (bytes.size() < total) bytes.resize(total, 0);
    return bytes;
}

std::vector<uint8_t> textThenZeros(const char *text, size_t total = 16) {
    std::vector<uint8_t> bytes(text, text + std::strlen(text));
    if (bytes.size() < total) bytes.resize(total, 0);
    return bytes;
}

// ---------------------------------------------------------------------------
// Detection

struct DetectCase {
    const char *name;
    std::vector<uint8_t> bytes;
    int32_t format;  // 0: unknown
};

class DispatchDetect : public testing::TestWithParam<DetectCase> {};

TEST_P(DispatchDetect, SignatureGivesTheFormatInMemoryAndInFiles) {
    const DetectCase &c = GetParam();
    ScopedEnvironment env;
    EXPECT_EQ(detectMemoryFormat(env, c.bytes.data(), c.bytes.size()), c.format);
    if (c.format != 0) EXPECT_EQ(lastError(env), kOk);
    else EXPECT_NE(lastError(env), kOk) << "an unknown format leaves a reason";

    ScratchFolder folder;
    const std::string path = folder.file("image");
    ASSERT_TRUE(test::putFile(path, c.bytes));
    EXPECT_EQ(detectFileFormat(env, path.c_str()), c.format);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, DispatchDetect,
    testing::Values(
        DetectCase{"bmp", textThenZeros("BM"), 225},
        DetectCase{"gif87a", textThenZeros("GIF87a"), 92},
        DetectCase{"gif89a", textThenZeros("GIF89a"), 92},
        DetectCase{"tiff_little_endian", textThenZeros("II*"), 207},
        DetectCase{"tiff_big_endian", textThenZeros("MM"), 207},
        DetectCase{"jpeg", bytesOf({0xFF, 0xD8, 0xFF, 0xE0}), 235},
        DetectCase{"pcx", bytesOf({0x0A, 0x05, 0x01, 0x08}), 246},
        DetectCase{"pcx_any_version", bytesOf({0x0A, 0x00, 0x01}), 246},
        DetectCase{"sia_f0_f3_23", bytesOf({0xF0, 0xF3, 0x23}), 216},
        DetectCase{"sia_f0_f4", bytesOf({0xF0, 0xF4, 0x99}), 216},
        DetectCase{"png", bytesOf({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), 259},
        DetectCase{"gif_other_version", textThenZeros("GIF90a"), 0},
        DetectCase{"pcx_without_encoding_byte", bytesOf({0x0A, 0x05, 0x02}), 0},
        DetectCase{"sia_wrong_third_byte", bytesOf({0xF0, 0xF3, 0x24}), 0},
        DetectCase{"png_signature_damaged", bytesOf({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}), 0},
        DetectCase{"lower_case_bmp", textThenZeros("bm"), 0},
        DetectCase{"plain_text", textThenZeros("hello, world"), 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DispatchDetectMemory, ShortOrMissingMemoryIsRefused) {
    ScopedEnvironment env;
    const std::vector<uint8_t> nine = textThenZeros("BM", 9);
    EXPECT_EQ(detectMemoryFormat(env, nine.data(), nine.size()), 0);
    EXPECT_EQ(lastError(env), kInsufficientSize);
    const std::vector<uint8_t> ten = textThenZeros("BM", 10);
    EXPECT_EQ(detectMemoryFormat(env, ten.data(), ten.size()), 225);
    EXPECT_EQ(detectMemoryFormat(env, nullptr, 100), 0);
    EXPECT_EQ(lastError(env), kNonPermissibleOption);
}

TEST(DispatchDetectFile, ShortFilesAreTestedOnWhatTheyHold) {
    ScopedEnvironment env;
    ScratchFolder folder;
    const std::string shortBmp = folder.file("short.bmp"), empty = folder.file("empty");
    ASSERT_TRUE(test::putFile(shortBmp, {'B', 'M', 1}));
    ASSERT_TRUE(test::putFile(empty, {}));
    EXPECT_EQ(detectFileFormat(env, shortBmp.c_str()), 225);
    EXPECT_EQ(detectFileFormat(env, empty.c_str()), 0);
    EXPECT_EQ(detectFileFormat(env, folder.file("missing").c_str()), 0);
    EXPECT_EQ(lastError(env), kFileOpenFailure);
}

TEST(DispatchDetectLog, TrialParsesDoNotWriteTheLog) {
    ScratchFolder folder;
    const std::string log = folder.file("errors.log");
    ScopedEnvironment env(log.c_str());
    const std::vector<uint8_t> unknown = textThenZeros("no image here");
    EXPECT_EQ(detectMemoryFormat(env, unknown.data(), unknown.size()), 0);
    EXPECT_EQ(envAttr(env, EnvAttr::errorReportingState), 1) << "reporting is restored";
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(DispatchDetectFile, BrokenBmpIsStillBmpAndItsErrorIsReported) {
    ScopedEnvironment env;
    ScratchFolder folder;
    const std::string path = folder.file("broken.bmp");
    // "BM", a file header, then an information header of an unknown size.
    ASSERT_TRUE(test::putFile(path, Bytes().text("BM").u32(70).u32(0).u32(54).u32(7).zeros(50).data()));
    ASSERT_EQ(detectFileFormat(env, path.c_str()), 225);
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(readImage(env, path.c_str(), image, 225, {}), kSyntaxError);
    EXPECT_EQ(lastError(env), kSyntaxError);
}

// ---------------------------------------------------------------------------
// Routing

TEST(DispatchRoute, FormatsWithoutAReaderEndWith18) {
    ScopedEnvironment env;
    ScratchFolder folder;
    const std::string path = folder.file("image");
    const std::vector<uint8_t> bytes = textThenZeros("II*", 64);
    ASSERT_TRUE(test::putFile(path, bytes));
    // Write-only formats (271 DIB header, 269 SGI), codes that are not formats,
    // and whichever readable formats have no reader built in yet.
    int refused = 0;
    for (int32_t format : {271, 269, 0, 4242, 207, 259, 92, 235, 246, 216, 215}) {
        const FormatEntry *entry = findFormat(format);
        if (entry != nullptr && entry->reader != nullptr) continue;
        SCOPED_TRACE(format);
        ++refused;
        DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(readImage(env, path.c_str(), image, format, {}), kOutOfRange);
        EXPECT_EQ(lastError(env), kOutOfRange);
        EXPECT_EQ(image->get(Attr::fileFormat), 0) << "a refused read leaves the destination alone";
        EXPECT_EQ(readImageFromMemory(env, bytes.data(), bytes.size(), image, format, {}), kOutOfRange);
        ASSERT_EQ(destroyObject(env, image), kOk);
    }
    EXPECT_GE(refused, 4);
}

TEST(DispatchRoute, UnknownParseModesEndWith18) {
    ScopedEnvironment env;
    std::vector<uint8_t> bmp = test::makeBmp(1, 1, 24, {}, {1, 2, 3, 0});
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    const CmiAttribute memory[] = {pointerPair("applicationAddressSpace", bmp.data()),
                                   {"size", static_cast<intptr_t>(bmp.size())}};
    for (int32_t mode : {1, 170, 173, -1}) {
        EXPECT_EQ(parseImage(env, nullptr, image, 225, mode, memory), kOutOfRange) << mode;
    }
    EXPECT_EQ(parseImage(env, nullptr, image, 225, 172, memory), kOk);
    EXPECT_EQ(image->get(Attr::bDimension), 3);
}

// A memory source given without its length is refused: nothing else could
// bound the reads to the caller's block.
TEST(DispatchMemorySource, MissingSizeIsRefused) {
    ScopedEnvironment env;
    const std::vector<uint8_t> bmp = test::makeBmp(64, 64, 24, {}, {1, 2, 3, 0});
    std::vector<uint8_t> block(bmp);  // exactly the bytes the caller owns
    const CmiAttribute destList[] = {
        {"repository", code::kWorkSpace}, {"xDimension", 100}, {"yDimension", 100}, {"bDimension", 3}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, destList);
    ASSERT_NE(image, nullptr);
    const CmiAttribute list[] = {pointerPair("applicationAddressSpace", block.data())};
    EXPECT_EQ(parseImage(env, nullptr, image, 225, 0, list), kInsufficientSize);
}

// ---------------------------------------------------------------------------
// Writing: the target is complete or absent

DataObject *smallImage(Environment *env, std::vector<CmiAttribute> list) {
    list.push_back({"repository", code::kWorkSpace});
    list.push_back({"xDimension", 3});
    list.push_back({"yDimension", 2});
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    if (image == nullptr) return nullptr;
    uint64_t size = 0;
    dataSize(env, image, &size);
    std::vector<uint8_t> samples(static_cast<size_t>(size));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 40 + 3);
    if (test::writeAllSamples(env, image, samples) != kOk) return nullptr;
    return image;
}

struct WriteFailure {
    const char *name;
    std::vector<CmiAttribute> source;
    int32_t format;
    std::vector<CmiAttribute> options;
    int expected;
};

class DispatchWriteFailure : public testing::TestWithParam<WriteFailure> {};

TEST_P(DispatchWriteFailure, LeavesNoFileAndKeepsAnExistingOne) {
    const WriteFailure &c = GetParam();
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "new file");
        ScopedEnvironment env;
        ScratchFolder folder;
        const std::string path = folder.file("out.bmp");
        const std::vector<uint8_t> previous = {'k', 'e', 'e', 'p'};
        if (existing) ASSERT_TRUE(test::putFile(path, previous));
        DataObject *source = smallImage(env, c.source);
        ASSERT_NE(source, nullptr);

        EXPECT_EQ(writeImage(env, source, path.c_str(), c.format, c.options), c.expected);
        EXPECT_EQ(lastError(env), c.expected);
        if (existing) {
            EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.bmp"});
            EXPECT_EQ(test::fileBytes(path), previous);
        } else {
            EXPECT_TRUE(folder.entries().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchWriteFailure,
    testing::Values(
        WriteFailure{"sixteen_bit_single_band", {{"dataType", 174}}, 225, {}, kNonPermissibleOption},
        WriteFailure{"sixteen_bit_requested", {}, 225, {{"dataPrecision", 16}}, kNonPermissibleOption},
        WriteFailure{"signed_samples_after_the_header", {{"dataType", 174}, {"dataPrecision", 8}}, 225, {},
                     kMismatchDataType},
        WriteFailure{"coding_without_a_codec", {}, 225, {{"compression", 136}}, kNonPermissibleOption},
        WriteFailure{"compressed_source", {{"compression", 234}}, 225, {}, kNonPermissibleOption},
        WriteFailure{"format_without_a_writer", {}, 216, {}, kOutOfRange},
        WriteFailure{"not_a_format", {}, 4242, {}, kOutOfRange}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DispatchWrite, BmpRoundTripsThroughAFile) {
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "new file");
        ScopedEnvironment env;
        ScratchFolder folder;
        const std::string path = folder.file("out.bmp");
        if (existing) ASSERT_TRUE(test::putFile(path, std::vector<uint8_t>(4000, 0x55)));
        const CmiAttribute list[] = {{"repository", code::kWorkSpace}, {"xDimension", 3}, {"yDimension", 2},
                                     {"bDimension", 3}};
        DataObject *source = createObject(env, nullptr, ObjectClass::ColourImage, nullptr, list);
        ASSERT_NE(source, nullptr);
        const std::vector<uint8_t> samples = {10, 20, 30, 40, 50, 60, 1, 2, 3, 4, 5, 6, 200, 210, 220, 230, 240, 250};
        ASSERT_EQ(test::writeAllSamples(env, source, samples), kOk);

        ASSERT_EQ(writeImage(env, source, path.c_str(), 225, {}), kOk);
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.bmp"});
        EXPECT_EQ(test::fileBytes(path).size(), 54u + 2 * 12);
        EXPECT_EQ(detectFileFormat(env, path.c_str()), 225);

        const CmiAttribute destList[] = {{"repository", code::kWorkSpace}};
        DataObject *back = createObject(env, nullptr, ObjectClass::ColourImage, nullptr, destList);
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(readImage(env, path.c_str(), back, 225, {}), kOk);
        EXPECT_EQ(back->get(Attr::xDimension), 3);
        EXPECT_EQ(back->get(Attr::yDimension), 2);
        EXPECT_EQ(back->get(Attr::bDimension), 3);
        std::vector<uint8_t> read;
        ASSERT_EQ(test::readAllSamples(env, back, &read), kOk);
        EXPECT_EQ(read, samples);
    }
}

// ---------------------------------------------------------------------------
// TIFF page counting

struct TiffChain {
    const char *name;
    bool littleEndian;
    int directories;
    int loopTo;           // index the last directory points back to, or -1
    size_t cutBytes;      // bytes removed from the end of the file
    int32_t pages;        // 0: not counted, reason 22
};

// Header, then `directories` directories of one entry each, chained in order.
std::vector<uint8_t> buildTiff(const TiffChain &c) {
    constexpr uint32_t kDirectoryBytes = 2 + 12 + 4;
    Bytes b(c.littleEndian);
    b.text(c.littleEndian ? "II" : "MM").u16(42).u32(c.directories > 0 ? 8 : 0);
    for (int i = 0; i < c.directories; ++i) {
        uint32_t next = i + 1 < c.directories ? 8 + kDirectoryBytes * (i + 1)
                        : c.loopTo >= 0      ? 8 + kDirectoryBytes * c.loopTo
                                             : 0;
        b.u16(1);                                    // one entry:
        b.u16(256).u16(3).u32(1).u16(1).u16(0);      // ImageWidth, SHORT, 1
        b.u32(next);
    }
    std::vector<uint8_t> bytes = b.data();
    bytes.resize(bytes.size() - std::min(c.cutBytes, bytes.size()));
    return bytes;
}

class DispatchTiffPages : public testing::TestWithParam<TiffChain> {};

TEST_P(DispatchTiffPages, CountsEachDirectoryOnce) {
    const TiffChain &c = GetParam();
    const std::vector<uint8_t> bytes = buildTiff(c);
    ScopedEnvironment env;
    ScratchFolder folder;
    const std::string path = folder.file("pages.tif");
    ASSERT_TRUE(test::putFile(path, bytes));

    EXPECT_EQ(countTiffPages(env, path.c_str()), c.pages);
    EXPECT_EQ(lastError(env), c.pages > 0 ? kOk : kSyntaxError);
    EXPECT_EQ(countTiffPagesInMemory(env, bytes.data(), bytes.size()), c.pages);
    EXPECT_EQ(lastError(env), c.pages > 0 ? kOk : kSyntaxError);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, DispatchTiffPages,
    testing::Values(TiffChain{"little_endian_one_page", true, 1, -1, 0, 1},
                    TiffChain{"big_endian_one_page", false, 1, -1, 0, 1},
                    TiffChain{"little_endian_three_pages", true, 3, -1, 0, 3},
                    TiffChain{"big_endian_three_pages", false, 3, -1, 0, 3},
                    TiffChain{"loop_back_to_the_first", true, 3, 0, 0, 3},
                    TiffChain{"loop_back_to_the_middle", false, 3, 1, 0, 3},
                    TiffChain{"directory_pointing_at_itself", true, 1, 0, 0, 1},
                    TiffChain{"last_directory_truncated", true, 3, -1, 5, 2},
                    TiffChain{"only_directory_truncated", false, 1, -1, 5, 0},
                    TiffChain{"no_directory", true, 0, -1, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DispatchTiffPagesHostile, BadHeadersAndOffsetsCountNothingOrStop) {
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int32_t pages;
    };
    const Case cases[] = {
        {"bmp", test::makeBmp(1, 1, 24, {}, {0, 0, 0, 0}), 0},
        {"empty", {}, 0},
        {"header_cut", Bytes().text("II").u16(42).data(), 0},
        {"wrong_version", Bytes().text("II").u16(43).u32(8).u16(0).u32(0).data(), 0},
        {"mixed_byte_order", Bytes().text("IM").u16(42).u32(8).u16(0).u32(0).data(), 0},
        {"first_offset_past_the_end", Bytes().text("II").u16(42).u32(0xFFFFFFF0u).data(), 0},
        {"entry_count_past_the_end", Bytes().text("II").u16(42).u32(8).u16(0xFFFF).u32(0).data(), 0},
        {"next_offset_past_the_end", Bytes(false).text("MM").u16(42).u32(8).u16(0).u32(0xFFFFFFFFu).data(), 1},
    };
    ScopedEnvironment env;
    ScratchFolder folder;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.bytes.empty()) {
            EXPECT_EQ(countTiffPagesInMemory(env, c.bytes.data(), c.bytes.size()), c.pages);
            if (c.pages == 0) EXPECT_EQ(lastError(env), kSyntaxError);
        }
        const std::string path = folder.file(c.name);
        ASSERT_TRUE(test::putFile(path, c.bytes));
        EXPECT_EQ(countTiffPages(env, path.c_str()), c.pages);
        if (c.pages == 0) EXPECT_EQ(lastError(env), kSyntaxError);
    }
    EXPECT_EQ(countTiffPages(env, folder.file("missing.tif").c_str()), 0);
    EXPECT_EQ(lastError(env), kFileOpenFailure);
}

}  // namespace
}  // namespace orvo
