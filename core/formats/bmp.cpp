// BMP files and packed DIBs, reading and writing.
//
// Header layout (little-endian): the file header "BM", file size, two
// reserved words, pixel data offset; then the information header (40 bytes,
// or one of its longer versions, or the 12-byte OS/2 core header) and the
// palette directly after it.  Every offset and size taken from the headers is
// checked against the bytes the file object really holds before anything is
// read or allocated for it.
#include "core/formats/bmp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/codecs/compression.h"
#include "core/env/codes.h"

namespace orvo {
namespace {

uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

bool validDepth(uint32_t depth) {
    return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// Information header sizes laid out like the 40-byte header in their first
// 40 bytes (Windows V2, V3, V4, V5 and OS/2 2.x).
bool infoCompatibleSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

int32_t expectedBands(uint32_t depth) { return depth >= 16 ? 3 : 1; }

bool classAccepts(const DataObject *image, uint32_t depth) {
    if (image->cls == ObjectClass::GenericImage) return true;
    return image->cls == (depth >= 16 ? ObjectClass::ColourImage : ObjectClass::MonochromeImage);
}

uint64_t bytesOf(DataAccess *access) { return access->limit; }

// Reads palette entries into a LookupTable object: red in plane 0, green in
// plane 1, blue in plane 2, for as many entries as both hold.
int readPalette(Environment *env, DataAccess *file, const BmpHeader &h, DataObject *lut) {
    int32_t entries = h.depth == 1 ? 2 : h.depth == 4 ? 16 : h.depth == 8 ? 256 : static_cast<int32_t>(std::min<uint32_t>(h.coloursUsed, 256));
    const CmiAttribute list[] = {
        {"bitOrder", code::kMostSignificantFirst},
        {"dataType", code::kNonnegativeInteger},
        {"bDimension", 3},
        {"xDimension", entries},
    };
    if (int code = setAttributes(env, lut, list)) return code;
    if (entries == 0) return kOk;
    uint32_t count = std::min<uint32_t>(h.paletteEntries, static_cast<uint32_t>(entries));
    std::vector<uint8_t> raw(static_cast<size_t>(count) * h.paletteEntrySize);
    if (int code = readBytes(file, h.paletteOffset, raw.data(), raw.size())) return code;
    std::vector<uint8_t> planes(static_cast<size_t>(entries) * 3, 0);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *e = raw.data() + static_cast<size_t>(i) * h.paletteEntrySize;
        planes[i] = e[2];
        planes[static_cast<size_t>(entries) + i] = e[1];
        planes[2 * static_cast<size_t>(entries) + i] = e[0];
    }
    DataAccess *out;
    if (int code = openAccess(env, lut, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, planes.data(), planes.size());
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

int readHeaderPart(Environment *env, DataObject *file, DataAccess *in, const BmpHeader &h, DataObject *dest) {
    if (!classAccepts(dest, h.depth)) return fail(env, kMismatchObjectClass);
    bool compressed = h.compression != 0;
    int32_t type = h.depth == 1 ? code::kBoolean : code::kNonnegativeInteger;
    int32_t fileBands = h.depth == 32 ? 4 : expectedBands(h.depth);
    int32_t x = h.width;
    bool byteBoundary = envAttr(env, EnvAttr::byteBoundary) != 0;
    if (byteBoundary && h.depth == 1) x = static_cast<int32_t>((static_cast<int64_t>(x) + 7) / 8 * 8);
    const CmiAttribute fileList[] = {
        {"xDimension", x},
        {"yDimension", h.height},
        {"zDimension", 1},
        {"tDimension", 1},
        {"bDimension", fileBands},
        {"dataType", type},
        {"widthByteBoundary", byteBoundary ? h.width : 0},
        {"dataPrecision", h.depth},
        {"bitOrder", code::kMostSignificantFirst},
    };
    if (int code = setAttributes(env, file, fileList)) return code;
    std::vector<CmiAttribute> destList = {
        {"xDimension", x},
        {"yDimension", h.height},
        {"zDimension", 1},
        {"tDimension", 1},
        {"bDimension", expectedBands(h.depth)},
        {"dataType", type},
        {"dataPrecision", h.depth <= 8 ? h.depth : 8},
        {"bitOrder", code::kMostSignificantFirst},
        {"byteOrder", code::kMostSignificantFirst},
        {"compression", compressed ? code::kBmpRunLength : code::kNoCompression},
        {"size", compressed ? static_cast<intptr_t>(h.pixelBytes) : 0},
    };
    if (h.depth >= 16) destList.push_back({"colourSpace", code::kRGB});
    if (byteBoundary) destList.push_back({"widthByteBoundary", h.width});
    if (int code = setAttributes(env, dest, destList)) return code;
    if (dest->get32(Attr::fileFormat) == code::kFormatBMP) {
        const CmiAttribute record[] = {
            {"resolutionUnit", code::kPixelsPerMetre},
            {"xResolution", h.xPixelsPerMetre},
            {"yResolution", h.yPixelsPerMetre},
        };
        if (int code = setAttributes(env, dest, record)) return code;
    }
    if (DataObject *lut = dest->lutObject()) {
        if (int code = checkObject(env, lut)) return code;
        if (int code = readPalette(env, in, h, lut)) return code;
    }
    return kOk;
}

// Expands a 5-5-5 value to 8 bits by repeating its top bits.
inline uint8_t expand5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

// One file row of 16 or 32 bits as 24-bit BGR bytes.
void toBgr24(const uint8_t *src, uint32_t depth, uint64_t width, uint8_t *out) {
    if (depth == 16) {
        for (uint64_t i = 0; i < width; ++i) {
            uint32_t v = le16(src + 2 * i);
            out[3 * i] = expand5(v & 31);
            out[3 * i + 1] = expand5((v >> 5) & 31);
            out[3 * i + 2] = expand5((v >> 10) & 31);
        }
    } else {
        for (uint64_t i = 0; i < width; ++i) {
            out[3 * i] = src[4 * i];
            out[3 * i + 1] = src[4 * i + 1];
            out[3 * i + 2] = src[4 * i + 2];
        }
    }
}

int readSamplesPart(Environment *env, DataAccess *in, const BmpHeader &h, DataObject *dest) {
    if (!classAccepts(dest, h.depth)) return fail(env, kMismatchObjectClass);
    int32_t type = h.depth == 1 ? code::kBoolean : code::kNonnegativeInteger;
    if (type != dest->get32(Attr::dataType)) return fail(env, kMismatchDataType);
    DataAccess *out;
    if (h.compression != 0) {
        // Run-length data is copied as stored; the codec turns it into
        // samples.  A few bytes cannot stand for an enormous image.
        uint64_t samples = 0;
        if (!dataSize(env, dest, &samples) || !plausibleExpansion(code::kBmpRunLength, h.pixelBytes, samples)) {
            return fail(env, kSemanticError);
        }
        if (int code = openAccess(env, dest, AccessMode::Write, 0, {}, &out)) return code;
        std::vector<uint8_t> block(std::min<uint64_t>(h.pixelBytes, 65536));
        int code = kOk;
        for (uint64_t done = 0; code == kOk && done < h.pixelBytes; done += block.size()) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), h.pixelBytes - done));
            code = readBytes(in, h.dataOffset + done, block.data(), n);
            if (code == kOk) code = writeBytes(out, done, block.data(), n);
        }
        int closed = closeAccess(env, out);
        return code != kOk ? code : closed;
    }
    if (int code = openAccess(env, dest, AccessMode::Write, 1, {}, &out)) return code;
    const int64_t dx = dest->get(Attr::xDimension);
    const int64_t dy = dest->get(Attr::yDimension);
    const int64_t plane = dx * dy;
    const uint64_t width = static_cast<uint64_t>(h.width);
    const int64_t rows = std::min<int64_t>(h.height, dy);
    const bool dibOutput = dest->get32(Attr::pixelInterpretation) == code::kDibRowOrder &&
                           (h.depth == 16 || h.depth == 32);
    std::vector<uint8_t> fileRow(h.rowBytes);
    std::vector<uint8_t> bgr(static_cast<size_t>(3 * width + 4));
    int code = kOk;
    for (int64_t r = 0; code == kOk && r < rows; ++r) {
        // Destination rows run top-down, file rows bottom-up; in DIB output
        // mode both keep the file's order.
        int64_t fileRowIndex = dibOutput ? r : h.height - 1 - r;
        code = readBytes(in, h.dataOffset + static_cast<uint64_t>(fileRowIndex) * h.rowBytes, fileRow.data(),
                         fileRow.size());
        if (code != kOk) break;
        const uint8_t *src = fileRow.data();
        uint8_t *row;
        if (dibOutput) {
            toBgr24(src, h.depth, width, bgr.data());
            if ((code = writeRow(out, r * dx, &row)) != kOk) break;
            uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(dx), bmpRowLength(24, width));
            std::memcpy(row, bgr.data(), static_cast<size_t>(std::min<uint64_t>(n, 3 * width)));
            if (n > 3 * width) std::memset(row + 3 * width, 0, static_cast<size_t>(n - 3 * width));
            continue;
        }
        const uint64_t n = std::min<uint64_t>(width, static_cast<uint64_t>(dx));
        switch (h.depth) {
        case 1:
            if ((code = writeRow(out, r * dx, &row)) != kOk) break;
            copyBits(row, static_cast<uint64_t>(r * dx) % 8, dest->get32(Attr::bitOrder), src, 0,
                     code::kMostSignificantFirst, n);
            break;
        case 4:
            if ((code = writeRow(out, r * dx, &row)) != kOk) break;
            for (uint64_t i = 0; i < n; ++i) row[i] = (i & 1) ? (src[i / 2] & 15) : (src[i / 2] >> 4);
            break;
        case 8:
            if ((code = writeRow(out, r * dx, &row)) != kOk) break;
            std::memcpy(row, src, static_cast<size_t>(n));
            break;
        default: {
            const uint8_t *pixels = src;
            size_t step = 3;
            if (h.depth == 16) {
                toBgr24(src, 16, n, bgr.data());
                pixels = bgr.data();
            } else if (h.depth == 32) {
                step = 4;
            }
            for (int p = 0; code == kOk && p < 3; ++p) {
                if ((code = writeRow(out, p * plane + r * dx, &row)) != kOk) break;
                const uint8_t *s = pixels + (2 - p);
                for (uint64_t i = 0; i < n; ++i) row[i] = s[i * step];
            }
            break;
        }
        }
    }
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

