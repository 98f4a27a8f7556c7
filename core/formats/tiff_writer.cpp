// Writing TIFF files (TIFF 6.0 sections 2 and 8): one image, or every image
// of a composite as consecutive pages of one file.
//
// Each page is one fixed-size block followed by its pixel data.  The block
// at position p holds the directory (entry count, entries, link to the next
// directory) and, at fixed places behind it, the values too long for an
// entry's value field; the pixel data follow at p + 504, or at p + 2040 when
// a colour map sits at p + 504.  Every size is known before the first byte
// of a page is written, so the link is final when the directory goes out;
// the next page starts at the end of the data rounded up to 4 bytes.
//
// Pixel data are one strip per page (one strip per band for planar pages):
// coded data are copied as the compression stage left them, samples are
// packed as the directory describes them.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/interleave.h"
#include "core/formats/tiff.h"

namespace orvo {
namespace {

// Places relative to the directory position.
constexpr uint32_t kStripOffsetsArea = 392;     // planar: one LONG per band
constexpr uint32_t kStripByteCountsArea = 412;  // planar: one LONG per band
constexpr uint32_t kBitsPerSampleArea = 432;    // 3 or 4 SHORTs
constexpr uint32_t kMinSampleArea = 444;
constexpr uint32_t kMaxSampleArea = 456;
constexpr uint32_t kXResolutionArea = 488;      // RATIONAL
constexpr uint32_t kYResolutionArea = 496;
constexpr uint32_t kColourMapArea = 504;        // 3 x entries SHORTs
constexpr uint32_t kDataAfterDirectory = 504;
constexpr uint32_t kDataAfterColourMap = 2040;
constexpr uint32_t kFirstDirectory = 8;
constexpr uint32_t kMaxEntries = 23;            // every tag below at most once
static_assert(2 + 12 * kMaxEntries + 4 <= kStripOffsetsArea, "directory overlaps its value areas");
static_assert(kColourMapArea + 3 * 256 * 2 == kDataAfterColourMap, "colour map does not end at the data");

constexpr size_t kCopyBlock = 65536;            // coded bytes moved at a time
constexpr size_t kRowChunk = size_t{1} << 20;     // packed rows gathered before a write

// Resolution written when the source has none of its own: 72 pixels per unit.
constexpr std::array<uint32_t, 2> kDefaultResolution = {72, 1};

bool isFax(int32_t compression) {
    return compression == code::kFaxT4OneD || compression == code::kFaxT4TwoD || compression == code::kFaxT6 ||
           compression == code::kFaxModifiedHuffman;
}

uint64_t roundUp4(uint64_t v) { return (v + 3) / 4 * 4; }

uint8_t reverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// The byte order of the file being written.
struct FileOrder {
    bool big = false;

    void put16(uint8_t *p, uint32_t v) const {
        if (big) {
            p[0] = static_cast<uint8_t>(v >> 8);
            p[1] = static_cast<uint8_t>(v);
        } else {
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
        }
    }
    void put32(uint8_t *p, uint32_t v) const {
        if (big) {
            put16(p, v >> 16);
            put16(p + 2, v);
        } else {
            put16(p, v);
            put16(p + 2, v >> 16);
        }
    }
};

// Everything one page's directory says, and where its bytes go.
struct Page {
    DataObject *image = nullptr;
    uint32_t width = 0, height = 0;
    int64_t storedWidth = 0;    // the source's "xDimension": elements of a stored row
    int64_t bandElements = 0;   // elements of one band plane
    int32_t storedPrecision = 8;
    uint16_t samples = 1;       // samples per pixel
    uint16_t bits = 8;          // bits per sample
    uint16_t compressionTag = 1;
    uint16_t photometricTag = 1;
    uint16_t fillOrder = 1;
    uint16_t orientationTag = 1;
    uint16_t planarTag = 1;
    uint16_t unitTag = 2;
    uint32_t subfileType = 0;
    bool hasPageNumber = false;
    std::array<uint16_t, 2> pageNumber{};
    uint16_t optionsTag = 0;    // 292 or 293 for the fax codings
    uint32_t options = 0;
    bool hasPredictor = false;
    uint16_t predictor = 1;
    bool hasSubsampling = false;
    std::array<uint16_t, 2> subsampling{1, 1};
    std::array<uint32_t, 2> xResolution = kDefaultResolution;
    std::array<uint32_t, 2> yResolution = kDefaultResolution;
    std::vector<uint16_t> colourMap;  // red, green, blue planes; empty without a palette
    bool coded = false;
    uint64_t codedBytes = 0;
    int32_t bitOrder = code::kMostSignificantFirst;  // of the bytes written
    uint32_t strips = 1;
    std::array<uint32_t, 4> stripOffsets{};
    std::array<uint32_t, 4> stripByteCounts{};
    uint64_t rowBytes = 0;      // packed bytes of one row of one strip
    uint32_t position = 0;      // of the directory
    uint32_t dataStart = 0;
    uint32_t nextFree = 0;
};

// An open access that closes itself when an early return or an exception
// leaves the scope.
class OpenAccess {
public:
    explicit OpenAccess(Environment *env) : env_(env) {}
    ~OpenAccess() { closeAccess(env_, access_); }
    OpenAccess(const OpenAccess &) = delete;
    OpenAccess &operator=(const OpenAccess &) = delete;

