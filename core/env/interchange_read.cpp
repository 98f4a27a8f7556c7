// The reading side of the exported interface: format, page count and
// attribute inquiries, and reading images as packed bitmaps, from files and
// from caller memory.
//
// Every function clears its status, refuses bad arguments with -100 before
// any work, opens its own environment, and closes it before returning; a
// close error replaces the status and zeroes the result.
#include <cstring>
#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/dispatch.h"
#include "core/env/exported.h"
#include "core/env/object.h"
#include "core/env/palette.h"
#include "core/formats/bmp.h"
#include "orvo/orvocore.h"
#include "platform/file.h"

namespace orvo {
namespace {

struct FormatCode {
    int32_t external;
    int32_t internal;
};

constexpr FormatCode kFormatCodes[] = {
    {CMI_FORMAT_TIFF, code::kFormatTIFF}, {CMI_FORMAT_JPEG, code::kFormatJPEG},
    {CMI_FORMAT_GIF, code::kFormatGIF},   {CMI_FORMAT_BMP, code::kFormatBMP},
    {CMI_FORMAT_PCX, code::kFormatPCX},   {CMI_FORMAT_PNG, code::kFormatPNG},
    {CMI_FORMAT_SIA, code::kFormatSIA},
};

int32_t toInternalFormat(int32_t external) {
    for (const FormatCode &f : kFormatCodes) {
        if (f.external == external) return f.internal;
    }
    return 0;
}

int32_t toExternalFormat(int32_t internal) {
    for (const FormatCode &f : kFormatCodes) {
        if (f.internal == internal) return f.external;
    }
    return 0;
}

// Where the image file of a call is.
struct Input {
    const char *fileName = nullptr;
    const uint8_t *address = nullptr;
    uint64_t size = 0;
    bool inMemory() const { return address != nullptr; }
};

// Working images live in temporary files when the caller asks for any
// repository but 33, else in global memory.
int32_t workingRepository(const CmiAttribute *attrs, int32_t count) {
    const CmiAttribute *pair = findOption(attrs, count, "repository");
    return pair != nullptr && pair->value != CMI_REPOSITORY_MEMORY ? code::kFile : code::kWorkSpace;
}

// "progressive" and "interlacePass" for PNG reads; false when the pass is
// outside 1..7.
bool applyPngOptions(Environment *env, const CmiAttribute *attrs, int32_t count) {
    if (const CmiAttribute *pass = findOption(attrs, count, "interlacePass")) {
        if (pass->value < 1 || pass->value > 7) return false;
        setEnvAttr(env, EnvAttr::interlacePass, static_cast<int32_t>(pass->value));
    }
    if (const CmiAttribute *progressive = findOption(attrs, count, "progressive")) {
        setEnvAttr(env, EnvAttr::progressive, static_cast<int32_t>(progressive->value));
    }
    return true;
}

int parseInput(Environment *env, const Input &input, DataObject *destination, int32_t format, int32_t mode) {
    if (input.inMemory()) {
        const CmiAttribute list[] = {
            {"applicationAddressSpace", reinterpret_cast<intptr_t>(input.address)},
            {"size", static_cast<intptr_t>(input.size)},
        };
        return parseImage(env, nullptr, destination, format, mode, list);
    }
    return parseImage(env, input.fileName, destination, format, mode, {});
}

int readInput(Environment *env, const Input &input, DataObject *destination, int32_t format) {
    if (input.inMemory()) return readImageFromMemory(env, input.address, input.size, destination, format, {});
    return readImage(env, input.fileName, destination, format, {});
}

// External colour mode of a parsed image, or -1 when it has none.
int32_t colourMode(int32_t format, const DataObject *image) {
    const int32_t precision = image->get32(Attr::dataPrecision);
    const int64_t bands = image->get(Attr::bDimension);
    switch (format) {
    case code::kFormatGIF:
        if (precision == 1) return CMI_MODE_BITMAP;
        if (precision >= 2 && precision <= 4) return CMI_MODE_16_COLOURS;
        if (precision >= 5 && precision <= 8) return CMI_MODE_256_COLOURS;
        return -1;
    case code::kFormatSIA: return precision == 1 ? CMI_MODE_BITMAP : -1;
    case code::kFormatJPEG:
        if (precision == 8 && bands == 3) return CMI_MODE_RGB;
        if (precision == 8 && bands == 1) return CMI_MODE_GRAYSCALE;
        return -1;
    case code::kFormatPCX:
        if (precision == 1) return CMI_MODE_BITMAP;
        if (precision == 4) return CMI_MODE_16_COLOURS;
        if (precision == 8 && bands == 1) return CMI_MODE_256_COLOURS;
        if (precision == 8 && bands == 3) return CMI_MODE_RGB;
        return -1;
    case code::kFormatPNG:
        if (precision == 8 && (bands == 3 || bands == 4)) return CMI_MODE_RGB;
        if (precision == 1) return CMI_MODE_BITMAP;
        if (precision == 2 || precision == 4) return CMI_MODE_16_COLOURS;
        if (precision == 8 && (bands == 1 || bands == 2)) return CMI_MODE_256_COLOURS;
        return -1;
    default:  // TIFF and BMP
        if (precision == 8 && bands == 3) return CMI_MODE_RGB;
        if (precision == 1) return CMI_MODE_BITMAP;
        if (precision == 4) return CMI_MODE_16_COLOURS;
        if (precision == 8 && bands == 1) return CMI_MODE_256_COLOURS;
        return -1;
    }
}

// External compression code, or -1 when the format does not answer it with
// this internal code.  `answered` is false for formats that leave the word
// untouched.
int32_t externalCompression(int32_t format, int32_t internal, bool *answered) {
    *answered = true;
    switch (format) {
    case code::kFormatTIFF:
        switch (internal) {
        case code::kNoCompression: return CMI_COMPRESSION_NONE;
        case code::kLZW: return CMI_COMPRESSION_LZW;
        case code::kFaxModifiedHuffman: return CMI_COMPRESSION_MH;
        case code::kFaxT4OneD: return CMI_COMPRESSION_G3;
        case code::kFaxT4TwoD: return CMI_COMPRESSION_G3_2D;
        case code::kFaxT6: return CMI_COMPRESSION_G4;
        case code::kPackBits: return CMI_COMPRESSION_PACKBITS;
        default: return -1;
        }
    case code::kFormatSIA:
        switch (internal) {
        case code::kNoCompression: return CMI_COMPRESSION_NONE;
        case code::kFaxT4OneD: return CMI_COMPRESSION_G3;
        case code::kFaxT4TwoD: return CMI_COMPRESSION_G3_2D;
        case code::kFaxT6: return CMI_COMPRESSION_G4;
        default: return -1;
        }
    case code::kFormatBMP:
        if (internal == code::kNoCompression) return CMI_COMPRESSION_NONE;
        if (internal == code::kBmpRunLength) return CMI_COMPRESSION_BMP_RLE;
        return -1;
    default: *answered = false; return 0;
    }
}

// Fills the value list for image `index` of a parsed image.  Returns 0 or
// -100 when a value cannot be expressed.
int32_t fillValues(int32_t format, const DataObject *image, CmiAttribute *values, int32_t count, int32_t index) {
    for (int32_t i = 0; i < count; ++i) {
        const char *name = values[i].name;
        auto *word = reinterpret_cast<int32_t *>(values[i].value);
        if (name == nullptr || word == nullptr) continue;
        word += index;
        if (std::strcmp(name, "compression") == 0) {
            bool answered;
            int32_t value = externalCompression(format, image->get32(Attr::compression), &answered);
            if (!answered) continue;
            if (value < 0) return kRefusedArgument;
            *word = value;
        } else if (std::strcmp(name, "xDimension") == 0) {
            *word = image->get32(Attr::xDimension);
        } else if (std::strcmp(name, "yDimension") == 0) {
            *word = image->get32(Attr::yDimension);
        } else if (std::strcmp(name, "colorMode") == 0) {
            int32_t mode = colourMode(format, image);
            if (mode < 0) return kRefusedArgument;
            *word = mode;
        } else if (std::strcmp(name, "photometricInterpretation") == 0) {
            *word = CMI_PHOTOMETRIC_ANSWER;
        } else if (std::strcmp(name, "predictor") == 0 && format == code::kFormatTIFF) {
            *word = image->get32(Attr::eolState);
        } else if (std::strcmp(name, "interlaced") == 0 &&
                   (format == code::kFormatGIF || format == code::kFormatPNG)) {
            *word = formatWord(image, "interlacedImage") != 0 ? (format == code::kFormatPNG ? 1 : static_cast<int32_t>(formatWord(image, "interlacedImage"))) : 0;
        } else if ((std::strcmp(name, "transparency") == 0 || std::strcmp(name, "transparencyPaletteIndex") == 0) &&
                   format == code::kFormatGIF) {
            *word = static_cast<int32_t>(formatWord(image, name));
        }
    }
    return kOk;
}

int32_t inquireFormat(const Input &input, int32_t *status) {
    CallEnvironment call(status);
    if (!call.ok()) return 0;
    Environment *env = call.get();
    int32_t internal = input.inMemory() ? detectMemoryFormat(env, input.address, input.size)
                                        : detectFileFormat(env, input.fileName);
    int32_t result = 0;
    if (internal == 0) {
        *status = lastError(env);
    } else if ((result = toExternalFormat(internal)) == 0) {
        *status = kRefusedArgument;  // a format without an external code
    }
    if (call.close() != kOk) return 0;
    return *status == kOk ? result : 0;
}

int32_t inquireImageNumber(const Input &input, int32_t format, int32_t *status) {
    if (format == CMI_FORMAT_GIF) return 1;
    if (format != CMI_FORMAT_TIFF) {
        *status = kRefusedArgument;
        return 0;
    }
    CallEnvironment call(status);
    if (!call.ok()) return 0;
    Environment *env = call.get();
    int32_t pages = input.inMemory() ? countTiffPagesInMemory(env, input.address, input.size)
                                     : countTiffPages(env, input.fileName);
    if (pages == 0) *status = lastError(env);
    if (call.close() != kOk) return 0;
    return pages;
}

int32_t inquireTiffValues(Environment *env, const Input &input, int32_t imageCount, int32_t firstImage,
                          CmiAttribute *values, int32_t valueCount) {
    int32_t pages = input.inMemory() ? countTiffPagesInMemory(env, input.address, input.size)
                                     : countTiffPages(env, input.fileName);
    if (pages == 0) return lastError(env);
    int32_t n = std::min(imageCount, pages);
    const CmiAttribute compositeList[] = {
        {"entries", n}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", firstImage}};
    DataObject *composite = createObject(env, "oComposite", ObjectClass::CompositeIDArray, nullptr, compositeList);
    if (composite == nullptr) return lastError(env);
    for (int32_t i = 0; i < n; ++i) {
        const CmiAttribute imageList[] = {{"repository", code::kWorkSpace}};
        DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
        if (image == nullptr) return lastError(env);
        if (int code = compositeSet(env, image, composite, i)) return code;
    }
    if (int code = parseInput(env, input, composite, code::kFormatTIFF, code::kParseHeaderOnly)) return code;
    for (int32_t i = 0; i < n; ++i) {
        DataObject *image;
        if (int code = compositeGet(env, composite, i, &image)) return code;
        if (image == nullptr) return fail(env, kInvalidInstance);
        if (int32_t code = fillValues(code::kFormatTIFF, image, values, valueCount, i)) return code;
    }
    return kOk;
}

int32_t inquireValues(const Input &input, int32_t imageCount, int32_t firstImage, int32_t format,
                      CmiAttribute *values, int32_t valueCount, int32_t *status) {
    const int32_t internal = toInternalFormat(format);
    if (internal == 0 || valueCount < 0 || (values == nullptr && valueCount > 0) ||
        ((format == CMI_FORMAT_TIFF || format == CMI_FORMAT_GIF) && (imageCount < 1 || firstImage < 0))) {
        *status = kRefusedArgument;
        return *status;
    }
    CallEnvironment call(status);
    if (!call.ok()) return *status;
    Environment *env = call.get();
    if (internal == code::kFormatTIFF) {
        *status = inquireTiffValues(env, input, imageCount, firstImage, values, valueCount);
    } else {
        DataObject *image = createObject(env, "oImage", ObjectClass::GenericImage, nullptr);
        int code = image == nullptr ? lastError(env) : parseInput(env, input, image, internal, code::kParseHeaderOnly);
        *status = code != kOk ? code : fillValues(internal, image, values, valueCount, 0);
    }
    call.close();
    return *status;
}

// A bitmap file whose packed DIB is the file minus its file header, byte for
// byte: the 40-byte header, a palette of the size the header implies, and
// the pixels right behind it.
bool isCanonicalBitmap(const BmpHeader &h) {
    if (h.headerSize != kInfoHeaderSize || h.compression != 0) return false;
    if (h.depth != 1 && h.depth != 4 && h.depth != 8 && h.depth != 24) return false;
    uint64_t entries = h.coloursUsed;
    if (h.depth <= 8) {
        if (entries > (1u << h.depth)) return false;
        if (entries == 0) entries = 1u << h.depth;
    }
    return h.dataOffset == kFileHeaderSize + kInfoHeaderSize + entries * 4;
}

// Reads the headers of the bitmap in `data`, checked against its bytes.
int bitmapHeader(Environment *env, const uint8_t *data, uint64_t size, BmpHeader *h) {
    if (size < kFileHeaderSize) return fail(env, kSyntaxError);
    const CmiAttribute fileList[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(data)},
        {"size", static_cast<intptr_t>(size)},
    };
    DataObject *file = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, fileList);
    if (file == nullptr) return lastError(env);
    markInited(file, true);
    DataAccess *in;
    int code = openAccess(env, file, AccessMode::Read, 0, {}, &in);
    if (code == kOk) {
        code = parseBmpHeader(in, code::kFormatBMP, h);
        closeAccess(env, in);
    }
    destroyObject(env, file);
    return code;
}

// A new unlocked block of `bytes` bytes that `fill` writes completely.
template <class Fill>
int newBitmapBlock(Environment *env, uint64_t bytes, HGLOBAL *out, Fill &&fill) {
    // Every byte is written below, so the block is not cleared first.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(bytes));
    if (block == nullptr) return fail(env, kSystemError);
    auto *target = static_cast<uint8_t *>(GlobalLock(block));
    int code = target == nullptr ? fail(env, kSystemError) : fill(target);
    GlobalUnlock(block);
    if (code != kOk) {
        GlobalFree(block);
        return code;
    }
    *out = block;
    return kOk;
}

// The largest header and palette a bitmap file can have in front of
// pixels that are copied unchanged.
constexpr uint64_t kCanonicalPrefix = kFileHeaderSize + kInfoHeaderSize + 256 * 4;

// Reads a bitmap file whose packed DIB is the file minus its file header
// straight into the returned block; other files are read whole and go the
// general way.
int readBitmapFile(Environment *env, const char *fileName, int32_t repository, HGLOBAL *out);

int readBitmapBmp(Environment *env, const uint8_t *data, uint64_t size, int32_t repository, HGLOBAL *out) {
    *out = nullptr;
    BmpHeader h;
    if (int code = bitmapHeader(env, data, size, &h)) return code;
    const bool complete = h.dataOffset + h.pixelBytes <= size;

    if (isCanonicalBitmap(h)) {
        if (!complete) return fail(env, kInsufficientSize);
        const uint64_t bytes = h.dataOffset - kFileHeaderSize + h.pixelBytes;
        return newBitmapBlock(env, bytes, out, [&](uint8_t *target) {
            std::memcpy(target, data + kFileHeaderSize, static_cast<size_t>(bytes));
            return kOk;
        });
    }

    if (h.compression == 0 && (h.depth == 16 || h.depth == 32)) {
        // Converted row by row straight into the pixel area of a 24-bit DIB.
        if (!complete) return fail(env, kInsufficientSize);
        const uint64_t rowBytes = bmpRowLength(24, static_cast<uint64_t>(h.width));
        const uint64_t pixels = rowBytes * static_cast<uint64_t>(h.height);
        if (kInfoHeaderSize + pixels > UINT32_MAX) return fail(env, kExceedImplementation);
        return newBitmapBlock(env, kInfoHeaderSize + pixels, out, [&](uint8_t *target) {
            const CmiAttribute pixelList[] = {
                {"repository", code::kApplicationAddressSpace},
                {"applicationAddressSpace", reinterpret_cast<intptr_t>(target + kInfoHeaderSize)},
                {"size", static_cast<intptr_t>(pixels)},
                {"xDimension", static_cast<intptr_t>(rowBytes)},
                {"yDimension", h.height},
                {"dataType", code::kNonnegativeInteger},
                {"pixelInterpretation", code::kDibRowOrder},
            };
            DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, pixelList);
            if (image == nullptr) return lastError(env);
            const CmiAttribute source[] = {
                {"applicationAddressSpace", reinterpret_cast<intptr_t>(data)},
                {"size", static_cast<intptr_t>(size)},
            };
            if (int code = parseImage(env, nullptr, image, code::kFormatBMP, code::kParseSamplesOnly, source)) {
                return code;
            }
            // The information header in front of the pixels.
            const CmiAttribute headerList[] = {
                {"xDimension", h.width}, {"yDimension", h.height}, {"bDimension", 3},
                {"dataType", code::kNonnegativeInteger}, {"repository", code::kWorkSpace}};
            DataObject *shape = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, headerList);
            if (shape == nullptr) return lastError(env);
            const CmiAttribute where[] = {
                {"applicationAddressSpace", reinterpret_cast<intptr_t>(target)},
                {"size", static_cast<intptr_t>(kInfoHeaderSize)},
            };
            return generateImage(env, shape, nullptr, code::kFormatDIBHeader, where);
        });
    }

    // Everything else (other header kinds, gaps before the pixels, coded
    // pixels) goes through an image object.
    DataObject *lut = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr);
    if (lut == nullptr) return lastError(env);
    const CmiAttribute imageList[] = {{"repository", repository}, {"lut", reinterpret_cast<intptr_t>(lut)}};
    DataObject *image = createObject(env, "oImage", ObjectClass::GenericImage, nullptr, imageList);
    if (image == nullptr) return lastError(env);
    if (int read = readImageFromMemory(env, data, size, image, code::kFormatBMP, {})) return read;
    return imageToDib(env, image, out);
}

