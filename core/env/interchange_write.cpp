// The writing side of the exported interface: packed bitmaps written as
// image files, into a file, a heap buffer or a global memory handle.
//
// Files are written beside their final name and renamed over it only when
// complete, so a failed write leaves no file behind and an existing file
// unchanged.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/codecs/compression.h"
#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/dispatch.h"
#include "core/env/exported.h"
#include "core/env/object.h"
#include "core/env/palette.h"
#include "core/formats/bmp.h"
#include "core/process/colourmode.h"
#include "core/process/frame.h"
#include "core/process/geometry.h"
#include "core/process/planes.h"
#include "core/process/point.h"
#include "orvo/orvocore.h"
#include "platform/file.h"

namespace orvo {
namespace {

int32_t writableFormat(int32_t external) {
    switch (external) {
    case CMI_FORMAT_TIFF: return code::kFormatTIFF;
    case CMI_FORMAT_JPEG: return code::kFormatJPEG;
    case CMI_FORMAT_GIF: return code::kFormatGIF;
    case CMI_FORMAT_BMP: return code::kFormatBMP;
    case CMI_FORMAT_PCX: return code::kFormatPCX;
    case CMI_FORMAT_PNG: return code::kFormatPNG;
    default: return 0;
    }
}

// The write options in internal codes, checked.
struct WriteOptions {
    int32_t compression = 0;
    int32_t newSubfileType = 252;
    int32_t predictor = 0;
    int32_t k = 4;
    int32_t quality = 5;
    int32_t samplingFactor = 240;
    bool interlaced = false;
    int32_t transparency = 0;
    int32_t transparencyIndex = 0;
    int32_t repository = code::kWorkSpace;
};

bool readOptions(int32_t format, const CmiAttribute *attrs, int32_t count, WriteOptions *o) {
    if (const CmiAttribute *p = findOption(attrs, count, "compression")) {
        if (format == code::kFormatTIFF) {
            switch (p->value) {
            case CMI_COMPRESSION_NONE: o->compression = 0; break;
            case CMI_COMPRESSION_LZW: o->compression = code::kLZW; break;
            case CMI_COMPRESSION_MH: o->compression = code::kFaxModifiedHuffman; break;
            case CMI_COMPRESSION_G3: o->compression = code::kFaxT4OneD; break;
            case CMI_COMPRESSION_G3_2D: o->compression = code::kFaxT4TwoD; break;
            case CMI_COMPRESSION_G4: o->compression = code::kFaxT6; break;
            case CMI_COMPRESSION_PACKBITS: o->compression = code::kPackBits; break;
            default: return false;
            }
        } else if (format == code::kFormatBMP) {
            if (p->value == CMI_COMPRESSION_NONE) o->compression = 0;
            else if (p->value == CMI_COMPRESSION_BMP_RLE) o->compression = code::kBmpRunLength;
            else return false;
        }
    }
    if (const CmiAttribute *p = findOption(attrs, count, "newSubfileType")) {
        if (p->value == 34) o->newSubfileType = 252;
        else if (p->value == 36) o->newSubfileType = 254;
        else return false;
    }
    if (const CmiAttribute *p = findOption(attrs, count, "samplingFactor")) {
        if (p->value < 37 || p->value > 39) return false;
        o->samplingFactor = static_cast<int32_t>(p->value - 37 + 238);
    }
    if (const CmiAttribute *p = findOption(attrs, count, "predictor")) o->predictor = static_cast<int32_t>(p->value);
    if (const CmiAttribute *p = findOption(attrs, count, "k")) o->k = static_cast<int32_t>(p->value);
    if (const CmiAttribute *p = findOption(attrs, count, "quarityFactor")) o->quality = static_cast<int32_t>(p->value);
    if (const CmiAttribute *p = findOption(attrs, count, "interlaced")) o->interlaced = p->value != 0;
    if (const CmiAttribute *p = findOption(attrs, count, "transparency")) o->transparency = static_cast<int32_t>(p->value);
    if (const CmiAttribute *p = findOption(attrs, count, "transparencyPaletteIndex")) {
        o->transparencyIndex = static_cast<int32_t>(p->value);
    }
    if (const CmiAttribute *p = findOption(attrs, count, "repository")) {
        o->repository = p->value != CMI_REPOSITORY_MEMORY ? code::kFile : code::kWorkSpace;
    }
    return true;
}

// The header fields of a packed bitmap, checked against its block.
struct DibLayout {
    uint32_t depth = 0;
    uint32_t paletteBytes = 0;
    uint64_t bytes = 0;  // header + palette + pixels
};

bool plainDib(const uint8_t *dib, size_t size, DibLayout *l) {
    if (size < kInfoHeaderSize) return false;
    uint32_t headerSize, compression, used;
    int32_t width, height;
    uint16_t depth;
    std::memcpy(&headerSize, dib, 4);
    std::memcpy(&width, dib + 4, 4);
    std::memcpy(&height, dib + 8, 4);
    std::memcpy(&depth, dib + 14, 2);
    std::memcpy(&compression, dib + 16, 4);
    std::memcpy(&used, dib + 32, 4);
    if (headerSize != kInfoHeaderSize || width < 1 || height < 1 || compression != 0) return false;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24) return false;
    uint64_t entries = depth <= 8 ? (used != 0 ? used : 1u << depth) : used;
    if (depth <= 8 && entries > (1u << depth)) return false;
    l->depth = depth;
    l->paletteBytes = static_cast<uint32_t>(entries * 4);
    l->bytes = kInfoHeaderSize + l->paletteBytes + bmpRowLength(depth, static_cast<uint64_t>(width)) * uint64_t(height);
    return l->bytes <= size;
}

// Writes a plain packed bitmap as a BMP file without an environment: the
// file header, then the block (a 24-bit bitmap without palette entries).
// False when the bitmap is not a plain 1, 4, 8 or 24-bit one.
bool writeBitmapFile(HGLOBAL handle, const char *fileName, int32_t *status) {
    auto *dib = static_cast<const uint8_t *>(GlobalLock(handle));
    if (dib == nullptr) {
        *status = kRefusedArgument;
        return true;
    }
    DibLayout l;
    if (!plainDib(dib, GlobalSize(handle), &l)) {
        GlobalUnlock(handle);
        return false;
    }
    const uint32_t palette = l.depth == 24 ? 0 : l.paletteBytes;
    const uint64_t pixels = l.bytes - kInfoHeaderSize - l.paletteBytes;
    const uint64_t fileSize = kFileHeaderSize + kInfoHeaderSize + palette + pixels;
    std::vector<uint8_t> file;
    try {
        file.resize(static_cast<size_t>(fileSize));
    } catch (const std::bad_alloc &) {
        GlobalUnlock(handle);
        *status = kSystemError;
        return true;
    }
    auto put32 = [&file](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(fileSize));
    put32(10, kFileHeaderSize + kInfoHeaderSize + palette);
    std::memcpy(&file[kFileHeaderSize], dib, kInfoHeaderSize);
    if (l.depth == 24) {
        put32(kFileHeaderSize + 32, 0);
        put32(kFileHeaderSize + 36, 0);
    }
    std::memcpy(&file[kFileHeaderSize + kInfoHeaderSize], dib + kInfoHeaderSize, palette);
    std::memcpy(&file[kFileHeaderSize + kInfoHeaderSize + palette], dib + kInfoHeaderSize + l.paletteBytes,
                static_cast<size_t>(pixels));
    GlobalUnlock(handle);
    if (!platform::writeWholeFile(fileName, file.data(), file.size())) {
        *status = errno == ENOENT || errno == EACCES || errno == EISDIR || errno == ENOTDIR ? kFileOpenFailure
                                                                                            : kSystemError;
    }
    return true;
}

// Turns the packed bitmaps into the pages of a composite.
int pagesFromBitmaps(Environment *env, const HGLOBAL *handles, int32_t count, int32_t repository,
                     DataObject **composite) {
    const CmiAttribute compositeList[] = {
        {"entries", count}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}};
    *composite = createObject(env, "oComposite", ObjectClass::CompositeIDArray, nullptr, compositeList);
    if (*composite == nullptr) return lastError(env);
    for (int32_t i = 0; i < count; ++i) {
        DataObject *lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr);
        if (lut == nullptr) return lastError(env);
        const CmiAttribute imageList[] = {{"repository", repository}, {"lut", reinterpret_cast<intptr_t>(lut)}};
        DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
        if (image == nullptr) return lastError(env);
        const void *dib = GlobalLock(handles[i]);
        if (dib == nullptr) return kRefusedArgument;
        int code = readImageFromMemory(env, dib, GlobalSize(handles[i]), image, code::kFormatPackedDIB, {});
        GlobalUnlock(handles[i]);
        if (code != kOk) return code;
        if (int set = compositeSet(env, image, *composite, i)) return set;
    }
    return kOk;
}

