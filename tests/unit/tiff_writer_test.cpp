// The TIFF writer: images built in code are written and then judged by
// libtiff's tools, which must read every file without a complaint and give
// back the source's pixels exactly; the fixed page layout (colour map and
// data positions, directory chain, page numbers) and the directory entries
// of coded pages are read back from the file bytes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/codecs/compression.h"
#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/formats/tiff.h"

namespace orvo {
namespace {

constexpr int32_t kII = code::kLeastSignificantFirst;
constexpr int32_t kMM = code::kMostSignificantFirst;

std::vector<uint8_t> fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// --- Reading the written files back -----------------------------------------

struct Field {
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t at = 0;               // where the values are: the value field or its offset
    std::vector<uint32_t> values;  // SHORT and LONG values, RATIONAL as pairs
};

struct Directory {
    uint32_t offset = 0;
    uint32_t next = 0;
    std::map<uint16_t, Field> fields;

    bool has(uint16_t tag) const { return fields.count(tag) != 0; }
    uint32_t value(uint16_t tag, size_t i = 0) const {
        auto it = fields.find(tag);
        return it != fields.end() && i < it->second.values.size() ? it->second.values[i] : UINT32_MAX;
    }
};

struct TiffFile {
    bool big = false;
    std::vector<uint8_t> bytes;
    std::vector<Directory> directories;
};

// Parses the header and the directory chain; every read is bounds-checked.
testing::AssertionResult parseTiff(const std::string &path, TiffFile *file) {
    file->bytes = fileBytes(path);
    const std::vector<uint8_t> &b = file->bytes;
    if (b.size() < 8) return testing::AssertionFailure() << path << ": too short";
    if (b[0] == 'M' && b[1] == 'M') file->big = true;
    else if (b[0] == 'I' && b[1] == 'I') file->big = false;
    else return testing::AssertionFailure() << "no byte-order mark";
    auto u16 = [&](uint64_t at) -> uint32_t {
        return file->big ? (b[at] << 8) | b[at + 1] : b[at] | (b[at + 1] << 8);
    };
    auto u32 = [&](uint64_t at) -> uint32_t {
        return file->big ? (u16(at) << 16) | u16(at + 2) : u16(at) | (u16(at + 2) << 16);
    };
    if (u16(2) != 42) return testing::AssertionFailure() << "version is not 42";
    for (uint32_t at = u32(4); at != 0;) {
        if (file->directories.size() > 64) return testing::AssertionFailure() << "directory chain does not end";
        if (uint64_t(at) + 2 > b.size()) return testing::AssertionFailure() << "directory beyond the file";
        const uint32_t n = u16(at);
        if (uint64_t(at) + 2 + 12ull * n + 4 > b.size()) return testing::AssertionFailure() << "entries beyond the file";
        Directory d;
        d.offset = at;
        for (uint32_t k = 0; k < n; ++k) {
            const uint64_t e = at + 2 + 12ull * k;
            Field f;
            f.type = static_cast<uint16_t>(u16(e + 2));
            f.count = u32(e + 4);
            const uint32_t size = f.type == tiff::kShort ? 2 : f.type == tiff::kLong ? 4 : f.type == tiff::kRational ? 8 : 1;
            f.at = uint64_t(size) * f.count <= 4 ? static_cast<uint32_t>(e + 8) : u32(e + 8);
            if (uint64_t(f.at) + uint64_t(size) * f.count > b.size()) {
                return testing::AssertionFailure() << "values of tag " << u16(e) << " beyond the file";
            }
            for (uint32_t i = 0; f.type != tiff::kAscii && f.type != tiff::kByte && i < f.count; ++i) {
                if (f.type == tiff::kShort) f.values.push_back(u16(f.at + 2ull * i));
                if (f.type == tiff::kLong) f.values.push_back(u32(f.at + 4ull * i));
                if (f.type == tiff::kRational) f.values.insert(f.values.end(), {u32(f.at + 8ull * i), u32(f.at + 8ull * i + 4)});
            }
            d.fields[static_cast<uint16_t>(u16(e))] = f;
        }
        d.next = u32(at + 2 + 12ull * n);
        file->directories.push_back(d);
        at = d.next;
    }
    return testing::AssertionSuccess();
}

// --- The referee -------------------------------------------------------------

bool refereeInstalled() {
    static const bool installed =
        std::system("command -v tiffinfo >/dev/null 2>&1 && command -v tiff2rgba >/dev/null 2>&1") == 0;
    return installed;
}

std::string quoted(const std::string &path) { return "'" + path + "'"; }

// Runs `command`; success only with exit status 0 and nothing on stderr.
testing::AssertionResult runsCleanly(const std::string &command, const std::string &errorFile) {
    const int status = std::system((command + " >/dev/null 2>" + quoted(errorFile)).c_str());
    std::vector<uint8_t> errors = fileBytes(errorFile);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !errors.empty()) {
        return testing::AssertionFailure() << command << " (status " << status << "): "
                                           << std::string(errors.begin(), errors.end());
    }
    return testing::AssertionSuccess();
}

// Every page as 8-bit RGB, top row first, as libtiff renders it.
struct RgbPage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

testing::AssertionResult renderPages(const std::string &path, const std::string &scratch,
                                     std::vector<RgbPage> *pages) {
    const std::string rgb = scratch + ".rgb.tif";
    if (auto ran = runsCleanly("tiff2rgba -c none -n " + quoted(path) + " " + quoted(rgb), scratch + ".err"); !ran) {
        return ran;
    }
    TiffFile file;
    if (auto parsed = parseTiff(rgb, &file); !parsed) return parsed;
    for (const Directory &d : file.directories) {
        if (d.value(tiff::kSamplesPerPixel) != 3 || d.value(tiff::kBitsPerSample) != 8 ||
            d.value(tiff::kCompression) != 1 || d.value(tiff::kPlanarConfiguration) != 1) {
            return testing::AssertionFailure() << "tiff2rgba wrote an unexpected layout";
        }
        RgbPage page;
        page.width = d.value(tiff::kImageWidth);
        page.height = d.value(tiff::kImageLength);
        const Field &offsets = d.fields.at(tiff::kStripOffsets);
        for (size_t s = 0; s < offsets.values.size(); ++s) {
            const uint64_t at = offsets.values[s], n = d.value(tiff::kStripByteCounts, s);
            if (at + n > file.bytes.size()) return testing::AssertionFailure() << "strip beyond the file";
            page.pixels.insert(page.pixels.end(), file.bytes.begin() + at, file.bytes.begin() + at + n);
        }
        page.pixels.resize(size_t(page.width) * page.height * 3);
        // tiff2rgba keeps the source's fill order, and libtiff stores bytes
        // bit-reversed under fill order 2.
        if (d.value(tiff::kFillOrder) == 2) {
            for (uint8_t &v : page.pixels) {
                uint8_t r = 0;
                for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((v >> i) & 1) << (7 - i)));
                v = r;
            }
        }
        pages->push_back(std::move(page));
    }
    return testing::AssertionSuccess();
}

