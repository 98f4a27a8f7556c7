// Data objects, their class templates, derivation and format records.
#include "core/env/object.h"

#include <cstring>
#include <new>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "orvo/globalmem.h"
#include "platform/file.h"

namespace orvo {
namespace {

struct AttributeName {
    const char *name;
    Attr attr;
};

// Every attribute name with the word it addresses; the aliases answer the
// same word as the name before them.
constexpr AttributeName kAttributeNames[] = {
    {"applicationAddressSpace", Attr::applicationAddressSpace},
    {"bitOrder", Attr::bitOrder},
    {"byteOrder", Attr::byteOrder},
    {"colourSpace", Attr::colourSpace},
    {"compression", Attr::compression},
    {"compressionMethod", Attr::compression},
    {"k", Attr::k},
    {"eolState", Attr::eolState},
    {"predictor", Attr::eolState},
    {"dataPrecision", Attr::dataPrecision},
    {"dataType", Attr::dataType},
    {"fileFormat", Attr::fileFormat},
    {"fileName", Attr::fileName},
    {"jIndexAssignment", Attr::jIndexAssignment},
    {"kIndexAssignment", Attr::kIndexAssignment},
    {"lIndexAssignment", Attr::lIndexAssignment},
    {"mIndexAssignment", Attr::mIndexAssignment},
    {"nIndexAssignment", Attr::nIndexAssignment},
    {"repository", Attr::repository},
    {"lut", Attr::lut},
    {"roi", Attr::roi},
    {"samplingFactor", Attr::samplingFactor},
    {"scaleFactor", Attr::scaleFactor},
    {"quarityFactor", Attr::scaleFactor},
    {"size", Attr::size},
    {"xDimension", Attr::xDimension},
    {"entries", Attr::xDimension},
    {"yDimension", Attr::yDimension},
    {"zDimension", Attr::zDimension},
    {"tDimension", Attr::tDimension},
    {"bDimension", Attr::bDimension},
    {"xMatchPoint", Attr::xMatchPoint},
    {"yMatchPoint", Attr::yMatchPoint},
    {"zMatchPoint", Attr::zMatchPoint},
    {"tMatchPoint", Attr::tMatchPoint},
    {"bMatchPoint", Attr::bMatchPoint},
    {"workSpace", Attr::workSpace},
    {"applAddressSpaceHandle", Attr::applAddressSpaceHandle},
    {"workSpaceHandle", Attr::workSpaceHandle},
    {"pixelInterpretation", Attr::pixelInterpretation},
    {"widthByteBoundary", Attr::widthByteBoundary},
    {"compressionLevel", Attr::compressionLevel},
    {"filter", Attr::filter},
};

struct ClassTemplate {
    ObjectClass cls;
    const char *name;
    int32_t dataType;
    int32_t dataPrecision;
    int32_t repository;
    int32_t x, y;
    bool image;          // index assignments and sampling factor of images
    bool sampling;       // "samplingFactor" 239
};

constexpr ClassTemplate kClasses[] = {
    {ObjectClass::ColourImage, "ColourImage", 153, 8, 83, 1, 1, true, true},
    {ObjectClass::GenericImage, "GenericImage", 153, 8, 83, 1, 1, true, true},
    {ObjectClass::MonochromeImage, "MonochromeImage", 153, 8, 83, 1, 1, true, true},
    {ObjectClass::ROI, "ROI", 153, 8, 83, 1, 1, false, true},
    {ObjectClass::Histogram, "Histogram", 175, 32, 223, 256, 1, false, false},
    {ObjectClass::LookupTable, "LookupTable", 153, 8, 223, 256, 1, false, false},
    {ObjectClass::Matrix, "Matrix", 161, 32, 223, 3, 3, false, false},
    {ObjectClass::DitherArray, "DitherArray", 174, 16, 223, 3, 3, false, false},
    {ObjectClass::ImpulseResponseArray, "ImpulseResponseArray", 174, 16, 223, 3, 3, false, false},
    {ObjectClass::MaskArray, "MaskArray", 174, 16, 223, 3, 3, false, false},
    {ObjectClass::PowerSpectrumArray, "PowerSpectrumArray", 35, 64, 83, 1, 1, false, false},
    {ObjectClass::TransferFunctionArray, "TransferFunctionArray", 35, 64, 83, 1, 1, false, false},
    {ObjectClass::WindowFunctionArray, "WindowFunctionArray", 35, 64, 83, 1, 1, false, false},
    {ObjectClass::Tuple, "Tuple", 161, 32, 223, 1, 1, false, false},
    {ObjectClass::CompositeIDArray, "CompositeIDArray", 175, 32, 223, 1, 1, false, false},
};
static_assert(std::size(kClasses) == static_cast<size_t>(ObjectClass::count));

std::array<intptr_t, kAttrCount> classTemplate(ObjectClass cls) {
    const ClassTemplate &t = kClasses[static_cast<int>(cls)];
    std::array<intptr_t, kAttrCount> a{};
    auto set = [&a](Attr which, intptr_t v) { a[static_cast<int>(which)] = v; };
    set(Attr::bitOrder, code::kMostSignificantFirst);
    set(Attr::byteOrder, code::kMostSignificantFirst);
    set(Attr::k, 2);
    set(Attr::scaleFactor, 1);
    set(Attr::zDimension, 1);
    set(Attr::tDimension, 1);
    set(Attr::bDimension, 1);
    set(Attr::pixelInterpretation, code::kMinIsWhite);
    set(Attr::compressionLevel, 6);
    set(Attr::dataType, t.dataType);
    set(Attr::dataPrecision, t.dataPrecision);
    set(Attr::repository, t.repository);
    set(Attr::xDimension, t.x);
    set(Attr::yDimension, t.y);
    if (t.image) {
        set(Attr::jIndexAssignment, 226);
        set(Attr::kIndexAssignment, 227);
        set(Attr::lIndexAssignment, 228);
        set(Attr::mIndexAssignment, 201);
        set(Attr::nIndexAssignment, 14);
    }
    if (t.sampling) set(Attr::samplingFactor, code::kSampling422);
    return a;
}

// --- Format records ----------------------------------------------------------

enum class FieldKind { Word, StripCount, StripArray, Rational, Table };

struct FormatField {
    const char *name;
    FieldKind kind;
    intptr_t initial;
};

struct FormatFields {
    int32_t format;
    std::span<const FormatField> fields;
};

constexpr FormatField kGifFields[] = {
    {"interlacedImage", FieldKind::Word, 0}, {"left", FieldKind::Word, 0},
    {"top", FieldKind::Word, 0}, {"screenDepth", FieldKind::Word, 0},
    {"screenWidth", FieldKind::Word, 0}, {"version", FieldKind::Word, 0},
    {"transparency", FieldKind::Word, 0}, {"transparencyPaletteIndex", FieldKind::Word, 0},
    {"codeSize", FieldKind::Word, 0},
};
constexpr FormatField kTiffFields[] = {
    {"photometricInterpretation", FieldKind::Word, 0}, {"resolutionUnit", FieldKind::Word, 0},
    {"rowsPerStrip", FieldKind::Word, 0}, {"stripByteCounts", FieldKind::StripArray, 0},
    {"stripsPerImage", FieldKind::StripCount, 0}, {"xResolution", FieldKind::Rational, 0},
    {"yResolution", FieldKind::Rational, 0}, {"orientation", FieldKind::Word, 0},
    {"planarConfiguration", FieldKind::Word, 0}, {"pageNumber", FieldKind::Word, 0},
    {"newSubfileType", FieldKind::Word, 0}, {"stripOffsets", FieldKind::StripArray, 0},
};
constexpr FormatField kSiaFields[] = {
    {"resolutionUnit", FieldKind::Word, 0}, {"xResolution", FieldKind::Word, 0},
    {"yResolution", FieldKind::Word, 0}, {"xVDC1stCorner", FieldKind::Word, 0},
    {"yVDC1stCorner", FieldKind::Word, 0}, {"xVDC2ndCorner", FieldKind::Word, 0},
    {"yVDC2ndCorner", FieldKind::Word, 0},
};
constexpr FormatField kBmpFields[] = {
    {"resolutionUnit", FieldKind::Word, 0}, {"xResolution", FieldKind::Word, 0},
    {"yResolution", FieldKind::Word, 0},
};
constexpr FormatField kJpegFields[] = {
    {"chrominanceACBITS", FieldKind::Table, 0}, {"chrominanceACHUFFVAL", FieldKind::Table, 0},
    {"chrominanceDCBITS", FieldKind::Table, 0}, {"chrominanceDCHUFFVAL", FieldKind::Table, 0},
    {"chrominanceQuantizationTable", FieldKind::Table, 0},
    {"luminanceACBITS", FieldKind::Table, 0}, {"luminanceACHUFFVAL", FieldKind::Table, 0},
    {"luminanceDCBITS", FieldKind::Table, 0}, {"luminanceDCHUFFVAL", FieldKind::Table, 0},
    {"luminanceQuantizationTable", FieldKind::Table, 0}, {"restartInterval", FieldKind::Word, 0},
};
constexpr FormatField kPcxFields[] = {
    {"horizontalResolution", FieldKind::Word, 0}, {"verticalResolution", FieldKind::Word, 0},
    {"versionNumber", FieldKind::Word, 5},
};
constexpr FormatField kPngFields[] = {
    {"interlacedImage", FieldKind::Word, 0}, {"colourType", FieldKind::Word, 0},
    {"transparency", FieldKind::Word, 0}, {"transparencyGray", FieldKind::Word, 0},
    {"transparencyRed", FieldKind::Word, 0}, {"transparencyGreen", FieldKind::Word, 0},
    {"transparencyBlue", FieldKind::Word, 0}, {"transparencyEntry", FieldKind::Word, 256},
    {"transparencyPaletteIndex", FieldKind::Table, 0},
};

constexpr FormatFields kFormatFields[] = {
    {code::kFormatGIF, kGifFields}, {code::kFormatTIFF, kTiffFields},
    {code::kFormatSIA, kSiaFields}, {code::kFormatBMP, kBmpFields},
    {code::kFormatJPEG, kJpegFields}, {code::kFormatPCX, kPcxFields},
    {code::kFormatPNG, kPngFields},
};

std::span<const FormatField> fieldsOf(int32_t format) {
    for (const FormatFields &f : kFormatFields) {
        if (f.format == format) return f.fields;
    }
    return {};
}

int fieldIndex(std::span<const FormatField> fields, const char *name) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (std::strcmp(fields[i].name, name) == 0) return static_cast<int>(i);
    }
    return -1;
}

