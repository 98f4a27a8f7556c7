// Sample copies between objects and caller buffers.
#include <gtest/gtest.h>

#include <vector>

#include "core/env/codes.h"
#include "core/env/environment.h"
#include "core/env/samples.h"

namespace orvo {
namespace {

struct CopyCase {
    const char *name;
    int32_t dataType;
    int32_t width;           // odd widths put boolean rows across bytes
    int32_t sourceRepository;
    int32_t targetRepository;
};

class CopySamples : public testing::TestWithParam<CopyCase> {
protected:
    void SetUp() override { env_ = openEnvironment(); }
    void TearDown() override { EXPECT_EQ(closeEnvironment(env_), kOk); }
    Environment *env_ = nullptr;
};

TEST_P(CopySamples, ExportThenImportRestoresEverySample) {
    const CopyCase &c = GetParam();
    const int32_t height = 3, bands = 2;
    const CmiAttribute list[] = {{"dataType", c.dataType}, {"xDimension", c.width}, {"yDimension", height},
                                 {"bDimension", bands}, {"repository", c.sourceRepository}};
    DataObject *image = createObject(env_, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    uint64_t bytes = 0;
    ASSERT_TRUE(dataSize(env_, image, &bytes));
    std::vector<uint8_t> pattern(bytes);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 37 + 11);
    if (c.dataType == code::kBoolean) {
        // Bits past the last sample are not samples.
        uint64_t bits = uint64_t(c.width) * height * bands;
        if (bits % 8) pattern.back() &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
    }
    ASSERT_EQ(importSamples(env_, pattern.data(), image, {}), kOk);

    const CmiAttribute copyList[] = {{"repository", c.targetRepository}};
    DataObject *copy = createObject(env_, nullptr, ObjectClass::GenericImage, image, copyList);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copySamples(env_, image, copy), kOk);
    std::vector<uint8_t> back(bytes, 0);
    ASSERT_EQ(exportSamples(env_, copy, back.data(), {}), kOk);
    EXPECT_EQ(back, pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Types, CopySamples,
    testing::Values(CopyCase{"boolean_odd_width_memory", code::kBoolean, 13, code::kWorkSpace, code::kWorkSpace},
                    CopyCase{"boolean_odd_width_file", code::kBoolean, 13, code::kFile, code::kFile},
                    CopyCase{"bytes_memory_to_file", code::kNonnegativeInteger, 7, code::kWorkSpace, code::kFile},
                    CopyCase{"words_file_to_memory", code::kWord32, 5, code::kFile, code::kWorkSpace}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CopySamplesErrors, DifferentTypesAreRefused) {
    Environment *env = openEnvironment();
    const CmiAttribute bytesList[] = {{"repository", code::kWorkSpace}};
    const CmiAttribute bitsList[] = {{"repository", code::kWorkSpace}, {"dataType", code::kBoolean}};
    const CmiAttribute realList[] = {{"repository", code::kWorkSpace}, {"dataType", code::kReal}};
    DataObject *bytes = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, bytesList);
    DataObject *bits = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, bitsList);
    DataObject *real = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, realList);
    EXPECT_EQ(copySamples(env, bytes, bits), kMismatchDataType);
    EXPECT_EQ(copySamples(env, real, real), kMismatchDataType);
    EXPECT_EQ(closeEnvironment(env), kOk);
}

}  // namespace
}  // namespace orvo