// --- Images built in code ----------------------------------------------------

enum class Kind { Bilevel, Nibble, Byte, Rgb };
enum class Palette { None, Narrow, Wide };  // 8-bit (153) or 16-bit (174) entries

struct Picture {
    Kind kind = Kind::Byte;
    int32_t width = 1, height = 1;
    Palette palette = Palette::None;
    int32_t bitOrder = kMM;   // of the stored samples
    int32_t photometric = 0;  // TIFF record fields, 0 when unset
    int32_t planar = 0;
    int32_t subfile = 0;
};

int bitsOf(Kind kind) { return kind == Kind::Bilevel ? 1 : kind == Kind::Nibble ? 4 : 8; }
int bandsOf(Kind kind) { return kind == Kind::Rgb ? 3 : 1; }

uint32_t sampleOf(const Picture &p, int32_t x, int32_t y, int32_t b) {
    uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(b) * 97u ^ uint32_t(p.width) * 7u;
    h ^= h >> 13;
    return (h * 0x9E3779B1u >> 16) & ((1u << bitsOf(p.kind)) - 1);
}

// What the table stores, and the 8-bit colour a reader must show for it.
uint8_t paletteColour(int32_t plane, uint32_t i) { return static_cast<uint8_t>(i * 37 + plane * 91 + 11); }
uint32_t paletteEntry(Palette palette, int32_t plane, uint32_t i) {
    const uint32_t colour = paletteColour(plane, i);
    // A low byte of FF keeps libtiff's scaling of 16-bit entries exact.
    return palette == Palette::Wide ? (colour << 8) | 0xFF : colour;
}