    int open(DataObject *object, AccessMode mode, int rows) { return openAccess(env_, object, mode, rows, {}, &access_); }
    int close() {
        int code = closeAccess(env_, access_);
        access_ = nullptr;
        return code;
    }
    DataAccess *get() const { return access_; }

private:
    Environment *env_;
    DataAccess *access_ = nullptr;
};

// --- What the directory says -------------------------------------------------

// A palette the writer can use: a table with entries in at least 3 planes,
// 8-bit (153) or 16-bit (174) entries, most significant bit first.
bool usablePalette(Environment *env, const DataObject *image) {
    DataObject *lut = image->lutObject();
    return lut != nullptr && checkObject(env, lut) == kOk && lut->get(Attr::xDimension) > 0 &&
           lut->get(Attr::bDimension) >= 3 && lut->get32(Attr::bitOrder) == code::kMostSignificantFirst &&
           (lut->get32(Attr::dataType) == code::kNonnegativeInteger ||
            lut->get32(Attr::dataType) == code::kSignedInteger);
}

// The colour map of 2, 16 or 256 entries (TIFF 6.0 section 5): 16-bit
// values, all red, then all green, then all blue.  An 8-bit entry v becomes
// v * 257, so that its high byte is v again; 16-bit entries are taken as
// the table stores them.  Entries the table lacks stay 0.
int buildColourMap(Environment *env, const DataObject *image, uint32_t bits, std::vector<uint16_t> &map) {
    const uint32_t entries = 1u << bits;
    map.assign(static_cast<size_t>(entries) * 3, 0);
    DataObject *lut = image->lutObject();
    if (!lut->inited()) return kOk;
    const uint64_t lutEntries = static_cast<uint64_t>(lut->get(Attr::xDimension));
    const uint64_t n = std::min<uint64_t>(entries, lutEntries);
    const bool wide = storagePrecision(env, lut) > 8;
    OpenAccess in(env);
    if (int code = in.open(lut, AccessMode::Read, 1)) return code;
    for (uint64_t plane = 0; plane < 3; ++plane) {
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t v = 0;
            if (int code = readElement(in.get(), static_cast<int64_t>(plane * lutEntries + i), &v)) return code;
            map[static_cast<size_t>(plane * entries + i)] = static_cast<uint16_t>(wide ? v : (v & 0xFF) * 257);
        }
    }
    return in.close();
}

// Photometric interpretation, samples per pixel and bits per sample
// (TIFF 6.0 sections 3 to 6, 16, 21, 23), and the colour map with it.
int chooseSamples(Environment *env, DataObject *image, const DataObject *target, Page &page) {
    const ObjectClass cls = image->cls;
    const int64_t bands = image->get(Attr::bDimension);
    const int32_t type = image->get32(Attr::dataType);
    const int32_t precision = image->get32(Attr::dataPrecision);
    const intptr_t record = formatWord(image, "photometricInterpretation");
    if ((cls == ObjectClass::ColourImage || cls == ObjectClass::GenericImage) && bands >= 3 &&
        type == code::kNonnegativeInteger && precision == 8) {
        page.bits = 8;
        page.samples = 3;
        if (record == tiff::kPhotometricSeparated) {
            // A composite target has no bands of its own: the page speaks for it.
            const int64_t targetBands =
                target->cls == ObjectClass::CompositeIDArray ? bands : target->get(Attr::bDimension);
            if (bands < 4 || targetBands < 4) return fail(env, kNonPermissibleOption);
            page.photometricTag = 5;
            page.samples = 4;
        } else if (record == tiff::kPhotometricYCbCr) {
            page.photometricTag = 6;
            page.hasSubsampling = true;
            switch (image->get32(Attr::samplingFactor)) {
            case 238: page.subsampling = {1, 1}; break;
            case 239: page.subsampling = {2, 1}; break;
            case 240: page.subsampling = {2, 2}; break;
            default: return fail(env, kNonPermissibleOption);
            }
        } else if (record == tiff::kPhotometricCIELab) {
            page.photometricTag = 8;
        } else {
            page.photometricTag = 2;
        }
        return kOk;
    }
    if (type == code::kBoolean) {
        page.bits = 1;
    } else if (type == code::kNonnegativeInteger &&
               (precision == 1 || precision == 4 || precision == 8 || precision == 16)) {
        page.bits = static_cast<uint16_t>(precision);
    } else {
        return fail(env, kNonPermissibleOption);
    }
    page.samples = 1;
    // No colour map size is defined beyond 8 bits.
    const bool palette = page.bits <= 8 && usablePalette(env, image);
    if (record == 0) {
        page.photometricTag = isFax(image->get32(Attr::compression)) ? 0 : palette ? 3 : 1;
    } else if (record == tiff::kPhotometricPalette) {
        page.photometricTag = palette ? 3 : 1;
    } else if (record == tiff::kPhotometricMinIsWhite) {
        page.photometricTag = 0;
    } else {
        page.photometricTag = 1;
    }
    if (page.photometricTag == 3) return buildColourMap(env, image, page.bits, page.colourMap);
    return kOk;
}

// Compression and its options (TIFF 6.0 sections 8, 9, 10, 11, 13, 14).
int chooseCompression(Environment *env, const DataObject *image, Page &page) {
    const int32_t compression = image->get32(Attr::compression);
    const int32_t eolState = image->get32(Attr::eolState);  // also the "predictor"
    page.coded = compression != code::kNoCompression;
    switch (compression) {
    case code::kNoCompression: page.compressionTag = 1; break;
    case code::kFaxModifiedHuffman: page.compressionTag = 2; break;
    case code::kFaxT4OneD:
    case code::kFaxT4TwoD:
        page.compressionTag = 3;
        page.optionsTag = tiff::kT4Options;
        page.options = compression == code::kFaxT4TwoD ? 1u : 0u;
        if (eolState == 1) page.options |= 4u;  // fill bits before each EOL
        break;
    case code::kFaxT6:
        page.compressionTag = 4;
        page.optionsTag = tiff::kT6Options;
        page.options = 0;
        break;
    case code::kLZW:
        page.compressionTag = 5;
        page.hasPredictor = true;
        if (eolState == 0) page.predictor = 1;
        else if (eolState == 1) page.predictor = 2;  // horizontal differencing
        else return fail(env, kNonPermissibleOption);
        break;
    case code::kPackBits: page.compressionTag = 32773; break;
    default: return fail(env, kNonPermissibleOption);
    }
    return kOk;
}

// Fill order, orientation, resolution, planar configuration and subfile
// type from the bit order and the TIFF record.
int chooseRecordTags(Environment *env, const DataObject *image, const DataObject *target, int32_t index,
                     int32_t pages, Page &page) {
    // Coded bytes are copied as they are, so they keep the source's bit
    // order; samples are packed in the target's.
    page.bitOrder = page.coded ? image->get32(Attr::bitOrder) : target->get32(Attr::bitOrder);
    if (page.bitOrder == code::kMostSignificantFirst) page.fillOrder = 1;
    else if (page.bitOrder == code::kLeastSignificantFirst) page.fillOrder = 2;
    else return fail(env, kNonPermissibleOption);

    const intptr_t orientation = formatWord(image, "orientation");
    page.orientationTag = 0;
    for (uint16_t tag = 1; tag <= 8; ++tag) {
        if (kTiffOrientationCodes[tag] == orientation) page.orientationTag = tag;
    }
    if (page.orientationTag == 0) return fail(env, kNonPermissibleOption);

    const intptr_t unit = formatWord(image, "resolutionUnit");
    if (unit == 0 || unit == tiff::kUnitInch) page.unitTag = 2;
    else if (unit == tiff::kUnitCentimetre) page.unitTag = 3;
    else return fail(env, kNonPermissibleOption);

    const intptr_t planar = formatWord(image, "planarConfiguration");
    if (planar == 0 || planar == tiff::kChunky) page.planarTag = 1;
    else if (planar == tiff::kPlanar) page.planarTag = 2;
    else return fail(env, kNonPermissibleOption);

    const intptr_t subfile = formatWord(image, "newSubfileType");
    if (subfile == 0 || subfile == tiff::kFullImage) {
        page.subfileType = 0;
    } else if (subfile == tiff::kReducedImage) {
        page.subfileType = 1;
    } else if (subfile == tiff::kPage) {
        page.subfileType = 2;
        if (index > 0xFFFF || pages > 0xFFFF) return fail(env, kExceedImplementation);
        page.hasPageNumber = true;
        page.pageNumber = {static_cast<uint16_t>(index), static_cast<uint16_t>(pages)};
    } else {
        return fail(env, kNonPermissibleOption);
    }

    if (image->format && image->format->format == code::kFormatTIFF) {
        const FormatRecord &r = *image->format;
        if (r.hasXResolution && r.xResolution[1] != 0) page.xResolution = r.xResolution;
        if (r.hasYResolution && r.yResolution[1] != 0) page.yResolution = r.yResolution;
    }
    return kOk;
}

// Dimensions, strips and the positions of the page's bytes.
int placePage(Environment *env, DataObject *image, uint32_t position, Page &page) {
    const int64_t x = image->get(Attr::xDimension);
    const int64_t y = image->get(Attr::yDimension);
    if (x < 1 || y < 1 || x > UINT32_MAX || y > UINT32_MAX) return fail(env, kOutOfRange);
    int64_t width = x;
    if (page.bits == 1 && envAttr(env, EnvAttr::byteBoundary) != 0 && image->get(Attr::widthByteBoundary) > 0) {
        width = image->get(Attr::widthByteBoundary);
        if (width > UINT32_MAX) return fail(env, kOutOfRange);
    }
    page.width = static_cast<uint32_t>(width);
    page.height = static_cast<uint32_t>(y);
    page.storedWidth = x;
    int64_t plane = 0;
    const int64_t z = image->get(Attr::zDimension), t = image->get(Attr::tDimension);
    if (z < 1 || t < 1 || __builtin_mul_overflow(x, y, &plane) || __builtin_mul_overflow(plane, z, &plane) ||
        __builtin_mul_overflow(plane, t, &plane)) {
        return fail(env, kOutOfRange);
    }
    page.bandElements = plane;
    page.storedPrecision = storagePrecision(env, image);
    page.strips = page.planarTag == 2 ? page.samples : 1;

    page.position = position;
    const uint64_t dataStart =
        uint64_t(position) + (page.colourMap.empty() ? kDataAfterDirectory : kDataAfterColourMap);
    uint64_t end = dataStart;  // end of the last strip, rounded for planar bands
    if (page.coded) {
        const intptr_t size = image->get(Attr::size);
        if (size <= 0) return fail(env, kInsufficientSize);
        page.codedBytes = static_cast<uint64_t>(size);
        if (page.codedBytes > UINT32_MAX) return fail(env, kExceedImplementation);
        if (page.strips == 1) {
            page.stripByteCounts[0] = static_cast<uint32_t>(page.codedBytes);
        } else {
            // Planar coded data: the coder's per-band counts must account for
            // every byte; the bands follow one another unchanged.
            const FormatRecord *r = image->format.get();
            if (r == nullptr || r->format != code::kFormatTIFF ||
                formatWord(image, "stripsPerImage") != static_cast<intptr_t>(page.strips) ||
                r->stripByteCounts.size() != page.strips) {
                return fail(env, kNonPermissibleOption);
            }
            uint64_t sum = 0;
            for (uint32_t s = 0; s < page.strips; ++s) {
                page.stripByteCounts[s] = r->stripByteCounts[s];
                sum += r->stripByteCounts[s];
            }
            if (sum != page.codedBytes) return fail(env, kNonPermissibleOption);
        }
        uint64_t at = dataStart;
        for (uint32_t s = 0; s < page.strips; ++s) {
            if (at > UINT32_MAX) return fail(env, kExceedImplementation);
            page.stripOffsets[s] = static_cast<uint32_t>(at);
            at += page.stripByteCounts[s];
        }
        if (__builtin_add_overflow(dataStart, page.codedBytes, &end)) return fail(env, kExceedImplementation);
    } else {
        if (page.bits == 16) return fail(env, kNonPermissibleOption);  // no packing for 16-bit samples
        const int32_t stored = page.storedPrecision;
        if (stored != 1 && stored != 8 && stored != 16 && stored != 32) return fail(env, kNonPermissibleOption);
        const uint64_t perRow = page.planarTag == 2 ? 1 : page.samples;
        uint64_t rowBits, stripBytes;
        if (__builtin_mul_overflow(uint64_t(page.width), uint64_t(page.bits) * perRow, &rowBits) ||
            __builtin_mul_overflow((rowBits + 7) / 8, uint64_t(page.height), &stripBytes) ||
            stripBytes > UINT32_MAX) {
            return fail(env, kExceedImplementation);
        }
        page.rowBytes = (rowBits + 7) / 8;
        uint64_t at = dataStart;
        for (uint32_t s = 0; s < page.strips; ++s) {
            if (s > 0) at = roundUp4(at);
            if (at > UINT32_MAX) return fail(env, kExceedImplementation);
            page.stripOffsets[s] = static_cast<uint32_t>(at);
            page.stripByteCounts[s] = static_cast<uint32_t>(stripBytes);
            at += stripBytes;
        }
        end = at;
    }
    const uint64_t nextFree = roundUp4(end);
    if (nextFree > UINT32_MAX) return fail(env, kExceedImplementation);
    page.dataStart = static_cast<uint32_t>(dataStart);
    page.nextFree = static_cast<uint32_t>(nextFree);
    return kOk;
}

// --- Writing -----------------------------------------------------------------

// The directory block of one page, from its position up to its data.
class DirectoryBlock {
public:
    DirectoryBlock(FileOrder order, const Page &page)
        : order_(order), position_(page.position), bytes_(page.dataStart - page.position, 0) {}