// Index of the table among the record's heap tables.
int tableIndex(std::span<const FormatField> fields, int field) {
    int n = 0;
    for (int i = 0; i < field; ++i) n += fields[i].kind == FieldKind::Table;
    return n;
}

std::unique_ptr<FormatRecord> newFormatRecord(int32_t format) {
    std::span<const FormatField> fields = fieldsOf(format);
    if (fields.empty()) return nullptr;
    auto record = std::unique_ptr<FormatRecord>(new (std::nothrow) FormatRecord);
    if (!record) return nullptr;
    record->format = format;
    record->words.resize(fields.size());
    size_t tables = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        record->words[i] = fields[i].initial;
        tables += fields[i].kind == FieldKind::Table;
    }
    record->tables.resize(tables);
    return record;
}

bool resizeStrips(FormatRecord &record, size_t count) {
    try {
        record.stripByteCounts.assign(count, 0);
        record.stripOffsets.assign(count, 0);
    } catch (const std::bad_alloc &) {
        record.stripByteCounts.clear();
        record.stripOffsets.clear();
        return false;
    }
    return true;
}

// --- Object records ----------------------------------------------------------

DataObject *&chainHead(Environment *env, DataObject *source) {
    return source != nullptr ? source->firstChild : env->objects;
}

bool derivationAllowed(ObjectClass from, ObjectClass to) {
    if (from == to) return true;
    if (isImageClass(from) && isImageClass(to)) return true;
    return isImageClass(from) &&
           (to == ObjectClass::ROI || to == ObjectClass::PowerSpectrumArray ||
            to == ObjectClass::TransferFunctionArray || to == ObjectClass::WindowFunctionArray);
}

