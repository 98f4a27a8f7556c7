// The point, colour and neighbourhood drivers and the operator dispatch
// behind them.
//
// Palette pictures are processed through their colour table only: the
// point driver treats the table bytes (blue, green, red and reserved alike)
// as one row of 8-bit samples, the colour driver as three bands of one row.
// Grey and full-colour pictures without a region go through the point
// driver's pixel path, which treats every byte of the pixel rows (padding
// included) as a sample.  Both raw paths work on the bitmap bytes in place
// through image objects over caller memory; every offset they use was
// checked against the block size when the call began, and is checked again
// here before the objects are made.
#include <cstring>
#include <vector>

#include "core/env/codes.h"
#include "core/formats/bmp.h"
#include "core/process/colourmode.h"
#include "core/process/frame.h"
#include "core/process/point.h"

namespace orvo {
namespace {

inline constexpr int32_t kBoundaryCondition = 165;

// An 8-bit image object of `width` x `height` x `bands` samples held in
// caller memory at `bytes`.
DataObject *imageOverBytes(Environment *env, const uint8_t *bytes, uint64_t size, int64_t width, int64_t height,
                           int64_t bands) {
    const CmiAttribute list[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(bytes)},
        {"size", static_cast<intptr_t>(size)},
        {"dataType", code::kNonnegativeInteger},
        {"dataPrecision", 8},
        {"xDimension", static_cast<intptr_t>(width)},
        {"yDimension", static_cast<intptr_t>(height)},
        {"bDimension", static_cast<intptr_t>(bands)},
    };
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    if (image != nullptr) markInited(image, true);
    return image;
}

int lastErrorOr(Environment *env, int fallback) {
    const int code = lastError(env);
    return code != kOk ? code : fallback;
}

// A new zeroed block of the input's size, locked, with the input's header.
struct OutputBlock {
    HGLOBAL handle = nullptr;
    uint8_t *bytes = nullptr;

    ~OutputBlock() {
        if (bytes != nullptr) GlobalUnlock(handle);
        if (handle != nullptr) GlobalFree(handle);
    }
    bool allocate(const ProcessCall &call) {
        handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(call.size()));
        if (handle == nullptr) return false;
        bytes = static_cast<uint8_t *>(GlobalLock(handle));
        if (bytes == nullptr) return false;
        std::memcpy(bytes, call.bitmap(), kInfoHeaderSize);
        return true;
    }
    // Unlocks and gives the block up to the caller.
    HGLOBAL release() {
        GlobalUnlock(handle);
        bytes = nullptr;
        HGLOBAL result = handle;
        handle = nullptr;
        return result;
    }
};

// Where the palette and the pixel rows of the call's bitmap lie; false when
// they do not fit in the block.
struct BitmapLayout {
    uint64_t paletteBytes = 0;
    uint64_t pixelOffset = 0;
    uint64_t rowBytes = 0;
    uint64_t pixelBytes = 0;
};
bool layoutOf(const ProcessCall &call, BitmapLayout *layout) {
    const uint64_t size = call.size();
    const uint64_t entries = call.paletteEntries();
    if (call.width() <= 0 || call.height() <= 0 || entries > 65536) return false;
    layout->paletteBytes = 4 * entries;
    layout->pixelOffset = kInfoHeaderSize + layout->paletteBytes;
    layout->rowBytes = (static_cast<uint64_t>(call.width()) * static_cast<uint64_t>(call.bitsPerPixel()) + 31) / 32 * 4;
    layout->pixelBytes = layout->rowBytes * static_cast<uint64_t>(call.height());
    return layout->pixelOffset <= size && layout->pixelBytes <= size - layout->pixelOffset;
}

// Region handling: the rectangle is extracted, processed and pasted back
// into the parsed picture, which becomes the result.
template <class Operator>
HGLOBAL processRegion(ProcessCall &call, const Box &box, Operator &&op) {
    Environment *env = call.env();
    DataObject *picture, *part;
    if (int code = call.parse(&picture)) return call.failed(code);
    if (int code = extractRegion(env, picture, box, &part)) return call.failed(code);
    DataObject *processed = deriveImage(env, part);
    if (processed == nullptr) return call.failed(lastErrorOr(env, kSystemError));
    if (int code = op(env, part, processed)) return call.failed(code);
    if (int code = pasteRegion(env, processed, picture, box.x, box.y)) return call.failed(code);
    return call.finish(picture);
}