// The palette the writer stores: from a usable "lut", else the defaults.
int buildPalette(Environment *env, DataObject *source, uint32_t entries, std::vector<uint8_t> &palette) {
    palette.assign(static_cast<size_t>(entries) * 4, 0);
    DataObject *lut = source->lutObject();
    bool usable = lut != nullptr && checkObject(env, lut) == kOk && lut->get(Attr::xDimension) > 0 &&
                  lut->get(Attr::bDimension) >= 3 && lut->get32(Attr::bitOrder) == code::kMostSignificantFirst &&
                  (lut->get32(Attr::dataType) == code::kNonnegativeInteger ||
                   lut->get32(Attr::dataType) == code::kSignedInteger);
    if (!usable) {
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t level = static_cast<uint8_t>(entries == 2 ? i * 255 : entries == 16 ? i * 17 : i);
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = level;
        }
        return kOk;
    }
    const bool wide = lut->get32(Attr::dataType) == code::kSignedInteger;
    const uint64_t lutEntries = static_cast<uint64_t>(lut->get(Attr::xDimension));
    const uint64_t sampleBytes = wide ? 2 : 1;
    std::vector<uint8_t> planes(static_cast<size_t>(lutEntries * 3 * sampleBytes));
    DataAccess *in;
    if (int code = openAccess(env, lut, AccessMode::Read, 0, {}, &in)) return code;
    int code = lut->inited() ? readBytes(in, 0, planes.data(), planes.size()) : kOk;
    int closed = closeAccess(env, in);
    if (code != kOk || closed != kOk) return code != kOk ? code : closed;
    const bool lowByte = source->get32(Attr::byteOrder) == code::kLeastSignificantFirst;
    auto sample = [&](uint64_t planeIndex, uint64_t i) -> uint8_t {
        uint64_t at = (planeIndex * lutEntries + i) * sampleBytes;
        return wide ? planes[at + (lowByte ? 1 : 0)] : planes[at];
    };
    uint64_t n = std::min<uint64_t>(entries, lutEntries);
    for (uint64_t i = 0; i < n; ++i) {
        palette[4 * i] = sample(2, i);
        palette[4 * i + 1] = sample(1, i);
        palette[4 * i + 2] = sample(0, i);
    }
    return kOk;
}

}  // namespace