void setTypeAndPrecision(const Environment *env, DataObject *object, int32_t type) {
    object->put(Attr::dataType, type);
    object->put(Attr::dataPrecision, precisionForDataType(env, type));
}

// Frees the object's name, repository resources and format record.
int releaseResources(Environment *env, DataObject *object) {
    int result = kOk;
    object->name.clear();
    int32_t repository = object->get32(Attr::repository);
    if (repository == code::kFile) {
        if ((object->flags & kFlagTmpnam) != 0 && object->fileName() != nullptr) {
            // The work file exists from its creation on, written or not.
            if (platform::fileExists(object->fileName()) && !platform::removeFile(object->fileName())) {
                result = fail(env, kSystemError);
            }
        }
        object->flags &= ~kFlagTmpnam;
        object->fileNameStorage.clear();
        object->put(Attr::fileName, 0);
    } else if (repository == code::kWorkSpace) {
        auto handle = reinterpret_cast<HGLOBAL>(object->get(Attr::workSpaceHandle));
        if (handle != nullptr) {
            GlobalUnlock(handle);
            GlobalFree(handle);
        }
        object->put(Attr::workSpace, 0);
        object->put(Attr::workSpaceHandle, 0);
    }
    if (repository != code::kFile) {
        object->fileNameStorage.clear();
        object->put(Attr::fileName, 0);
    }
    object->format.reset();
    object->put(Attr::fileFormat, 0);
    markInited(object, false);
    return result;
}

