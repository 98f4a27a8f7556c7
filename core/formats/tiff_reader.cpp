// Reading TIFF directories (TIFF 6.0 sections 2 and 8) into image objects.
//
// One directory gives an image's attributes, its palette and either its
// samples (uncompressed strips) or the concatenation of its coded strips for
// the compression stage.  A composite destination receives consecutive
// directories, starting at the one its "xMatchPoint" names.  Every offset
// and count taken from the file is checked against the file's size before it
// is used; a directory chain that loops is stopped.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/interleave.h"
#include "core/formats/tiff.h"

namespace orvo {
namespace {

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t raw[4] = {};  // value or offset, as stored
};

class TiffFile {
public:
    TiffFile(DataAccess *in, bool bigEndian) : in_(in), big_(bigEndian) {}

    uint16_t u16(const uint8_t *p) const { return big_ ? uint16_t((p[0] << 8) | p[1]) : uint16_t(p[0] | (p[1] << 8)); }
    uint32_t u32(const uint8_t *p) const {
        return big_ ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                    : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    // A SHORT in the value field sits in its first two bytes in file order:
    // the low half for "II", the high half for "MM".
    uint32_t value(const Entry &e) const { return e.type == tiff::kShort ? u16(e.raw) : u32(e.raw); }
    uint32_t offset(const Entry &e) const { return u32(e.raw); }
    bool bigEndian() const { return big_; }
    DataAccess *access() const { return in_; }
    uint64_t size() const { return in_->limit; }

    int read(uint64_t at, void *buffer, size_t count) const { return readBytes(in_, at, buffer, count); }

    // The values of a SHORT or LONG entry, widened to 32 bits.  Values that
    // do not fit in the entry are read from its offset.
    int values(const Entry &e, std::vector<uint32_t> &out) const {
        const size_t width = e.type == tiff::kShort ? 2 : 4;
        if (e.count > size() / width + 1) return fail(in_->env, kSyntaxError);
        try {
            out.resize(e.count);
        } catch (const std::bad_alloc &) {
            return fail(in_->env, kSystemError);
        }
        std::vector<uint8_t> bytes;
        const uint8_t *p = e.raw;
        if (static_cast<uint64_t>(e.count) * width > 4) {
            bytes.resize(static_cast<size_t>(e.count) * width);
            if (read(offset(e), bytes.data(), bytes.size()) != kOk) return fail(in_->env, kSyntaxError);
            p = bytes.data();
        }
        for (uint32_t i = 0; i < e.count; ++i) out[i] = width == 2 ? u16(p + 2 * i) : u32(p + 4 * i);
        return kOk;
    }

private:
    DataAccess *in_;
    bool big_;
};

// What one directory says, in the record's codes.
struct Directory {
    uint32_t width = 0, length = 0;
    uint32_t samplesPerPixel = 0;
    std::vector<uint32_t> bitsPerSample;
    uint32_t compressionTag = 1;
    uint32_t photometricTag = 0;
    uint32_t fillOrder = 1;
    uint32_t orientationTag = 1;
    uint32_t planarTag = 1;
    uint32_t unitTag = 2;
    uint32_t predictorTag = 1;
    uint32_t rowsPerStrip = 0xFFFFFFFFu;
    uint32_t subsampling[2] = {1, 1};
    uint32_t newSubfileType = 0;
    uint32_t t4Options = 0;
    uint32_t pageNumber = 0;
    std::vector<uint32_t> stripOffsets, stripByteCounts;
    bool haveOffsets = false, haveCounts = false;
    uint32_t resolution[2][2] = {};
    bool haveResolution[2] = {};
    uint32_t colourMapCount = 0, colourMapOffset = 0;
    bool colourMapInline = false;
    Entry colourMap;