uint64_t bmpRowLength(uint32_t depth, uint64_t w) {
    switch (depth) {
    case 1: return ((w + 7) / 8 + 3) / 4 * 4;
    case 4: return ((w + 1) / 2 + 3) / 4 * 4;
    case 8: return (w + 3) / 4 * 4;
    case 16: return (2 * w + 3) / 4 * 4;
    case 24: return (3 * w + 3) / 4 * 4;
    case 32: return 4 * w;
    default: return 0;
    }
}

int parseBmpHeader(DataAccess *file, int32_t format, BmpHeader *h) {
    Environment *env = file->env;
    *h = BmpHeader{};
    h->available = bytesOf(file);
    uint64_t infoAt = 0;
    uint32_t dataOffsetField = 0;
    if (format == code::kFormatBMP) {
        uint8_t fh[kFileHeaderSize];
        if (int code = readBytes(file, 0, fh, 2)) return code == kInsufficientSize ? fail(env, kSyntaxError) : code;
        if (fh[0] != 'B' || fh[1] != 'M') return fail(env, kSyntaxError);
        if (int code = readBytes(file, 2, fh + 2, 12)) return code;
        dataOffsetField = le32(fh + 10);
        infoAt = kFileHeaderSize;
    }
    uint8_t info[kInfoHeaderSize] = {};
    if (int code = readBytes(file, infoAt, info, 4)) return code;
    h->headerSize = le32(info);
    uint16_t planes;
    if (h->headerSize == 12) {
        if (int code = readBytes(file, infoAt, info, 12)) return code;
        h->width = le16(info + 4);
        h->height = le16(info + 6);
        planes = le16(info + 8);
        h->depth = le16(info + 10);
        h->paletteEntrySize = 3;
    } else if (infoCompatibleSize(h->headerSize)) {
        if (int code = readBytes(file, infoAt, info, kInfoHeaderSize)) return code;
        h->width = static_cast<int32_t>(le32(info + 4));
        h->height = static_cast<int32_t>(le32(info + 8));
        planes = le16(info + 12);
        h->depth = le16(info + 14);
        h->compression = le32(info + 16);
        h->imageSize = le32(info + 20);
        h->xPixelsPerMetre = static_cast<int32_t>(le32(info + 24));
        h->yPixelsPerMetre = static_cast<int32_t>(le32(info + 28));
        h->coloursUsed = le32(info + 32);
    } else {
        return fail(env, kSyntaxError);
    }
    // Negative heights (top-down bitmaps) and widths are refused.
    if (h->width < 1 || h->height < 1 || planes != 1 || !validDepth(h->depth)) return fail(env, kSyntaxError);
    if (!(h->compression == 0 || (h->compression == 1 && h->depth == 8) || (h->compression == 2 && h->depth == 4))) {
        return fail(env, kSyntaxError);
    }
    uint64_t declaredEntries = h->coloursUsed;
    if (declaredEntries == 0 && h->depth <= 8) declaredEntries = 1u << h->depth;
    h->paletteOffset = infoAt + h->headerSize;
    if (format == code::kFormatBMP) {
        h->dataOffset = dataOffsetField;
        uint64_t room = h->dataOffset > h->paletteOffset ? (h->dataOffset - h->paletteOffset) / h->paletteEntrySize : 0;
        h->paletteEntries = static_cast<uint32_t>(std::min<uint64_t>(declaredEntries, room));
    } else {
        if (declaredEntries > (1u << 16)) return fail(env, kSyntaxError);
        h->paletteEntries = static_cast<uint32_t>(declaredEntries);
        h->dataOffset = h->paletteOffset + declaredEntries * h->paletteEntrySize;
    }
    h->rowBytes = bmpRowLength(h->depth, static_cast<uint64_t>(h->width));
    if (h->compression == 0) {
        h->pixelBytes = h->rowBytes * static_cast<uint64_t>(h->height);
    } else {
        // The coded size as stored, bounded by the bytes really there.
        uint64_t present = h->available > h->dataOffset ? h->available - h->dataOffset : 0;
        h->pixelBytes = h->imageSize != 0 ? std::min<uint64_t>(h->imageSize, present) : present;
    }
    return kOk;
}