std::vector<uint8_t> expectedRgb(const Picture &p) {
    std::vector<uint8_t> rgb;
    const uint32_t top = (1u << bitsOf(p.kind)) - 1;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            for (int32_t c = 0; c < 3; ++c) {
                if (p.kind == Kind::Rgb) {
                    rgb.push_back(static_cast<uint8_t>(sampleOf(p, x, y, c)));
                } else if (p.palette != Palette::None) {
                    rgb.push_back(paletteColour(c, sampleOf(p, x, y, 0)));
                } else {
                    uint32_t v = sampleOf(p, x, y, 0);
                    if (p.photometric == tiff::kPhotometricMinIsWhite) v = top - v;
                    rgb.push_back(static_cast<uint8_t>(v * 255 / top));
                }
            }
        }
    }
    return rgb;
}

class TiffWriterTest : public testing::Test {
protected:
    void SetUp() override {
        env_ = openEnvironment();
        ASSERT_NE(env_, nullptr);
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        dir_ = std::filesystem::path(testing::TempDir()) / ("orvo_tiff_writer_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        EXPECT_EQ(closeEnvironment(env_), kOk);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    DataObject *lut(Palette palette, uint32_t entries) {
        const bool wide = palette == Palette::Wide;
        const CmiAttribute list[] = {{"xDimension", entries},
                                     {"bDimension", 3},
                                     {"dataType", wide ? code::kSignedInteger : code::kNonnegativeInteger},
                                     // The table's own byte order, not the image's, lays out wide entries.
                                     {"byteOrder", wide ? kII : kMM}};
        DataObject *table = createObject(env_, nullptr, ObjectClass::LookupTable, nullptr, list);
        EXPECT_NE(table, nullptr);
        DataAccess *out;
        EXPECT_EQ(openAccess(env_, table, AccessMode::Write, 1, {}, &out), kOk);
        for (int32_t plane = 0; plane < 3; ++plane) {
            for (uint32_t i = 0; i < entries; ++i) {
                EXPECT_EQ(writeElement(out, plane * int64_t(entries) + i, paletteEntry(palette, plane, i)), kOk);
            }
        }
        EXPECT_EQ(closeAccess(env_, out), kOk);
        return table;
    }

    DataObject *image(const Picture &p) {
        const bool bilevel = p.kind == Kind::Bilevel;
        std::vector<CmiAttribute> list = {
            {"fileFormat", code::kFormatTIFF},
            {"xDimension", p.width},
            {"yDimension", p.height},
            {"bDimension", bandsOf(p.kind)},
            {"dataType", bilevel ? code::kBoolean : code::kNonnegativeInteger},
            {"dataPrecision", bitsOf(p.kind)},
            {"bitOrder", p.bitOrder},
            {"repository", code::kWorkSpace},
            {"photometricInterpretation", p.photometric},
            {"planarConfiguration", p.planar},
            {"newSubfileType", p.subfile},
        };
        if (p.palette != Palette::None) {
            list.push_back({"lut", reinterpret_cast<intptr_t>(lut(p.palette, 1u << bitsOf(p.kind)))});
        }
        const ObjectClass cls = p.kind == Kind::Rgb ? ObjectClass::ColourImage : ObjectClass::MonochromeImage;
        DataObject *object = createObject(env_, nullptr, cls, nullptr, list);
        EXPECT_NE(object, nullptr);
        if (object == nullptr) return nullptr;
        DataAccess *out;
        EXPECT_EQ(openAccess(env_, object, AccessMode::Write, 1, {}, &out), kOk);
        const int64_t plane = int64_t(p.width) * p.height;
        for (int32_t b = 0; b < bandsOf(p.kind); ++b) {
            for (int32_t y = 0; y < p.height; ++y) {
                for (int32_t x = 0; x < p.width; ++x) {
                    EXPECT_EQ(writeElement(out, b * plane + int64_t(y) * p.width + x, sampleOf(p, x, y, b)), kOk);
                }
            }
        }
        EXPECT_EQ(closeAccess(env_, out), kOk);
        return object;
    }

    // The same image coded by the compression stage, as the write pipeline hands it over.
    DataObject *coded(DataObject *source, int32_t method) {
        const CmiAttribute list[] = {{"compression", method}, {"fileFormat", code::kFormatTIFF},
                                     {"repository", code::kFile}};
        DataObject *object = createObject(env_, nullptr, source->cls, source, list);
        EXPECT_NE(object, nullptr);
        EXPECT_EQ(compressImage(env_, source, object), kOk);
        return object;
    }

    DataObject *target(DataObject *source, const std::string &file, int32_t byteOrder, int32_t bitOrder = kMM) {
        const CmiAttribute list[] = {{"repository", code::kFile},
                                     {"fileName", reinterpret_cast<intptr_t>(file.c_str())},
                                     {"fileFormat", code::kFormatTIFF},
                                     {"byteOrder", byteOrder},
                                     {"bitOrder", bitOrder}};
        DataObject *object = createObject(env_, nullptr, source->cls, source, list);
        EXPECT_NE(object, nullptr);
        return object;
    }

    Environment *env_ = nullptr;
    std::filesystem::path dir_;
};

// --- Single pages through the referee ----------------------------------------

struct RoundTrip {
    const char *name;
    Picture picture;
    int32_t byteOrder;           // of the file
    int32_t bitOrder;            // of the file
    int32_t compression;         // 0, or coded first
    uint16_t photometric;        // expected tag value
    uint32_t dataAfterDirectory; // expected strip offset - directory offset
};

class TiffWriterRoundTrip : public TiffWriterTest, public testing::WithParamInterface<RoundTrip> {};

TEST_P(TiffWriterRoundTrip, RefereeReadsTheSourcePixels) {
    const RoundTrip &c = GetParam();
    DataObject *source = image(c.picture);
    ASSERT_NE(source, nullptr);
    if (c.compression != 0) source = coded(source, c.compression);
    const std::string file = path("page.tif");
    ASSERT_EQ(writeTiff(env_, source, target(source, file, c.byteOrder, c.bitOrder), code::kFormatTIFF), kOk);

    TiffFile tiff;
    ASSERT_TRUE(parseTiff(file, &tiff));
    EXPECT_EQ(tiff.big, c.byteOrder == kMM);
    ASSERT_EQ(tiff.directories.size(), 1u);
    const Directory &d = tiff.directories[0];
    EXPECT_EQ(d.offset, 8u);
    EXPECT_EQ(d.next, 0u);
    EXPECT_EQ(d.value(tiff::kPhotometric), c.photometric);
    EXPECT_EQ(d.value(tiff::kStripOffsets), d.offset + c.dataAfterDirectory);
    if (c.picture.palette != Palette::None) {
        // 8-bit entries are widened to 16 bits, 16-bit entries kept whole.
        const Field &map = d.fields.at(tiff::kColorMap);
        const uint32_t entries = 1u << bitsOf(c.picture.kind);
        EXPECT_EQ(map.at, d.offset + 504);
        ASSERT_EQ(map.values.size(), 3 * entries);
        for (int32_t plane = 0; plane < 3; ++plane) {
            for (uint32_t i = 0; i < entries; ++i) {
                const uint32_t entry = paletteEntry(c.picture.palette, plane, i);
                EXPECT_EQ(map.values[plane * entries + i], c.picture.palette == Palette::Wide ? entry : entry * 257);
            }
        }
    }

    if (!refereeInstalled()) GTEST_SKIP() << "libtiff tools (tiffinfo, tiff2rgba) not installed";
    EXPECT_TRUE(runsCleanly("tiffinfo -D " + quoted(file), path("tiffinfo.err")));
    std::vector<RgbPage> pages;
    ASSERT_TRUE(renderPages(file, path("render"), &pages));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].width, uint32_t(c.picture.width));
    EXPECT_EQ(pages[0].height, uint32_t(c.picture.height));
    EXPECT_EQ(pages[0].pixels, expectedRgb(c.picture));
}