bool hasPalette(DataObject *image) {
    DataObject *lut = image->lutObject();
    return lut != nullptr && lut->get(Attr::xDimension) > 0 && lut->get(Attr::bDimension) >= 3;
}

// A page without palette, or whose palette starts black then white.
bool blackOnWhitePalette(Environment *env, DataObject *page) {
    if (!hasPalette(page)) return true;
    PaletteData palette;
    if (readPalette(env, page, &palette) != kOk || palette.entries < 2) return palette.entries == 0;
    return palette.red[0] == 0 && palette.green[0] == 0 && palette.blue[0] == 0 && palette.red[1] == 255 &&
           palette.green[1] == 255 && palette.blue[1] == 255;
}

// One-band images without palette are written as grey levels from black
// to white.
int giveGreyPalette(Environment *env, DataObject *image) {
    if (image->get(Attr::bDimension) != 1 || hasPalette(image)) return kOk;
    if (image->lutObject() == nullptr) {
        DataObject *lut = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr);
        if (lut == nullptr) return lastError(env);
        image->put(Attr::lut, reinterpret_cast<intptr_t>(lut));
    }
    return setGreyPalette(env, image, false);
}

bool isFax(int32_t compression) {
    return compression == code::kFaxT4OneD || compression == code::kFaxT4TwoD || compression == code::kFaxT6 ||
           compression == code::kFaxModifiedHuffman;
}