int readBitmapFile(Environment *env, const char *fileName, int32_t repository, HGLOBAL *out) {
    *out = nullptr;
    platform::File file;
    if (!file.open(fileName, platform::FileMode::Read)) return fail(env, kFileOpenFailure);
    const int64_t size = file.size();
    if (size < 0) return fail(env, kSystemError);
    uint8_t prefix[kCanonicalPrefix];
    const int64_t got = file.readAt(0, prefix, static_cast<size_t>(std::min<int64_t>(size, sizeof prefix)));
    if (got < 0) return fail(env, kSystemError);
    BmpHeader h;
    if (bitmapHeader(env, prefix, static_cast<uint64_t>(got), &h) == kOk && isCanonicalBitmap(h) &&
        h.dataOffset <= static_cast<uint64_t>(got)) {
        env->lastError = kOk;
        if (h.dataOffset + h.pixelBytes > static_cast<uint64_t>(size)) return fail(env, kInsufficientSize);
        const uint64_t headerBytes = h.dataOffset - kFileHeaderSize;
        return newBitmapBlock(env, headerBytes + h.pixelBytes, out, [&](uint8_t *target) {
            std::memcpy(target, prefix + kFileHeaderSize, static_cast<size_t>(headerBytes));
            int64_t n = file.readAt(h.dataOffset, target + headerBytes, static_cast<size_t>(h.pixelBytes));
            if (n < 0) return fail(env, kSystemError);
            return static_cast<uint64_t>(n) == h.pixelBytes ? kOk : fail(env, kInsufficientSize);
        });
    }
    env->lastError = kOk;
    file.close();
    void *whole;
    const uint8_t *data;
    uint64_t length;
    if (int code = loadFile(env, fileName, &whole, &data, &length)) return code;
    int code = readBitmapBmp(env, data, length, repository, out);
    releaseFile(whole);
    return code;
}

