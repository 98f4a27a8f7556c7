// The environment record: its lifecycle and handle check, named attributes,
// error recording and the error log.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/env/environment.h"
#include "core/env/object.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::ScopedEnvironment;
using test::ScratchFolder;

std::string fileText(const std::string &path) {
    std::vector<uint8_t> bytes = test::fileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------------------
// Open and close

TEST(EnvironmentOpen, StartsOpenWithTheDefaultAttributes) {
    struct Default {
        const char *name;
        int32_t value;
    };
    const Default defaults[] = {
        {"booleanPrecision", 1},           {"nonnegativeIntegerPrecision", 8},
        {"signedIntegerPrecision", 16},    {"realArithmeticPrecision", 32},
        {"complexArithmeticPrecision", 64}, {"boundaryCondition", 231},
        {"colourQuantization", 211},       {"comformanceProfile", 86},
        {"errorDiffusion", 85},            {"errorReportingState", 0},
        {"indexAssignmentState", 0},       {"interpolation", 191},
        {"matchPointState", 0},            {"morphologicalOperation", 0},
        {"operationalState", 155},         {"realArithmeticImplementation", 161},
        {"roiState", 0},                   {"synchronicityState", 1},
        {"thresholdRamp", 42},             {"byteBoundary", 0},
        {"progressive", 0},                {"interlacePass", 1},
        {"debugState", 0},                 {"xDimensionLimit", 2147483647},
        {"yDimensionLimit", 2147483647},   {"zDimensionLimit", 2147483647},
        {"tDimensionLimit", 2147483647},   {"bDimensionLimit", 2147483647},
    };
    static_assert(std::size(defaults) == kEnvAttrCount);

    Environment *env = openEnvironment();
    ASSERT_NE(env, nullptr);
    EXPECT_EQ(checkEnvironment(env), kOk);
    EXPECT_EQ(lastError(env), kOk);
    EXPECT_EQ(env->logName, nullptr);

    std::vector<int32_t> values(kEnvAttrCount, -12345);
    std::vector<CmiAttribute> list;
    for (int i = 0; i < kEnvAttrCount; ++i) list.push_back(test::pointerPair(defaults[i].name, &values[i]));
    ASSERT_EQ(inquireEnvironmentAttributes(env, list), kOk);
    for (int i = 0; i < kEnvAttrCount; ++i) EXPECT_EQ(values[i], defaults[i].value) << defaults[i].name;

    EXPECT_EQ(closeEnvironment(env), kOk);
}

// ---------------------------------------------------------------------------
// The handle check: a record that is not an open environment

struct BrokenRecord {
    const char *name;
    uint32_t magic;
    int32_t operationalState;
};

class EnvironmentCheck : public testing::TestWithParam<BrokenRecord> {};

TEST_P(EnvironmentCheck, EveryOperationAnswers24AndLeavesTheRecordAlone) {
    const BrokenRecord &c = GetParam();
    ScopedEnvironment original;
    ASSERT_NE(original.get(), nullptr);
    // A copy of a real record, broken the way a closed or foreign record is;
    // the original stays intact and is closed normally.
    Environment copy = *original.get();
    copy.magic = c.magic;
    setEnvAttr(&copy, EnvAttr::operationalState, c.operationalState);
    copy.lastError = 5;

    EXPECT_EQ(checkEnvironment(&copy), kInvalidHandle);
    EXPECT_EQ(lastError(&copy), kInvalidHandle);

    EXPECT_EQ(setEnvironmentAttribute(&copy, "byteBoundary", 256), kInvalidHandle);
    EXPECT_EQ(envAttr(&copy, EnvAttr::byteBoundary), 0);
    int32_t value = -7;
    EXPECT_EQ(inquireEnvironmentAttribute(&copy, "byteBoundary", &value), kInvalidHandle);
    EXPECT_EQ(value, -7);

    reportError(&copy, kOutOfRange);
    EXPECT_EQ(copy.lastError, 5) << "a bad record must not be written";

    EXPECT_EQ(createObject(&copy, nullptr, ObjectClass::GenericImage, nullptr), nullptr);
    EXPECT_EQ(copy.objects, nullptr);
    EXPECT_EQ(closeEnvironment(&copy), kInvalidHandle);
    EXPECT_EQ(copy.magic, c.magic);
}

INSTANTIATE_TEST_SUITE_P(
    Records, EnvironmentCheck,
    testing::Values(BrokenRecord{"cleared_as_after_close", 0, kStateClosedValue},
                    BrokenRecord{"wrong_magic", 0x49504901u, kStateOpenValue},
                    BrokenRecord{"magic_byte_swapped", 0x00495049u, kStateOpenValue},
                    BrokenRecord{"state_closed", kEnvironmentMagic, kStateClosedValue},
                    BrokenRecord{"state_zero", kEnvironmentMagic, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EnvironmentCheckNull, NullIsAnInvalidHandle) {
    EXPECT_EQ(checkEnvironment(nullptr), kInvalidHandle);
    EXPECT_EQ(lastError(nullptr), kInvalidHandle);
    EXPECT_EQ(closeEnvironment(nullptr), kInvalidHandle);
    EXPECT_EQ(setEnvironmentAttribute(nullptr, "byteBoundary", 1), kInvalidHandle);
    reportError(nullptr, kOutOfRange);  // must not crash
}

TEST(EnvironmentCheckState, ClosingTheStateThroughTheAttributesInvalidatesTheHandle) {
    Environment *env = openEnvironment();
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(setEnvironmentAttribute(env, "operationalState", kStateClosedValue), kOk);
    EXPECT_EQ(checkEnvironment(env), kInvalidHandle);
    EXPECT_EQ(setEnvironmentAttribute(env, "operationalState", kStateOpenValue), kInvalidHandle);
    EXPECT_EQ(closeEnvironment(env), kInvalidHandle);
    // Reopen the record by hand so that it can be freed.
    setEnvAttr(env, EnvAttr::operationalState, kStateOpenValue);
    EXPECT_EQ(closeEnvironment(env), kOk);
}

// ---------------------------------------------------------------------------
// Named attributes

TEST(EnvironmentAttributes, UnknownNameStopsTheSetWalkKeepingEarlierEntries) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {
        {"interpolation", 7},
        {"byteBoundary", 256},
        {"ByteBoundary", 4},     // names are case-sensitive
        {"thresholdRamp", 99},   // after the unknown name: not applied
    };
    EXPECT_EQ(setEnvironmentAttributes(env, list), kOutOfRange);
    EXPECT_EQ(lastError(env), kOutOfRange);
    EXPECT_EQ(envAttr(env, EnvAttr::interpolation), 7);
    EXPECT_EQ(envAttr(env, EnvAttr::byteBoundary), 256);
    EXPECT_EQ(envAttr(env, EnvAttr::thresholdRamp), 42);
}

TEST(EnvironmentAttributes, UnknownNameStopsTheInquireWalk) {
    ScopedEnvironment env;
    int32_t first = -1, last = -1;
    const CmiAttribute list[] = {
        test::pointerPair("signedIntegerPrecision", &first),
        {"noSuchAttribute", 0},
        test::pointerPair("interlacePass", &last),
    };
    EXPECT_EQ(inquireEnvironmentAttributes(env, list), kOutOfRange);
    EXPECT_EQ(first, 16);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(lastError(env), kOutOfRange);
}

TEST(EnvironmentAttributes, LaterPairForTheSameNameWins) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"debugState", 1}, {"debugState", 3}};
    ASSERT_EQ(setEnvironmentAttributes(env, list), kOk);
    int32_t value = 0;
    ASSERT_EQ(inquireEnvironmentAttribute(env, "debugState", &value), kOk);
    EXPECT_EQ(value, 3);
}