int preparePage(Environment *env, DataObject *page, const WriteOptions &o) {
    int32_t predictor = o.predictor;
    if (o.compression == code::kLZW && page->get(Attr::bDimension) == 1 && page->get32(Attr::dataPrecision) < 8) {
        predictor = 0;
    }
    std::vector<CmiAttribute> list = {
        {"fileFormat", code::kFormatTIFF}, {"eolState", predictor}, {"k", o.k},
        {"byteOrder", code::kLeastSignificantFirst}, {"newSubfileType", o.newSubfileType}};
    if (isFax(o.compression)) {
        list.push_back({"photometricInterpretation", code::kMinIsWhite});
        list.push_back({"lut", 0});
    } else if (page->get(Attr::bDimension) == 1 && hasPalette(page)) {
        list.push_back({"photometricInterpretation", 157});
    }
    return setAttributes(env, page, list);
}

// Writes the bitmaps as a file of `format` through an environment.
// Writes the pages of `composite` as a file of `format`: TIFF every page,
// the other formats the first.
int writePages(Environment *env, DataObject *composite, const char *fileName, int32_t format, const WriteOptions &o) {
    const int32_t count = static_cast<int32_t>(composite->get(Attr::xDimension));
    if (format == code::kFormatTIFF) {
        for (int32_t i = 0; i < count; ++i) {
            DataObject *page;
            if (int code = compositeGet(env, composite, i, &page)) return code;
            if (isFax(o.compression) && blackOnWhitePalette(env, page)) {
                // Fax pages store 1 for black.
                DataObject *inverted = deriveImage(env, page);
                if (inverted == nullptr) return lastError(env);
                if (int code = invertImage(env, page, inverted)) return code;
                if (int code = compositeSet(env, inverted, composite, i)) return code;
                page = inverted;
            }
            if (int code = preparePage(env, page, o)) return code;
        }
        const CmiAttribute list[] = {{"compression", o.compression}};
        return writeImage(env, composite, fileName, format, list);
    }
    DataObject *first;
    if (int code = compositeGet(env, composite, 0, &first)) return code;
    switch (format) {
    case code::kFormatBMP: {
        const CmiAttribute list[] = {{"compression", o.compression}};
        return writeImage(env, first, fileName, format, list);
    }
    case code::kFormatGIF: {
        if (first->get(Attr::bDimension) > 1) return fail(env, kMismatchDataType);
        if (int code = giveGreyPalette(env, first)) return code;
        const CmiAttribute list[] = {{"interlacedImage", o.interlaced ? 1 : 0}};
        return writeImage(env, first, fileName, format, list);
    }
    case code::kFormatJPEG: {
        if (first->get(Attr::bDimension) == 1 && hasPalette(first)) {
            // Palette pictures go out as the grey levels of their colours.
            if (first->get32(Attr::dataPrecision) != 8) return fail(env, kRefusedArgument);
            DataObject *grey;
            if (int code = convertColourMode(env, first, kModeGray, {}, &grey)) return code;
            first = grey;
        }
        const CmiAttribute list[] = {{"quarityFactor", o.quality}, {"samplingFactor", o.samplingFactor}};
        return writeImage(env, first, fileName, format, list);
    }
    case code::kFormatPNG: {
        const CmiAttribute list[] = {{"interlacedImage", o.interlaced ? 1 : 0}};
        return writeImage(env, first, fileName, format, list);
    }
    case code::kFormatPCX:
        if (first->get(Attr::bDimension) == 1 && first->get32(Attr::dataPrecision) == 8) {
            if (int code = giveGreyPalette(env, first)) return code;
        }
        return writeImage(env, first, fileName, format, {});
    default: return writeImage(env, first, fileName, format, {});
    }
}

int writeThroughEnvironment(Environment *env, const HGLOBAL *handles, int32_t count, const char *fileName,
                            int32_t format, const WriteOptions &o) {
    if (format == code::kFormatTIFF) setEnvAttr(env, EnvAttr::byteBoundary, 256);
    DataObject *composite;
    if (int code = pagesFromBitmaps(env, handles, count, o.repository, &composite)) return code;
    return writePages(env, composite, fileName, format, o);
}

int32_t generateAndWrite(const HGLOBAL *handles, int32_t count, const char *fileName, int32_t format,
                         const CmiAttribute *attrs, int32_t attrCount, int32_t *status) {
    const int32_t internal = writableFormat(format);
    WriteOptions o;
    if (internal == 0 || count < 1 || handles == nullptr || fileName == nullptr || attrCount < 0 ||
        !readOptions(internal, attrs, attrCount, &o)) {
        return *status = kRefusedArgument;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (GlobalSize(handles[i]) == 0) return *status = kRefusedArgument;
    }
    if (internal == code::kFormatBMP && o.compression == 0 && writeBitmapFile(handles[0], fileName, status)) {
        return *status;
    }
    CallEnvironment call(status);
    if (!call.ok()) return *status;
    if (int code = writeThroughEnvironment(call.get(), handles, count, fileName, internal, o)) *status = code;
    return call.close();
}

// Page editing operations.
constexpr int32_t kAppend = 56;
constexpr int32_t kInsert = 85;
constexpr int32_t kDelete = 86;
constexpr int32_t kReplace = 87;

