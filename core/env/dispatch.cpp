// Format detection, parse and generate dispatch, and the read and write
// pipelines.
#include "core/env/dispatch.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "core/codecs/compression.h"
#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/formats/registry.h"
#include "core/formats/tiff_directories.h"
#include "orvo/globalmem.h"
#include "platform/file.h"

namespace orvo {
namespace {

// TIFF files above this size are parsed straight from the file instead of
// from a copy in memory.

constexpr size_t kSignatureBytes = 10;

struct Signature {
    int32_t format;
    bool (*matches)(const uint8_t *bytes, size_t length);
};

bool startsWith(const uint8_t *bytes, size_t length, const char *text, size_t n) {
    return length >= n && std::memcmp(bytes, text, n) == 0;
}

// Tested in this order.
constexpr Signature kSignatures[] = {
    {code::kFormatBMP, [](const uint8_t *b, size_t n) { return startsWith(b, n, "BM", 2); }},
    {code::kFormatGIF, [](const uint8_t *b, size_t n) { return startsWith(b, n, "GIF87a", 6); }},
    {code::kFormatGIF, [](const uint8_t *b, size_t n) { return startsWith(b, n, "GIF89a", 6); }},
    {code::kFormatTIFF,
     [](const uint8_t *b, size_t n) { return startsWith(b, n, "II", 2) || startsWith(b, n, "MM", 2); }},
    {code::kFormatJPEG, [](const uint8_t *b, size_t n) { return startsWith(b, n, "\xFF\xD8", 2); }},
    {code::kFormatPCX, [](const uint8_t *b, size_t n) { return n >= 3 && b[0] == 0x0A && b[2] == 0x01; }},
    {code::kFormatSIA,
     [](const uint8_t *b, size_t n) { return startsWith(b, n, "\xF0\xF3\x23", 3) || startsWith(b, n, "\xF0\xF4", 2); }},
    {code::kFormatPNG, [](const uint8_t *b, size_t n) { return startsWith(b, n, "\x89PNG\r\n\x1A\n", 8); }},
};

// Formats tried by a header-only parse when no signature matched.
constexpr int32_t kTrialFormats[] = {
    code::kFormatJPEG, code::kFormatKOL1, code::kFormatBMP, code::kFormatTIFF,
    code::kFormatGIF,  code::kFormatPCX,  code::kFormatSIA, code::kFormatPNG,
};

// Where the bytes of a file being parsed are.
struct Source {
    const char *fileName = nullptr;
    const void *address = nullptr;
    uint64_t size = 0;
    bool inMemory() const { return address != nullptr; }
};

// Attributes of a file object over `source`.
void fileObjectList(const Source &source, int32_t format, CmiAttribute (&list)[4]) {
    if (source.inMemory()) {
        list[0] = {"repository", code::kApplicationAddressSpace};
        list[1] = {"applicationAddressSpace", reinterpret_cast<intptr_t>(source.address)};
        list[2] = {"size", static_cast<intptr_t>(source.size)};
    } else {
        list[0] = {"repository", code::kFile};
        list[1] = {"fileName", reinterpret_cast<intptr_t>(source.fileName)};
        list[2] = {"size", 0};
    }
    list[3] = {"fileFormat", format};
}

int parseFrom(Environment *env, const Source &source, DataObject *destination, int32_t format, int32_t mode) {
    if (int code = checkObject(env, destination)) return code;
    if (mode != code::kParseAll && mode != code::kParseHeaderOnly && mode != code::kParseSamplesOnly) {
        return fail(env, kOutOfRange);
    }
    const FormatEntry *entry = findFormat(format);
    if (entry == nullptr || entry->reader == nullptr) return fail(env, kOutOfRange);
    // A memory source must say how long it is: without a length nothing
    // bounds the reads.
    if (source.inMemory() && source.size == 0) return fail(env, kInsufficientSize);
    if (int code = setAttribute(env, destination, "fileFormat", format)) return code;
    CmiAttribute list[4];
    fileObjectList(source, format, list);
    DataObject *file = destination->cls == ObjectClass::CompositeIDArray
                           ? createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list)
                           : createObject(env, nullptr, destination->cls, destination, list);
    if (file == nullptr) return lastError(env);
    int code = entry->reader(env, file, destination, mode, format);
    int destroyed = destroyObject(env, file);
    return code != kOk ? code : destroyed;
}

int32_t detect(Environment *env, const Source &source) {
    if (checkEnvironment(env) != kOk) return 0;
    DataObject *file;
    {
        CmiAttribute list[4];
        fileObjectList(source, 0, list);
        file = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, {list, 3});
    }
    if (file == nullptr) return 0;
    markInited(file, true);
    uint8_t bytes[kSignatureBytes] = {};
    size_t length = 0;
    DataAccess *in;
    int code = openAccess(env, file, AccessMode::Read, 0, {}, &in);
    if (code == kOk) {
        length = static_cast<size_t>(std::min<uint64_t>(in->limit, kSignatureBytes));
        code = readBytes(in, 0, bytes, length);
        closeAccess(env, in);
    }
    destroyObject(env, file);
    if (code != kOk) return 0;
    for (const Signature &signature : kSignatures) {
        if (signature.matches(bytes, length)) return signature.format;
    }
    const int32_t savedReporting = envAttr(env, EnvAttr::errorReportingState);
    setEnvAttr(env, EnvAttr::errorReportingState, 0);
    int32_t found = 0;
    for (int32_t format : kTrialFormats) {
        DataObject *probe = createObject(env, nullptr, ObjectClass::GenericImage, nullptr);
        if (probe == nullptr) break;
        code = parseFrom(env, source, probe, format, code::kParseHeaderOnly);
        destroyObject(env, probe);
        if (code == kOk) {
            found = format;
            env->lastError = kOk;
            break;
        }
    }
    setEnvAttr(env, EnvAttr::errorReportingState, savedReporting);
    return found;
}