    void shorts(uint16_t tag, std::span<const uint16_t> values, uint32_t area = 0) {
        uint8_t *field = entry(tag, tiff::kShort, static_cast<uint32_t>(values.size()));
        uint8_t *at = field;
        if (values.size() > 2) {
            order_.put32(field, position_ + area);
            at = bytes_.data() + area;
        }
        for (size_t i = 0; i < values.size(); ++i) order_.put16(at + 2 * i, values[i]);
    }
    void shortValue(uint16_t tag, uint16_t value) { shorts(tag, std::span<const uint16_t>(&value, 1)); }
    void longs(uint16_t tag, std::span<const uint32_t> values, uint32_t area = 0) {
        uint8_t *field = entry(tag, tiff::kLong, static_cast<uint32_t>(values.size()));
        uint8_t *at = field;
        if (values.size() > 1) {
            order_.put32(field, position_ + area);
            at = bytes_.data() + area;
        }
        for (size_t i = 0; i < values.size(); ++i) order_.put32(at + 4 * i, values[i]);
    }
    void longValue(uint16_t tag, uint32_t value) { longs(tag, std::span<const uint32_t>(&value, 1)); }
    void rational(uint16_t tag, const std::array<uint32_t, 2> &value, uint32_t area) {
        order_.put32(entry(tag, tiff::kRational, 1), position_ + area);
        order_.put32(bytes_.data() + area, value[0]);
        order_.put32(bytes_.data() + area + 4, value[1]);
    }
    // Sets the entry count and the link; the block is then complete.
    const std::vector<uint8_t> &finish(uint32_t link) {
        order_.put16(bytes_.data(), entries_);
        order_.put32(bytes_.data() + 2 + 12 * entries_, link);
        return bytes_;
    }

private:
    // Writes an entry's tag, type and count; returns its value field.
    uint8_t *entry(uint16_t tag, uint16_t type, uint32_t count) {
        uint8_t *e = bytes_.data() + 2 + 12 * entries_++;
        order_.put16(e, tag);
        order_.put16(e + 2, type);
        order_.put32(e + 4, count);
        return e + 8;
    }