// Makes `page` ready to be stored again as it is: its samples, or its coded
// bytes in one block when it was coded in one strip.  A page coded in
// several strips is decoded and coded again, so that it goes out as one
// strip.
int holdExistingPage(Environment *env, const char *fileName, DataObject *page, int32_t index, DataObject **stored) {
    *stored = page;
    if (formatWord(page, "photometricInterpretation") == code::kSeparated) return fail(env, kSyntaxError);
    const int32_t method = page->get32(Attr::compression);
    const CmiAttribute selectorList[] = {
        {"entries", 1}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", index}};
    if (method == code::kNoCompression || formatWord(page, "stripsPerImage") <= 1) {
        DataObject *selector = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, selectorList);
        if (selector == nullptr) return lastError(env);
        int code = compositeSet(env, page, selector, 0);
        if (code == kOk) code = parseImage(env, fileName, selector, code::kFormatTIFF, code::kParseSamplesOnly, {});
        destroyObject(env, selector);
        return code;
    }
    // Decoded into a page of its own, then coded again.
    const CmiAttribute plainList[] = {{"compression", code::kNoCompression}};
    DataObject *plain = createObject(env, nullptr, page->cls, page, plainList);
    if (plain == nullptr) return lastError(env);
    const CmiAttribute compositeList[] = {
        {"entries", 1}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", index}};
    DataObject *one = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, compositeList);
    if (one == nullptr) return lastError(env);
    if (int code = compositeSet(env, plain, one, 0)) return code;
    if (int code = readImage(env, fileName, one, code::kFormatTIFF, {})) return code;
    std::vector<CmiAttribute> codedList = {{"compression", method}, {"fileFormat", code::kFormatTIFF},
                                           {"repository", code::kFile}};
    if (method == code::kFaxT4OneD || method == code::kFaxT4TwoD) codedList.push_back({"eolState", 0});
    DataObject *coded = createObject(env, nullptr, page->cls, page, codedList);
    if (coded == nullptr) return lastError(env);
    if (int code = compressImage(env, plain, coded)) return code;
    *stored = coded;
    return kOk;
}

int32_t editPages(const HGLOBAL *handles, int32_t count, const char *fileName, int32_t operation, int32_t index,
                  const CmiAttribute *attrs, int32_t attrCount, int32_t *status) {
    if (operation != kAppend && operation != kInsert && operation != kDelete && operation != kReplace) {
        return *status = kRefusedArgument;
    }
    if (fileName == nullptr || attrCount < 0) return *status = kRefusedArgument;
    if (!platform::fileExists(fileName)) {
        if (operation != kAppend) return *status = kFileNotFound;
        return generateAndWrite(handles, count, fileName, CMI_FORMAT_TIFF, attrs, attrCount, status);
    }
    if (count < 1 || (operation != kAppend && index < 0) || (operation != kDelete && handles == nullptr)) {
        return *status = kRefusedArgument;
    }
    const int32_t pages = CmiInquireImageNumber(fileName, CMI_FORMAT_TIFF, nullptr, 0, status);
    if (pages == 0) return *status;
    if (operation == kAppend) index = pages;
    const bool inRange = (operation == kAppend || operation == kInsert) ? index <= pages
                                                                        : int64_t(index) + count <= pages;
    if (!inRange) return *status = kRefusedArgument;
    if (operation == kDelete && index == 0 && count == pages) {
        if (!platform::removeFile(fileName)) *status = kSystemError;
        return *status;
    }
    WriteOptions o;
    if (operation != kDelete && !readOptions(code::kFormatTIFF, attrs, attrCount, &o)) return *status = kRefusedArgument;

    CallEnvironment call(status);
    if (!call.ok()) return *status;
    Environment *env = call.get();
    setEnvAttr(env, EnvAttr::byteBoundary, 256);
    auto run = [&]() -> int {
        // The new pages, prepared and coded as they will be stored.
        std::vector<DataObject *> added;
        if (operation != kDelete) {
            DataObject *fresh;
            if (int code = pagesFromBitmaps(env, handles, count, o.repository, &fresh)) return code;
            for (int32_t i = 0; i < count; ++i) {
                DataObject *page;
                if (int code = compositeGet(env, fresh, i, &page)) return code;
                if (int code = preparePage(env, page, o)) return code;
                if (o.compression != code::kNoCompression) {
                    const CmiAttribute codedList[] = {{"compression", o.compression}, {"repository", code::kFile}};
                    DataObject *coded = createObject(env, nullptr, page->cls, page, codedList);
                    if (coded == nullptr) return lastError(env);
                    if (int code = compressImage(env, page, coded)) return code;
                    page = coded;
                }
                added.push_back(page);
            }
        }
        // The pages already in the file.
        const CmiAttribute compositeList[] = {
            {"entries", pages}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", 0}};
        DataObject *old = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, compositeList);
        if (old == nullptr) return lastError(env);
        for (int32_t i = 0; i < pages; ++i) {
            DataObject *lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr);
            if (lut == nullptr) return lastError(env);
            const CmiAttribute pageList[] = {{"repository", code::kFile},
                                             {"byteOrder", code::kLeastSignificantFirst},
                                             {"lut", reinterpret_cast<intptr_t>(lut)}};
            DataObject *page = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, pageList);
            if (page == nullptr) return lastError(env);
            if (int code = compositeSet(env, page, old, i)) return code;
        }
        if (int code = parseImage(env, fileName, old, code::kFormatTIFF, code::kParseHeaderOnly, {})) return code;
        std::vector<DataObject *> kept;
        for (int32_t i = 0; i < pages; ++i) {
            DataObject *page, *stored;
            if (int code = compositeGet(env, old, i, &page)) return code;
            if (page == nullptr) return fail(env, kInvalidInstance);
            if (int code = holdExistingPage(env, fileName, page, i, &stored)) return code;
            kept.push_back(stored);
        }
        // The new page list.
        std::vector<DataObject *> list;
        const size_t at = static_cast<size_t>(index);
        const size_t removed = operation == kDelete || operation == kReplace ? static_cast<size_t>(count) : 0;
        list.insert(list.end(), kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(at));
        list.insert(list.end(), added.begin(), added.end());
        list.insert(list.end(), kept.begin() + static_cast<std::ptrdiff_t>(at + removed), kept.end());
        const CmiAttribute resultList[] = {
            {"entries", static_cast<intptr_t>(list.size())}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}};
        DataObject *result = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, resultList);
        if (result == nullptr) return lastError(env);
        for (size_t i = 0; i < list.size(); ++i) {
            if (int code = compositeSet(env, list[i], result, static_cast<int32_t>(i))) return code;
        }
        // Written beside the file and renamed over it only when complete: the
        // file is never left half rewritten.
        return generateFile(env, result, fileName, code::kFormatTIFF, {});
    };
    if (int code = run()) *status = code;
    return call.close();
}