Picture bilevel(int32_t sourceBitOrder, int32_t photometric = 0, Palette palette = Palette::None) {
    return {Kind::Bilevel, 13, 5, palette, sourceBitOrder, photometric};
}
Picture picture(Kind kind, int32_t width, int32_t height, Palette palette = Palette::None, int32_t planar = 0) {
    return {kind, width, height, palette, kMM, 0, planar};
}

// Odd widths make every bilevel row after the first start inside a byte.
const RoundTrip kRoundTrips[] = {
    {"BilevelOddWidthII", bilevel(kMM), kII, kMM, 0, 1, 504},
    {"BilevelMsbSourceLsbFileMM", bilevel(kMM), kMM, kII, 0, 1, 504},
    {"BilevelLsbSourceMsbFileMinIsWhite", bilevel(kII, tiff::kPhotometricMinIsWhite), kII, kMM, 0, 0, 504},
    {"BilevelPalette", bilevel(kMM, 0, Palette::Narrow), kMM, kMM, 0, 3, 2040},
    {"NibbleGreyII", picture(Kind::Nibble, 7, 4), kII, kMM, 0, 1, 504},
    {"NibblePaletteLsbFileMM", picture(Kind::Nibble, 9, 3, Palette::Narrow), kMM, kII, 0, 3, 2040},
    {"ByteGreyMM", picture(Kind::Byte, 10, 6), kMM, kMM, 0, 1, 504},
    {"BytePalette256II", picture(Kind::Byte, 33, 17, Palette::Narrow), kII, kMM, 0, 3, 2040},
    {"BytePaletteWideEntriesMM", picture(Kind::Byte, 16, 16, Palette::Wide), kMM, kMM, 0, 3, 2040},
    {"RgbII", picture(Kind::Rgb, 11, 7), kII, kMM, 0, 2, 504},
    {"RgbMM", picture(Kind::Rgb, 11, 7), kMM, kMM, 0, 2, 504},
    {"RgbPlanarOddBandSize", picture(Kind::Rgb, 5, 3, Palette::None, tiff::kPlanar), kII, kMM, 0, 2, 504},
    {"PackBitsBilevelII", bilevel(kMM), kII, kMM, code::kPackBits, 1, 504},
    {"PackBitsNibbleMM", picture(Kind::Nibble, 9, 3), kMM, kMM, code::kPackBits, 1, 504},
    {"PackBitsPaletteMM", picture(Kind::Byte, 40, 9, Palette::Narrow), kMM, kMM, code::kPackBits, 3, 2040},
    {"PackBitsRgbII", picture(Kind::Rgb, 23, 5), kII, kMM, code::kPackBits, 2, 504},
};