// The raw path of the point driver.
HGLOBAL pointRaw(ProcessCall &call, int32_t mode, int32_t operation, double first, double second) {
    Environment *env = call.env();
    BitmapLayout layout;
    if (!layoutOf(call, &layout)) return call.failed(kInsufficientSize);
    OutputBlock out;
    if (!out.allocate(call)) return call.failed(kSystemError);
    const uint8_t *in = call.bitmap();
    const uint64_t size = call.size();
    const bool palettePath = call.bitsPerPixel() != 24 && !(call.bitsPerPixel() == 8 && mode == kModeGray);
    if (palettePath) {
        const uint64_t n = layout.paletteBytes;
        if (n != 0) {
            DataObject *source = imageOverBytes(env, in + kInfoHeaderSize, n, static_cast<int64_t>(n), 1, 1);
            DataObject *target = imageOverBytes(env, out.bytes + kInfoHeaderSize, n, static_cast<int64_t>(n), 1, 1);
            if (source == nullptr || target == nullptr) return call.failed(lastErrorOr(env, kSystemError));
            if (int code = runPointOperator(env, operation, source, target, first, second)) return call.failed(code);
            for (uint64_t i = 3; i < n; i += 4) out.bytes[kInfoHeaderSize + i] = 0;
        }
        std::memcpy(out.bytes + layout.pixelOffset, in + layout.pixelOffset, size - layout.pixelOffset);
    } else {
        std::memcpy(out.bytes + kInfoHeaderSize, in + kInfoHeaderSize, layout.paletteBytes);
        const int64_t width = static_cast<int64_t>(layout.rowBytes);
        const int64_t height = call.height();
        DataObject *source = imageOverBytes(env, in + layout.pixelOffset, layout.pixelBytes, width, height, 1);
        DataObject *target = imageOverBytes(env, out.bytes + layout.pixelOffset, layout.pixelBytes, width, height, 1);
        if (source == nullptr || target == nullptr) return call.failed(lastErrorOr(env, kSystemError));
        if (int code = runPointOperator(env, operation, source, target, first, second)) return call.failed(code);
    }
    return call.finishBlock(out.release());
}

// The palette path of the colour driver: the table as three bands (red,
// green, blue) of one row.
HGLOBAL colourPalette(ProcessCall &call, int32_t operation, int32_t first, int32_t second, int32_t third) {
    Environment *env = call.env();
    BitmapLayout layout;
    if (!layoutOf(call, &layout)) return call.failed(kInsufficientSize);
    OutputBlock out;
    if (!out.allocate(call)) return call.failed(kSystemError);
    const uint8_t *in = call.bitmap();
    const uint64_t n = call.paletteEntries();
    if (n != 0) {
        std::vector<uint8_t> planes(3 * n), result(3 * n);
        const uint8_t *palette = in + kInfoHeaderSize;
        for (uint64_t i = 0; i < n; ++i) {
            planes[i] = palette[4 * i + 2];
            planes[n + i] = palette[4 * i + 1];
            planes[2 * n + i] = palette[4 * i];
        }
        DataObject *source = imageOverBytes(env, planes.data(), planes.size(), static_cast<int64_t>(n), 1, 3);
        DataObject *target = imageOverBytes(env, result.data(), result.size(), static_cast<int64_t>(n), 1, 3);
        if (source == nullptr || target == nullptr) return call.failed(lastErrorOr(env, kSystemError));
        if (int code = runColourOperator(env, operation, source, target, first, second, third)) {
            return call.failed(code);
        }
        uint8_t *written = out.bytes + kInfoHeaderSize;
        for (uint64_t i = 0; i < n; ++i) {
            written[4 * i] = result[2 * n + i];
            written[4 * i + 1] = result[n + i];
            written[4 * i + 2] = result[i];
        }
    }
    std::memcpy(out.bytes + layout.pixelOffset, in + layout.pixelOffset, call.size() - layout.pixelOffset);
    return call.finishBlock(out.release());
}