// Pages of a TIFF file as bitmaps: reads min(count, pages) pages from
// `first` on and stores one bitmap per page.
int readBitmapsTiff(Environment *env, const Input &input, HGLOBAL *handles, int32_t count, int32_t first,
                    int32_t repository, int32_t *stored) {
    *stored = 0;
    const int32_t pages = input.inMemory() ? countTiffPagesInMemory(env, input.address, input.size)
                                           : countTiffPages(env, input.fileName);
    if (pages == 0) return lastError(env);
    const int32_t n = std::min(count, pages);
    for (int32_t i = 0; i < n; ++i) handles[i] = nullptr;
    const CmiAttribute compositeList[] = {
        {"entries", n}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", first}};
    DataObject *composite = createObject(env, "oComposite", ObjectClass::CompositeIDArray, nullptr, compositeList);
    if (composite == nullptr) return lastError(env);
    for (int32_t i = 0; i < n; ++i) {
        const CmiAttribute lutList[] = {{"bDimension", 3}};
        DataObject *lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr, lutList);
        if (lut == nullptr) return lastError(env);
        const CmiAttribute imageList[] = {{"repository", repository}, {"lut", reinterpret_cast<intptr_t>(lut)}};
        DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
        if (image == nullptr) return lastError(env);
        if (int code = compositeSet(env, image, composite, i)) return code;
    }
    if (int code = readInput(env, input, composite, code::kFormatTIFF)) return code;
    for (int32_t i = 0; i < composite->get(Attr::xDimension); ++i) {
        DataObject *image;
        if (int code = compositeGet(env, composite, i, &image)) return code;
        if (image == nullptr) return fail(env, kInvalidInstance);
        const intptr_t photometric = formatWord(image, "photometricInterpretation");
        if (image->get(Attr::bDimension) == 4 || photometric == code::kSeparated) return fail(env, kSyntaxError);
        if (image->get(Attr::bDimension) == 1 &&
            (photometric == code::kMinIsWhite || photometric == code::kMinIsBlack)) {
            if (int code = setGreyPalette(env, image, photometric == code::kMinIsWhite)) return code;
        }
        if (int code = imageToDib(env, image, &handles[i])) return code;
        ++*stored;
    }
    return kOk;
}