int freeChain(Environment *env, DataObject *head) {
    int result = kOk;
    while (head != nullptr) {
        DataObject *next = head->next;
        if (int code = freeChain(env, head->firstChild); code != kOk && result == kOk) result = code;
        if (head->alive) {
            head->alive = false;
            if (int code = releaseResources(env, head); code != kOk && result == kOk) result = code;
        }
        head = next;
    }
    return result;
}

int copyFormatRecord(Environment *env, DataObject *object, const DataObject *source) {
    if (!source->format) return kOk;
    std::unique_ptr<FormatRecord> copy(new (std::nothrow) FormatRecord);
    if (!copy) return fail(env, kSystemError);
    try {
        *copy = *source->format;
    } catch (const std::bad_alloc &) {
        return fail(env, kSystemError);
    }
    object->format = std::move(copy);
    object->put(Attr::fileFormat, source->format->format);
    return kOk;
}

int applyList(Environment *env, DataObject *object, std::span<const CmiAttribute> list);

// Offers a name that is not a generic attribute to the format record.
int setFormatAttribute(Environment *env, DataObject *object, const CmiAttribute &pair,
                       std::span<const CmiAttribute> list, bool *reapply) {
    FormatRecord *record = object->format.get();
    if (record == nullptr) return kOk;
    std::span<const FormatField> fields = fieldsOf(record->format);
    int field = fieldIndex(fields, pair.name);
    if (field < 0) return kOk;
    switch (fields[field].kind) {
    case FieldKind::Word:
        record->words[field] = pair.value;
        break;
    case FieldKind::StripCount:
        if (pair.value != record->words[field]) {
            if (pair.value < 0) return fail(env, kOutOfRange);
            if (!resizeStrips(*record, static_cast<size_t>(pair.value))) {
                record->words[field] = 0;
                return fail(env, kSystemError);
            }
            record->words[field] = pair.value;
            *reapply = true;
        }
        break;
    case FieldKind::StripArray: {
        auto *from = reinterpret_cast<const uint32_t *>(pair.value);
        std::vector<uint32_t> &to = std::strcmp(pair.name, "stripOffsets") == 0
                                        ? record->stripOffsets
                                        : record->stripByteCounts;
        if (from != nullptr && !to.empty() && from != to.data()) {
            std::memcpy(to.data(), from, to.size() * sizeof(uint32_t));
        }
        break;
    }
    case FieldKind::Rational: {
        auto *from = reinterpret_cast<const uint32_t *>(pair.value);
        if (from == nullptr) break;
        bool x = pair.name[0] == 'x';
        (x ? record->xResolution : record->yResolution) = {from[0], from[1]};
        (x ? record->hasXResolution : record->hasYResolution) = true;
        break;
    }
    case FieldKind::Table:
        // Heap tables are set with setFormatTable, which knows their length.
        break;
    }
    (void)list;
    return kOk;
}