int32_t readableFormat(int32_t external) {
    return external == CMI_FORMAT_SIA ? code::kFormatSIA : writableFormat(external);
}

// The options of a conversion beyond those of writing.
struct ConvertOptions {
    int64_t width = 0, height = 0;  // canvas, 0 keeps the size
    Box rectangle;                  // where the page is scaled to on the canvas
    int32_t interpolation = kNearest;
    int32_t morphology = 0;
    int32_t colourMode = 0;         // 0 keeps the mode
    int32_t operation = 46;         // 46 scale then convert, 47 convert then scale
    int32_t levels[3] = {-1, -1, -1};
    int32_t index = 0, entries = 1; // pages of a TIFF source
};

bool readConvertOptions(int32_t source, int32_t target, const CmiAttribute *attrs, int32_t count, ConvertOptions *c) {
    if (const CmiAttribute *p = findOption(attrs, count, "xDimension")) c->width = p->value;
    if (const CmiAttribute *p = findOption(attrs, count, "yDimension")) c->height = p->value;
    if (c->width < 0 || c->height < 0 || c->width > INT32_MAX || c->height > INT32_MAX) return false;
    if (const CmiAttribute *p = findOption(attrs, count, "interpolation")) {
        if (p->value < 8 || p->value > 11) return false;
        c->interpolation = interpolationCode(static_cast<int32_t>(p->value));
    }
    if (const CmiAttribute *p = findOption(attrs, count, "morphologicalOperation")) {
        if (p->value != 0 && p->value != 12 && p->value != 13) return false;
        c->morphology = morphologyCode(static_cast<int32_t>(p->value));
    }
    int64_t rect[4] = {0, 0, 0, 0};
    const char *const rectNames[4] = {"destinationXPoint", "destinationYPoint", "destinationWidth",
                                      "destinationHeight"};
    for (int i = 0; i < 4; ++i) {
        if (const CmiAttribute *p = findOption(attrs, count, rectNames[i])) rect[i] = static_cast<int32_t>(p->value);
    }
    c->rectangle = {rect[0], rect[1], rect[2] > 0 ? rect[2] : c->width, rect[3] > 0 ? rect[3] : c->height};
    readFillLevels(attrs, count, c->levels);
    if (const CmiAttribute *p = findOption(attrs, count, "colorMode")) {
        if (p->value != 0 && (p->value < CMI_MODE_BITMAP || p->value > CMI_MODE_RGB)) return false;
        if (target == code::kFormatJPEG && p->value >= CMI_MODE_BITMAP && p->value <= CMI_MODE_256_COLOURS) return false;
        if (target == code::kFormatGIF && p->value == CMI_MODE_RGB) return false;
        c->colourMode = static_cast<int32_t>(p->value);
    }
    if (const CmiAttribute *p = findOption(attrs, count, "internalOperation")) {
        if (p->value != 46 && p->value != 47) return false;
        c->operation = static_cast<int32_t>(p->value);
    }
    if (source == code::kFormatTIFF) {
        if (const CmiAttribute *p = findOption(attrs, count, "index")) c->index = static_cast<int32_t>(p->value);
        if (const CmiAttribute *p = findOption(attrs, count, "entries")) c->entries = static_cast<int32_t>(p->value);
        if (c->index < 0 || c->entries < 1) return false;
    }
    return true;
}

// Palettes the pages of a source format need before they are written as
// another.
int adjustPage(Environment *env, DataObject *page, int32_t source) {
    const int64_t bands = page->get(Attr::bDimension);
    switch (source) {
    case code::kFormatTIFF: {
        const intptr_t photometric = formatWord(page, "photometricInterpretation");
        if (bands == 4 || photometric == code::kSeparated) return fail(env, kSyntaxError);
        if (bands == 1 && (photometric == code::kMinIsWhite || photometric == code::kMinIsBlack)) {
            if (int code = setGreyPalette(env, page, photometric == code::kMinIsWhite)) return code;
            return setAttribute(env, page, "photometricInterpretation", 157);
        }
        return kOk;
    }
    case code::kFormatJPEG: return bands == 1 ? setGreyPalette(env, page, false) : clearPalette(env, page);
    case code::kFormatSIA: return setGreyPalette(env, page, true);
    default: return kOk;
    }
}