// Reads one image of a format read through an image object.
int readBitmapGeneral(Environment *env, const Input &input, int32_t format, int32_t repository, HGLOBAL *out) {
    DataObject *lut = nullptr;
    if (format != code::kFormatJPEG) {
        const CmiAttribute lutList[] = {{"bDimension", 3}};
        lut = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr, lutList);
        if (lut == nullptr) return lastError(env);
    }
    const CmiAttribute imageList[] = {{"repository", repository}, {"lut", reinterpret_cast<intptr_t>(lut)}};
    DataObject *image = createObject(env, "oImage", ObjectClass::GenericImage, nullptr, imageList);
    if (image == nullptr) return lastError(env);
    if (int code = readInput(env, input, image, format)) return code;
    return imageToDib(env, image, out);
}

int32_t readAndParse(const Input &input, HGLOBAL *handles, int32_t imageCount, int32_t format, int32_t firstImage,
                     const CmiAttribute *attrs, int32_t count, int32_t *status) {
    const int32_t internal = toInternalFormat(format);
    if (internal == 0 || handles == nullptr || imageCount < 1 || firstImage < 0 || count < 0) {
        *status = kRefusedArgument;
        return 0;
    }
    CallEnvironment call(status);
    if (!call.ok()) return 0;
    Environment *env = call.get();
    const int32_t repository = workingRepository(attrs, count);
    int32_t stored = 0;
    int code = kOk;
    if (internal == code::kFormatPNG && !applyPngOptions(env, attrs, count)) {
        code = kRefusedArgument;
    } else if (internal == code::kFormatBMP) {
        handles[0] = nullptr;
        if (input.inMemory()) {
            code = readBitmapBmp(env, input.address, input.size, repository, &handles[0]);
        } else {
            code = readBitmapFile(env, input.fileName, repository, &handles[0]);
        }
        stored = code == kOk ? 1 : 0;
    } else if (internal == code::kFormatTIFF) {
        code = readBitmapsTiff(env, input, handles, imageCount, firstImage, repository, &stored);
    } else if (firstImage == 0 || internal == code::kFormatGIF) {
        handles[0] = nullptr;
        code = readBitmapGeneral(env, input, internal, repository, &handles[0]);
        stored = code == kOk ? 1 : 0;
    } else {
        code = kRefusedArgument;
    }
    if (code != kOk) *status = code;
    if (call.close() != kOk || *status != kOk) {
        for (int32_t i = 0; i < stored; ++i) {
            GlobalFree(handles[i]);
            handles[i] = nullptr;
        }
        return 0;
    }
    return stored;
}

