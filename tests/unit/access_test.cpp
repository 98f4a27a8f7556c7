// The access layer: rows, windows, byte ranges and the bit stream over the
// three repositories (work space 223, file 83, caller memory 9).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::pointerPair;
using test::ScopedEnvironment;
using test::ScratchFolder;

intptr_t inquired(Environment *env, DataObject *object, const char *name) {
    intptr_t value = -999;
    const CmiAttribute pair = pointerPair(name, &value);
    EXPECT_EQ(inquireAttributes(env, object, {&pair, 1}), kOk) << name;
    return value;
}

// Where an object's bytes go, for tests run over every repository.
enum class Where { WorkSpace, TemporaryFile, NamedFile, CallerMemory };

const char *whereName(Where where) {
    switch (where) {
    case Where::WorkSpace: return "work_space";
    case Where::TemporaryFile: return "temporary_file";
    case Where::NamedFile: return "named_file";
    case Where::CallerMemory: return "caller_memory";
    }
    return "?";
}

// Builds image objects of one repository kind; owns the caller buffer and
// the folder of named files.
class Placement {
public:
    explicit Placement(Where where) : where_(where) {}

    DataObject *create(Environment *env, std::vector<CmiAttribute> list, size_t callerBytes = 256) {
        switch (where_) {
        case Where::WorkSpace: list.push_back({"repository", code::kWorkSpace}); break;
        case Where::TemporaryFile: list.push_back({"repository", code::kFile}); break;
        case Where::NamedFile:
            path_ = folder_.file("image.raw");
            list.push_back({"repository", code::kFile});
            list.push_back(pointerPair("fileName", path_.c_str()));
            break;
        case Where::CallerMemory:
            memory_.assign(callerBytes, 0);
            list.push_back({"repository", code::kApplicationAddressSpace});
            list.push_back(pointerPair("applicationAddressSpace", memory_.data()));
            break;
        }
        return createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    }
    const std::string &path() const { return path_; }
    std::vector<uint8_t> &memory() { return memory_; }
    const ScratchFolder &folder() const { return folder_; }

private:
    Where where_;
    ScratchFolder folder_;
    std::string path_;
    std::vector<uint8_t> memory_;
};

// ---------------------------------------------------------------------------
// Rows written, then read back

struct RowCase {
    const char *name;
    Where where;
    int32_t dataType;
    int32_t precision;
};

class AccessRows : public testing::TestWithParam<RowCase> {};