    FileOrder order_;
    uint32_t position_;
    std::vector<uint8_t> bytes_;
    uint16_t entries_ = 0;
};

int writeDirectory(DataAccess *out, FileOrder order, const Page &page, uint32_t link) {
    DirectoryBlock block(order, page);
    const std::span<const uint32_t> offsets(page.stripOffsets.data(), page.strips);
    const std::span<const uint32_t> counts(page.stripByteCounts.data(), page.strips);
    std::array<uint16_t, 4> bits{}, minimum{}, maximum{};
    for (size_t s = 0; s < page.samples; ++s) {
        bits[s] = page.bits;
        maximum[s] = static_cast<uint16_t>(page.bits == 16 ? 32767 : (1u << page.bits) - 1);
    }
    block.longValue(tiff::kNewSubfileType, page.subfileType);
    block.longValue(tiff::kImageWidth, page.width);
    block.longValue(tiff::kImageLength, page.height);
    block.shorts(tiff::kBitsPerSample, std::span(bits.data(), page.samples), kBitsPerSampleArea);
    block.shortValue(tiff::kCompression, page.compressionTag);
    block.shortValue(tiff::kPhotometric, page.photometricTag);
    block.shortValue(tiff::kFillOrder, page.fillOrder);
    block.longs(tiff::kStripOffsets, offsets, kStripOffsetsArea);
    block.shortValue(tiff::kOrientation, page.orientationTag);
    block.shortValue(tiff::kSamplesPerPixel, page.samples);
    block.longValue(tiff::kRowsPerStrip, page.height);
    block.longs(tiff::kStripByteCounts, counts, kStripByteCountsArea);
    block.shorts(tiff::kMinSampleValue, std::span(minimum.data(), page.samples), kMinSampleArea);
    block.shorts(tiff::kMaxSampleValue, std::span(maximum.data(), page.samples), kMaxSampleArea);
    block.rational(tiff::kXResolution, page.xResolution, kXResolutionArea);
    block.rational(tiff::kYResolution, page.yResolution, kYResolutionArea);
    block.shortValue(tiff::kPlanarConfiguration, page.planarTag);
    if (page.optionsTag != 0) block.longValue(page.optionsTag, page.options);
    block.shortValue(tiff::kResolutionUnit, page.unitTag);
    if (page.hasPageNumber) block.shorts(tiff::kPageNumber, page.pageNumber);
    if (page.hasPredictor) block.shortValue(tiff::kPredictor, page.predictor);
    if (!page.colourMap.empty()) block.shorts(tiff::kColorMap, page.colourMap, kColourMapArea);
    if (page.hasSubsampling) block.shorts(tiff::kYCbCrSubSampling, page.subsampling);
    const std::vector<uint8_t> &bytes = block.finish(link);
    return writeBytes(out, page.position, bytes.data(), bytes.size());
}

// One stored sample of 8, 16 or 32 bits, assembled in the object's byte order.
uint32_t storedSample(const uint8_t *row, int64_t i, int32_t precision, int32_t byteOrder) {
    if (precision == 8) return row[i];
    const int n = precision / 8;
    const uint8_t *p = row + static_cast<size_t>(i) * static_cast<size_t>(n);
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | p[byteOrder == code::kLeastSignificantFirst ? n - 1 - k : k];
    return v;
}

// Packs `count` samples of one stored row (of one band) into `out`, which
// holds page.rowBytes zero bytes.
void packRow(const Page &page, const uint8_t *row, uint64_t firstBit, int64_t count, uint8_t *out) {
    const DataObject *image = page.image;
    const int32_t stored = page.storedPrecision;
    const int32_t byteOrder = image->get32(Attr::byteOrder);
    const bool lsbFirst = page.bitOrder == code::kLeastSignificantFirst;
    switch (page.bits) {
    case 1:
        if (stored == 1) {
            copyBits(out, 0, page.bitOrder, row, firstBit, image->get32(Attr::bitOrder), static_cast<uint64_t>(count));
            return;
        }
        for (int64_t i = 0; i < count; ++i) {
            if ((storedSample(row, i, stored, byteOrder) & 1u) == 0) continue;
            out[i / 8] |= static_cast<uint8_t>(1u << (lsbFirst ? i % 8 : 7 - i % 8));
        }
        return;
    case 4:
        for (int64_t i = 0; i < count; ++i) {
            out[i / 2] |= static_cast<uint8_t>((storedSample(row, i, stored, byteOrder) & 15u) << ((i & 1) ? 0 : 4));
        }
        if (lsbFirst) {
            for (uint64_t k = 0; k < page.rowBytes; ++k) out[k] = reverseBits(out[k]);
        }
        return;
    default:
        if (stored == 8) {
            std::memcpy(out, row, static_cast<size_t>(count));
            return;
        }
        for (int64_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(storedSample(row, i, stored, byteOrder));
        return;
    }
}

int writeZeros(DataAccess *out, uint64_t at, uint64_t count) {
    static const uint8_t kZeros[4] = {};
    return count == 0 ? kOk : writeBytes(out, at, kZeros, static_cast<size_t>(count));
}

// Coded data: the source's bytes, unchanged, a block at a time.
int copyCoded(Environment *env, DataAccess *out, const Page &page) {
    OpenAccess in(env);
    if (int code = in.open(page.image, AccessMode::Read, 0)) return code;
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(page.codedBytes, kCopyBlock)));
    for (uint64_t done = 0; done < page.codedBytes; done += block.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), page.codedBytes - done));
        if (int code = readBytes(in.get(), done, block.data(), n)) return code;
        if (int code = writeBytes(out, page.dataStart + done, block.data(), n)) return code;
    }
    return in.close();
}