// Runs `op` from the parsed picture into a new image derived from it and
// generates that image.
template <class Operator>
HGLOBAL processWhole(ProcessCall &call, Operator &&op) {
    Environment *env = call.env();
    DataObject *picture;
    if (int code = call.parse(&picture)) return call.failed(code);
    DataObject *result = deriveImage(env, picture);
    if (result == nullptr) return call.failed(lastErrorOr(env, kSystemError));
    if (int code = op(env, picture, result)) return call.failed(code);
    return call.finish(result);
}

}  // namespace

int runPointOperator(Environment *env, int32_t operation, DataObject *source, DataObject *destination, double first,
                     double second) {
    switch (operation) {
    case kOpInvert: return invertImage(env, source, destination);
    case kOpBrightnessContrast: return brightnessContrast(env, source, destination, first, second);
    case kOpGamma: return gammaTable(env, source, destination, first);
    case kOpSolarize: return solarize(env, source, destination);
    default: return fail(env, kRefusedArgument);
    }
}

int runColourOperator(Environment *env, int32_t operation, DataObject *source, DataObject *destination,
                      int32_t first, int32_t second, int32_t third) {
    switch (operation) {
    case kOpColourBalance: return colourBalance(env, source, destination, first, second, third);
    case kOpHueSaturation: return hueSaturation(env, source, destination, first, second, third);
    default: return fail(env, kRefusedArgument);
    }
}

int runNeighbourhoodOperator(Environment *env, int32_t operation, const NeighbourhoodParameters &parameters,
                             DataObject *source, DataObject *destination) {
    switch (operation) {
    case kOpEqualize: return equalize(env, source, destination);
    default: return fail(env, kRefusedArgument);
    }
}

HGLOBAL runPointOperation(HGLOBAL image, int32_t mode, int32_t operation, double first, double second,
                          const CmiAttribute *attrs, int32_t count, int32_t *status) {
    ProcessCall call(image, attrs, count, status);
    if (!call.begin()) return nullptr;
    const Region region = readRegion(attrs, count, call.width(), call.height());
    if (region.given && mode != kMode16 && mode != kMode256) {
        return processRegion(call, region.box, [&](Environment *env, DataObject *source, DataObject *destination) {
            return runPointOperator(env, operation, source, destination, first, second);
        });
    }
    return pointRaw(call, mode, operation, first, second);
}

HGLOBAL runColourOperation(HGLOBAL image, int32_t mode, int32_t operation, int32_t first, int32_t second,
                           int32_t third, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    ProcessCall call(image, attrs, count, status);
    if (!call.begin()) return nullptr;
    if (mode == kMode16 || mode == kMode256) return colourPalette(call, operation, first, second, third);
    auto op = [&](Environment *env, DataObject *source, DataObject *destination) {
        return runColourOperator(env, operation, source, destination, first, second, third);
    };
    const Region region = readRegion(attrs, count, call.width(), call.height());
    if (region.given) return processRegion(call, region.box, op);
    return processWhole(call, op);
}

HGLOBAL runNeighbourhoodOperation(HGLOBAL image, int32_t mode, int32_t operation,
                                  const NeighbourhoodParameters &parameters, const CmiAttribute *attrs,
                                  int32_t count, int32_t *status) {
    if (mode != kModeGray && mode != kModeRGB) {
        *status = kRefusedArgument;
        return nullptr;
    }
    ProcessCall call(image, attrs, count, status);
    if (!call.begin()) return nullptr;
    setEnvAttr(call.env(), EnvAttr::boundaryCondition, kBoundaryCondition);
    auto op = [&](Environment *env, DataObject *source, DataObject *destination) {
        return runNeighbourhoodOperator(env, operation, parameters, source, destination);
    };
    const Region region = readRegion(attrs, count, call.width(), call.height());
    if (region.given) return processRegion(call, region.box, op);
    return processWhole(call, op);
}

}  // namespace orvo