    // Derived.
    int32_t dataType = code::kBoolean;
    int32_t precision = 1;
    int32_t bands = 1;
    ObjectClass cls = ObjectClass::MonochromeImage;
    int32_t compression = code::kNoCompression;
    int32_t eolState = 0;
    int32_t predictor = 0;
    int32_t photometric = tiff::kPhotometricMinIsWhite;
    int32_t colourSpace = 0;
    int32_t samplingFactor = 0;
    int32_t bitOrder = code::kMostSignificantFirst;
    int32_t orientation = 0, unit = tiff::kUnitInch, subfile = tiff::kFullImage;
    uint64_t codedSize = 0;
};

bool shortOrLong(uint16_t type) { return type == tiff::kShort || type == tiff::kLong; }

// Entry type rules; a violation is a syntax error.
bool typeAllowed(const Entry &e) {
    switch (e.tag) {
    case tiff::kNewSubfileType: return e.type == tiff::kLong && e.count == 1;
    case tiff::kSubfileType:
    case tiff::kCompression:
    case tiff::kPhotometric:
    case tiff::kFillOrder:
    case tiff::kOrientation:
    case tiff::kSamplesPerPixel:
    case tiff::kPlanarConfiguration:
    case tiff::kResolutionUnit:
    case tiff::kPredictor:
    case 512: return e.type == tiff::kShort && e.count == 1;
    case tiff::kImageWidth:
    case tiff::kImageLength:
    case tiff::kRowsPerStrip:
    case tiff::kT4Options:
    case tiff::kT6Options:
    case tiff::kTileWidth:
    case tiff::kTileLength: return shortOrLong(e.type) && e.count == 1;
    case tiff::kBitsPerSample:
    case tiff::kMinSampleValue:
    case tiff::kMaxSampleValue:
    case tiff::kColorMap: return e.type == tiff::kShort;
    case tiff::kXResolution:
    case tiff::kYResolution: return e.type == tiff::kRational && e.count == 1;
    case 519:
    case 520:
    case 521: return e.type == tiff::kLong;
    case tiff::kPageNumber:
    case tiff::kYCbCrSubSampling: return e.type == tiff::kShort && e.count == 2;
    case tiff::kStripOffsets:
    case tiff::kStripByteCounts: return shortOrLong(e.type);
    case tiff::kTileOffsets: return e.type == tiff::kLong;
    case tiff::kTileByteCounts: return shortOrLong(e.type);
    default: return true;
    }
}

int readEntries(Environment *env, const TiffFile &file, uint32_t at, Directory &d, uint32_t *next) {
    uint8_t countBytes[2];
    if (file.read(at, countBytes, 2) != kOk) return fail(env, kSyntaxError);
    const uint16_t count = file.u16(countBytes);
    std::vector<uint8_t> block(static_cast<size_t>(count) * 12 + 4);
    if (file.read(uint64_t(at) + 2, block.data(), block.size()) != kOk) return fail(env, kSyntaxError);
    *next = file.u32(block.data() + static_cast<size_t>(count) * 12);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t *p = block.data() + static_cast<size_t>(i) * 12;
        Entry e;
        e.tag = file.u16(p);
        e.type = file.u16(p + 2);
        e.count = file.u32(p + 4);
        std::memcpy(e.raw, p + 8, 4);
        if (!typeAllowed(e)) return fail(env, kSyntaxError);
        const uint32_t v = e.count >= 1 ? file.value(e) : 0;
        switch (e.tag) {
        case tiff::kNewSubfileType: d.newSubfileType = v; break;
        case tiff::kSubfileType: d.newSubfileType = v == 1 ? 0 : v == 2 ? 1 : v == 3 ? 2 : d.newSubfileType; break;
        case tiff::kImageWidth: d.width = v; break;
        case tiff::kImageLength: d.length = v; break;
        case tiff::kBitsPerSample:
            if (int code = file.values(e, d.bitsPerSample)) return code;
            break;
        case tiff::kCompression: d.compressionTag = v; break;
        case tiff::kPhotometric: d.photometricTag = v; break;
        case tiff::kFillOrder: d.fillOrder = v; break;
        case tiff::kStripOffsets:
        case tiff::kTileOffsets:
            if (int code = file.values(e, d.stripOffsets)) return code;
            d.haveOffsets = true;
            break;
        case tiff::kStripByteCounts:
        case tiff::kTileByteCounts:
            if (int code = file.values(e, d.stripByteCounts)) return code;
            d.haveCounts = true;
            break;
        case tiff::kOrientation: d.orientationTag = v; break;
        case tiff::kSamplesPerPixel: d.samplesPerPixel = v; break;
        case tiff::kRowsPerStrip: d.rowsPerStrip = v; break;
        case tiff::kXResolution:
        case tiff::kYResolution: {
            uint8_t rational[8];
            if (file.read(file.offset(e), rational, 8) != kOk) return fail(env, kSyntaxError);
            const int which = e.tag == tiff::kXResolution ? 0 : 1;
            d.resolution[which][0] = file.u32(rational);
            d.resolution[which][1] = file.u32(rational + 4);
            d.haveResolution[which] = true;
            break;
        }
        case tiff::kPlanarConfiguration: d.planarTag = v; break;
        case tiff::kT4Options: d.t4Options = v; break;
        case tiff::kResolutionUnit: d.unitTag = v; break;
        case tiff::kPageNumber: d.pageNumber = (file.u16(e.raw) << 16) | file.u16(e.raw + 2); break;
        case tiff::kPredictor: d.predictorTag = v; break;
        case tiff::kColorMap:
            d.colourMap = e;
            d.colourMapCount = e.count;
            break;
        case tiff::kYCbCrSubSampling:
            d.subsampling[0] = file.u16(e.raw);
            d.subsampling[1] = file.u16(e.raw + 2);
            break;
        default: break;
        }
    }
    return kOk;
}

// Turns the tag values into the record's codes; 22 for what this reader
// does not take.
int interpret(Environment *env, const TiffFile &file, Directory &d) {
    if (d.width < 1 || d.length < 1 || d.width > INT32_MAX || d.length > INT32_MAX) return fail(env, kSyntaxError);
    // Bits per sample.
    if (d.bitsPerSample.empty()) {
        d.dataType = code::kBoolean;
        d.precision = 1;
    } else if (d.bitsPerSample.size() == 1) {
        const uint32_t bits = d.bitsPerSample[0];
        if (bits == 1) {
            d.dataType = code::kBoolean;
            d.precision = 1;
        } else if (bits == 4 || bits == 8 || bits == 16) {
            d.dataType = code::kNonnegativeInteger;
            d.precision = static_cast<int32_t>(bits);
        } else {
            return fail(env, kSyntaxError);
        }
    } else if (d.bitsPerSample.size() == 3 || d.bitsPerSample.size() == 4) {
        for (uint32_t bits : d.bitsPerSample) {
            if (bits != 8) return fail(env, kSyntaxError);
        }
        d.dataType = code::kNonnegativeInteger;
        d.precision = 8;
    } else {
        return fail(env, kSyntaxError);
    }
    // Compression.
    switch (d.compressionTag) {
    case 1: d.compression = code::kNoCompression; break;
    case 2: d.compression = code::kFaxModifiedHuffman; break;
    case 3:
        d.compression = (d.t4Options & 1) ? code::kFaxT4TwoD : code::kFaxT4OneD;
        d.eolState = (d.t4Options & 4) ? 1 : 0;
        break;
    case 4: d.compression = code::kFaxT6; break;
    case 5:
        if (d.predictorTag != 1 && d.predictorTag != 2) return fail(env, kSyntaxError);
        if (d.precision == 16) return fail(env, kSyntaxError);
        d.compression = code::kLZW;
        d.predictor = d.predictorTag == 2 ? 1 : 0;
        d.eolState = d.predictor;
        break;
    case 32773: d.compression = code::kPackBits; break;
    default: return fail(env, kSyntaxError);
    }
    // Photometric interpretation.
    static constexpr int32_t kPhotometric[] = {
        tiff::kPhotometricMinIsWhite, tiff::kPhotometricMinIsBlack, tiff::kPhotometricRGB,
        tiff::kPhotometricPalette,    tiff::kPhotometricMask,       tiff::kPhotometricSeparated,
        tiff::kPhotometricYCbCr,      -1,                           tiff::kPhotometricCIELab};
    if (d.photometricTag > 8 || kPhotometric[d.photometricTag] < 0) return fail(env, kSyntaxError);
    d.photometric = kPhotometric[d.photometricTag];
    if (d.photometricTag == 2) d.colourSpace = code::kRGB;
    if (d.photometricTag == 5) d.colourSpace = code::kSeparated;
    if (d.photometricTag == 8) d.colourSpace = tiff::kPhotometricCIELab;
    if (d.photometricTag == 6) {
        d.colourSpace = code::kYCbCr;
        const uint32_t h = d.subsampling[0], v = d.subsampling[1];
        if (h == 1 && v == 1) d.samplingFactor = 238;
        else if (h == 2 && v == 1) d.samplingFactor = 239;
        else if (h == 2 && v == 2) d.samplingFactor = 240;
        else return fail(env, kSyntaxError);
    }
    if (d.fillOrder != 1 && d.fillOrder != 2) return fail(env, kSyntaxError);
    d.bitOrder = d.fillOrder == 1 ? code::kMostSignificantFirst : code::kLeastSignificantFirst;
    if (d.orientationTag < 1 || d.orientationTag > 8) return fail(env, kSyntaxError);
    d.orientation = kTiffOrientationCodes[d.orientationTag];
    if (d.planarTag != 1) return fail(env, kSyntaxError);
    if (d.unitTag < 1 || d.unitTag > 3) return fail(env, kSyntaxError);
    d.unit = d.unitTag == 1 ? tiff::kUnitNone : d.unitTag == 2 ? tiff::kUnitInch : tiff::kUnitCentimetre;
    if (d.newSubfileType > 2) return fail(env, kSyntaxError);
    d.subfile = d.newSubfileType == 0 ? tiff::kFullImage : d.newSubfileType == 1 ? tiff::kReducedImage : tiff::kPage;
    // Bands and class.
    const uint32_t samples = d.samplesPerPixel;
    if (samples == 3 || d.precision == 16) {
        d.bands = 3;
        d.cls = ObjectClass::ColourImage;
    } else if (samples == 4 && d.photometricTag == 5) {
        d.bands = 4;
        d.cls = ObjectClass::ColourImage;
    } else if (samples <= 1) {
        d.bands = 1;
        d.cls = ObjectClass::MonochromeImage;
    } else {
        return fail(env, kSyntaxError);
    }
    if (d.bands == 3 && d.precision != 8 && d.precision != 16) return fail(env, kSyntaxError);
    if (samples > 1 && d.bitsPerSample.size() == 1 && d.bitsPerSample[0] != 8) return fail(env, kSyntaxError);
    // Strips.
    if (d.compression == code::kNoCompression && !d.haveCounts && d.stripOffsets.size() == 1) {
        d.stripByteCounts.assign(1, 0);  // one strip without a count: taken as the whole image
        d.haveCounts = true;
    }
    const uint64_t rows = d.rowsPerStrip == 0 ? 0 : d.rowsPerStrip;
    if (rows == 0 || d.stripByteCounts.empty() || d.stripByteCounts.size() != d.stripOffsets.size()) {
        return fail(env, kSyntaxError);
    }
    const uint64_t expected = static_cast<uint64_t>((static_cast<double>(d.length) + static_cast<double>(rows) - 1) /
                                                    static_cast<double>(rows));
    if (d.stripByteCounts.size() != expected) return fail(env, kSyntaxError);
    if (d.rowsPerStrip == 0xFFFFFFFFu || d.rowsPerStrip > d.length) d.rowsPerStrip = d.length;
    for (size_t i = 0; i < d.stripOffsets.size(); ++i) {
        uint64_t end = uint64_t(d.stripOffsets[i]) + d.stripByteCounts[i];
        if (end > file.size()) return fail(env, kInsufficientSize);
        d.codedSize += d.stripByteCounts[i];
    }
    if (d.colourMapCount >= 3) {
        if (uint64_t(d.colourMapCount) * 2 > file.size()) return fail(env, kSyntaxError);
    }
    return kOk;
}

int readDirectory(Environment *env, const TiffFile &file, uint32_t at, Directory &d, uint32_t *next) {
    if (int code = readEntries(env, file, at, d, next)) return code;
    return interpret(env, file, d);
}

// Bytes of one stored row.
uint64_t storedRowBytes(const Directory &d) {
    const uint64_t samples = d.precision == 16 ? 1 : static_cast<uint64_t>(d.bands);
    return (uint64_t(d.width) * d.precision * samples + 7) / 8;
}

int readPalette(Environment *env, const TiffFile &file, const Directory &d, DataObject *lut) {
    const int32_t entries = d.precision == 1 ? 2 : d.precision == 4 ? 16 : d.precision == 8 ? 256
                                                                         : static_cast<int32_t>(d.colourMapCount / 3);
    const CmiAttribute list[] = {{"bitOrder", code::kMostSignificantFirst}, {"dataType", code::kNonnegativeInteger},
                                 {"bDimension", 3}, {"xDimension", entries}};
    if (int code = setAttributes(env, lut, list)) return code;
    std::vector<uint32_t> map;
    if (int code = file.values(d.colourMap, map)) return code;
    const size_t perPlane = map.size() / 3;
    std::vector<uint8_t> planes(static_cast<size_t>(entries) * 3, 0);
    const size_t n = std::min<size_t>(perPlane, static_cast<size_t>(entries));
    for (size_t p = 0; p < 3; ++p) {
        for (size_t i = 0; i < n; ++i) planes[p * entries + i] = static_cast<uint8_t>(map[p * perPlane + i] >> 8);
    }
    DataAccess *out;
    if (int code = openAccess(env, lut, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, planes.data(), planes.size());
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

int readHeaderPart(Environment *env, const TiffFile &file, const Directory &d, DataObject *file_, DataObject *dest) {
    if (dest->cls != ObjectClass::GenericImage && dest->cls != d.cls) return fail(env, kMismatchObjectClass);
    const bool byteBoundary = envAttr(env, EnvAttr::byteBoundary) != 0;
    int64_t x = d.width;
    if (byteBoundary && d.precision == 1 && d.compression == code::kNoCompression) x = (x + 7) / 8 * 8;
    std::vector<CmiAttribute> list = {
        {"xDimension", x},
        {"yDimension", d.length},
        {"zDimension", 1},
        {"tDimension", 1},
        {"bDimension", d.bands},
        {"dataType", d.dataType},
        {"dataPrecision", d.precision == 16 ? 8 : d.precision},
        {"bitOrder", d.bitOrder},
        {"byteOrder", file.bigEndian() ? code::kMostSignificantFirst : code::kLeastSignificantFirst},
        {"compression", d.compression},
        {"eolState", d.eolState},
        {"size", d.compression == code::kNoCompression ? 0 : static_cast<intptr_t>(d.codedSize)},
        {"colourSpace", d.colourSpace},
    };
    if (d.samplingFactor != 0) list.push_back({"samplingFactor", d.samplingFactor});
    if (byteBoundary) list.push_back({"widthByteBoundary", d.width});
    if (int code = setAttributes(env, dest, list)) return code;
    if (dest->format && dest->format->format == code::kFormatTIFF) {
        const std::vector<CmiAttribute> record = {
            {"photometricInterpretation", d.photometric},
            {"resolutionUnit", d.unit},
            {"rowsPerStrip", static_cast<intptr_t>(d.rowsPerStrip)},
            {"orientation", d.orientation},
            {"planarConfiguration", tiff::kChunky},
            {"pageNumber", static_cast<intptr_t>(d.pageNumber)},
            {"newSubfileType", d.subfile},
            {"stripsPerImage", static_cast<intptr_t>(d.stripOffsets.size())},
            {"stripOffsets", reinterpret_cast<intptr_t>(d.stripOffsets.data())},
            {"stripByteCounts", reinterpret_cast<intptr_t>(d.stripByteCounts.data())},
            {"xResolution", d.haveResolution[0] ? reinterpret_cast<intptr_t>(d.resolution[0]) : 0},
            {"yResolution", d.haveResolution[1] ? reinterpret_cast<intptr_t>(d.resolution[1]) : 0},
        };
        if (int code = setAttributes(env, dest, record)) return code;
    }
    (void)file_;
    if (DataObject *lut = dest->lutObject(); lut != nullptr && d.colourMapCount >= 3) {
        if (int code = checkObject(env, lut)) return code;
        if (int code = readPalette(env, file, d, lut)) return code;
    }
    return kOk;
}

inline uint8_t expand5(uint32_t f) { return f == 0 ? 0 : static_cast<uint8_t>(f * 8 + 7); }

int readSamplesPart(Environment *env, const TiffFile &file, const Directory &d, DataObject *dest) {
    if (dest->cls != ObjectClass::GenericImage && dest->cls != d.cls) return fail(env, kMismatchObjectClass);
    if (dest->get32(Attr::dataType) != d.dataType) return fail(env, kMismatchDataType);
    DataAccess *out;
    if (d.compression != code::kNoCompression) {
        // Coded strips, one after the other, for the compression stage.
        if (int code = openAccess(env, dest, AccessMode::Write, 0, {}, &out)) return code;
        std::vector<uint8_t> block(65536);
        uint64_t written = 0;
        int code = kOk;
        for (size_t s = 0; code == kOk && s < d.stripOffsets.size(); ++s) {
            for (uint64_t done = 0; code == kOk && done < d.stripByteCounts[s]; done += block.size()) {
                size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), d.stripByteCounts[s] - done));
                code = file.read(uint64_t(d.stripOffsets[s]) + done, block.data(), n);
                if (code == kOk) code = writeBytes(out, written, block.data(), n);
                written += n;
            }
        }
        int closed = closeAccess(env, out);
        return code != kOk ? code : closed;
    }
    const uint64_t rowBytes = storedRowBytes(d);
    // Every strip must hold its rows before anything is allocated for them.
    for (size_t s = 0; s < d.stripOffsets.size(); ++s) {
        const uint64_t firstRow = uint64_t(s) * d.rowsPerStrip;
        const uint64_t rowsInStrip = std::min<uint64_t>(d.rowsPerStrip, d.length > firstRow ? d.length - firstRow : 0);
        const uint64_t need = rowsInStrip * rowBytes;
        if ((d.stripByteCounts[s] != 0 && d.stripByteCounts[s] < need) ||
            uint64_t(d.stripOffsets[s]) + need > file.size()) {
            return fail(env, kInsufficientSize);
        }
    }
    const bool dibOutput = dest->get32(Attr::pixelInterpretation) == code::kDibRowOrder;
    if (int code = openAccess(env, dest, AccessMode::Write, dibOutput ? 0 : 1, {}, &out)) return code;
    const int64_t dx = dest->get(Attr::xDimension);
    const int64_t dy = dest->get(Attr::yDimension);
    const int64_t plane = dx * dy;
    const int64_t n = std::min<int64_t>(d.width, dx);
    const int64_t rows = std::min<int64_t>(d.length, dy);
    const int32_t depth = d.bands >= 3 ? 24 : d.precision;
    const uint64_t dibRow = ((uint64_t(d.width) * depth + 31) / 32) * 4;
    // Buffers of one row each, for the conversions that need them.
    std::vector<uint8_t> dib(dibOutput ? static_cast<size_t>(dibRow) : 0);
    std::vector<uint8_t> rgb(d.precision == 16 ? static_cast<size_t>(3 * uint64_t(d.width)) : 0);
    // Rows are read in chunks of up to about 1 MiB, across strips that follow
    // each other in the file, so that a file parsed in place costs a few
    // reads rather than one per row or strip.
    const uint64_t chunkRows = std::max<uint64_t>(
        1, std::min<uint64_t>(uint64_t(d.length), (1u << 20) / std::max<uint64_t>(rowBytes, 1)));
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkRows * rowBytes));
    int64_t chunkFirst = -1, chunkEnd = -1;  // rows held in `chunk`
    int code = kOk;
    for (int64_t y = 0; code == kOk && y < rows; ++y) {
        if (y >= chunkEnd) {
            const size_t strip = static_cast<size_t>(y / d.rowsPerStrip);
            const int64_t stripEnd = std::min<int64_t>(int64_t(strip + 1) * d.rowsPerStrip, d.length);
            int64_t n = std::min<int64_t>(static_cast<int64_t>(chunkRows), stripEnd - y);
            const uint64_t inStrip = static_cast<uint64_t>(y % d.rowsPerStrip) * rowBytes;
            const uint64_t start = uint64_t(d.stripOffsets[strip]) + inStrip;
            // The strips after it, while they start where the bytes read end.
            for (size_t next = strip + 1; n < static_cast<int64_t>(chunkRows) && next < d.stripOffsets.size() &&
                                          y + n < d.length && uint64_t(d.stripOffsets[next]) == start + uint64_t(n) * rowBytes;
                 ++next) {
                const int64_t nextEnd = std::min<int64_t>(int64_t(next + 1) * d.rowsPerStrip, d.length);
                n += std::min<int64_t>(static_cast<int64_t>(chunkRows) - n, nextEnd - (y + n));
            }
            if ((code = file.read(start, chunk.data(), static_cast<size_t>(uint64_t(n) * rowBytes))) != kOk) {
                break;
            }
            chunkFirst = y;
            chunkEnd = y + n;
        }
        const uint8_t *src = chunk.data() + static_cast<size_t>(uint64_t(y - chunkFirst) * rowBytes);
        if (d.precision == 16) {
            // Packed colour pixels: first byte low; green in bits 14-10,
            // red in 9-5, blue in 4-0.
            for (int64_t i = 0; i < d.width; ++i) {
                uint32_t w = src[2 * i] | (src[2 * i + 1] << 8);
                rgb[3 * i] = expand5((w >> 5) & 31);
                rgb[3 * i + 1] = expand5((w >> 10) & 31);
                rgb[3 * i + 2] = expand5(w & 31);
            }
            src = rgb.data();
        }
        const int64_t samples = d.precision == 16 ? 3 : d.bands;
        if (dibOutput) {
            std::fill(dib.begin(), dib.end(), 0);
            if (depth == 24) {
                for (int64_t i = 0; i < d.width; ++i) {
                    dib[3 * i] = src[i * samples + 2];
                    dib[3 * i + 1] = src[i * samples + 1];
                    dib[3 * i + 2] = src[i * samples];
                }
            } else if (depth == 1) {
                copyBits(dib.data(), 0, code::kMostSignificantFirst, src, 0, d.bitOrder, d.width);
            } else {
                std::memcpy(dib.data(), src, static_cast<size_t>(rowBytes));
            }
            code = writeBytes(out, static_cast<uint64_t>(d.length - 1 - y) * dibRow, dib.data(), dib.size());
            continue;
        }
        uint8_t *target;
        if (d.precision == 1) {
            if ((code = writeRow(out, y * dx, &target)) != kOk) break;
            copyBits(target, static_cast<uint64_t>(y * dx) % 8, dest->get32(Attr::bitOrder), src, 0, d.bitOrder,
                     static_cast<uint64_t>(n));
        } else if (d.precision == 4) {
            if ((code = writeRow(out, y * dx, &target)) != kOk) break;
            for (int64_t i = 0; i < n; ++i) target[i] = (i & 1) ? (src[i / 2] & 15) : (src[i / 2] >> 4);
        } else {
            if (samples == 3 && d.bands == 3 && out->repository != code::kFile) {
                // Rows of memory repositories stay in place: split RGB in one pass.
                uint8_t *red, *green, *blue;
                if ((code = writeRow(out, y * dx, &red)) != kOk || (code = writeRow(out, plane + y * dx, &green)) != kOk ||
                    (code = writeRow(out, 2 * plane + y * dx, &blue)) != kOk) {
                    break;
                }
                splitTriples(src, static_cast<size_t>(n), red, green, blue);
                continue;
            }
            for (int64_t b = 0; code == kOk && b < d.bands; ++b) {
                if ((code = writeRow(out, b * plane + y * dx, &target)) != kOk) break;
                for (int64_t i = 0; i < n; ++i) target[i] = src[i * samples + b];
            }
        }
    }
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