// Samples: each strip row by row, chunky pixels interleaved band by band,
// gathered into chunks of whole rows before they are written.
int packSamples(Environment *env, DataAccess *out, const Page &page) {
    OpenAccess in(env);
    if (int code = in.open(page.image, AccessMode::Read, 1)) return code;
    const size_t rowBytes = static_cast<size_t>(page.rowBytes);
    const uint32_t rowsPerChunk =
        static_cast<uint32_t>(std::clamp<uint64_t>(kRowChunk / rowBytes, 1, page.height));
    std::vector<uint8_t> chunk(rowBytes * rowsPerChunk);
    const int64_t count = std::min<int64_t>(page.width, page.storedWidth);
    const bool interleaved = page.planarTag == 1 && page.samples > 1;
    for (uint32_t s = 0; s < page.strips; ++s) {
        for (uint32_t first = 0; first < page.height; first += rowsPerChunk) {
            const uint32_t rows = std::min(rowsPerChunk, page.height - first);
            std::memset(chunk.data(), 0, chunk.size());
            for (uint32_t k = 0; k < rows; ++k) {
                const int64_t rowElement = static_cast<int64_t>(first + k) * page.storedWidth;
                uint8_t *dst = chunk.data() + static_cast<size_t>(k) * rowBytes;
                const uint8_t *row;
                if (interleaved && page.samples == 3 && in.get()->repository != code::kFile) {
                    // Rows of memory repositories stay in place: merge RGB in one pass.
                    const uint8_t *red, *green, *blue;
                    if (int code = readRow(in.get(), rowElement, &red)) return code;
                    if (int code = readRow(in.get(), page.bandElements + rowElement, &green)) return code;
                    if (int code = readRow(in.get(), 2 * page.bandElements + rowElement, &blue)) return code;
                    mergeTriples(red, green, blue, static_cast<size_t>(count), dst);
                } else if (interleaved) {
                    for (uint16_t b = 0; b < page.samples; ++b) {
                        if (int code = readRow(in.get(), b * page.bandElements + rowElement, &row)) return code;
                        for (int64_t i = 0; i < count; ++i) dst[i * page.samples + b] = row[i];
                    }
                } else {
                    const int64_t element = s * page.bandElements + rowElement;
                    if (int code = readRow(in.get(), element, &row)) return code;
                    const uint64_t firstBit =
                        page.storedPrecision == 1 ? static_cast<uint64_t>(element) % 8 : 0;
                    packRow(page, row, firstBit, count, dst);
                }
            }
            const uint64_t at = page.stripOffsets[s] + uint64_t(first) * rowBytes;
            if (int code = writeBytes(out, at, chunk.data(), static_cast<size_t>(rows) * rowBytes)) return code;
        }
        if (s + 1 < page.strips) {
            const uint64_t end = uint64_t(page.stripOffsets[s]) + page.stripByteCounts[s];
            if (int code = writeZeros(out, end, page.stripOffsets[s + 1] - end)) return code;
        }
    }
    return in.close();
}