Input memoryInput(const void *address, int32_t size) {
    Input input;
    input.address = static_cast<const uint8_t *>(address);
    input.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    return input;
}

Input fileInput(const char *fileName) {
    Input input;
    input.fileName = fileName;
    return input;
}

}  // namespace
}  // namespace orvo

using namespace orvo;

extern "C" {

int32_t CmiInquireFileFormat(const char *fileName, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (fileName == nullptr || count < 0) {
            *st = kRefusedArgument;
            return 0;
        }
        return inquireFormat(fileInput(fileName), st);
    });
}

int32_t CmiInquireAddressSpaceFormat(const void *address, int32_t size, const CmiAttribute *attrs, int32_t count,
                                     int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (address == nullptr || size < 0 || count < 0) {
            *st = kRefusedArgument;
            return 0;
        }
        return inquireFormat(memoryInput(address, size), st);
    });
}

int32_t CmiInquireImageNumber(const char *fileName, int32_t format, const CmiAttribute *attrs, int32_t count,
                              int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (format == CMI_FORMAT_TIFF && fileName == nullptr) {
            *st = kRefusedArgument;
            return 0;
        }
        return inquireImageNumber(fileInput(fileName), format, st);
    });
}

int32_t CmiInquireImageNumberAddressSpace(const void *address, int32_t format, int32_t size,
                                          const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (format == CMI_FORMAT_TIFF && (address == nullptr || size < 0)) {
            *st = kRefusedArgument;
            return 0;
        }
        return inquireImageNumber(memoryInput(address, size), format, st);
    });
}