TEST_P(AccessRows, WrittenRowsReadBack) {
    const RowCase &c = GetParam();
    constexpr int32_t kWidth = 5, kHeight = 4, kBands = 2;
    const size_t rowBytes = kWidth * static_cast<size_t>(c.precision / 8);
    ScopedEnvironment env;
    Placement placement(c.where);
    DataObject *image = placement.create(env, {{"xDimension", kWidth}, {"yDimension", kHeight},
                                               {"bDimension", kBands}, {"dataType", c.dataType},
                                               {"dataPrecision", c.precision}});
    ASSERT_NE(image, nullptr);

    std::vector<uint8_t> expected;
    DataAccess *out;
    ASSERT_EQ(openAccess(env, image, AccessMode::Write, 1, {}, &out), kOk);
    for (int32_t r = 0; r < kHeight * kBands; ++r) {
        uint8_t *row;
        ASSERT_EQ(writeRow(out, int64_t(r) * kWidth, &row), kOk);
        for (size_t i = 0; i < rowBytes; ++i) {
            row[i] = static_cast<uint8_t>(r * 16 + i + 1);
            expected.push_back(row[i]);
        }
    }
    ASSERT_EQ(closeAccess(env, out), kOk);
    EXPECT_EQ(inquired(env, image, "inited"), 1);

    DataAccess *in;
    ASSERT_EQ(openAccess(env, image, AccessMode::Read, 1, {}, &in), kOk);
    for (int32_t r = kHeight * kBands - 1; r >= 0; --r) {
        const uint8_t *row;
        ASSERT_EQ(readRow(in, int64_t(r) * kWidth, &row), kOk);
        EXPECT_EQ(std::vector<uint8_t>(row, row + rowBytes),
                  std::vector<uint8_t>(expected.begin() + static_cast<long>(r * rowBytes),
                                       expected.begin() + static_cast<long>((r + 1) * rowBytes)))
            << "row " << r;
    }
    ASSERT_EQ(closeAccess(env, in), kOk);

    // The bytes are where the repository says.
    switch (c.where) {
    case Where::CallerMemory:
        EXPECT_EQ(std::vector<uint8_t>(placement.memory().begin(), placement.memory().begin() + static_cast<long>(expected.size())),
                  expected);
        break;
    case Where::NamedFile: EXPECT_EQ(test::fileBytes(placement.path()), expected); break;
    case Where::TemporaryFile: {
        ASSERT_NE(image->fileName(), nullptr);
        const std::string temporary = image->fileName();
        EXPECT_EQ(inquired(env, image, "tmpnam"), 1);
        EXPECT_EQ(test::fileBytes(temporary), expected);
        ASSERT_EQ(destroyObject(env, image), kOk);
        EXPECT_FALSE(std::filesystem::exists(temporary)) << "the work file goes with its object";
        break;
    }
    case Where::WorkSpace: EXPECT_NE(inquired(env, image, "workSpace"), 0); break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Repositories, AccessRows,
    testing::Values(RowCase{"work_space", Where::WorkSpace, 153, 8},
                    RowCase{"temporary_file", Where::TemporaryFile, 153, 8},
                    RowCase{"named_file", Where::NamedFile, 153, 8},
                    RowCase{"caller_memory", Where::CallerMemory, 153, 8},
                    RowCase{"named_file_16_bit", Where::NamedFile, 174, 16},
                    RowCase{"work_space_32_bit", Where::WorkSpace, 175, 32}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Images never written

class AccessUnwritten : public testing::TestWithParam<Where> {};

TEST_P(AccessUnwritten, ReadsZerosWithoutTouchingAFile) {
    ScopedEnvironment env;
    Placement placement(GetParam());
    DataObject *image = placement.create(env, {{"xDimension", 6}, {"yDimension", 3}});
    ASSERT_NE(image, nullptr);
    DataAccess *in;
    ASSERT_EQ(openAccess(env, image, AccessMode::Read, 3, {}, &in), kOk);
    for (int64_t element : {0, 6, 12}) {
        const uint8_t *row;
        ASSERT_EQ(readRow(in, element, &row), kOk);
        EXPECT_EQ(std::vector<uint8_t>(row, row + 6), std::vector<uint8_t>(6, 0));
        ASSERT_EQ(readWindow(in, element, &row), kOk);
        EXPECT_EQ(std::vector<uint8_t>(row, row + 6), std::vector<uint8_t>(6, 0));
    }
    uint32_t sample = 99;
    ASSERT_EQ(readElement(in, 7, &sample), kOk);
    EXPECT_EQ(sample, 0u);
    ASSERT_EQ(closeAccess(env, in), kOk);

    EXPECT_EQ(inquired(env, image, "inited"), 0) << "reading does not make samples valid";
    EXPECT_TRUE(placement.folder().entries().empty());
    if (GetParam() == Where::TemporaryFile) EXPECT_EQ(image->fileName(), nullptr) << "no work file was made";
}

INSTANTIATE_TEST_SUITE_P(Repositories, AccessUnwritten,
                         testing::Values(Where::WorkSpace, Where::TemporaryFile, Where::NamedFile),
                         [](const auto &info) { return std::string(whereName(info.param)); });

// ---------------------------------------------------------------------------
// Files written in part

struct PaddingCase {
    const char *name;
    std::vector<int> rows;  // rows written, in this order
};

class AccessFilePadding : public testing::TestWithParam<PaddingCase> {};

TEST_P(AccessFilePadding, CloseFillsTheFileToItsFullSizeWithZeroRows) {
    constexpr int32_t kWidth = 6, kHeight = 10;
    ScopedEnvironment env;
    Placement placement(Where::NamedFile);
    DataObject *image = placement.create(env, {{"xDimension", kWidth}, {"yDimension", kHeight}});
    ASSERT_NE(image, nullptr);
    std::vector<uint8_t> expected(kWidth * kHeight, 0);
    DataAccess *out;
    ASSERT_EQ(openAccess(env, image, AccessMode::Write, 1, {}, &out), kOk);
    for (int r : GetParam().rows) {
        uint8_t *row;
        ASSERT_EQ(writeRow(out, int64_t(r) * kWidth, &row), kOk);
        for (int i = 0; i < kWidth; ++i) row[i] = expected[r * kWidth + i] = static_cast<uint8_t>(0x10 * r + i + 1);
    }
    ASSERT_EQ(closeAccess(env, out), kOk);
    EXPECT_EQ(test::fileBytes(placement.path()), expected);
    EXPECT_EQ(inquired(env, image, "inited"), 1);
}

INSTANTIATE_TEST_SUITE_P(Writes, AccessFilePadding,
                         testing::Values(PaddingCase{"first_four_rows", {0, 1, 2, 3}},
                                         PaddingCase{"scattered_rows", {7, 2, 8}},
                                         PaddingCase{"nothing_written", {}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AccessFilePaddingByteStream, ByteStreamsAreNotPadded) {
    ScopedEnvironment env;
    Placement placement(Where::NamedFile);
    DataObject *image = placement.create(env, {{"xDimension", 6}, {"yDimension", 10}});
    ASSERT_NE(image, nullptr);
    DataAccess *out;
    ASSERT_EQ(openAccess(env, image, AccessMode::Write, 0, {}, &out), kOk);
    const uint8_t header[3] = {1, 2, 3};
    ASSERT_EQ(writeBytes(out, 0, header, sizeof header), kOk);
    ASSERT_EQ(closeAccess(env, out), kOk);
    EXPECT_EQ(test::fileBytes(placement.path()), (std::vector<uint8_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// Boolean rows that do not start on a byte

struct BitRowCase {
    const char *name;
    Where where;
    int32_t bitOrder;
    bool reverse;  // write the rows bottom first
};

class AccessBitRows : public testing::TestWithParam<BitRowCase> {};

TEST_P(AccessBitRows, RowsSharingBytesRoundTrip) {
    const BitRowCase &c = GetParam();
    constexpr int32_t kWidth = 5, kHeight = 5;  // 25 bits: rows start at bits 0, 5, 10, 15, 20
    // Row patterns, first pixel in the top bit of each byte.
    const uint8_t patterns[kHeight] = {0xF8, 0x50, 0xA8, 0x08, 0xD8};
    ScopedEnvironment env;
    Placement placement(c.where);
    DataObject *image = placement.create(env, {{"xDimension", kWidth}, {"yDimension", kHeight},
                                               {"dataType", code::kBoolean}, {"bitOrder", c.bitOrder}});
    ASSERT_NE(image, nullptr);
    uint64_t bytes = 0;
    ASSERT_TRUE(dataSize(env, image, &bytes));
    EXPECT_EQ(bytes, 4u);

    DataAccess *out;
    ASSERT_EQ(openAccess(env, image, AccessMode::Write, 1, {}, &out), kOk);
    for (int i = 0; i < kHeight; ++i) {
        int r = c.reverse ? kHeight - 1 - i : i;
        uint8_t *row;
        ASSERT_EQ(writeRow(out, int64_t(r) * kWidth, &row), kOk);
        copyBits(row, (r * kWidth) % 8, c.bitOrder, &patterns[r], 0, code::kMostSignificantFirst, kWidth);
    }
    ASSERT_EQ(closeAccess(env, out), kOk);

    DataAccess *in;
    ASSERT_EQ(openAccess(env, image, AccessMode::Read, 1, {}, &in), kOk);
    for (int r = 0; r < kHeight; ++r) {
        const uint8_t *row;
        ASSERT_EQ(readRow(in, int64_t(r) * kWidth, &row), kOk);
        uint8_t back = 0;
        copyBits(&back, 0, code::kMostSignificantFirst, row, (r * kWidth) % 8, c.bitOrder, kWidth);
        EXPECT_EQ(back, patterns[r]) << "row " << r;
    }
    ASSERT_EQ(closeAccess(env, in), kOk);

    // The rows are packed back to back: 11111 01010 10101 00001 11011.
    const std::vector<uint8_t> msbFirst = {0xFA, 0xAA, 0x1D, 0x80};
    std::vector<uint8_t> stored;
    ASSERT_EQ(test::readAllSamples(env, image, &stored), kOk);
    std::vector<uint8_t> expected(4, 0);
    copyBits(expected.data(), 0, c.bitOrder, msbFirst.data(), 0, code::kMostSignificantFirst, 25);
    stored[3] &= c.bitOrder == code::kMostSignificantFirst ? 0x80 : 0x01;  // bits past the last sample
    EXPECT_EQ(stored, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AccessBitRows,
    testing::Values(BitRowCase{"work_space", Where::WorkSpace, code::kMostSignificantFirst, false},
                    BitRowCase{"work_space_lsb_first", Where::WorkSpace, code::kLeastSignificantFirst, false},
                    BitRowCase{"file", Where::NamedFile, code::kMostSignificantFirst, false},
                    BitRowCase{"file_reverse", Where::NamedFile, code::kMostSignificantFirst, true},
                    BitRowCase{"file_lsb_first_reverse", Where::NamedFile, code::kLeastSignificantFirst, true},
                    BitRowCase{"caller_memory_reverse", Where::CallerMemory, code::kMostSignificantFirst, true}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Storage precision

TEST(AccessStorage, FourBitNonnegativeSamplesTakeOneByteEach) {
    ScopedEnvironment env;
    Placement placement(Where::CallerMemory);
    DataObject *image = placement.create(env, {{"xDimension", 7}, {"yDimension", 2}, {"dataPrecision", 4}});
    ASSERT_NE(image, nullptr);
    uint64_t bytes = 0;
    ASSERT_TRUE(dataSize(env, image, &bytes));
    EXPECT_EQ(bytes, 14u);
    EXPECT_EQ(storagePrecision(env, image), 8);

    DataAccess *out;
    ASSERT_EQ(openAccess(env, image, AccessMode::Write, 1, {}, &out), kOk);
    for (int r = 0; r < 2; ++r) {
        uint8_t *row;
        ASSERT_EQ(writeRow(out, r * 7, &row), kOk);
        for (int i = 0; i < 7; ++i) row[i] = static_cast<uint8_t>(r * 7 + i + 1);
    }
    ASSERT_EQ(writeElement(out, 13, 0x0F), kOk);
    ASSERT_EQ(closeAccess(env, out), kOk);
    std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15};
    EXPECT_EQ(std::vector<uint8_t>(placement.memory().begin(), placement.memory().begin() + 14), expected);
    EXPECT_EQ(placement.memory()[14], 0) << "nothing past the data";
}

// ---------------------------------------------------------------------------
// Work files

TEST(AccessWorkFile, TemporaryFileGoesWithItsObjectEvenIfNeverWritten) {
    Environment *env = openEnvironment();
    ASSERT_NE(env, nullptr);
    const CmiAttribute list[] = {{"repository", code::kFile}, {"xDimension", 4}};
    DataObject *destroyed = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    DataObject *leftOpen = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(destroyed, nullptr);
    ASSERT_NE(leftOpen, nullptr);
    std::vector<std::string> paths;
    for (DataObject *image : {destroyed, leftOpen}) {
        DataAccess *out;
        ASSERT_EQ(openAccess(env, image, AccessMode::Write, 0, {}, &out), kOk);
        ASSERT_EQ(closeAccess(env, out), kOk);
        ASSERT_NE(image->fileName(), nullptr);
        paths.push_back(image->fileName());
        EXPECT_TRUE(std::filesystem::exists(paths.back()));
        EXPECT_EQ(std::filesystem::path(paths.back()).filename().string().rfind("ipi", 0), 0u);
    }
    ASSERT_EQ(destroyObject(env, destroyed), kOk);
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_EQ(destroyed->fileName(), nullptr);
    ASSERT_EQ(closeEnvironment(env), kOk);  // frees the object left open, and its file
    EXPECT_FALSE(std::filesystem::exists(paths[1]));
}

TEST(AccessWorkFile, NamedFilesAreKept) {
    ScopedEnvironment env;
    Placement placement(Where::NamedFile);
    DataObject *image = placement.create(env, {{"xDimension", 4}});
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(test::writeAllSamples(env, image, {1, 2, 3, 4}), kOk);
    EXPECT_EQ(inquired(env, image, "tmpnam"), 0);
    ASSERT_EQ(destroyObject(env, image), kOk);
    EXPECT_EQ(test::fileBytes(placement.path()), (std::vector<uint8_t>{1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Byte ranges

// Coded data written into work space may outgrow its samples' size, up to
// 16 times it; samples themselves may not.
TEST(AccessBytes, WorkSpaceGrowsOnlyForCodedData) {
    struct Case {
        const char *name;
        int32_t compression;
        uint64_t offset;
        int expected;
    };
    const Case cases[] = {
        {"coded_past_the_samples", code::kPackBits, 200000, kOk},
        {"coded_far_past_the_samples", code::kPackBits, (1u << 20) + 16 * 64, kInsufficientSize},
        {"samples_past_their_size", code::kNoCompression, 1000, kInsufficientSize},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment env;
        const CmiAttribute list[] = {{"repository", code::kWorkSpace}, {"xDimension", 8}, {"yDimension", 8},
                                     {"compression", c.compression}};
        DataObject *object = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
        ASSERT_NE(object, nullptr);
        DataAccess *out;
        ASSERT_EQ(openAccess(env, object, AccessMode::Write, 0, {}, &out), kOk);
        const std::vector<uint8_t> bytes(100, 0x5A);
        EXPECT_EQ(writeBytes(out, c.offset, bytes.data(), bytes.size()), c.expected);
        ASSERT_EQ(closeAccess(env, out), kOk);
        if (c.expected != kOk) continue;
        DataAccess *in;
        ASSERT_EQ(openAccess(env, object, AccessMode::Read, 0, {}, &in), kOk);
        std::vector<uint8_t> back(100);
        EXPECT_EQ(readBytes(in, c.offset, back.data(), back.size()), kOk);
        EXPECT_EQ(back, bytes);
        EXPECT_EQ(closeAccess(env, in), kOk);
    }
}

TEST(AccessBytes, CallerMemoryIsBoundedByItsSize) {
    struct Range {
        uint64_t offset;
        size_t count;
        int expected;
    };
    const Range ranges[] = {
        {0, 10, kOk},
        {8, 2, kOk},
        {10, 0, kOk},
        {8, 3, kInsufficientSize},
        {10, 1, kInsufficientSize},
        {1u << 20, 1, kInsufficientSize},
        {UINT64_MAX, 1, kInsufficientSize},
        {UINT64_MAX - 2, 8, kInsufficientSize},  // offset + count wraps
    };
    ScopedEnvironment env;
    std::vector<uint8_t> memory(32, 0xEE);
    const CmiAttribute list[] = {{"repository", code::kApplicationAddressSpace},
                                 pointerPair("applicationAddressSpace", memory.data()),
                                 {"size", 10},
                                 {"xDimension", 32},
                                 {"inited", 1}};
    DataObject *object = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(object, nullptr);
    DataAccess *access;
    ASSERT_EQ(openAccess(env, object, AccessMode::Write, 0, {}, &access), kOk);
    std::vector<uint8_t> buffer(16, 0x11);
    for (const Range &r : ranges) {
        SCOPED_TRACE(testing::Message() << r.offset << " + " << r.count);
        EXPECT_EQ(readBytes(access, r.offset, buffer.data(), r.count), r.expected);
        EXPECT_EQ(writeBytes(access, r.offset, buffer.data(), r.count), r.expected);
        if (r.expected != kOk) EXPECT_EQ(lastError(env), kInsufficientSize);
    }
    ASSERT_EQ(closeAccess(env, access), kOk);
    EXPECT_EQ(std::vector<uint8_t>(memory.begin() + 10, memory.end()), std::vector<uint8_t>(22, 0xEE))
        << "nothing written past the size";
}

TEST(AccessBytes, CallerMemoryWithoutSizeIsBoundedByTheDataSize) {
    ScopedEnvironment env;
    std::vector<uint8_t> memory(12, 0);
    const CmiAttribute list[] = {{"repository", code::kApplicationAddressSpace},
                                 pointerPair("applicationAddressSpace", memory.data()),
                                 {"xDimension", 4},
                                 {"yDimension", 3}};
    DataObject *object = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(object, nullptr);
    DataAccess *access;
    ASSERT_EQ(openAccess(env, object, AccessMode::Read, 1, {}, &access), kOk);
    uint8_t buffer[4];
    EXPECT_EQ(readBytes(access, 8, buffer, 4), kOk);
    EXPECT_EQ(readBytes(access, 9, buffer, 4), kInsufficientSize);
    ASSERT_EQ(closeAccess(env, access), kOk);
}

TEST(AccessBytes, ReadingPastTheEndOfAFileReports8) {
    ScopedEnvironment env;
    Placement placement(Where::NamedFile);
    ASSERT_TRUE(test::putFile(placement.folder().file("image.raw"), {1, 2, 3, 4, 5}));
    DataObject *file = placement.create(env, {{"inited", 1}});
    ASSERT_NE(file, nullptr);
    DataAccess *in;
    ASSERT_EQ(openAccess(env, file, AccessMode::Read, 0, {}, &in), kOk);
    uint8_t buffer[4] = {};
    EXPECT_EQ(readBytes(in, 1, buffer, 4), kOk);
    EXPECT_EQ(buffer[3], 5);
    EXPECT_EQ(readBytes(in, 2, buffer, 4), kInsufficientSize);
    EXPECT_EQ(readBytes(in, UINT64_MAX - 1, buffer, 4), kInsufficientSize);
    ASSERT_EQ(closeAccess(env, in), kOk);
}

// ---------------------------------------------------------------------------
// The bit stream

class AccessBitStream : public testing::TestWithParam<Where> {};

TEST_P(AccessBitStream, FFIsFollowedByAStuffedZeroAndReadsBack) {
    struct Field {
        uint32_t value;
        int bits;
    };
    // FF | 101 11111 | 11 (partial, kept at close) -> FF 00 BF C0
    const Field fields[] = {{0xFF, 8}, {0x5, 3}, {0x1F, 5}, {0x3, 2}};
    const std::vector<uint8_t> expected = {0xFF, 0x00, 0xBF, 0xC0};

    ScopedEnvironment env;
    Placement placement(GetParam());
    DataObject *stream = placement.create(env, {{"xDimension", 16}}, 16);
    ASSERT_NE(stream, nullptr);
    DataAccess *out;
    ASSERT_EQ(openAccess(env, stream, AccessMode::Write, 0, {}, &out), kOk);
    for (const Field &f : fields) ASSERT_EQ(writeBits(out, f.value, f.bits), kOk);
    ASSERT_EQ(closeAccess(env, out), kOk);
    EXPECT_EQ(inquired(env, stream, "size"), 4);
    std::vector<uint8_t> stored = GetParam() == Where::CallerMemory
                                      ? std::vector<uint8_t>(placement.memory().begin(), placement.memory().begin() + 4)
                                      : test::fileBytes(placement.path());
    EXPECT_EQ(stored, expected);

    DataAccess *in;
    ASSERT_EQ(openAccess(env, stream, AccessMode::Read, 0, {}, &in), kOk);
    for (const Field &f : fields) {
        uint32_t value = 0;
        ASSERT_EQ(readBits(in, f.bits, &value), kOk);
        EXPECT_EQ(value, f.value);
    }
    ASSERT_EQ(closeAccess(env, in), kOk);
}

INSTANTIATE_TEST_SUITE_P(Repositories, AccessBitStream, testing::Values(Where::CallerMemory, Where::NamedFile),
                         [](const auto &info) { return std::string(whereName(info.param)); });

struct BitReadCase {
    const char *name;
    std::vector<uint8_t> bytes;
    std::vector<int> counts;        // bit counts read in turn
    std::vector<uint32_t> values;   // what the successful reads give
    int last;                       // code of the last read
};

class AccessBitReader : public testing::TestWithParam<BitReadCase> {};

TEST_P(AccessBitReader, ChecksTheMarkerEscapeAndTheEnd) {
    const BitReadCase &c = GetParam();
    ScopedEnvironment env;
    std::vector<uint8_t> memory = c.bytes;
    const CmiAttribute list[] = {{"repository", code::kApplicationAddressSpace},
                                 pointerPair("applicationAddressSpace", memory.data()),
                                 {"size", static_cast<intptr_t>(memory.size())},
                                 {"inited", 1}};
    DataObject *stream = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(stream, nullptr);
    DataAccess *in;
    ASSERT_EQ(openAccess(env, stream, AccessMode::Read, 0, {}, &in), kOk);
    for (size_t i = 0; i < c.counts.size(); ++i) {
        uint32_t value = 0xDEAD;
        int code = readBits(in, c.counts[i], &value);
        if (i + 1 < c.counts.size()) {
            ASSERT_EQ(code, kOk) << "read " << i;
            EXPECT_EQ(value, c.values[i]) << "read " << i;
        } else {
            EXPECT_EQ(code, c.last);
            if (c.last == kOk) EXPECT_EQ(value, c.values[i]);
            else EXPECT_EQ(lastError(env), c.last);
        }
    }
    EXPECT_EQ(closeAccess(env, in), kOk);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AccessBitReader,
    testing::Values(
        BitReadCase{"stuffed_zero_is_skipped", {0xFF, 0x00, 0xA5}, {8, 8}, {0xFF, 0xA5}, kOk},
        BitReadCase{"reads_cross_bytes", {0x12, 0x34, 0x56}, {4, 12, 8}, {0x1, 0x234, 0x56}, kOk},
        BitReadCase{"ff_then_marker", {0xFF, 0x12, 0x00}, {8}, {}, kSemanticError},
        BitReadCase{"ff_inside_a_field", {0x0F, 0xFF, 0xD9}, {4, 8}, {0x0}, kSemanticError},
        BitReadCase{"ff_at_the_end", {0x01, 0xFF}, {8, 1}, {0x01}, kInsufficientSize},
        BitReadCase{"past_the_end", {0x80}, {1, 7, 1}, {1, 0}, kInsufficientSize},
        BitReadCase{"more_than_32_bits", {0x00}, {33}, {}, kOutOfRange}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AccessBitWriter, MemoryStreamEndsAtTheSize) {
    ScopedEnvironment env;
    std::vector<uint8_t> memory(4, 0xEE);
    const CmiAttribute list[] = {{"repository", code::kApplicationAddressSpace},
                                 pointerPair("applicationAddressSpace", memory.data()),
                                 {"size", 2}};
    DataObject *stream = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(stream, nullptr);
    DataAccess *out;
    ASSERT_EQ(openAccess(env, stream, AccessMode::Write, 0, {}, &out), kOk);
    ASSERT_EQ(writeBits(out, 0x7E, 8), kOk);
    // 0xFF fits, its stuffed zero does not.
    EXPECT_EQ(writeBits(out, 0xFF, 8), kInsufficientSize);
    closeAccess(env, out);
    EXPECT_EQ(memory, (std::vector<uint8_t>{0x7E, 0xFF, 0xEE, 0xEE}));
}

TEST(AccessBitWriter, FlushPadsWithOneBits) {
    ScopedEnvironment env;
    std::vector<uint8_t> memory(4, 0xEE);
    const CmiAttribute list[] = {{"repository", code::kApplicationAddressSpace},
                                 pointerPair("applicationAddressSpace", memory.data()),
                                 {"size", 4}};
    DataObject *stream = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(stream, nullptr);
    DataAccess *out;
    ASSERT_EQ(openAccess(env, stream, AccessMode::Write, 0, {}, &out), kOk);
    ASSERT_EQ(writeBits(out, 0x0, 2), kOk);
    ASSERT_EQ(flushBits(out), kOk);
    ASSERT_EQ(writeBits(out, 0x1, 1), kOk);
    ASSERT_EQ(flushBits(out), kOk);  // 1 + seven one bits: FF, stuffed
    ASSERT_EQ(closeAccess(env, out), kOk);
    EXPECT_EQ(memory, (std::vector<uint8_t>{0x3F, 0xFF, 0x00, 0xEE}));
    EXPECT_EQ(inquired(env, stream, "size"), 3);
}

// ---------------------------------------------------------------------------
// The sliding window

class AccessWindow : public testing::TestWithParam<Where> {};

TEST_P(AccessWindow, CentreRowFollowsTheRequestAndIsZeroOutsideTheData) {
    constexpr int32_t kWidth = 3, kHeight = 5;
    ScopedEnvironment env;
    Placement placement(GetParam());
    DataObject *image = placement.create(env, {{"xDimension", kWidth}, {"yDimension", kHeight}});
    ASSERT_NE(image, nullptr);
    std::vector<uint8_t> samples;
    for (int r = 0; r < kHeight; ++r) samples.insert(samples.end(), kWidth, static_cast<uint8_t>(r + 1));
    ASSERT_EQ(test::writeAllSamples(env, image, samples), kOk);

    for (int rows : {1, 3, 5}) {
        SCOPED_TRACE(testing::Message() << rows << " rows");
        DataAccess *in;
        ASSERT_EQ(openAccess(env, image, AccessMode::Read, rows, {}, &in), kOk);
        // Down the image row by row, past its end, then a jump back.
        for (int r : {0, 1, 2, 3, 4, 5, 6, 2, 4, 3}) {
            const uint8_t *centre;
            ASSERT_EQ(readWindow(in, int64_t(r) * kWidth, &centre), kOk);
            uint8_t value = r < kHeight ? static_cast<uint8_t>(r + 1) : 0;
            EXPECT_EQ(std::vector<uint8_t>(centre, centre + kWidth), std::vector<uint8_t>(kWidth, value))
                << "row " << r;
        }
        ASSERT_EQ(closeAccess(env, in), kOk);
    }
}

INSTANTIATE_TEST_SUITE_P(Repositories, AccessWindow,
                         testing::Values(Where::WorkSpace, Where::NamedFile, Where::CallerMemory),
                         [](const auto &info) { return std::string(whereName(info.param)); });

// ---------------------------------------------------------------------------
// Opening and misuse

TEST(AccessOpen, RefusesWhatCannotBeOpened) {
    ScopedEnvironment env;
    ScratchFolder folder;
    const std::string unreachable = folder.file("missing/image.raw");
    struct Case {
        const char *name;
        std::vector<CmiAttribute> list;
        AccessMode mode;
        int expected;
    };
    const Case cases[] = {
        {"null_caller_memory", {{"repository", code::kApplicationAddressSpace}}, AccessMode::Read,
         kNonPermissibleOption},
        {"unknown_repository", {{"repository", 77}}, AccessMode::Read, kNonPermissibleOption},
        {"file_cannot_be_created", {{"repository", code::kFile}, pointerPair("fileName", unreachable.c_str())},
         AccessMode::Write, kFileOpenFailure},
        {"file_missing", {{"repository", code::kFile}, pointerPair("fileName", unreachable.c_str()), {"inited", 1}},
         AccessMode::Read, kFileOpenFailure},
        {"negative_width", {{"repository", code::kWorkSpace}, {"xDimension", -4}}, AccessMode::Read,
         kOutOfRange},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DataObject *object = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, c.list);
        ASSERT_NE(object, nullptr);
        DataAccess *access = reinterpret_cast<DataAccess *>(1);
        EXPECT_EQ(openAccess(env, object, c.mode, 1, {}, &access), c.expected);
        EXPECT_EQ(access, nullptr);
        EXPECT_EQ(lastError(env), c.expected);
    }

    DataObject *dead = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_EQ(destroyObject(env, dead), kOk);
    DataAccess *access;
    EXPECT_EQ(openAccess(env, dead, AccessMode::Read, 1, {}, &access), kInvalidInstance);
}

TEST(AccessOpen, RowAndWriteCallsNeedTheRightKindOfAccess) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"repository", code::kWorkSpace}, {"xDimension", 4}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    DataAccess *bytes;
    ASSERT_EQ(openAccess(env, image, AccessMode::Read, 0, {}, &bytes), kOk);
    const uint8_t *row;
    EXPECT_EQ(readRow(bytes, 0, &row), kNonPermissibleOption) << "a byte stream has no rows";
    uint8_t byte = 1;
    EXPECT_EQ(writeBytes(bytes, 0, &byte, 1), kNonPermissibleOption);
    EXPECT_EQ(writeBits(bytes, 1, 1), kNonPermissibleOption);
    EXPECT_EQ(closeAccess(env, bytes), kOk);

    DataAccess *rows;
    ASSERT_EQ(openAccess(env, image, AccessMode::Read, 1, {}, &rows), kOk);
    uint8_t *writable;
    EXPECT_EQ(writeRow(rows, 0, &writable), kNonPermissibleOption);
    EXPECT_EQ(readRow(rows, -1, &row), kOutOfRange);
    EXPECT_EQ(closeAccess(env, rows), kOk);
}

}  // namespace
}  // namespace orvo