int readOne(Environment *env, const TiffFile &file, uint32_t at, DataObject *fileObject, DataObject *dest,
            int32_t mode, uint32_t *next) {
    Directory d;
    int code = readDirectory(env, file, at, d, next);
    if (code == kOk && mode != code::kParseSamplesOnly) code = readHeaderPart(env, file, d, fileObject, dest);
    if (code == kOk && mode != code::kParseHeaderOnly) code = readSamplesPart(env, file, d, dest);
    markInited(dest, true);
    return code;
}

}  // namespace

int readTiff(Environment *env, DataObject *fileObject, DataObject *dest, int32_t mode, int32_t format) {
    if (int code = checkObject(env, fileObject)) return code;
    if (int code = checkObject(env, dest)) return code;
    DataAccess *in;
    if (int code = openAccess(env, fileObject, AccessMode::Read, 0, {}, &in)) return code;
    uint8_t header[8];
    int code = readBytes(in, 0, header, sizeof header);
    bool big = false;
    if (code == kOk) {
        if (header[0] == 'I' && header[1] == 'I') big = false;
        else if (header[0] == 'M' && header[1] == 'M') big = true;
        else code = fail(env, kSyntaxError);
    } else {
        code = fail(env, kSyntaxError);
    }
    TiffFile file(in, big);
    if (code == kOk && file.u16(header + 2) != 42) code = fail(env, kSyntaxError);
    uint32_t at = code == kOk ? file.u32(header + 4) : 0;
    std::unordered_set<uint32_t> visited;
    uint32_t next = 0;
    if (code == kOk && dest->cls != ObjectClass::CompositeIDArray) {
        code = at == 0 ? fail(env, kSyntaxError) : readOne(env, file, at, fileObject, dest, mode, &next);
    } else if (code == kOk) {
        const intptr_t first = dest->get(Attr::xMatchPoint);
        if (first < 0 || at == 0) code = fail(env, kNonPermissibleOption);
        for (intptr_t skip = 0; code == kOk && skip < first; ++skip) {
            if (!visited.insert(at).second) {
                code = fail(env, kNonPermissibleOption);
                break;
            }
            uint8_t countBytes[2], link[4];
            if (file.read(at, countBytes, 2) != kOk || file.read(uint64_t(at) + 2 + 12u * file.u16(countBytes), link, 4) != kOk) {
                code = fail(env, kSyntaxError);
                break;
            }
            at = file.u32(link);
            if (at == 0) code = fail(env, kNonPermissibleOption);
        }
        const intptr_t wanted = dest->get(Attr::xDimension);
        intptr_t pages = 0;
        while (code == kOk && pages < wanted && at != 0 && visited.insert(at).second) {
            DataObject *element;
            if ((code = compositeGet(env, dest, static_cast<int32_t>(pages), &element)) != kOk) break;
            if (element == nullptr) {
                code = fail(env, kInvalidInstance);
                break;
            }
            if ((code = setAttribute(env, element, "fileFormat", code::kFormatTIFF)) != kOk) break;
            code = readOne(env, file, at, fileObject, element, mode, &next);
            if (code == kOk) ++pages;
            at = next;
        }
        if (code == kOk && mode != code::kParseSamplesOnly && pages < wanted) {
            // Shortened to the pages read; written directly so that the
            // composite keeps its element references (a change through
            // setAttribute would mark its body as not valid).
            dest->put(Attr::xDimension, pages);
        }
    }
    int closed = closeAccess(env, in);
    markInited(fileObject, true);
    markInited(dest, true);
    return code != kOk ? code : closed;
}

}  // namespace orvo