// A new image of the canvas size derived from `page`, filled with the
// levels when the rectangle does not cover it.  Bitmaps read with byte
// boundaries keep their rows a multiple of 8 wide.
int makeCanvas(Environment *env, DataObject *page, const ConvertOptions &c, DataObject **canvas) {
    *canvas = nullptr;
    const bool padded = envAttr(env, EnvAttr::byteBoundary) != 0 && page->get32(Attr::dataType) == code::kBoolean;
    const int64_t stored = padded ? (c.width + 7) / 8 * 8 : c.width;
    const CmiAttribute list[] = {{"xDimension", static_cast<intptr_t>(stored)},
                                 {"yDimension", static_cast<intptr_t>(c.height)},
                                 {"widthByteBoundary", padded ? static_cast<intptr_t>(c.width) : 0}};
    DataObject *image = deriveImage(env, page, list);
    if (image == nullptr) return lastError(env);
    const Box &r = c.rectangle;
    if (r.x != 0 || r.y != 0 || r.width != c.width || r.height != c.height) {
        Planes planes;
        if (int code = planes.open(env, image, true)) return code;
        const int32_t precision = image->get32(Attr::dataPrecision);
        for (int64_t b = 0; b < planes.bands(); ++b) {
            int32_t level = b < 3 ? c.levels[b] : -1;
            if (level < 0) level = defaultFillLevel(env, image);
            uint8_t sample = static_cast<uint8_t>(level);
            if (precision == 1) sample = level != 0 ? 1 : 0;
            else if (precision == 4) sample = static_cast<uint8_t>(level & 15);
            // Padding columns of bitmap rows stay clear.
            for (int64_t y = 0; y < planes.height(); ++y) {
                std::memset(planes.row(b, y), sample, static_cast<size_t>(c.width));
            }
        }
        if (int code = planes.close()) return code;
    }
    *canvas = image;
    return kOk;
}

int64_t trueWidth(const DataObject *image) {
    const intptr_t bounded = image->get(Attr::widthByteBoundary);
    return bounded > 0 && image->get32(Attr::dataType) == code::kBoolean ? bounded : image->get(Attr::xDimension);
}

// Scales the whole page into the rectangle of a canvas; pages that already
// fill it pass unchanged.
int scalePage(Environment *env, DataObject *page, const ConvertOptions &c, DataObject **scaled) {
    const Box &r = c.rectangle;
    if (trueWidth(page) == c.width && page->get(Attr::yDimension) == c.height && r.x == 0 && r.y == 0 &&
        r.width == c.width && r.height == c.height) {
        *scaled = page;
        return kOk;
    }
    DataObject *canvas;
    if (int code = makeCanvas(env, page, c, &canvas)) return code;
    setEnvAttr(env, EnvAttr::interpolation, c.interpolation);
    setEnvAttr(env, EnvAttr::morphologicalOperation, c.morphology);
    const Box whole{0, 0, trueWidth(page), page->get(Attr::yDimension)};
    if (int code = resizeImage(env, page, canvas, &whole, &r)) return code;
    *scaled = canvas;
    return kOk;
}

// Scaling into a canvas and colour-mode conversion of one page, in the
// order the options ask for.
int transformPage(Environment *env, DataObject *page, const ConvertOptions &c, std::span<const CmiAttribute> options,
                  DataObject **result) {
    const bool scale = c.width != 0 || c.height != 0;
    DataObject *current = page;
    auto convert = [&]() -> int {
        if (c.colourMode == 0) return kOk;
        return convertColourMode(env, current, c.colourMode, options, &current);
    };
    if (c.operation == 47) {
        if (int code = convert()) return code;
        if (scale) {
            if (int code = scalePage(env, current, c, &current)) return code;
        }
    } else {
        if (scale) {
            if (int code = scalePage(env, current, c, &current)) return code;
        }
        if (int code = convert()) return code;
        const Box &r = c.rectangle;
        if (scale && c.colourMode != 0 && current != page &&
            (r.x != 0 || r.y != 0 || r.width != c.width || r.height != c.height)) {
            // Conversions that spread across pixels (dithering) reach into
            // the fill: the rectangle goes onto a clean canvas.
            DataObject *fresh, *part;
            if (int code = makeCanvas(env, current, c, &fresh)) return code;
            Box clipped{std::max<int64_t>(r.x, 0), std::max<int64_t>(r.y, 0), 0, 0};
            clipped.width = std::min<int64_t>(r.x + r.width, c.width) - clipped.x;
            clipped.height = std::min<int64_t>(r.y + r.height, c.height) - clipped.y;
            if (clipped.width > 0 && clipped.height > 0) {
                if (int code = extractRegion(env, current, clipped, &part)) return code;
                if (int code = pasteRegion(env, part, fresh, clipped.x, clipped.y)) return code;
            }
            current = fresh;
        }
    }
    *result = current;
    return kOk;
}