DataObject *pageSelector(Environment *env, DataObject *element, intptr_t page);

// Parses the coded pixels into an intermediate object and decodes them into
// `destination`.  With `page` >= 0 the coded bytes are those of that TIFF
// directory.
int decodeInto(Environment *env, const Source &source, DataObject *destination, int32_t format, intptr_t page = -1) {
    uint64_t uncompressed = 0;
    if (!dataSize(env, destination, &uncompressed)) return fail(env, kOutOfRange);
    const int32_t method = destination->get32(Attr::compression);
    const uint64_t declared = static_cast<uint64_t>(std::max<intptr_t>(destination->get(Attr::size), 0));
    if (!plausibleExpansion(method, declared, uncompressed)) return fail(env, kSemanticError);
    // Coded bytes stay in memory when they are smaller than the samples or
    // when the samples themselves are held in memory; otherwise in a file.
    const bool memory = declared < uncompressed || destination->get32(Attr::repository) != code::kFile;
    const CmiAttribute list[] = {
        {"repository", memory ? code::kWorkSpace : code::kFile},
    };
    DataObject *coded = createObject(env, nullptr, destination->cls, destination, list);
    if (coded == nullptr) return lastError(env);
    int code;
    if (page >= 0) {
        DataObject *selector = pageSelector(env, coded, page);
        code = selector == nullptr ? lastError(env) : parseFrom(env, source, selector, format, code::kParseAll);
        if (selector != nullptr) destroyObject(env, selector);
    } else {
        code = parseFrom(env, source, coded, format, code::kParseAll);
    }
    if (code == kOk) {
        // The coded object keeps the method; the destination receives samples.
        std::vector<CmiAttribute> changes = {{"compression", code::kNoCompression}};
        if (format == code::kFormatTIFF && destination->get32(Attr::dataPrecision) == 1 &&
            envAttr(env, EnvAttr::byteBoundary) != 0) {
            changes.push_back({"xDimension", (destination->get(Attr::xDimension) + 7) / 8 * 8});
        }
        code = setAttributes(env, destination, changes);
    }
    if (code == kOk) code = decompressImage(env, coded, destination);
    int destroyed = destroyObject(env, coded);
    return code != kOk ? code : destroyed;
}

// A one-entry composite that selects directory `page` for `element`.
DataObject *pageSelector(Environment *env, DataObject *element, intptr_t page) {
    const CmiAttribute list[] = {
        {"entries", 1}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}, {"xMatchPoint", page}};
    DataObject *selector = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, list);
    if (selector != nullptr && compositeSet(env, element, selector, 0) != kOk) {
        destroyObject(env, selector);
        return nullptr;
    }
    return selector;
}