// ---------------------------------------------------------------------------
// Precision by data type

TEST(EnvironmentPrecision, FollowsThePrecisionAttributeOfEachType) {
    struct Case {
        int32_t dataType;
        const char *attribute;  // null: no precision for the type
        int32_t byDefault;
    };
    const Case cases[] = {
        {18, "booleanPrecision", 1},
        {35, "complexArithmeticPrecision", 64},
        {153, "nonnegativeIntegerPrecision", 8},
        {161, "realArithmeticPrecision", 32},
        {174, "signedIntegerPrecision", 16},
        {175, nullptr, -1},
        {0, nullptr, -1},
        {-153, nullptr, -1},
    };
    ScopedEnvironment env;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dataType);
        EXPECT_EQ(precisionForDataType(env, c.dataType), c.byDefault);
        if (c.attribute == nullptr) continue;
        ASSERT_EQ(setEnvironmentAttribute(env, c.attribute, 12), kOk);
        EXPECT_EQ(precisionForDataType(env, c.dataType), 12);
    }
}

// ---------------------------------------------------------------------------
// The error log

struct LogCase {
    const char *name;
    bool existing;            // the log file exists before the first report
};

class EnvironmentLog : public testing::TestWithParam<LogCase> {};

TEST_P(EnvironmentLog, AppendsOneCrLfLinePerReportedError) {
    const LogCase &c = GetParam();
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("errors.log");
    const std::string earlier = "earlier content\n";
    if (c.existing) ASSERT_TRUE(test::putFile(path, {earlier.begin(), earlier.end()}));

    // The name is copied at open: the caller's buffer may change afterwards.
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    Environment *env = openEnvironment(name.data());
    ASSERT_NE(env, nullptr);
    std::fill(name.begin(), name.end() - 1, 'x');
    EXPECT_EQ(envAttr(env, EnvAttr::errorReportingState), 1);

    reportError(env, kOutOfRange);
    reportError(env, kInvalidInstance);
    EXPECT_EQ(lastError(env), kInvalidInstance);
    EXPECT_EQ(closeEnvironment(env), kOk);

    const std::string expected = (c.existing ? earlier : std::string()) +
                                 "ipi: Out of range\r\n"
                                 "ipi: Invalid instance\r\n";
    EXPECT_EQ(fileText(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, EnvironmentLog,
                         testing::Values(LogCase{"existing_file_is_not_truncated", true},
                                         LogCase{"missing_file_is_created", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EnvironmentLogText, SystemErrorLogsTheSystemMessage) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("errors.log");
    ScopedEnvironment env(path.c_str());
    errno = ENOENT;
    reportError(env, kSystemError);
    EXPECT_EQ(lastError(env), kSystemError);
    EXPECT_EQ(fileText(path), std::string("ipi: ") + std::strerror(ENOENT) + "\r\n");
}

TEST(EnvironmentLogText, UnwritableLogIsSilentAndTheErrorStaysRecorded) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("missing-folder/errors.log");
    ScopedEnvironment env(path.c_str());
    reportError(env, kSyntaxError);
    EXPECT_EQ(lastError(env), kSyntaxError);
    EXPECT_TRUE(folder.entries().empty());
}

// Runs a test body with the current directory moved into a scratch folder,
// where an environment without a log name would put its "stderr" file.
class InScratchDirectory {
public:
    InScratchDirectory() : previous_(std::filesystem::current_path()) {
        if (folder_.ok()) std::filesystem::current_path(folder_.file(""));
    }
    ~InScratchDirectory() { std::filesystem::current_path(previous_); }
    const ScratchFolder &folder() const { return folder_; }

private:
    ScratchFolder folder_;
    std::filesystem::path previous_;
};

TEST(EnvironmentLogOff, WithoutALogNameNothingIsEverWritten) {
    InScratchDirectory here;
    ASSERT_TRUE(here.folder().ok());
    for (const char *logName : {static_cast<const char *>(nullptr), ""}) {
        Environment *env = openEnvironment(logName);
        ASSERT_NE(env, nullptr);
        EXPECT_EQ(envAttr(env, EnvAttr::errorReportingState), 0);
        EXPECT_EQ(env->logName, nullptr);
        reportError(env, kOutOfRange);
        reportError(env, kSystemError);
        EXPECT_EQ(lastError(env), kSystemError);
        EXPECT_EQ(closeEnvironment(env), kOk);
    }
    EXPECT_TRUE(here.folder().entries().empty());
}

TEST(EnvironmentLogOff, TurningReportingOffStopsWritingTheLog) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("errors.log");
    ScopedEnvironment env(path.c_str());
    ASSERT_EQ(setEnvironmentAttribute(env, "errorReportingState", 0), kOk);
    reportError(env, kOutOfRange);
    EXPECT_EQ(lastError(env), kOutOfRange);
    EXPECT_TRUE(folder.entries().empty());
}

TEST(EnvironmentLogOff, ReportingOnWithoutANameWritesTheStderrFile) {
    InScratchDirectory here;
    ASSERT_TRUE(here.folder().ok());
    {
        ScopedEnvironment env;
        ASSERT_EQ(setEnvironmentAttribute(env, "errorReportingState", 1), kOk);
        reportError(env, kFileNotFound);
    }
    EXPECT_EQ(fileText(here.folder().file("stderr")), "ipi: File Not Found\r\n");
}

}  // namespace
}  // namespace orvo