INSTANTIATE_TEST_SUITE_P(, TiffWriterRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip> &p) { return p.param.name; });

// Planar pages put each band where the directory says, on 4-byte boundaries.
TEST_F(TiffWriterTest, PlanarBandsStartOnTheAnnouncedOffsets) {
    const Picture p = picture(Kind::Rgb, 5, 3, Palette::None, tiff::kPlanar);
    DataObject *source = image(p);
    const std::string file = path("planar.tif");
    ASSERT_EQ(writeTiff(env_, source, target(source, file, kMM), code::kFormatTIFF), kOk);
    TiffFile tiff;
    ASSERT_TRUE(parseTiff(file, &tiff));
    const Directory &d = tiff.directories.at(0);
    EXPECT_EQ(d.value(tiff::kPlanarConfiguration), 2u);
    EXPECT_EQ(d.fields.at(tiff::kStripOffsets).at, d.offset + 392);
    EXPECT_EQ(d.fields.at(tiff::kStripByteCounts).at, d.offset + 412);
    for (uint32_t b = 0; b < 3; ++b) {
        const uint32_t at = d.value(tiff::kStripOffsets, b);
        EXPECT_EQ(at % 4, 0u);
        EXPECT_EQ(d.value(tiff::kStripByteCounts, b), 15u);
        for (int32_t i = 0; i < 15; ++i) EXPECT_EQ(tiff.bytes.at(at + i), sampleOf(p, i % 5, i / 5, b)) << b << ":" << i;
    }
}

// --- Composites --------------------------------------------------------------

class TiffWriterComposite : public TiffWriterTest, public testing::WithParamInterface<int32_t> {};