int readBmp(Environment *env, DataObject *file, DataObject *dest, int32_t mode, int32_t format) {
    if (int code = checkObject(env, file)) return code;
    if (int code = checkObject(env, dest)) return code;
    if (format != code::kFormatBMP && format != code::kFormatPackedDIB) return fail(env, kOutOfRange);
    if (mode != code::kParseAll && mode != code::kParseHeaderOnly && mode != code::kParseSamplesOnly) {
        return fail(env, kOutOfRange);
    }
    DataAccess *in;
    if (int code = openAccess(env, file, AccessMode::Read, 0, {}, &in)) return code;
    BmpHeader h;
    int code = parseBmpHeader(in, format, &h);
    if (code == kOk && mode != code::kParseSamplesOnly) code = readHeaderPart(env, file, in, h, dest);
    if (code == kOk && mode != code::kParseHeaderOnly) {
        uint64_t end;
        if (__builtin_add_overflow(h.dataOffset, h.pixelBytes, &end) || end > h.available) {
            code = fail(env, kInsufficientSize);  // truncated pixel data
        } else {
            code = readSamplesPart(env, in, h, dest);
        }
        markInited(dest, true);
    }
    int closed = closeAccess(env, in);
    markInited(file, true);
    return code != kOk ? code : closed;
}