// Describes, places and writes one page at `position`.
int writePage(Environment *env, DataAccess *out, FileOrder order, DataObject *image, DataObject *target,
              int32_t index, int32_t pages, uint32_t position, uint32_t *nextFree) {
    if (int code = checkObject(env, image)) return code;
    if (!isImageClass(image->cls)) return fail(env, kMismatchObjectClass);
    Page page;
    page.image = image;
    if (int code = chooseSamples(env, image, target, page)) return code;
    if (int code = chooseCompression(env, image, page)) return code;
    if (int code = chooseRecordTags(env, image, target, index, pages, page)) return code;
    if (int code = placePage(env, image, position, page)) return code;

    uint8_t header[8] = {};
    header[0] = header[1] = order.big ? 'M' : 'I';
    order.put16(header + 2, 42);
    order.put32(header + 4, kFirstDirectory);
    if (int code = writeBytes(out, 0, header, sizeof header)) return code;
    const bool last = index + 1 == pages;
    if (int code = writeDirectory(out, order, page, last ? 0 : page.nextFree)) return code;
    if (int code = page.coded ? copyCoded(env, out, page) : packSamples(env, out, page)) return code;
    if (!last) {
        // The next directory starts on the rounded position; fill the gap.
        const uint64_t end = uint64_t(page.stripOffsets[page.strips - 1]) + page.stripByteCounts[page.strips - 1];
        if (int code = writeZeros(out, end, page.nextFree - end)) return code;
    }
    *nextFree = page.nextFree;
    return kOk;
}