int32_t fileFormatConvert(const char *from, const char *to, int32_t sourceFormat, int32_t targetFormat,
                          const CmiAttribute *attrs, int32_t count, int32_t *status) {
    const int32_t source = readableFormat(sourceFormat);
    const int32_t target = writableFormat(targetFormat);
    WriteOptions o;
    ConvertOptions c;
    if (source == 0 || target == 0 || from == nullptr || to == nullptr || count < 0 ||
        !readOptions(target, attrs, count, &o) || !readConvertOptions(source, target, attrs, count, &c)) {
        return *status = kRefusedArgument;
    }
    CallEnvironment call(status);
    if (!call.ok()) return *status;
    Environment *env = call.get();
    auto run = [&]() -> int {
        if (c.colourMode == CMI_MODE_BITMAP && (source == code::kFormatTIFF || source == code::kFormatBMP) &&
            (target == code::kFormatTIFF || target == code::kFormatBMP)) {
            setEnvAttr(env, EnvAttr::byteBoundary, 256);
        }
        int32_t pages = 1;
        if (source == code::kFormatTIFF) {
            const int32_t inFile = countTiffPages(env, from);
            if (inFile == 0) return lastError(env);
            pages = std::min(c.entries, inFile);
        }
        const CmiAttribute compositeList[] = {
            {"entries", pages}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", c.index}};
        DataObject *composite = createObject(env, "oComposite", ObjectClass::CompositeIDArray, nullptr, compositeList);
        if (composite == nullptr) return lastError(env);
        for (int32_t i = 0; i < pages; ++i) {
            const CmiAttribute lutList[] = {{"bDimension", 3}};
            DataObject *lut = createObject(env, nullptr, ObjectClass::LookupTable, nullptr, lutList);
            if (lut == nullptr) return lastError(env);
            const CmiAttribute imageList[] = {{"repository", o.repository}, {"lut", reinterpret_cast<intptr_t>(lut)}};
            DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
            if (image == nullptr) return lastError(env);
            if (int code = compositeSet(env, image, composite, i)) return code;
        }
        if (int code = readImage(env, from, composite, source, {})) return code;
        for (int32_t i = 0; i < composite->get(Attr::xDimension); ++i) {
            DataObject *page;
            if (int code = compositeGet(env, composite, i, &page)) return code;
            if (int code = adjustPage(env, page, source)) return code;
        }
        if (c.width != 0 || c.height != 0 || c.colourMode != 0) {
            // A canvas size of 0 on one axis keeps the page's size on it.
            const std::span<const CmiAttribute> options(attrs, attrs != nullptr ? static_cast<size_t>(count) : 0);
            for (int32_t i = 0; i < composite->get(Attr::xDimension); ++i) {
                DataObject *page, *done;
                if (int code = compositeGet(env, composite, i, &page)) return code;
                ConvertOptions own = c;
                if (own.width != 0 || own.height != 0) {
                    if (own.width == 0) own.width = trueWidth(page);
                    if (own.height == 0) own.height = page->get(Attr::yDimension);
                    if (own.rectangle.width <= 0) own.rectangle.width = own.width;
                    if (own.rectangle.height <= 0) own.rectangle.height = own.height;
                }
                if (int code = transformPage(env, page, own, options, &done)) return code;
                if (done != page) {
                    if (int code = compositeSet(env, done, composite, i)) return code;
                }
            }
        }
        return writePages(env, composite, to, target, o);
    };
    if (int code = run()) *status = code;
    return call.close();
}

// Runs a conversion between two temporary files: the source bytes written
// to the first, the result read from the second and handed to `take`.
template <class Take>
int32_t convertInMemory(const void *address, int32_t size, int32_t sourceFormat, int32_t targetFormat,
                        int32_t *resultSize, const CmiAttribute *attrs, int32_t count, int32_t *status,
                        Take &&take) {
    if (address == nullptr || size < 0 || resultSize == nullptr) return *status = kRefusedArgument;
    std::string in, out;
    if (!platform::makeTemporaryFile("ipi", in) || !platform::makeTemporaryFile("ipi", out)) {
        if (!in.empty()) platform::removeFile(in.c_str());
        return *status = kSystemError;
    }
    if (!platform::writeWholeFile(in.c_str(), address, static_cast<size_t>(size))) {
        *status = kFileOpenFailure;
    } else if (fileFormatConvert(in.c_str(), out.c_str(), sourceFormat, targetFormat, attrs, count, status) == kOk) {
        platform::File file;
        const int64_t length = file.open(out.c_str(), platform::FileMode::Read) ? file.size() : -1;
        if (length < 0 || length > INT32_MAX) {
            *status = length < 0 ? kFileOpenFailure : kSystemError;
        } else if (take(file, static_cast<size_t>(length), status)) {
            *resultSize = static_cast<int32_t>(length);
        }
    }
    platform::removeFile(in.c_str());
    platform::removeFile(out.c_str());
    return *status;
}

// Reads the whole file into a new heap buffer or movable block.
bool takeIntoHeap(platform::File &file, size_t length, int32_t *status, void **buffer) {
    *buffer = std::malloc(length > 0 ? length : 1);
    if (*buffer != nullptr && file.read(*buffer, length) == static_cast<int64_t>(length)) return true;
    std::free(*buffer);
    *buffer = nullptr;
    *status = kSystemError;
    return false;
}

bool takeIntoHandle(platform::File &file, size_t length, int32_t *status, HGLOBAL *handle) {
    *handle = GlobalAlloc(GMEM_MOVEABLE, length);
    void *block = *handle != nullptr ? GlobalLock(*handle) : nullptr;
    const bool ok = block != nullptr && file.read(block, length) == static_cast<int64_t>(length);
    if (*handle != nullptr) GlobalUnlock(*handle);
    if (!ok) {
        GlobalFree(*handle);
        *handle = nullptr;
        *status = kSystemError;
    }
    return ok;
}

// Writes into a temporary file and hands its bytes to `take`.
template <class Take>
int32_t generateAndExport(const HGLOBAL *handles, int32_t count, int32_t format, int32_t *size,
                          const CmiAttribute *attrs, int32_t attrCount, int32_t *status, Take &&take) {
    if (size == nullptr) {
        *status = kRefusedArgument;
        return 0;
    }
    std::string path;
    if (!platform::makeTemporaryFile("ipi", path)) {
        *status = kSystemError;
        return 0;
    }
    int32_t result = 0;
    if (generateAndWrite(handles, count, path.c_str(), format, attrs, attrCount, status) == kOk) {
        platform::File file;
        if (!file.open(path.c_str(), platform::FileMode::Read)) {
            *status = kFileOpenFailure;
        } else {
            const int64_t length = file.size();
            if (length < 0 || length > INT32_MAX) {
                *status = kSystemError;
            } else {
                result = take(file, static_cast<size_t>(length), status) ? 1 : 0;
                if (result) *size = static_cast<int32_t>(length);
            }
        }
    }
    platform::removeFile(path.c_str());
    return result;
}

}  // namespace
}  // namespace orvo

