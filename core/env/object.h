// Data objects: typed records of 39 named attribute words plus a body of
// samples in a repository (caller memory, a file or a global memory block).
//
// Objects live in a tree owned by their environment: top-level objects form
// one chain, objects derived from an object form that object's child chain.
// Destroying an object keeps its record for reuse and frees everything
// derived from it; closing the environment frees the whole tree.
//
// Attribute words are pointer-sized so that addresses ("fileName",
// "applicationAddressSpace", "lut") fit; numeric attributes hold 32-bit
// values.  Names are matched exactly, pairs are applied in list order.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/env/environment.h"

namespace orvo {

enum class Attr : int {
    applicationAddressSpace,
    bitOrder,
    byteOrder,
    colourSpace,
    compression,
    k,
    eolState,
    dataPrecision,
    dataType,
    fileFormat,
    fileName,
    jIndexAssignment,
    kIndexAssignment,
    lIndexAssignment,
    mIndexAssignment,
    nIndexAssignment,
    repository,
    lut,
    roi,
    samplingFactor,
    scaleFactor,
    size,
    xDimension,
    yDimension,
    zDimension,
    tDimension,
    bDimension,
    xMatchPoint,
    yMatchPoint,
    zMatchPoint,
    tMatchPoint,
    bMatchPoint,
    workSpace,
    applAddressSpaceHandle,
    workSpaceHandle,
    pixelInterpretation,
    widthByteBoundary,
    compressionLevel,
    filter,
    count
};
inline constexpr int kAttrCount = static_cast<int>(Attr::count);

enum class ObjectClass : int {
    ColourImage,
    GenericImage,
    MonochromeImage,
    ROI,
    Histogram,
    LookupTable,
    Matrix,
    DitherArray,
    ImpulseResponseArray,
    MaskArray,
    PowerSpectrumArray,
    TransferFunctionArray,
    WindowFunctionArray,
    Tuple,
    CompositeIDArray,
    count
};

const char *className(ObjectClass cls);
// The class called `name`, or false when the name is not a class.
bool classFromName(const char *name, ObjectClass *cls);
bool isImageClass(ObjectClass cls);

// Object flags.
inline constexpr uint32_t kFlagInited = 1u;   // the repository holds valid samples
inline constexpr uint32_t kFlagTmpnam = 2u;   // the file is a temporary, deleted with the object

// The attributes that belong to one file format (BMP resolutions, TIFF
// strips, ...).  Fields are words addressed by name through the format's
// field table; TIFF strip arrays, rationals and heap tables are owned here.
struct FormatRecord {
    int32_t format = 0;
    std::vector<intptr_t> words;               // one per field of the table
    std::vector<uint32_t> stripByteCounts;     // TIFF, "stripsPerImage" words
    std::vector<uint32_t> stripOffsets;        // TIFF, "stripsPerImage" words
    std::array<uint32_t, 2> xResolution{};     // TIFF rationals, valid when has*
    std::array<uint32_t, 2> yResolution{};
    bool hasXResolution = false;
    bool hasYResolution = false;
    std::vector<std::vector<uint8_t>> tables;  // heap tables, one per table field
};

struct DataObject {
    DataObject *next = nullptr;        // next object of the same chain
    DataObject *firstChild = nullptr;  // first object derived from this one
    bool alive = false;
    uint32_t flags = 0;
    std::string name;
    ObjectClass cls = ObjectClass::GenericImage;
    DataObject *source = nullptr;
    std::array<intptr_t, kAttrCount> attr{};
    std::unique_ptr<FormatRecord> format;
    std::string fileNameStorage;       // what attr[fileName] points at
    uint32_t id = 0;                   // index in the environment registry + 1

    intptr_t get(Attr a) const { return attr[static_cast<int>(a)]; }
    int32_t get32(Attr a) const { return static_cast<int32_t>(attr[static_cast<int>(a)]); }
    void put(Attr a, intptr_t value) { attr[static_cast<int>(a)] = value; }
    bool inited() const { return (flags & kFlagInited) != 0; }
    const char *fileName() const { return reinterpret_cast<const char *>(get(Attr::fileName)); }
    DataObject *lutObject() const { return reinterpret_cast<DataObject *>(get(Attr::lut)); }
};

// The attribute called `name` (aliases included), or -1.
int attributeIndex(const char *name);

// Creates an object of class `cls`, from its template or derived from
// `source`, then applies `list`.  Null on failure, the reason recorded as the
// environment's last error.
DataObject *createObject(Environment *env, const char *name, ObjectClass cls, DataObject *source,
                         std::span<const CmiAttribute> list = {});
// The same with the class given by name (unknown names report 6).
DataObject *createObject(Environment *env, const char *name, const char *clsName,
                         DataObject *source, std::span<const CmiAttribute> list = {});

int destroyObject(Environment *env, DataObject *object);

// Frees every object of the environment (used when it closes).
int freeObjectTree(Environment *env);

// Applies (name, value) pairs.
int setAttributes(Environment *env, DataObject *object, std::span<const CmiAttribute> list);
int setAttribute(Environment *env, DataObject *object, const char *name, intptr_t value);

// Reads attributes: each pair's value is an `intptr_t *` receiving the word.
// Unknown names are skipped and their variables left untouched.
int inquireAttributes(Environment *env, DataObject *object, std::span<const CmiAttribute> list);
// One attribute; 0 when the name is unknown or the object is not alive.
intptr_t inquireAttribute(Environment *env, DataObject *object, const char *name);

// First alive object called `name`, depth first from `start` (or from the
// first top-level object); null with 9 recorded when none.
DataObject *findObject(Environment *env, DataObject *start, const char *name);

// 0 when `object` is alive in `env`, else 9 (recorded).
int checkObject(Environment *env, const DataObject *object);

// Composite elements: object references stored as ids in a 32-bit word body.
int compositeGet(Environment *env, DataObject *composite, int32_t index, DataObject **element);
int compositeSet(Environment *env, DataObject *element, DataObject *composite, int32_t index);
DataObject *objectById(Environment *env, uint32_t id);

// Tuples of 32-bit words.
DataObject *makeTuple(Environment *env, std::span<const int32_t> values);
int readTuple(Environment *env, DataObject *tuple, std::span<int32_t> values);

// Number of elements of the object as its class counts them, and its data
// size in bytes ((elements x storage precision + 7) / 8); false on overflow.
bool elementCount(const DataObject *object, uint64_t *count);
bool dataSize(const Environment *env, const DataObject *object, uint64_t *bytes);
// Precision the samples are stored with: 1 for boolean, at least the
// environment's nonnegative precision for nonnegative integers.
int32_t storagePrecision(const Environment *env, const DataObject *object);

// Format record fields: the field called `name` of the object's format
// record, as a pointer to its word, or null.
intptr_t *formatField(DataObject *object, const char *name);
intptr_t formatWord(const DataObject *object, const char *name);

// Sets a heap table field of the format record (JPEG tables, PNG
// transparency) from a copy of `bytes`.
int setFormatTable(Environment *env, DataObject *object, const char *name,
                   std::span<const uint8_t> bytes);

// Raises or clears the inited flag.
inline void markInited(DataObject *object, bool inited) {
    if (inited) object->flags |= kFlagInited;
    else object->flags &= ~kFlagInited;
}

}  // namespace orvo