int writePages(Environment *env, DataObject *source, DataObject *target) {
    FileOrder order;
    const int32_t byteOrder = target->get32(Attr::byteOrder);
    if (byteOrder == code::kLeastSignificantFirst) order.big = false;
    else if (byteOrder == code::kMostSignificantFirst) order.big = true;
    else return fail(env, kNonPermissibleOption);

    const bool composite = source->cls == ObjectClass::CompositeIDArray;
    const intptr_t count = composite ? source->get(Attr::xDimension) : 1;
    if (count < 1 || count > INT32_MAX) return fail(env, kOutOfRange);
    const int32_t pages = static_cast<int32_t>(count);

    OpenAccess out(env);
    if (int code = out.open(target, AccessMode::Write, 0)) return code;
    uint32_t position = kFirstDirectory;
    for (int32_t index = 0; index < pages; ++index) {
        DataObject *image = source;
        if (composite) {
            if (int code = compositeGet(env, source, index, &image)) return code;
        }
        if (int code = writePage(env, out.get(), order, image, target, index, pages, position, &position)) {
            return code;
        }
    }
    return out.close();
}

}  // namespace

int writeTiff(Environment *env, DataObject *source, DataObject *target, int32_t format) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, target)) return code;
    if (format != code::kFormatTIFF) return fail(env, kOutOfRange);
    int code;
    try {
        code = writePages(env, source, target);
    } catch (const std::exception &) {
        code = fail(env, kSystemError);  // allocation failure
    }
    markInited(target, true);
    return code;
}

}  // namespace orvo