int applyList(Environment *env, DataObject *object, std::span<const CmiAttribute> list) {
    for (const CmiAttribute &pair : list) {
        if (pair.name == nullptr) continue;
        int index = attributeIndex(pair.name);
        if (index < 0) {
            if (std::strcmp(pair.name, "inited") == 0) {
                markInited(object, pair.value != 0);
                continue;
            }
            if (std::strcmp(pair.name, "tmpnam") == 0) continue;
            bool reapply = false;
            if (int code = setFormatAttribute(env, object, pair, list, &reapply)) return code;
            if (reapply) return applyList(env, object, list);
            continue;
        }
        Attr attr = static_cast<Attr>(index);
        switch (attr) {
        case Attr::fileName: {
            const char *name = reinterpret_cast<const char *>(pair.value);
            if (object->get(Attr::fileName) == 0 && name != nullptr && *name != '\0') {
                try {
                    object->fileNameStorage = name;
                } catch (const std::bad_alloc &) {
                    return fail(env, kSystemError);
                }
                object->put(Attr::fileName, reinterpret_cast<intptr_t>(object->fileNameStorage.c_str()));
            }
            break;
        }
        case Attr::fileFormat:
            if (pair.value != object->get(Attr::fileFormat)) {
                object->format.reset();
                object->put(Attr::fileFormat, pair.value);
                if (!fieldsOf(static_cast<int32_t>(pair.value)).empty()) {
                    object->format = newFormatRecord(static_cast<int32_t>(pair.value));
                    if (!object->format) return fail(env, kSystemError);
                }
                return applyList(env, object, list);
            }
            break;
        case Attr::dataType: {
            object->put(attr, pair.value);
            int32_t precision = precisionForDataType(env, static_cast<int32_t>(pair.value));
            if (precision >= 0) object->put(Attr::dataPrecision, precision);
            markInited(object, false);
            break;
        }
        case Attr::xDimension:
        case Attr::yDimension:
        case Attr::zDimension:
        case Attr::tDimension:
        case Attr::bDimension:
        case Attr::dataPrecision:
        case Attr::compression:
            if (object->get(attr) != pair.value) markInited(object, false);
            object->put(attr, pair.value);
            break;
        default:
            object->put(attr, pair.value);
            break;
        }
    }
    return kOk;
}

bool searchByName(DataObject *node, const char *name, DataObject **found) {
    for (; node != nullptr; node = node->next) {
        if (node->alive && node->name == name) {
            *found = node;
            return true;
        }
    }
    return false;
}

DataObject *searchTree(DataObject *start, const char *name) {
    DataObject *found = nullptr;
    if (searchByName(start, name, &found)) return found;
    for (DataObject *node = start; node != nullptr; node = node->next) {
        if (DataObject *inChild = searchTree(node->firstChild, name)) return inChild;
    }
    return nullptr;
}

}  // namespace

const char *className(ObjectClass cls) {
    int index = static_cast<int>(cls);
    return index >= 0 && index < static_cast<int>(ObjectClass::count) ? kClasses[index].name : nullptr;
}

bool classFromName(const char *name, ObjectClass *cls) {
    if (name == nullptr) return false;
    for (const ClassTemplate &t : kClasses) {
        if (std::strcmp(t.name, name) == 0) {
            *cls = t.cls;
            return true;
        }
    }
    return false;
}

bool isImageClass(ObjectClass cls) {
    return cls == ObjectClass::ColourImage || cls == ObjectClass::GenericImage ||
           cls == ObjectClass::MonochromeImage;
}

int attributeIndex(const char *name) {
    if (name == nullptr) return -1;
    for (const AttributeName &n : kAttributeNames) {
        if (std::strcmp(n.name, name) == 0) return static_cast<int>(n.attr);
    }
    return -1;
}

int checkObject(Environment *env, const DataObject *object) {
    if (int code = checkEnvironment(env)) return code;
    if (object == nullptr || !object->alive || object->id == 0 || object->id > env->registry.size() ||
        env->registry[object->id - 1] != object) {
        return fail(env, kInvalidInstance);
    }
    return kOk;
}

DataObject *createObject(Environment *env, const char *name, const char *clsName,
                         DataObject *source, std::span<const CmiAttribute> list) {
    if (checkEnvironment(env) != kOk) return nullptr;
    ObjectClass cls;
    if (!classFromName(clsName, &cls)) {
        reportError(env, kIncorrectObjectClass);
        return nullptr;
    }
    return createObject(env, name, cls, source, list);
}