using namespace orvo;

extern "C" {

int32_t CmiGenerateAndWrite(HGLOBAL *handles, int32_t count, const char *fileName, int32_t format,
                            const CmiAttribute *attrs, int32_t attrCount, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) {
        return generateAndWrite(handles, count, fileName, format, attrs, attrCount, st);
    });
}

void *CmiGenerateAndExport(HGLOBAL *handles, int32_t count, int32_t format, int32_t *size, const CmiAttribute *attrs,
                           int32_t attrCount, int32_t *status) {
    void *buffer = nullptr;
    exportedCall(status, [&](int32_t *st) {
        return generateAndExport(handles, count, format, size, attrs, attrCount, st,
                                 [&](platform::File &file, size_t length, int32_t *s) {
                                     return takeIntoHeap(file, length, s, &buffer);
                                 });
    });
    return buffer;
}

HGLOBAL CmiGenerateAndExportHandle(HGLOBAL *handles, int32_t count, int32_t format, int32_t *size,
                                   const CmiAttribute *attrs, int32_t attrCount, int32_t *status) {
    HGLOBAL handle = nullptr;
    exportedCall(status, [&](int32_t *st) {
        return generateAndExport(handles, count, format, size, attrs, attrCount, st,
                                 [&](platform::File &file, size_t length, int32_t *s) {
                                     return takeIntoHandle(file, length, s, &handle);
                                 });
    });
    return handle;
}

int32_t CmiFileFormatConvert(const char *sourceFile, const char *targetFile, int32_t sourceFormat,
                             int32_t targetFormat, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) {
        return fileFormatConvert(sourceFile, targetFile, sourceFormat, targetFormat, attrs, count, st);
    });
}

void *CmiAddressSpaceFormatConvert(const void *address, int32_t sourceFormat, int32_t targetFormat, int32_t size,
                                   int32_t *resultSize, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    void *buffer = nullptr;
    exportedCall(status, [&](int32_t *st) {
        return convertInMemory(address, size, sourceFormat, targetFormat, resultSize, attrs, count, st,
                               [&](platform::File &file, size_t length, int32_t *s) {
                                   return takeIntoHeap(file, length, s, &buffer);
                               });
    });
    return buffer;
}

HGLOBAL CmiHandleFormatConvert(HGLOBAL source, int32_t sourceFormat, int32_t targetFormat, int32_t size,
                               int32_t *resultSize, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    HGLOBAL handle = nullptr;
    exportedCall(status, [&](int32_t *st) {
        const void *address = GlobalLock(source);
        if (address == nullptr || size < 0 || static_cast<SIZE_T>(size) > GlobalSize(source)) {
            if (address != nullptr) GlobalUnlock(source);
            return *st = kRefusedArgument;
        }
        int32_t result = convertInMemory(address, size, sourceFormat, targetFormat, resultSize, attrs, count, st,
                                         [&](platform::File &file, size_t length, int32_t *s) {
                                             return takeIntoHandle(file, length, s, &handle);
                                         });
        GlobalUnlock(source);
        return result;
    });
    return handle;
}

int32_t CmiGenerateAndWriteAndControl(HGLOBAL *handles, int32_t count, const char *fileName, int32_t format,
                                      int32_t operation, int32_t index, const CmiAttribute *attrs, int32_t attrCount,
                                      int32_t *status) {
    return exportedCall(status, [&](int32_t *st) {
        if (format != CMI_FORMAT_TIFF) return *st = kRefusedArgument;
        return editPages(handles, count, fileName, operation, index, attrs, attrCount, st);
    });
}

void CmiReleaseBuffer(void *buffer) { std::free(buffer); }

}  // extern "C"