// Pages of a TIFF file into the elements of a composite: headers of all
// pages first, then each page's samples through a selector of its own.
int readPages(Environment *env, const Source &source, DataObject *composite) {
    if (int code = parseFrom(env, source, composite, code::kFormatTIFF, code::kParseHeaderOnly)) return code;
    const intptr_t first = composite->get(Attr::xMatchPoint);
    for (int32_t i = 0; i < composite->get(Attr::xDimension); ++i) {
        DataObject *element;
        if (int code = compositeGet(env, composite, i, &element)) return code;
        if (element == nullptr) return fail(env, kInvalidInstance);
        int code = kOk;
        if (element->get32(Attr::compression) == code::kNoCompression) {
            DataObject *selector = pageSelector(env, element, first + i);
            if (selector == nullptr) return lastError(env);
            code = parseFrom(env, source, selector, code::kFormatTIFF, code::kParseSamplesOnly);
            destroyObject(env, selector);
        } else {
            code = decodeInto(env, source, element, code::kFormatTIFF, first + i);
        }
        if (code != kOk) return code;
    }
    return kOk;
}

int readPipeline(Environment *env, const Source &source, DataObject *destination, int32_t format) {
    if (int code = checkObject(env, destination)) return code;
    if (destination->cls == ObjectClass::CompositeIDArray && format == code::kFormatTIFF) {
        return readPages(env, source, destination);
    }
    if (int code = parseFrom(env, source, destination, format, code::kParseHeaderOnly)) return code;
    if (destination->get32(Attr::compression) == code::kNoCompression) {
        if (int code = parseFrom(env, source, destination, format, code::kParseSamplesOnly)) return code;
    } else if (int code = decodeInto(env, source, destination, format)) {
        return code;
    }
    if (format == code::kFormatJPEG) return setAttribute(env, destination, "colourSpace", code::kRGB);
    return kOk;
}

int generateTo(Environment *env, DataObject *source, const Source &target, int32_t format,
               std::span<const CmiAttribute> list) {
    if (int code = checkObject(env, source)) return code;
    const FormatEntry *entry = findFormat(format);
    if (entry == nullptr || entry->writer == nullptr) return fail(env, kOutOfRange);
    DataObject *writer = source;  // what the format writer is handed
    if (source->cls == ObjectClass::CompositeIDArray) {
        // Multi-page output is the TIFF writer's; other formats take the first
        // page.  The target object takes its attributes from the first page.
        DataObject *first;
        if (int code = compositeGet(env, source, 0, &first)) return code;
        if (first == nullptr) return fail(env, kInvalidInstance);
        source = first;
        if (format != code::kFormatTIFF) writer = first;
    }
    CmiAttribute where[4];
    fileObjectList(target, format, where);
    DataObject *object = createObject(env, nullptr, source->cls, source, list);
    if (object == nullptr) return lastError(env);
    int code = setAttributes(env, object, where);
    if (code == kOk) code = entry->writer(env, writer, object, format);
    int destroyed = destroyObject(env, object);
    return code != kOk ? code : destroyed;
}

// Encodes `source` (every page of a composite) into coded objects and
// generates the file from them.
int encodeAndGenerate(Environment *env, DataObject *source, const Source &target, int32_t format,
                      const std::vector<CmiAttribute> &options, std::span<const CmiAttribute> list) {
    auto encode = [&](DataObject *page, DataObject **coded) {
        *coded = createObject(env, nullptr, page->cls, page, options);
        if (*coded == nullptr) return lastError(env);
        // Coded data is held where its samples are: in memory unless the
        // page lives in a file.
        if (page->get32(Attr::repository) != code::kFile) (*coded)->put(Attr::repository, code::kWorkSpace);
        return compressImage(env, page, *coded);
    };
    if (source->cls != ObjectClass::CompositeIDArray) {
        DataObject *coded = nullptr;
        int code = encode(source, &coded);
        if (code == kOk) code = generateTo(env, coded, target, format, list);
        if (coded != nullptr) destroyObject(env, coded);
        return code;
    }
    const intptr_t pages = source->get(Attr::xDimension);
    const CmiAttribute compositeList[] = {
        {"entries", pages}, {"dataType", code::kWord32}, {"repository", code::kWorkSpace}};
    DataObject *codedPages = createObject(env, nullptr, ObjectClass::CompositeIDArray, nullptr, compositeList);
    if (codedPages == nullptr) return lastError(env);
    int code = kOk;
    for (int32_t i = 0; code == kOk && i < pages; ++i) {
        DataObject *page, *coded = nullptr;
        code = compositeGet(env, source, i, &page);
        if (code == kOk && page == nullptr) code = fail(env, kInvalidInstance);
        if (code == kOk) code = encode(page, &coded);
        if (code == kOk) code = compositeSet(env, coded, codedPages, i);
    }
    if (code == kOk) code = generateTo(env, codedPages, target, format, list);
    // The coded pages hang under their source pages; free them (and their
    // work files) now rather than when the environment closes.
    for (int32_t i = 0; i < pages; ++i) {
        DataObject *coded = nullptr;
        if (compositeGet(env, codedPages, i, &coded) == kOk && coded != nullptr) destroyObject(env, coded);
    }
    int destroyed = destroyObject(env, codedPages);
    return code != kOk ? code : destroyed;
}