DataObject *createObject(Environment *env, const char *name, ObjectClass cls, DataObject *source,
                         std::span<const CmiAttribute> list) {
    if (checkEnvironment(env) != kOk) return nullptr;
    if (static_cast<int>(cls) < 0 || cls >= ObjectClass::count) {
        reportError(env, kIncorrectObjectClass);
        return nullptr;
    }
    if (source != nullptr) {
        if (checkObject(env, source) != kOk) return nullptr;
        if (!derivationAllowed(source->cls, cls)) {
            reportError(env, kMismatchObjectClass);
            return nullptr;
        }
    }
    DataObject *&head = chainHead(env, source);
    DataObject *record = nullptr;
    DataObject **tail = &head;
    for (DataObject *node = head; node != nullptr; node = node->next) {
        if (!node->alive) {
            record = node;
            break;
        }
        tail = &node->next;
    }
    if (record == nullptr) {
        record = new (std::nothrow) DataObject;
        if (record == nullptr) {
            reportError(env, kSystemError);
            return nullptr;
        }
        try {
            env->registry.push_back(record);
        } catch (const std::bad_alloc &) {
            delete record;
            reportError(env, kSystemError);
            return nullptr;
        }
        record->id = static_cast<uint32_t>(env->registry.size());
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = record;
    }
    record->alive = true;
    record->flags = 0;
    record->cls = cls;
    record->source = source;
    record->format.reset();
    record->fileNameStorage.clear();
    try {
        record->name = name != nullptr ? name : "";
    } catch (const std::bad_alloc &) {
        record->alive = false;
        reportError(env, kSystemError);
        return nullptr;
    }
    if (source != nullptr) {
        record->attr = source->attr;
        record->put(Attr::applicationAddressSpace, 0);
        record->put(Attr::fileFormat, 0);
        record->put(Attr::fileName, 0);
        record->put(Attr::workSpace, 0);
        record->put(Attr::workSpaceHandle, 0);
        switch (cls) {
        case ObjectClass::ColourImage:
            record->put(Attr::zDimension, 1);
            record->put(Attr::tDimension, 1);
            break;
        case ObjectClass::MonochromeImage:
            record->put(Attr::zDimension, 1);
            record->put(Attr::tDimension, 1);
            record->put(Attr::bDimension, 1);
            break;
        case ObjectClass::ROI: setTypeAndPrecision(env, record, code::kNonnegativeInteger); break;
        case ObjectClass::PowerSpectrumArray:
        case ObjectClass::TransferFunctionArray: setTypeAndPrecision(env, record, code::kComplex); break;
        case ObjectClass::WindowFunctionArray: setTypeAndPrecision(env, record, code::kReal); break;
        default: break;
        }
        if (copyFormatRecord(env, record, source) != kOk) {
            record->alive = false;
            return nullptr;
        }
    } else {
        record->attr = classTemplate(cls);
        if (cls == ObjectClass::DitherArray) {
            record->put(Attr::xDimension, 4);
            record->put(Attr::yDimension, 4);
            record->put(Attr::scaleFactor, 16);
            setTypeAndPrecision(env, record, code::kNonnegativeInteger);
        } else if (cls == ObjectClass::MaskArray) {
            setTypeAndPrecision(env, record, code::kNonnegativeInteger);
        } else if (cls == ObjectClass::WindowFunctionArray) {
            setTypeAndPrecision(env, record, code::kReal);
        }
    }
    if (applyList(env, record, list) != kOk) {
        record->alive = false;
        releaseResources(env, record);
        return nullptr;
    }
    return record;
}

int destroyObject(Environment *env, DataObject *object) {
    if (int code = checkObject(env, object)) return code;
    object->alive = false;
    int result = releaseResources(env, object);
    int children = freeChain(env, object->firstChild);
    return result != kOk ? result : children;
}

int freeObjectTree(Environment *env) {
    int result = freeChain(env, env->objects);
    // Dead records stay linked in their chains for reuse; the registry holds
    // every record ever made, so it frees them all.
    for (DataObject *record : env->registry) delete record;
    env->objects = nullptr;
    env->registry.clear();
    return result;
}

int setAttributes(Environment *env, DataObject *object, std::span<const CmiAttribute> list) {
    if (int code = checkObject(env, object)) return code;
    return applyList(env, object, list);
}

int setAttribute(Environment *env, DataObject *object, const char *name, intptr_t value) {
    CmiAttribute pair{name, value};
    return setAttributes(env, object, {&pair, 1});
}