TEST_P(TiffWriterComposite, PagesAreChainedAndNumbered) {
    const Picture pictures[] = {
        {Kind::Bilevel, 13, 5, Palette::None, kMM, 0, 0, tiff::kPage},
        {Kind::Byte, 20, 9, Palette::Narrow, kMM, 0, 0, tiff::kPage},
        {Kind::Rgb, 7, 3, Palette::None, kMM, 0, 0, tiff::kPage},
    };
    DataObject *composite =
        createObject(env_, nullptr, ObjectClass::CompositeIDArray, nullptr, std::vector<CmiAttribute>{{"xDimension", 3}});
    ASSERT_NE(composite, nullptr);
    for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(compositeSet(env_, image(pictures[i]), composite, i), kOk);
    const std::string file = path("pages.tif");
    DataObject *out = target(composite, file, GetParam());
    ASSERT_EQ(writeTiff(env_, composite, out, code::kFormatTIFF), kOk);
    EXPECT_TRUE(out->inited());

    TiffFile tiff;
    ASSERT_TRUE(parseTiff(file, &tiff));
    ASSERT_EQ(tiff.directories.size(), 3u);
    EXPECT_EQ(tiff.directories[0].offset, 8u);
    EXPECT_EQ(tiff.directories[2].next, 0u);
    for (uint32_t i = 0; i < 3; ++i) {
        const Directory &d = tiff.directories[i];
        EXPECT_EQ(d.value(tiff::kNewSubfileType), 2u);
        EXPECT_EQ(d.value(tiff::kPageNumber, 0), i);
        EXPECT_EQ(d.value(tiff::kPageNumber, 1), 3u);
        if (i < 2) {
            EXPECT_EQ(d.next % 4, 0u);
            EXPECT_GE(d.next, d.value(tiff::kStripOffsets) + d.value(tiff::kStripByteCounts));
        }
    }
    EXPECT_EQ(tiff.directories[1].value(tiff::kStripOffsets), tiff.directories[1].offset + 2040);

    if (!refereeInstalled()) GTEST_SKIP() << "libtiff tools (tiffinfo, tiff2rgba) not installed";
    EXPECT_TRUE(runsCleanly("tiffinfo -D " + quoted(file), path("tiffinfo.err")));
    std::vector<RgbPage> pages;
    ASSERT_TRUE(renderPages(file, path("render"), &pages));
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pages[i].pixels, expectedRgb(pictures[i])) << "page " << i;
}

INSTANTIATE_TEST_SUITE_P(, TiffWriterComposite, testing::Values(kII, kMM),
                         [](const testing::TestParamInfo<int32_t> &p) {
                             return std::string(p.param == kII ? "II" : "MM");
                         });

// --- Coded pages kept as they are --------------------------------------------

struct CodedPage {
    const char *name;
    Kind kind;
    int32_t compression;
    int32_t eolState;            // also the "predictor"
    uint16_t compressionTag;
    uint16_t photometric;
    uint16_t optionsTag;         // 0 when none
    uint32_t options;
    uint32_t predictor;          // UINT32_MAX when the entry must be absent
};

class TiffWriterCodedPage : public TiffWriterTest, public testing::WithParamInterface<CodedPage> {};

TEST_P(TiffWriterCodedPage, BytesAreCopiedUnderTheirCompressionTag) {
    const CodedPage &c = GetParam();
    const bool bilevel = c.kind == Kind::Bilevel;
    const CmiAttribute list[] = {{"xDimension", 640},
                                 {"yDimension", 480},
                                 {"dataType", bilevel ? code::kBoolean : code::kNonnegativeInteger},
                                 {"compression", c.compression},
                                 {"eolState", c.eolState},
                                 {"repository", code::kFile}};
    DataObject *source = createObject(env_, nullptr, ObjectClass::MonochromeImage, nullptr, list);
    ASSERT_NE(source, nullptr);
    // More than two copy blocks of arbitrary bytes.
    std::vector<uint8_t> stream(150001);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    DataAccess *in;
    ASSERT_EQ(openAccess(env_, source, AccessMode::Write, 0, {}, &in), kOk);
    ASSERT_EQ(writeBytes(in, 0, stream.data(), stream.size()), kOk);
    ASSERT_EQ(closeAccess(env_, in), kOk);
    ASSERT_EQ(setAttribute(env_, source, "size", static_cast<intptr_t>(stream.size())), kOk);

    const std::string file = path("coded.tif");
    ASSERT_EQ(writeTiff(env_, source, target(source, file, kII), code::kFormatTIFF), kOk);
    TiffFile tiff;
    ASSERT_TRUE(parseTiff(file, &tiff));
    const Directory &d = tiff.directories.at(0);
    EXPECT_EQ(d.value(tiff::kCompression), c.compressionTag);
    EXPECT_EQ(d.value(tiff::kPhotometric), c.photometric);
    for (uint16_t tag : {tiff::kT4Options, tiff::kT6Options}) {
        EXPECT_EQ(d.value(tag), tag == c.optionsTag ? c.options : UINT32_MAX) << tag;
    }
    EXPECT_EQ(d.value(tiff::kPredictor), c.predictor);
    ASSERT_EQ(d.value(tiff::kStripByteCounts), stream.size());
    const uint32_t at = d.value(tiff::kStripOffsets);
    ASSERT_LE(uint64_t(at) + stream.size(), tiff.bytes.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), tiff.bytes.begin() + at));

    if (!refereeInstalled()) GTEST_SKIP() << "libtiff tools (tiffinfo) not installed";
    EXPECT_TRUE(runsCleanly("tiffinfo " + quoted(file), path("tiffinfo.err")));
}