// Runs `generate` into a file beside `fileName` and renames it over
// `fileName` only when complete; a failure removes it.
template <class Generate>
int intoFileAtomically(Environment *env, const char *fileName, Generate &&generate) {
    const std::string temporary = std::string(fileName) + ".ipi-partial";
    Source target;
    target.fileName = temporary.c_str();
    int code = generate(target);
    if (code == kOk && std::rename(temporary.c_str(), fileName) != 0) code = fail(env, kSystemError);
    if (code != kOk) platform::removeFile(temporary.c_str());
    return code;
}

const CmiAttribute *findPair(std::span<const CmiAttribute> list, const char *name) {
    const CmiAttribute *found = nullptr;
    for (const CmiAttribute &pair : list) {
        if (pair.name != nullptr && std::strcmp(pair.name, name) == 0) found = &pair;
    }
    return found;
}

}  // namespace

int loadFile(Environment *env, const char *fileName, void **handle, const uint8_t **data, uint64_t *size) {
    *handle = nullptr;
    *data = nullptr;
    *size = 0;
    if (int code = checkEnvironment(env)) return code;
    auto *file = new (std::nothrow) platform::MappedFile;
    if (file == nullptr) return fail(env, kSystemError);
    if (!file->open(fileName)) {
        const bool memory = errno == ENOMEM;
        delete file;
        return fail(env, memory ? kSystemError : kFileOpenFailure);
    }
    *handle = file;
    *data = file->data();
    *size = file->size();
    return kOk;
}

void releaseFile(void *handle) { delete static_cast<platform::MappedFile *>(handle); }

int32_t detectFileFormat(Environment *env, const char *fileName) {
    Source source;
    source.fileName = fileName;
    return detect(env, source);
}

int32_t detectMemoryFormat(Environment *env, const void *address, uint64_t length) {
    if (checkEnvironment(env) != kOk) return 0;
    if (address == nullptr) {
        reportError(env, kNonPermissibleOption);
        return 0;
    }
    if (length < kSignatureBytes) {
        reportError(env, kInsufficientSize);
        return 0;
    }
    Source source;
    source.address = address;
    source.size = length;
    return detect(env, source);
}

int parseImage(Environment *env, const char *fileName, DataObject *destination, int32_t format, int32_t mode,
               std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    Source source;
    source.fileName = fileName;
    if (const CmiAttribute *address = findPair(list, "applicationAddressSpace")) {
        source.address = reinterpret_cast<const void *>(address->value);
        if (source.address == nullptr) return fail(env, kNonPermissibleOption);
        const CmiAttribute *size = findPair(list, "size");
        source.size = size != nullptr && size->value > 0 ? static_cast<uint64_t>(size->value) : 0;
    }
    return parseFrom(env, source, destination, format, mode);
}

int generateImage(Environment *env, DataObject *source, const char *fileName, int32_t format,
                  std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    Source target;
    target.fileName = fileName;
    if (const CmiAttribute *address = findPair(list, "applicationAddressSpace")) {
        target.address = reinterpret_cast<const void *>(address->value);
        const CmiAttribute *size = findPair(list, "size");
        target.size = size != nullptr && size->value > 0 ? static_cast<uint64_t>(size->value) : 0;
        if (target.address == nullptr || target.size == 0) return fail(env, kNonPermissibleOption);
    }
    return generateTo(env, source, target, format, list);
}