int inquireAttributes(Environment *env, DataObject *object, std::span<const CmiAttribute> list) {
    if (int code = checkObject(env, object)) return code;
    for (const CmiAttribute &pair : list) {
        auto *target = reinterpret_cast<intptr_t *>(pair.value);
        if (pair.name == nullptr || target == nullptr) continue;
        int index = attributeIndex(pair.name);
        if (index >= 0) {
            *target = object->attr[index];
        } else if (std::strcmp(pair.name, "inited") == 0) {
            *target = (object->flags & kFlagInited) ? 1 : 0;
        } else if (std::strcmp(pair.name, "tmpnam") == 0) {
            *target = (object->flags & kFlagTmpnam) ? 1 : 0;
        } else if (FormatRecord *record = object->format.get()) {
            std::span<const FormatField> fields = fieldsOf(record->format);
            int field = fieldIndex(fields, pair.name);
            if (field < 0) continue;
            switch (fields[field].kind) {
            case FieldKind::Word:
            case FieldKind::StripCount: *target = record->words[field]; break;
            case FieldKind::StripArray:
                *target = reinterpret_cast<intptr_t>(std::strcmp(pair.name, "stripOffsets") == 0
                                                         ? record->stripOffsets.data()
                                                         : record->stripByteCounts.data());
                break;
            case FieldKind::Rational: {
                bool x = pair.name[0] == 'x';
                bool has = x ? record->hasXResolution : record->hasYResolution;
                *target = has ? reinterpret_cast<intptr_t>((x ? record->xResolution : record->yResolution).data())
                              : 0;
                break;
            }
            case FieldKind::Table: {
                std::vector<uint8_t> &table = record->tables[tableIndex(fields, field)];
                *target = table.empty() ? 0 : reinterpret_cast<intptr_t>(table.data());
                break;
            }
            }
        }
    }
    return kOk;
}

intptr_t inquireAttribute(Environment *env, DataObject *object, const char *name) {
    intptr_t value = 0;
    CmiAttribute pair{name, reinterpret_cast<intptr_t>(&value)};
    inquireAttributes(env, object, {&pair, 1});
    return value;
}

intptr_t *formatField(DataObject *object, const char *name) {
    if (object == nullptr || !object->format || name == nullptr) return nullptr;
    std::span<const FormatField> fields = fieldsOf(object->format->format);
    int field = fieldIndex(fields, name);
    if (field < 0 || (fields[field].kind != FieldKind::Word && fields[field].kind != FieldKind::StripCount)) {
        return nullptr;
    }
    return &object->format->words[field];
}

intptr_t formatWord(const DataObject *object, const char *name) {
    intptr_t *word = formatField(const_cast<DataObject *>(object), name);
    return word != nullptr ? *word : 0;
}

int setFormatTable(Environment *env, DataObject *object, const char *name, std::span<const uint8_t> bytes) {
    if (int code = checkObject(env, object)) return code;
    if (!object->format) return kOk;
    std::span<const FormatField> fields = fieldsOf(object->format->format);
    int field = fieldIndex(fields, name);
    if (field < 0 || fields[field].kind != FieldKind::Table) return kOk;
    try {
        object->format->tables[tableIndex(fields, field)].assign(bytes.begin(), bytes.end());
    } catch (const std::bad_alloc &) {
        return fail(env, kSystemError);
    }
    return kOk;
}

DataObject *findObject(Environment *env, DataObject *start, const char *name) {
    if (checkEnvironment(env) != kOk) return nullptr;
    DataObject *found = name != nullptr ? searchTree(start != nullptr ? start : env->objects, name) : nullptr;
    if (found == nullptr) reportError(env, kInvalidInstance);
    return found;
}

DataObject *objectById(Environment *env, uint32_t id) {
    if (id == 0 || id > env->registry.size()) return nullptr;
    DataObject *object = env->registry[id - 1];
    return object->alive ? object : nullptr;
}