int writeBmp(Environment *env, DataObject *source, DataObject *target, int32_t format) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, target)) return code;
    const int32_t compression = source->get32(Attr::compression);
    if (compression != code::kNoCompression && compression != code::kBmpRunLength) {
        return fail(env, kNonPermissibleOption);
    }
    if (int code = setAttribute(env, target, "bitOrder", code::kMostSignificantFirst)) return code;
    const int64_t bands = source->get(Attr::bDimension);
    const int32_t precision = target->get32(Attr::dataPrecision);
    const bool sameKind = source->cls == target->cls &&
                          (source->cls == ObjectClass::ColourImage || source->cls == ObjectClass::GenericImage);
    uint32_t depth = 0, entries = 0;
    if (sameKind && bands >= 4 && target->get(Attr::bDimension) >= 4) {
        depth = 32;
    } else if (sameKind && bands >= 3 && source->get32(Attr::dataPrecision) == 8) {
        depth = 24;
    } else if (sameKind && bands >= 3 && source->get32(Attr::dataPrecision) == 16) {
        return fail(env, kNonPermissibleOption);
    } else if (precision == 1 || precision == 4 || precision == 8) {
        depth = static_cast<uint32_t>(precision);
        entries = 1u << depth;
    } else {
        return fail(env, kNonPermissibleOption);
    }
    uint32_t storedCompression = 0;
    if (compression == code::kBmpRunLength) {
        if (depth != 8 && depth != 4) return fail(env, kNonPermissibleOption);
        storedCompression = depth == 8 ? 1 : 2;
    }
    const int64_t x = source->get(Attr::xDimension);
    const int64_t y = source->get(Attr::yDimension);
    int64_t width = x;
    if (depth == 1 && envAttr(env, EnvAttr::byteBoundary) != 0 && source->get(Attr::widthByteBoundary) > 0) {
        width = source->get(Attr::widthByteBoundary);
    }
    if (x < 1 || y < 1 || width > INT32_MAX || y > INT32_MAX) return fail(env, kOutOfRange);
    const uint64_t rowBytes = bmpRowLength(depth, static_cast<uint64_t>(width));
    const uint64_t imageBytes = compression == code::kBmpRunLength
                                    ? static_cast<uint64_t>(std::max<intptr_t>(source->get(Attr::size), 0))
                                    : rowBytes * static_cast<uint64_t>(y);
    const uint64_t paletteBytes = static_cast<uint64_t>(entries) * 4;
    const uint64_t headerAt = format == code::kFormatBMP ? kFileHeaderSize : 0;
    const uint64_t dataStart = headerAt + kInfoHeaderSize + paletteBytes;
    if (dataStart + imageBytes > UINT32_MAX) return fail(env, kExceedImplementation);

    std::vector<uint8_t> palette;
    if (entries != 0) {
        if (int code = buildPalette(env, source, entries, palette)) return code;
    }
    uint8_t header[kFileHeaderSize + kInfoHeaderSize] = {};
    uint8_t *info = header + headerAt;
    if (format == code::kFormatBMP) {
        header[0] = 'B';
        header[1] = 'M';
        put32(header + 2, static_cast<uint32_t>(dataStart + imageBytes));
        put32(header + 10, static_cast<uint32_t>(dataStart));
    }
    put32(info, kInfoHeaderSize);
    put32(info + 4, static_cast<uint32_t>(width));
    put32(info + 8, static_cast<uint32_t>(y));
    put16(info + 12, 1);
    put16(info + 14, depth);
    put32(info + 16, storedCompression);
    put32(info + 20, compression == code::kBmpRunLength ? static_cast<uint32_t>(imageBytes) : 0);
    if (source->format && source->format->format == code::kFormatBMP &&
        formatWord(source, "resolutionUnit") == code::kPixelsPerMetre) {
        put32(info + 24, static_cast<uint32_t>(formatWord(source, "xResolution")));
        put32(info + 28, static_cast<uint32_t>(formatWord(source, "yResolution")));
    }
    put32(info + 32, entries);
    put32(info + 36, entries);

    DataAccess *out;
    if (int code = openAccess(env, target, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, header, static_cast<size_t>(headerAt + kInfoHeaderSize));
    if (code == kOk && !palette.empty()) code = writeBytes(out, headerAt + kInfoHeaderSize, palette.data(), palette.size());
    if (code != kOk || format == code::kFormatDIBHeader) {
        int closed = closeAccess(env, out);
        return code != kOk ? code : closed;
    }

    DataAccess *in = nullptr;
    code = openAccess(env, source, AccessMode::Read, compression == code::kBmpRunLength ? 0 : 1, {}, &in);
    if (code == kOk && compression == code::kBmpRunLength) {
        std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(imageBytes, 65536)));
        for (uint64_t done = 0; code == kOk && done < imageBytes; done += block.size()) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), imageBytes - done));
            code = readBytes(in, done, block.data(), n);
            if (code == kOk) code = writeBytes(out, dataStart + done, block.data(), n);
        }
    } else if (code == kOk) {
        const int32_t sourceType = source->get32(Attr::dataType);
        const int32_t targetType = target->get32(Attr::dataType);
        bool typesMatch = sourceType == targetType &&
                          (sourceType == code::kBoolean || sourceType == code::kNonnegativeInteger);
        if (!typesMatch) code = fail(env, kMismatchDataType);
        const int64_t plane = x * y;
        const int planes = depth == 32 ? 4 : depth == 24 ? 3 : 1;
        std::vector<uint8_t> fileRow(static_cast<size_t>(rowBytes));
        std::vector<uint8_t> planeRows(static_cast<size_t>(x) * static_cast<size_t>(planes));
        const int32_t sourceOrder = source->get32(Attr::bitOrder);
        for (int64_t k = 0; code == kOk && k < y; ++k) {
            const int64_t r = y - 1 - k;
            std::memset(fileRow.data(), 0, fileRow.size());
            if (depth == 1) {
                const uint8_t *row;
                if ((code = readRow(in, r * x, &row)) != kOk) break;
                copyBits(fileRow.data(), 0, code::kMostSignificantFirst, row, static_cast<uint64_t>(r * x) % 8,
                         sourceOrder, static_cast<uint64_t>(std::min(x, width)));
            } else if (depth == 4 || depth == 8) {
                const uint8_t *row;
                if ((code = readRow(in, r * x, &row)) != kOk) break;
                if (depth == 8) {
                    std::memcpy(fileRow.data(), row, static_cast<size_t>(x));
                } else {
                    for (int64_t i = 0; i < x; ++i) {
                        fileRow[static_cast<size_t>(i / 2)] |=
                            static_cast<uint8_t>((row[i] & 15) << ((i & 1) ? 0 : 4));
                    }
                }
            } else {
                for (int p = 0; code == kOk && p < planes; ++p) {
                    const uint8_t *row;
                    if ((code = readRow(in, p * plane + r * x, &row)) != kOk) break;
                    std::memcpy(planeRows.data() + static_cast<size_t>(p) * static_cast<size_t>(x), row,
                                static_cast<size_t>(x));
                }
                if (code != kOk) break;
                const uint8_t *red = planeRows.data();
                const uint8_t *green = red + x;
                const uint8_t *blue = green + x;
                const size_t step = static_cast<size_t>(planes);
                for (int64_t i = 0; i < x; ++i) {
                    uint8_t *px = fileRow.data() + static_cast<size_t>(i) * step;
                    px[0] = blue[i];
                    px[1] = green[i];
                    px[2] = red[i];
                    if (planes == 4) px[3] = blue[x + i];
                }
            }
            if (code == kOk) code = writeBytes(out, dataStart + static_cast<uint64_t>(k) * rowBytes, fileRow.data(), fileRow.size());
        }
    }
    int closedIn = closeAccess(env, in);
    int closedOut = closeAccess(env, out);
    if (code != kOk) return code;
    return closedIn != kOk ? closedIn : closedOut;
}

