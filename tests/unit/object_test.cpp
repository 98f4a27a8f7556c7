// Data objects: classes and derivation, attribute lists, format records,
// the object tree, composites and tuples.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/env/codes.h"
#include "core/env/object.h"
#include "tests/support/core_fixtures.h"

namespace orvo {
namespace {

using test::pointerPair;
using test::ScopedEnvironment;

intptr_t inquired(Environment *env, DataObject *object, const char *name) {
    intptr_t value = -999;
    const CmiAttribute pair = pointerPair(name, &value);
    EXPECT_EQ(inquireAttributes(env, object, {&pair, 1}), kOk) << name;
    return value;
}

// ---------------------------------------------------------------------------
// Classes and derivation

struct Derivation {
    const char *name;
    ObjectClass from;
    ObjectClass to;
    int expected;  // 0: created
};

class ObjectDerivation : public testing::TestWithParam<Derivation> {};

TEST_P(ObjectDerivation, FollowsTheClassRules) {
    const Derivation &c = GetParam();
    ScopedEnvironment env;
    DataObject *source = createObject(env, "source", c.from, nullptr);
    ASSERT_NE(source, nullptr);
    DataObject *derived = createObject(env, "derived", c.to, source);
    if (c.expected == kOk) {
        ASSERT_NE(derived, nullptr);
        EXPECT_EQ(derived->cls, c.to);
        EXPECT_EQ(derived->source, source);
        EXPECT_EQ(source->firstChild, derived);
    } else {
        EXPECT_EQ(derived, nullptr);
        EXPECT_EQ(lastError(env), c.expected);
        EXPECT_EQ(source->firstChild, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Classes, ObjectDerivation,
    testing::Values(
        Derivation{"generic_from_colour", ObjectClass::ColourImage, ObjectClass::GenericImage, kOk},
        Derivation{"colour_from_monochrome", ObjectClass::MonochromeImage, ObjectClass::ColourImage, kOk},
        Derivation{"roi_from_image", ObjectClass::GenericImage, ObjectClass::ROI, kOk},
        Derivation{"spectrum_from_image", ObjectClass::ColourImage, ObjectClass::PowerSpectrumArray, kOk},
        Derivation{"window_function_from_image", ObjectClass::MonochromeImage,
                   ObjectClass::WindowFunctionArray, kOk},
        Derivation{"same_class", ObjectClass::LookupTable, ObjectClass::LookupTable, kOk},
        Derivation{"lookup_table_from_image", ObjectClass::GenericImage, ObjectClass::LookupTable,
                   kMismatchObjectClass},
        Derivation{"image_from_roi", ObjectClass::ROI, ObjectClass::GenericImage, kMismatchObjectClass},
        Derivation{"roi_from_matrix", ObjectClass::Matrix, ObjectClass::ROI, kMismatchObjectClass},
        Derivation{"histogram_from_lookup_table", ObjectClass::LookupTable, ObjectClass::Histogram,
                   kMismatchObjectClass},
        Derivation{"composite_from_tuple", ObjectClass::Tuple, ObjectClass::CompositeIDArray,
                   kMismatchObjectClass}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ObjectClassName, UnknownNamesAreRefusedWith6) {
    ScopedEnvironment env;
    for (const char *name : {"Image", "colourImage", "ColourImage ", "", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        EXPECT_EQ(createObject(env, nullptr, name, nullptr), nullptr);
        EXPECT_EQ(lastError(env), kIncorrectObjectClass);
    }
    EXPECT_EQ(env.get()->objects, nullptr);
    DataObject *known = createObject(env, nullptr, "MonochromeImage", nullptr);
    ASSERT_NE(known, nullptr);
    EXPECT_EQ(known->cls, ObjectClass::MonochromeImage);
}

TEST(ObjectClassTemplate, TemplatesGiveTheClassDefaults) {
    struct Case {
        ObjectClass cls;
        intptr_t dataType, precision, repository, x, y, scaleFactor;
    };
    const Case cases[] = {
        {ObjectClass::ColourImage, 153, 8, 83, 1, 1, 1},
        {ObjectClass::Histogram, 175, 32, 223, 256, 1, 1},
        {ObjectClass::LookupTable, 153, 8, 223, 256, 1, 1},
        {ObjectClass::Matrix, 161, 32, 223, 3, 3, 1},
        {ObjectClass::DitherArray, 153, 8, 223, 4, 4, 16},
        {ObjectClass::MaskArray, 153, 8, 223, 3, 3, 1},
        {ObjectClass::ImpulseResponseArray, 174, 16, 223, 3, 3, 1},
        {ObjectClass::WindowFunctionArray, 161, 32, 83, 1, 1, 1},
        {ObjectClass::TransferFunctionArray, 35, 64, 83, 1, 1, 1},
        {ObjectClass::CompositeIDArray, 175, 32, 223, 1, 1, 1},
    };
    ScopedEnvironment env;
    for (const Case &c : cases) {
        SCOPED_TRACE(className(c.cls));
        DataObject *object = createObject(env, nullptr, c.cls, nullptr);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(inquired(env, object, "dataType"), c.dataType);
        EXPECT_EQ(inquired(env, object, "dataPrecision"), c.precision);
        EXPECT_EQ(inquired(env, object, "repository"), c.repository);
        EXPECT_EQ(inquired(env, object, "xDimension"), c.x);
        EXPECT_EQ(inquired(env, object, "yDimension"), c.y);
        EXPECT_EQ(inquired(env, object, "scaleFactor"), c.scaleFactor);
        EXPECT_EQ(inquired(env, object, "bitOrder"), 150);
        EXPECT_EQ(inquired(env, object, "pixelInterpretation"), 222);
        EXPECT_EQ(inquired(env, object, "inited"), 0);
    }
}

TEST(ObjectDerivedAttributes, CopiesTheSourceButNotWhereItsBytesAre) {
    ScopedEnvironment env;
    std::vector<uint8_t> buffer(64);
    const CmiAttribute list[] = {
        {"xDimension", 4}, {"yDimension", 4}, {"bDimension", 3}, {"zDimension", 2},
        {"repository", 9}, pointerPair("applicationAddressSpace", buffer.data()),
        {"fileFormat", 225}, {"xResolution", 3780},
    };
    DataObject *colour = createObject(env, "colour", ObjectClass::ColourImage, nullptr, list);
    ASSERT_NE(colour, nullptr);

    DataObject *mono = createObject(env, nullptr, ObjectClass::MonochromeImage, colour);
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(inquired(env, mono, "xDimension"), 4);
    EXPECT_EQ(inquired(env, mono, "repository"), 9);
    EXPECT_EQ(inquired(env, mono, "applicationAddressSpace"), 0);
    EXPECT_EQ(inquired(env, mono, "bDimension"), 1);
    EXPECT_EQ(inquired(env, mono, "zDimension"), 1);
    // The format record is copied, not shared.
    EXPECT_EQ(inquired(env, mono, "fileFormat"), 225);
    EXPECT_EQ(inquired(env, mono, "xResolution"), 3780);
    ASSERT_EQ(setAttribute(env, mono, "xResolution", 100), kOk);
    EXPECT_EQ(inquired(env, colour, "xResolution"), 3780);

    ASSERT_EQ(setAttribute(env, colour, "dataType", code::kReal), kOk);
    DataObject *roiOfReal = createObject(env, nullptr, ObjectClass::ROI, colour);
    ASSERT_NE(roiOfReal, nullptr);
    EXPECT_EQ(inquired(env, roiOfReal, "dataType"), 153);
    EXPECT_EQ(inquired(env, roiOfReal, "dataPrecision"), 8);
    DataObject *window = createObject(env, nullptr, ObjectClass::WindowFunctionArray, mono);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(inquired(env, window, "dataType"), 161);
    EXPECT_EQ(inquired(env, window, "dataPrecision"), 32);
}

TEST(ObjectDerivedAttributes, TiffStripArraysAreCopiedDeeply) {
    ScopedEnvironment env;
    const uint32_t offsets[2] = {8, 300};
    const CmiAttribute list[] = {
        {"fileFormat", 207}, {"stripsPerImage", 2}, pointerPair("stripOffsets", offsets)};
    DataObject *page = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(page, nullptr);
    DataObject *copy = createObject(env, nullptr, ObjectClass::GenericImage, page);
    ASSERT_NE(copy, nullptr);
    auto *copied = reinterpret_cast<const uint32_t *>(inquired(env, copy, "stripOffsets"));
    auto *original = reinterpret_cast<const uint32_t *>(inquired(env, page, "stripOffsets"));
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, original);
    EXPECT_EQ(copied[0], 8u);
    EXPECT_EQ(copied[1], 300u);
}

// ---------------------------------------------------------------------------
// Setting attributes

struct TypeChange {
    const char *name;
    const char *attribute;
    intptr_t value;
    intptr_t precisionAfter;  // the image starts at 8
    bool initedAfter;
};

class ObjectTypeChange : public testing::TestWithParam<TypeChange> {};

TEST_P(ObjectTypeChange, SetsPrecisionAndValidity) {
    const TypeChange &c = GetParam();
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"xDimension", 5}, {"yDimension", 3}, {"inited", 1}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(inquired(env, image, "inited"), 1);
    ASSERT_EQ(setAttribute(env, image, c.attribute, c.value), kOk);
    EXPECT_EQ(inquired(env, image, "dataPrecision"), c.precisionAfter);
    EXPECT_EQ(inquired(env, image, "inited"), c.initedAfter ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ObjectTypeChange,
    testing::Values(TypeChange{"real_takes_real_precision", "dataType", 161, 32, false},
                    TypeChange{"boolean_takes_one_bit", "dataType", 18, 1, false},
                    TypeChange{"signed_takes_sixteen", "dataType", 174, 16, false},
                    TypeChange{"complex_takes_sixty_four", "dataType", 35, 64, false},
                    TypeChange{"word_keeps_precision", "dataType", 175, 8, false},
                    TypeChange{"new_width_invalidates", "xDimension", 6, 8, false},
                    TypeChange{"new_bands_invalidate", "bDimension", 3, 8, false},
                    TypeChange{"new_precision_invalidates", "dataPrecision", 4, 4, false},
                    TypeChange{"new_compression_invalidates", "compression", 234, 8, false},
                    TypeChange{"alias_of_compression_invalidates", "compressionMethod", 156, 8, false},
                    TypeChange{"same_width_keeps_samples", "xDimension", 5, 8, true},
                    TypeChange{"other_attributes_keep_samples", "colourSpace", 121, 8, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ObjectSetAttributes, AliasesAddressTheSameWord) {
    struct Alias {
        const char *name;
        const char *alias;
    };
    const Alias aliases[] = {{"compression", "compressionMethod"},
                             {"eolState", "predictor"},
                             {"scaleFactor", "quarityFactor"},
                             {"xDimension", "entries"}};
    ScopedEnvironment env;
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    intptr_t value = 40;
    for (const Alias &a : aliases) {
        SCOPED_TRACE(a.alias);
        ASSERT_EQ(setAttribute(env, image, a.alias, ++value), kOk);
        EXPECT_EQ(inquired(env, image, a.name), value);
        ASSERT_EQ(setAttribute(env, image, a.name, ++value), kOk);
        EXPECT_EQ(inquired(env, image, a.alias), value);
    }
}

TEST(ObjectSetAttributes, LaterPairForTheSameNameWins) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"xDimension", 3}, {"entries", 9}, {"xDimension", 12}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(inquired(env, image, "xDimension"), 12);
}

TEST(ObjectSetAttributes, UnknownNamesAreIgnoredWithoutError) {
    ScopedEnvironment env;
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    const std::array<intptr_t, kAttrCount> before = image->attr;
    // A TIFF field on an object without a TIFF record, and a plain unknown.
    const CmiAttribute list[] = {{"rowsPerStrip", 16}, {"noSuchAttribute", 1}, {"tmpnam", 1}};
    EXPECT_EQ(setAttributes(env, image, list), kOk);
    EXPECT_EQ(image->attr, before);
    EXPECT_EQ(inquired(env, image, "tmpnam"), 0);
}

TEST(ObjectSetAttributes, FileNameIsSetOnlyOnce) {
    ScopedEnvironment env;
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(setAttribute(env, image, "fileName", reinterpret_cast<intptr_t>("")), kOk);
    EXPECT_EQ(image->fileName(), nullptr) << "an empty name leaves the name unset";
    std::string first = "first.bmp";
    ASSERT_EQ(setAttribute(env, image, "fileName", reinterpret_cast<intptr_t>(first.c_str())), kOk);
    first = "changed by the caller";
    ASSERT_EQ(setAttribute(env, image, "fileName", reinterpret_cast<intptr_t>("second.bmp")), kOk);
    ASSERT_NE(image->fileName(), nullptr);
    EXPECT_STREQ(image->fileName(), "first.bmp");
}

TEST(ObjectSetAttributes, ChangingTheFileFormatReplacesItsRecord) {
    ScopedEnvironment env;
    const CmiAttribute bmp[] = {{"fileFormat", 225}, {"xResolution", 2835}, {"resolutionUnit", 145}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(inquired(env, image, "xResolution"), 2835);
    // Setting the same format again keeps the record.
    ASSERT_EQ(setAttribute(env, image, "fileFormat", 225), kOk);
    EXPECT_EQ(inquired(env, image, "xResolution"), 2835);
    ASSERT_EQ(setAttribute(env, image, "fileFormat", 246), kOk);
    EXPECT_EQ(inquired(env, image, "versionNumber"), 5);
    ASSERT_EQ(setAttribute(env, image, "fileFormat", 225), kOk);
    EXPECT_EQ(inquired(env, image, "xResolution"), 0);
    EXPECT_EQ(inquired(env, image, "resolutionUnit"), 0);
}

// "fileFormat", "stripsPerImage" and the strip arrays in one list take effect
// whatever their order.
class ObjectTiffStrips : public testing::TestWithParam<std::array<int, 4>> {};

TEST_P(ObjectTiffStrips, ListOrderDoesNotMatter) {
    const uint32_t offsets[3] = {8, 1000, 70000};
    const uint32_t counts[3] = {992, 69000, 12};
    const CmiAttribute pairs[4] = {
        {"fileFormat", 207},
        {"stripsPerImage", 3},
        pointerPair("stripOffsets", offsets),
        pointerPair("stripByteCounts", counts),
    };
    std::vector<CmiAttribute> list;
    for (int index : GetParam()) list.push_back(pairs[index]);

    ScopedEnvironment env;
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(inquired(env, image, "fileFormat"), 207);
    EXPECT_EQ(inquired(env, image, "stripsPerImage"), 3);
    auto *storedOffsets = reinterpret_cast<const uint32_t *>(inquired(env, image, "stripOffsets"));
    auto *storedCounts = reinterpret_cast<const uint32_t *>(inquired(env, image, "stripByteCounts"));
    ASSERT_NE(storedOffsets, nullptr);
    ASSERT_NE(storedCounts, nullptr);
    EXPECT_NE(storedOffsets, offsets) << "the record keeps its own copy";
    EXPECT_EQ(std::vector<uint32_t>(storedOffsets, storedOffsets + 3), std::vector<uint32_t>(offsets, offsets + 3));
    EXPECT_EQ(std::vector<uint32_t>(storedCounts, storedCounts + 3), std::vector<uint32_t>(counts, counts + 3));
}

std::vector<std::array<int, 4>> allOrders() {
    std::array<int, 4> order = {0, 1, 2, 3};
    std::vector<std::array<int, 4>> orders;
    do orders.push_back(order);
    while (std::next_permutation(order.begin(), order.end()));
    return orders;
}

std::string orderName(const testing::TestParamInfo<std::array<int, 4>> &info) {
    static const char *const names[] = {"format", "count", "offsets", "bytecounts"};
    std::string name;
    for (int index : info.param) name += std::string(name.empty() ? "" : "_") + names[index];
    return name;
}

INSTANTIATE_TEST_SUITE_P(Orders, ObjectTiffStrips, testing::ValuesIn(allOrders()), orderName);

TEST(ObjectTiffStripsResize, NewStripCountStartsFromZeroes) {
    ScopedEnvironment env;
    const uint32_t offsets[2] = {5, 6};
    const CmiAttribute list[] = {{"fileFormat", 207}, {"stripsPerImage", 2}, pointerPair("stripOffsets", offsets)};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(setAttribute(env, image, "stripsPerImage", 4), kOk);
    auto *stored = reinterpret_cast<const uint32_t *>(inquired(env, image, "stripOffsets"));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(stored, stored + 4), (std::vector<uint32_t>{0, 0, 0, 0}));
    EXPECT_EQ(setAttribute(env, image, "stripsPerImage", -1), kOutOfRange);
}

TEST(ObjectTiffResolution, RationalIsCopiedAndNullIsIgnored) {
    ScopedEnvironment env;
    uint32_t rational[2] = {300, 1};
    const CmiAttribute list[] = {{"fileFormat", 207}, pointerPair("xResolution", rational)};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(inquired(env, image, "yResolution"), 0) << "no rational set yet";
    rational[0] = 1;
    ASSERT_EQ(setAttribute(env, image, "xResolution", 0), kOk);
    auto *stored = reinterpret_cast<const uint32_t *>(inquired(env, image, "xResolution"));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored[0], 300u);
    EXPECT_EQ(stored[1], 1u);
}

// ---------------------------------------------------------------------------
// Inquiring attributes

TEST(ObjectInquire, UnknownNamesLeaveTheVariableUntouched) {
    ScopedEnvironment env;
    const CmiAttribute formatList[] = {{"fileFormat", 225}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, formatList);
    ASSERT_NE(image, nullptr);
    intptr_t unknown = -77, otherFormat = -78, width = -79;
    const CmiAttribute list[] = {
        pointerPair("noSuchAttribute", &unknown),
        pointerPair("rowsPerStrip", &otherFormat),  // a TIFF field on a BMP record
        pointerPair("xDimension", &width),
    };
    EXPECT_EQ(inquireAttributes(env, image, list), kOk);
    EXPECT_EQ(unknown, -77);
    EXPECT_EQ(otherFormat, -78);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(lastError(env), kOk);
}

TEST(ObjectInquire, FlagsAnswerZeroOrOne) {
    ScopedEnvironment env;
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(setAttribute(env, image, "inited", 42), kOk);
    EXPECT_EQ(inquired(env, image, "inited"), 1);
    EXPECT_EQ(inquired(env, image, "tmpnam"), 0);
    ASSERT_EQ(setAttribute(env, image, "inited", 0), kOk);
    EXPECT_EQ(inquired(env, image, "inited"), 0);
}

// ---------------------------------------------------------------------------
// Object lifetime and the tree

TEST(ObjectTree, DestroyFreesDerivedObjectsAndTheRecordIsReused) {
    ScopedEnvironment env;
    DataObject *first = createObject(env, "first", ObjectClass::GenericImage, nullptr);
    DataObject *second = createObject(env, "second", ObjectClass::GenericImage, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    DataObject *child = createObject(env, "child", ObjectClass::MonochromeImage, first);
    ASSERT_NE(child, nullptr);
    DataObject *grandchild = createObject(env, "grandchild", ObjectClass::ROI, child);
    ASSERT_NE(grandchild, nullptr);

    ASSERT_EQ(destroyObject(env, first), kOk);
    EXPECT_EQ(checkObject(env, first), kInvalidInstance);
    EXPECT_EQ(checkObject(env, child), kInvalidInstance);
    EXPECT_EQ(checkObject(env, grandchild), kInvalidInstance);
    EXPECT_EQ(checkObject(env, second), kOk);
    EXPECT_EQ(setAttribute(env, child, "xDimension", 2), kInvalidInstance);
    EXPECT_EQ(destroyObject(env, first), kInvalidInstance);
    EXPECT_EQ(findObject(env, nullptr, "child"), nullptr);
    EXPECT_EQ(lastError(env), kInvalidInstance);

    // The next top-level creation takes the first dead record of the chain.
    DataObject *again = createObject(env, "again", ObjectClass::Matrix, nullptr);
    EXPECT_EQ(again, first);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->cls, ObjectClass::Matrix);
    EXPECT_EQ(inquired(env, again, "xDimension"), 3) << "a reused record starts from its template";
    EXPECT_EQ(findObject(env, nullptr, "again"), again);
    EXPECT_EQ(findObject(env, nullptr, "first"), nullptr);
}

TEST(ObjectTree, FindSearchesDerivedObjectsDepthFirst) {
    ScopedEnvironment env;
    DataObject *a = createObject(env, "a", ObjectClass::GenericImage, nullptr);
    DataObject *b = createObject(env, "b", ObjectClass::GenericImage, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    DataObject *underA = createObject(env, "twin", ObjectClass::GenericImage, a);
    DataObject *underB = createObject(env, "twin", ObjectClass::GenericImage, b);
    ASSERT_NE(underA, nullptr);
    ASSERT_NE(underB, nullptr);
    EXPECT_EQ(findObject(env, nullptr, "twin"), underA);
    EXPECT_EQ(findObject(env, b, "twin"), underB);
    EXPECT_EQ(findObject(env, nullptr, "b"), b);
    ASSERT_EQ(destroyObject(env, underA), kOk);
    EXPECT_EQ(findObject(env, nullptr, "twin"), underB);
}

TEST(ObjectTree, ObjectsOfAnotherEnvironmentAreRefused) {
    ScopedEnvironment mine;
    ScopedEnvironment other;
    DataObject *foreign = createObject(other, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(foreign, nullptr);
    EXPECT_EQ(setAttribute(mine, foreign, "xDimension", 4), kInvalidInstance);
    EXPECT_EQ(createObject(mine, nullptr, ObjectClass::GenericImage, foreign), nullptr);
    EXPECT_EQ(lastError(mine), kInvalidInstance);
    EXPECT_EQ(destroyObject(mine, foreign), kInvalidInstance);
    EXPECT_EQ(checkObject(other, foreign), kOk);
}

// ---------------------------------------------------------------------------
// Composites and tuples

TEST(ObjectComposite, ElementsAreStoredAndIndexChecked) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"xDimension", 3}};
    DataObject *composite = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, list);
    ASSERT_NE(composite, nullptr);
    DataObject *pages[3];
    for (DataObject *&page : pages) {
        page = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
        ASSERT_NE(page, nullptr);
    }
    for (int i = 0; i < 3; ++i) ASSERT_EQ(compositeSet(env, pages[2 - i], composite, i), kOk);
    for (int i = 0; i < 3; ++i) {
        DataObject *element = nullptr;
        ASSERT_EQ(compositeGet(env, composite, i, &element), kOk);
        EXPECT_EQ(element, pages[2 - i]) << i;
    }
    ASSERT_EQ(compositeSet(env, nullptr, composite, 1), kOk);
    DataObject *cleared = pages[0];
    ASSERT_EQ(compositeGet(env, composite, 1, &cleared), kOk);
    EXPECT_EQ(cleared, nullptr);

    for (int index : {3, -1, 1000000}) {
        SCOPED_TRACE(index);
        DataObject *element = pages[0];
        EXPECT_EQ(compositeGet(env, composite, index, &element), kOutOfRange);
        EXPECT_EQ(element, nullptr);
        EXPECT_EQ(compositeSet(env, pages[0], composite, index), kOutOfRange);
    }
}

TEST(ObjectComposite, WrongDataTypeIsRefusedWith10AfterTheIndexCheck) {
    ScopedEnvironment env;
    const CmiAttribute list[] = {{"xDimension", 2}, {"dataType", 153}};
    DataObject *composite = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, list);
    DataObject *page = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
    ASSERT_NE(composite, nullptr);
    ASSERT_NE(page, nullptr);
    DataObject *element;
    EXPECT_EQ(compositeGet(env, composite, 0, &element), kMismatchDataType);
    EXPECT_EQ(compositeSet(env, page, composite, 1), kMismatchDataType);
    EXPECT_EQ(compositeSet(env, page, composite, 2), kOutOfRange);
    EXPECT_EQ(lastError(env), kOutOfRange);
}

TEST(ObjectTuple, ValuesRoundTrip) {
    ScopedEnvironment env;
    const std::vector<int32_t> values = {7, -1, 0, 2147483647, -2147483647 - 1};
    for (size_t n = 1; n <= values.size(); ++n) {
        SCOPED_TRACE(n);
        DataObject *tuple = makeTuple(env, {values.data(), n});
        ASSERT_NE(tuple, nullptr);
        EXPECT_EQ(tuple->cls, ObjectClass::Tuple);
        EXPECT_EQ(inquired(env, tuple, "entries"), static_cast<intptr_t>(n));
        EXPECT_EQ(inquired(env, tuple, "dataType"), 175);
        EXPECT_EQ(inquired(env, tuple, "repository"), 223);
        std::vector<int32_t> back(n, 99);
        ASSERT_EQ(readTuple(env, tuple, back), kOk);
        EXPECT_EQ(back, std::vector<int32_t>(values.begin(), values.begin() + static_cast<long>(n)));
    }
}

TEST(ObjectTuple, SizeAndTypeAreChecked) {
    ScopedEnvironment env;
    const int32_t six[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(makeTuple(env, six), nullptr);
    EXPECT_EQ(lastError(env), kOutOfRange);
    EXPECT_EQ(makeTuple(env, {six, 0}), nullptr);
    EXPECT_EQ(lastError(env), kOutOfRange);

    DataObject *pair = makeTuple(env, {six, 2});
    ASSERT_NE(pair, nullptr);
    int32_t three[3];
    EXPECT_EQ(readTuple(env, pair, three), kOutOfRange);
    ASSERT_EQ(setAttribute(env, pair, "dataType", 161), kOk);
    EXPECT_EQ(readTuple(env, pair, {three, 2}), kMismatchDataType);
}

}  // namespace
}  // namespace orvo