bool elementCount(const DataObject *object, uint64_t *count) {
    auto dim = [object](Attr a) -> uint64_t {
        intptr_t v = object->get(a);
        return v < 0 ? UINT64_MAX : static_cast<uint64_t>(v);
    };
    uint64_t dims[5] = {dim(Attr::xDimension), 1, 1, 1, 1};
    switch (object->cls) {
    case ObjectClass::Histogram:
    case ObjectClass::Tuple:
    case ObjectClass::CompositeIDArray: break;
    case ObjectClass::Matrix:
    case ObjectClass::DitherArray:
    case ObjectClass::ImpulseResponseArray:
    case ObjectClass::MaskArray: dims[1] = dim(Attr::yDimension); break;
    case ObjectClass::LookupTable: dims[1] = dim(Attr::bDimension); break;
    default:
        dims[1] = dim(Attr::yDimension);
        dims[2] = dim(Attr::zDimension);
        dims[3] = dim(Attr::tDimension);
        dims[4] = dim(Attr::bDimension);
        break;
    }
    uint64_t total = 1;
    for (uint64_t d : dims) {
        if (d == UINT64_MAX || __builtin_mul_overflow(total, d, &total)) return false;
    }
    *count = total;
    return true;
}

int32_t storagePrecision(const Environment *env, const DataObject *object) {
    int32_t type = object->get32(Attr::dataType);
    int32_t precision = object->get32(Attr::dataPrecision);
    if (type == code::kBoolean) return 1;
    if (type == code::kNonnegativeInteger && precision < 8) {
        int32_t envPrecision = envAttr(env, EnvAttr::nonnegativeIntegerPrecision);
        return envPrecision > 0 ? envPrecision : 8;
    }
    return precision;
}

bool dataSize(const Environment *env, const DataObject *object, uint64_t *bytes) {
    uint64_t count;
    int32_t precision = storagePrecision(env, object);
    if (precision <= 0 || !elementCount(object, &count)) return false;
    uint64_t bits;
    if (__builtin_mul_overflow(count, static_cast<uint64_t>(precision), &bits) || bits > UINT64_MAX - 7) {
        return false;
    }
    *bytes = (bits + 7) / 8;
    return true;
}

int compositeGet(Environment *env, DataObject *composite, int32_t index, DataObject **element) {
    *element = nullptr;
    if (int code = checkObject(env, composite)) return code;
    if (index < 0 || static_cast<intptr_t>(index) + 1 > composite->get(Attr::xDimension)) {
        return fail(env, kOutOfRange);
    }
    if (composite->get32(Attr::dataType) != code::kWord32) return fail(env, kMismatchDataType);
    uint32_t id = 0;
    if (int code = readElementWord(env, composite, index, &id)) return code;
    *element = objectById(env, id);
    return kOk;
}

int compositeSet(Environment *env, DataObject *element, DataObject *composite, int32_t index) {
    if (int code = checkObject(env, composite)) return code;
    if (index < 0 || static_cast<intptr_t>(index) + 1 > composite->get(Attr::xDimension)) {
        return fail(env, kOutOfRange);
    }
    if (composite->get32(Attr::dataType) != code::kWord32) return fail(env, kMismatchDataType);
    return writeElementWord(env, composite, index, element != nullptr ? element->id : 0);
}

DataObject *makeTuple(Environment *env, std::span<const int32_t> values) {
    if (values.empty() || values.size() > 5) {
        reportError(env, kOutOfRange);
        return nullptr;
    }
    const CmiAttribute list[] = {
        {"entries", static_cast<intptr_t>(values.size())},
        {"dataType", code::kWord32},
        {"repository", code::kWorkSpace},
    };
    DataObject *tuple = createObject(env, nullptr, ObjectClass::Tuple, nullptr, list);
    if (tuple == nullptr) return nullptr;
    for (size_t i = 0; i < values.size(); ++i) {
        if (writeElementWord(env, tuple, static_cast<int64_t>(i), static_cast<uint32_t>(values[i])) != kOk) {
            destroyObject(env, tuple);
            return nullptr;
        }
    }
    return tuple;
}

int readTuple(Environment *env, DataObject *tuple, std::span<int32_t> values) {
    if (int code = checkObject(env, tuple)) return code;
    if (tuple->get32(Attr::dataType) != code::kWord32) return fail(env, kMismatchDataType);
    if (static_cast<intptr_t>(values.size()) > tuple->get(Attr::xDimension)) return fail(env, kOutOfRange);
    for (size_t i = 0; i < values.size(); ++i) {
        uint32_t word = 0;
        if (int code = readElementWord(env, tuple, static_cast<int64_t>(i), &word)) return code;
        values[i] = static_cast<int32_t>(word);
    }
    return kOk;
}

}  // namespace orvo