int readImageFromMemory(Environment *env, const void *address, uint64_t size, DataObject *destination,
                        int32_t format, std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    if (address == nullptr) return fail(env, kNonPermissibleOption);
    Source source;
    source.address = address;
    source.size = size;
    if (destination != nullptr && destination->cls == ObjectClass::CompositeIDArray && format != code::kFormatTIFF) {
        DataObject *first;
        if (int code = compositeGet(env, destination, 0, &first)) return code;
        destination = first;
    }
    (void)list;
    return readPipeline(env, source, destination, format);
}

int readImage(Environment *env, const char *fileName, DataObject *destination, int32_t format,
              std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    void *handle;
    const uint8_t *data;
    uint64_t size;
    if (int code = loadFile(env, fileName, &handle, &data, &size)) return code;
    int code = readImageFromMemory(env, data, size, destination, format, list);
    releaseFile(handle);
    return code;
}

int writeImage(Environment *env, DataObject *source, const char *fileName, int32_t format,
               std::span<const CmiAttribute> list) {
    if (int code = checkObject(env, source)) return code;
    if (source->get32(Attr::compression) != code::kNoCompression) return fail(env, kNonPermissibleOption);
    // A format's coding comes before its writer: a format whose coding is
    // not available ends with the coding's 12 even when its writer is
    // missing too.
    const FormatEntry *entry = findFormat(format);
    if (entry == nullptr) return fail(env, kOutOfRange);
    if (fileName == nullptr || *fileName == '\0') return fail(env, kFileOpenFailure);
    int32_t method = entry->defaultCompression;
    if (const CmiAttribute *pair = findPair(list, "compression")) method = static_cast<int32_t>(pair->value);

    return intoFileAtomically(env, fileName, [&](const Source &target) {
        if (method == code::kNoCompression) return generateTo(env, source, target, format, list);
        static const char *const kEncoderOptions[] = {
            "k", "eolState", "predictor", "quarityFactor", "samplingFactor", "colourSpace",
            "dataPrecision", "restartInterval", "interlacedImage",
        };
        std::vector<CmiAttribute> options = {
            {"fileFormat", format}, {"repository", code::kFile}, {"compression", method}};
        if (format == code::kFormatJPEG && source->get(Attr::bDimension) >= 3) {
            options.push_back({"colourSpace", code::kYCbCr});
        }
        for (const char *name : kEncoderOptions) {
            if (const CmiAttribute *pair = findPair(list, name)) options.push_back(*pair);
        }
        return encodeAndGenerate(env, source, target, format, options, list);
    });
}

int generateFile(Environment *env, DataObject *source, const char *fileName, int32_t format,
                 std::span<const CmiAttribute> list) {
    if (int code = checkObject(env, source)) return code;
    if (fileName == nullptr || *fileName == '\0') return fail(env, kFileOpenFailure);
    return intoFileAtomically(env, fileName,
                              [&](const Source &target) { return generateTo(env, source, target, format, list); });
}

namespace {

// Directories of the file object made from `list`; 0 with the reason
// recorded.
int32_t countPages(Environment *env, std::span<const CmiAttribute> list) {
    DataObject *file = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    if (file == nullptr) return 0;
    markInited(file, true);
    DataAccess *in;
    int32_t pages = 0;
    if (openAccess(env, file, AccessMode::Read, 0, {}, &in) == kOk) {
        TiffDirectoryChain chain;
        if (readTiffDirectoryChain(in, &chain) == kOk) pages = static_cast<int32_t>(chain.offsets.size());
        closeAccess(env, in);
    }
    destroyObject(env, file);
    return pages;
}

}  // namespace

int32_t countTiffPagesInMemory(Environment *env, const void *address, uint64_t size) {
    if (checkEnvironment(env) != kOk) return 0;
    if (address == nullptr || size == 0) {
        reportError(env, kSyntaxError);
        return 0;
    }
    const CmiAttribute list[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(address)},
        {"size", static_cast<intptr_t>(size)},
    };
    return countPages(env, list);
}

int32_t countTiffPages(Environment *env, const char *fileName) {
    if (checkEnvironment(env) != kOk) return 0;
    const CmiAttribute list[] = {
        {"repository", code::kFile},
        {"fileName", reinterpret_cast<intptr_t>(fileName)},
    };
    return countPages(env, list);
}

}  // namespace orvo