int32_t CmiInquireValues(const char *fileName, int32_t imageCount, int32_t firstImage, int32_t format,
                         CmiAttribute *values, int32_t valueCount, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (fileName == nullptr) return *st = kRefusedArgument;
        return inquireValues(fileInput(fileName), imageCount, firstImage, format, values, valueCount, st);
    });
}

int32_t CmiInquireValuesAddressSpace(const void *address, int32_t imageCount, int32_t firstImage, int32_t format,
                                     int32_t size, CmiAttribute *values, int32_t valueCount, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (address == nullptr || size < 0) return *st = kRefusedArgument;
        return inquireValues(memoryInput(address, size), imageCount, firstImage, format, values, valueCount, st);
    });
}

int32_t CmiReadAndParse(const char *fileName, HGLOBAL *handles, int32_t imageCount, int32_t format,
                        int32_t firstImage, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (fileName == nullptr) {
            *st = kRefusedArgument;
            return 0;
        }
        return readAndParse(fileInput(fileName), handles, imageCount, format, firstImage, attrs, count, st);
    });
}

int32_t CmiImportAndParse(const void *address, HGLOBAL *handles, int32_t imageCount, int32_t format,
                          int32_t firstImage, int32_t size, const CmiAttribute *attrs, int32_t count,
                          int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> int32_t {
        if (address == nullptr || size < 0) {
            *st = kRefusedArgument;
            return 0;
        }
        return readAndParse(memoryInput(address, size), handles, imageCount, format, firstImage, attrs, count, st);
    });
}

}  // extern "C"