bool dibBlockSize(const DataObject *image, uint64_t *bytes, uint32_t *depth) {
    const int64_t w = image->get(Attr::xDimension);
    const int64_t h = image->get(Attr::yDimension);
    const int64_t bands = image->get(Attr::bDimension);
    const int32_t precision = image->get32(Attr::dataPrecision);
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return false;
    uint64_t palette;
    if (precision == 8 && bands == 3) {
        *depth = 24;
        palette = 0;
    } else if (bands == 1 && (precision == 1 || precision == 4 || precision == 8)) {
        *depth = static_cast<uint32_t>(precision);
        palette = (1ull << precision) * 4;
    } else {
        return false;
    }
    uint64_t rows;
    if (__builtin_mul_overflow(bmpRowLength(*depth, static_cast<uint64_t>(w)), static_cast<uint64_t>(h), &rows)) {
        return false;
    }
    *bytes = rows + kInfoHeaderSize + palette;
    return *bytes <= UINT32_MAX;
}

int imageToDib(Environment *env, DataObject *image, HGLOBAL *bitmap) {
    *bitmap = nullptr;
    if (int code = checkObject(env, image)) return code;
    uint64_t bytes;
    uint32_t depth;
    if (!dibBlockSize(image, &bytes, &depth)) return fail(env, kNonPermissibleOption);
    HGLOBAL handle = GlobalAlloc(GHND, static_cast<SIZE_T>(bytes));
    if (handle == nullptr) return fail(env, kSystemError);
    void *block = GlobalLock(handle);
    if (block == nullptr) {
        GlobalFree(handle);
        return fail(env, kSystemError);
    }
    const CmiAttribute list[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(block)},
        {"size", static_cast<intptr_t>(bytes)},
        {"fileFormat", code::kFormatPackedDIB},
    };
    int code = kOk;
    DataObject *target = createObject(env, nullptr, image->cls, image, list);
    if (target == nullptr) {
        code = lastError(env);
    } else {
        code = writeBmp(env, image, target, code::kFormatPackedDIB);
        int destroyed = destroyObject(env, target);
        if (code == kOk) code = destroyed;
    }
    GlobalUnlock(handle);
    if (code != kOk) {
        GlobalFree(handle);
        return code;
    }
    *bitmap = handle;
    return kOk;
}