const CodedPage kCodedPages[] = {
    {"ModifiedHuffman", Kind::Bilevel, code::kFaxModifiedHuffman, 0, 2, 0, 0, 0, UINT32_MAX},
    {"T4OneDimensional", Kind::Bilevel, code::kFaxT4OneD, 0, 3, 0, tiff::kT4Options, 0, UINT32_MAX},
    {"T4TwoDimensionalFillBits", Kind::Bilevel, code::kFaxT4TwoD, 1, 3, 0, tiff::kT4Options, 5, UINT32_MAX},
    {"T6", Kind::Bilevel, code::kFaxT6, 0, 4, 0, tiff::kT6Options, 0, UINT32_MAX},
    {"LzwNoPredictor", Kind::Byte, code::kLZW, 0, 5, 1, 0, 0, 1},
    {"LzwHorizontalDifferencing", Kind::Byte, code::kLZW, 1, 5, 1, 0, 0, 2},
};

INSTANTIATE_TEST_SUITE_P(, TiffWriterCodedPage, testing::ValuesIn(kCodedPages),
                         [](const testing::TestParamInfo<CodedPage> &p) { return p.param.name; });

// --- Refusals ----------------------------------------------------------------

struct Refusal {
    const char *name;
    Kind kind;                         // of the page the changes apply to
    std::vector<CmiAttribute> source;
    std::vector<CmiAttribute> target;
};

class TiffWriterRefuses : public TiffWriterTest, public testing::WithParamInterface<Refusal> {};

TEST_P(TiffWriterRefuses, WithNonPermissibleOption) {
    const Refusal &c = GetParam();
    DataObject *source = image(picture(c.kind, 4, 4));
    ASSERT_EQ(setAttributes(env_, source, c.source), kOk);
    DataObject *out = target(source, path("refused.tif"), kII);
    ASSERT_EQ(setAttributes(env_, out, c.target), kOk);
    EXPECT_EQ(writeTiff(env_, source, out, code::kFormatTIFF), kNonPermissibleOption);
}

const Refusal kRefusals[] = {
    {"UnknownByteOrder", Kind::Byte, {}, {{"byteOrder", 0}}},
    {"UnknownBitOrder", Kind::Byte, {}, {{"bitOrder", 7}}},
    {"UnknownOrientation", Kind::Byte, {{"orientation", 5}}, {}},
    {"UnknownResolutionUnit", Kind::Byte, {{"resolutionUnit", 99}}, {}},
    {"UnknownPlanarConfiguration", Kind::Byte, {{"planarConfiguration", 250}}, {}},
    {"UnknownSubfileType", Kind::Byte, {{"newSubfileType", 300}}, {}},
    {"CompressionWithoutTag", Kind::Byte, {{"compression", code::kDeflate}, {"size", 16}}, {}},
    {"LzwPredictorBeyondHorizontal", Kind::Byte, {{"compression", code::kLZW}, {"predictor", 2}, {"size", 16}}, {}},
    {"SixteenBitSamples", Kind::Byte, {{"dataPrecision", 16}}, {}},
    {"TwoBitSamples", Kind::Byte, {{"dataPrecision", 2}}, {}},
    {"SignedSamples", Kind::Byte, {{"dataType", code::kSignedInteger}}, {}},
    {"SeparatedWithThreeBands", Kind::Rgb, {{"photometricInterpretation", tiff::kPhotometricSeparated}}, {}},
    {"YCbCrWithoutSubsampling", Kind::Rgb,
     {{"photometricInterpretation", tiff::kPhotometricYCbCr}, {"samplingFactor", 0}}, {}},
};

INSTANTIATE_TEST_SUITE_P(, TiffWriterRefuses, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &p) { return p.param.name; });

}  // namespace
}  // namespace orvo
