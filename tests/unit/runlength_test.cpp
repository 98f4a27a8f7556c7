// PackBits and BMP run-length coding: exact coded bytes for known rows, and
// round trips over sample kinds and sizes.
#include <gtest/gtest.h>

#include <vector>

#include "core/codecs/compression.h"
#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/samples.h"

namespace orvo {
namespace {

class RunLength : public testing::Test {
protected:
    void SetUp() override { env_ = openEnvironment(); }
    void TearDown() override { EXPECT_EQ(closeEnvironment(env_), kOk); }

    DataObject *image(int32_t width, int32_t height, int32_t bands, int32_t type, int32_t precision,
                      const std::vector<uint8_t> &samples) {
        const CmiAttribute list[] = {{"xDimension", width}, {"yDimension", height}, {"bDimension", bands},
                                     {"dataType", type},    {"dataPrecision", precision},
                                     {"repository", code::kWorkSpace}};
        DataObject *object = createObject(env_, nullptr, ObjectClass::GenericImage, nullptr, list);
        EXPECT_NE(object, nullptr);
        if (!samples.empty()) EXPECT_EQ(importSamples(env_, samples.data(), object, {}), kOk);
        return object;
    }
    // Coded output may outgrow the samples, so encoders write to files.
    DataObject *coded(DataObject *from, int32_t method, int32_t format = 0) {
        const CmiAttribute list[] = {{"compression", method}, {"fileFormat", format}, {"repository", code::kFile}};
        return createObject(env_, nullptr, from->cls, from, list);
    }
    // A coded object of an 8-bit width x height image holding `stream`.
    DataObject *codedStream(int32_t method, int32_t width, int32_t height, const std::vector<uint8_t> &stream) {
        const CmiAttribute list[] = {{"xDimension", width},          {"yDimension", height},
                                     {"dataType", code::kNonnegativeInteger}, {"compression", method},
                                     {"repository", code::kFile}};
        DataObject *object = createObject(env_, nullptr, ObjectClass::GenericImage, nullptr, list);
        DataAccess *out;
        EXPECT_EQ(openAccess(env_, object, AccessMode::Write, 0, {}, &out), kOk);
        EXPECT_EQ(writeBytes(out, 0, stream.data(), stream.size()), kOk);
        closeAccess(env_, out);
        EXPECT_EQ(setAttribute(env_, object, "size", static_cast<intptr_t>(stream.size())), kOk);
        return object;
    }
    std::vector<uint8_t> bytesOf(DataObject *object) {
        std::vector<uint8_t> bytes(static_cast<size_t>(object->get(Attr::size)));
        DataAccess *in;
        EXPECT_EQ(openAccess(env_, object, AccessMode::Read, 0, {}, &in), kOk);
        EXPECT_EQ(readBytes(in, 0, bytes.data(), bytes.size()), kOk);
        closeAccess(env_, in);
        return bytes;
    }
    std::vector<uint8_t> samplesOf(DataObject *object) {
        uint64_t size = 0;
        dataSize(env_, object, &size);
        std::vector<uint8_t> samples(size);
        EXPECT_EQ(exportSamples(env_, object, samples.data(), {}), kOk);
        return samples;
    }
    Environment *env_ = nullptr;
};

struct KnownRow {
    const char *name;
    int32_t method;
    std::vector<uint8_t> row;
    std::vector<uint8_t> expected;
};

class KnownRows : public RunLength, public testing::WithParamInterface<KnownRow> {};

TEST_P(KnownRows, CodeExactly) {
    const KnownRow &c = GetParam();
    DataObject *source = image(static_cast<int32_t>(c.row.size()), 1, 1, code::kNonnegativeInteger, 8, c.row);
    DataObject *target = coded(source, c.method);
    ASSERT_EQ(compressImage(env_, source, target), kOk);
    EXPECT_EQ(bytesOf(target), c.expected);
}

std::vector<uint8_t> repeat(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

INSTANTIATE_TEST_SUITE_P(
    Rows, KnownRows,
    testing::Values(KnownRow{"packbits_pair", code::kPackBits, {7, 7}, {0xFF, 7}},
                    KnownRow{"packbits_two_literals", code::kPackBits, {1, 2}, {0x00, 1, 0x00, 2}},
                    KnownRow{"packbits_last_byte_alone", code::kPackBits, {1, 2, 3}, {0x01, 1, 2, 0x00, 3}},
                    KnownRow{"packbits_130_equal", code::kPackBits, repeat(130, 9), {0x81, 9, 0xFF, 9}},
                    // Lone bytes between pairs: the most the coding ever expands a row.
                    KnownRow{"packbits_lone_bytes_between_pairs", code::kPackBits, {1, 2, 2, 3, 4, 4, 5},
                             {0x00, 1, 0xFF, 2, 0x00, 3, 0xFF, 4, 0x00, 5}},
                    KnownRow{"rle8_three_literals", code::kBmpRunLength, {4, 5, 6}, {0, 3, 4, 5, 6, 0, 1, 0, 0, 1}},
                    KnownRow{"rle8_run_of_300", code::kBmpRunLength, repeat(300, 2), {0xFE, 2, 46, 2, 0, 1}},
                    // PCX rows are padded to even lengths with zero bytes.
                    KnownRow{"pcx_high_byte_alone", code::kPcxRunLength, {0xC5, 7}, {0xC1, 0xC5, 7}},
                    KnownRow{"pcx_64_high_bytes", code::kPcxRunLength, repeat(64, 0xD0), {0xFF, 0xD0, 0xC1, 0xD0}},
                    KnownRow{"pcx_64_low_bytes", code::kPcxRunLength, repeat(64, 0x21), {0xFF, 0x21, 0x21}}),
    [](const auto &info) { return std::string(info.param.name); });

struct RoundTrip {
    const char *name;
    int32_t method;
    int32_t type;
    int32_t precision;
    int32_t width, height, bands;
    int32_t planar;  // TIFF planar configuration, 0 for a bare stream
};

class RoundTrips : public RunLength, public testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTrips, DecodeGivesBackTheSamples) {
    const RoundTrip &c = GetParam();
    DataObject *probe = image(c.width, c.height, c.bands, c.type, c.precision, {});
    uint64_t size = 0;
    ASSERT_TRUE(dataSize(env_, probe, &size));
    std::vector<uint8_t> samples(size);
    const int limit = c.type == code::kBoolean ? 256 : c.precision == 4 ? 16 : 256;
    for (size_t i = 0; i < samples.size(); ++i) {
        // Runs and literals both: blocks of equal values between noise.
        samples[i] = static_cast<uint8_t>(((i / 7) % 3 == 0 ? i * 131 : i / 7) % limit);
    }
    if (c.type == code::kBoolean) {
        uint64_t bits = uint64_t(c.width) * c.height * c.bands;
        if (bits % 8) samples.back() &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
    }
    DataObject *source = image(c.width, c.height, c.bands, c.type, c.precision, samples);
    DataObject *target = coded(source, c.method, c.planar != 0 ? code::kFormatTIFF : 0);
    if (c.planar != 0) ASSERT_EQ(setAttribute(env_, target, "planarConfiguration", c.planar), kOk);
    ASSERT_EQ(compressImage(env_, source, target), kOk);
    DataObject *back = image(c.width, c.height, c.bands, c.type, c.precision, {});
    ASSERT_EQ(decompressImage(env_, target, back), kOk);
    EXPECT_EQ(samplesOf(back), samples);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RoundTrips,
    testing::Values(RoundTrip{"packbits_bits_odd_width", code::kPackBits, code::kBoolean, 1, 13, 5, 1, 0},
                    RoundTrip{"packbits_bytes_contiguous", code::kPackBits, code::kNonnegativeInteger, 8, 300, 4, 3, 248},
                    RoundTrip{"packbits_bytes_separate", code::kPackBits, code::kNonnegativeInteger, 8, 31, 4, 3, 249},
                    RoundTrip{"packbits_nibbles", code::kPackBits, code::kNonnegativeInteger, 4, 9, 3, 1, 0},
                    RoundTrip{"rle8", code::kBmpRunLength, code::kNonnegativeInteger, 8, 517, 6, 1, 0},
                    RoundTrip{"rle4_odd_width", code::kBmpRunLength, code::kNonnegativeInteger, 4, 601, 5, 1, 0},
                    RoundTrip{"pcx_bits", code::kPcxRunLength, code::kBoolean, 1, 21, 4, 1, 0},
                    RoundTrip{"pcx_rgb_odd_width", code::kPcxRunLength, code::kNonnegativeInteger, 8, 99, 5, 3, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RunLength, PackBitsEndCodeKeepsLaterRows) {
    // Row 0 decodes fully, then 0x80 ends the data: row 1 keeps its bytes.
    DataObject *back = image(2, 2, 1, code::kNonnegativeInteger, 8, {9, 9, 9, 9});
    DataObject *source = codedStream(code::kPackBits, 2, 2, {0xFF, 5, 0x80});
    ASSERT_EQ(decompressImage(env_, source, back), kOk);
    EXPECT_EQ(samplesOf(back), (std::vector<uint8_t>{5, 5, 9, 9}));
}

TEST_F(RunLength, TruncatedPackBitsIsASyntaxError) {
    DataObject *back = image(4, 2, 1, code::kNonnegativeInteger, 8, {});
    DataObject *source = codedStream(code::kPackBits, 4, 2, {0xFD, 1});  // one row of four, then nothing
    EXPECT_EQ(decompressImage(env_, source, back), kSyntaxError);
}

TEST_F(RunLength, MethodsWithoutCodecAreRefused) {
    DataObject *source = image(4, 1, 1, code::kNonnegativeInteger, 8, {1, 2, 3, 4});
    for (int32_t method : {0, code::kLZW, 100}) {
        DataObject *target = coded(source, method);
        EXPECT_EQ(compressImage(env_, source, target), kNonPermissibleOption) << method;
    }
}

}  // namespace
}  // namespace orvo