int dibToImage(Environment *env, const void *bitmap, uint64_t size, int32_t repository, DataObject **image) {
    *image = nullptr;
    if (int code = checkEnvironment(env)) return code;
    if (bitmap == nullptr) return fail(env, kNonPermissibleOption);
    DataObject *lut = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr);
    if (lut == nullptr) return lastError(env);
    const CmiAttribute imageList[] = {
        {"repository", repository},
        {"lut", reinterpret_cast<intptr_t>(lut)},
    };
    DataObject *result = createObject(env, "oImage", ObjectClass::GenericImage, nullptr, imageList);
    if (result == nullptr) {
        int code = lastError(env);
        destroyObject(env, lut);
        return code;
    }
    const CmiAttribute fileList[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(bitmap)},
        {"size", static_cast<intptr_t>(size)},
        {"fileFormat", code::kFormatPackedDIB},
    };
    DataObject *file = createObject(env, nullptr, ObjectClass::GenericImage, result, fileList);
    int code = file == nullptr ? lastError(env) : readBmp(env, file, result, code::kParseAll, code::kFormatPackedDIB);
    if (file != nullptr) destroyObject(env, file);
    if (code != kOk) {
        destroyObject(env, result);
        destroyObject(env, lut);
        return code;
    }
    *image = result;
    return kOk;
}

}  // namespace orvo
