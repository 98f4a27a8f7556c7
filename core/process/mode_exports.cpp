// The colour mode exports: full colour, grayscale, bitmap, 256 and 16
// palette colours.  Each one checks that the mode the caller names matches
// the bitmap's bits per pixel (-100 otherwise), parses the bitmap, runs the
// conversion steps of colourmode.h and generates the result.
//
// 1-bit bitmaps are parsed with the environment's "byteBoundary" at 256, so
// that their rows are whole bytes; the conversions give their results the
// real width.
#include <cstdint>

#include "core/env/codes.h"
#include "core/env/exported.h"
#include "core/formats/bmp.h"
#include "core/process/colourmode.h"
#include "core/process/frame.h"
#include "core/process/point.h"

namespace orvo {
namespace {

// Bits per pixel a mode stands for; 0 for an unknown mode.
int32_t bitsOfMode(int32_t mode) {
    switch (mode) {
    case kModeBitmap: return 1;
    case kMode16: return 4;
    case kMode256:
    case kModeGray:
    case kModeInvertedGray: return 8;
    case kModeRGB: return 24;
    default: return 0;
    }
}

bool oneOf(int32_t value, std::initializer_list<int32_t> accepted) {
    for (int32_t a : accepted) {
        if (a == value) return true;
    }
    return false;
}

bool paletteArgumentsValid(int32_t dither, int32_t quantization) {
    return oneOf(dither, {kDitherNone, kMethodErrorDiffusion, kMethodPattern}) &&
           oneOf(quantization, {kQuantizePopularity, kQuantizeUniform, kQuantizeMedianCut});
}

// Locks the bitmap, opens the environment and checks the bits per pixel
// against the mode; false when the call has ended (status set).
bool beginFor(ProcessCall &call, int32_t mode) {
    if (!call.begin()) return false;
    if (call.bitsPerPixel() != bitsOfMode(mode)) {
        call.failed(kRefusedArgument);
        return false;
    }
    // Bitmaps are parsed with rows of whole bytes.
    if (call.bitsPerPixel() == 1) setEnvAttr(call.env(), EnvAttr::byteBoundary, 256);
    return true;
}

// The 8-bit values inverted into one band without palette.
int invertedGrey(Environment *env, DataObject *source, DataObject **result) {
    if (source->get32(Attr::dataType) != code::kNonnegativeInteger) return fail(env, kMismatchDataType);
    const CmiAttribute list[] = {{"lut", 0}, {"bDimension", 1}};
    DataObject *grey = deriveImage(env, source, list);
    if (grey == nullptr) return lastError(env) != kOk ? lastError(env) : kSystemError;
    if (int code = invertImage(env, source, grey)) return code;
    *result = grey;
    return kOk;
}

Levels levelsOf(int32_t level1, int32_t level2, int32_t level3) {
    Levels levels;
    levels.level[0] = level1;
    levels.level[1] = level2;
    levels.level[2] = level3;
    return levels;
}

HGLOBAL indexedColour(HGLOBAL image, int32_t mode, int32_t targetMode, int32_t dither, int32_t quantization,
                      const Levels &levels, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    ProcessCall call(image, attrs, count, status);
    if (!beginFor(call, mode)) return nullptr;
    Environment *env = call.env();
    DataObject *picture, *result;
    if (int code = call.parse(&picture)) return call.failed(code);
    if (int code = convertToIndexed(env, picture, targetMode, dither, quantization, levels, &result)) {
        return call.failed(code);
    }
    return call.finish(result);
}

}  // namespace
}  // namespace orvo

using namespace orvo;

extern "C" {

HGLOBAL CmiModeRGBColor(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!oneOf(mode, {kModeBitmap, kMode16, kMode256, kModeGray})) {
            *st = kRefusedArgument;
            return nullptr;
        }
        ProcessCall call(image, attrs, count, st);
        if (!beginFor(call, mode)) return nullptr;
        DataObject *picture, *rgb;
        if (int code = call.parse(&picture)) return call.failed(code);
        if (int code = convertToFullColour(call.env(), picture, &rgb)) return call.failed(code);
        setEnvAttr(call.env(), EnvAttr::byteBoundary, 0);
        return call.finish(rgb);
    });
}

HGLOBAL CmiModeGrayscale(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!oneOf(mode, {kModeBitmap, kMode16, kMode256, kModeRGB, kModeInvertedGray})) {
            *st = kRefusedArgument;
            return nullptr;
        }
        ProcessCall call(image, attrs, count, st);
        if (!beginFor(call, mode)) return nullptr;
        Environment *env = call.env();
        DataObject *picture, *grey;
        if (int code = call.parse(&picture)) return call.failed(code);
        if (mode == kModeInvertedGray) {
            if (int code = invertedGrey(env, picture, &grey)) return call.failed(code);
            return call.finish(grey);
        }
        DataObject *rgb = picture;
        if (mode != kModeRGB) {
            if (int code = convertToFullColour(env, picture, &rgb)) return call.failed(code);
        }
        if (int code = convertToGrey(env, rgb, &grey)) return call.failed(code);
        setEnvAttr(env, EnvAttr::byteBoundary, 0);
        // No palette: the writer gives 8-bit images the grey ramp.
        return call.finish(grey);
    });
}

HGLOBAL CmiModeBitmap(HGLOBAL image, int32_t mode, int32_t method, int32_t threshold, const CmiAttribute *attrs,
                      int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const bool methodValid = (method == kMethodThreshold && threshold >= 0 && threshold <= 255) ||
                                 method == kMethodErrorDiffusion || method == kMethodPattern;
        if (!oneOf(mode, {kMode16, kMode256, kModeGray, kModeRGB}) || !methodValid) {
            *st = kRefusedArgument;
            return nullptr;
        }
        ProcessCall call(image, attrs, count, st);
        if (!beginFor(call, mode)) return nullptr;
        Environment *env = call.env();
        DataObject *picture, *bitmap;
        if (int code = call.parse(&picture)) return call.failed(code);
        DataObject *grey = picture;
        if (mode == kMode16 || mode == kMode256) {
            if (int code = convertToFullColour(env, picture, &grey)) return call.failed(code);
        }
        if (mode != kModeGray) {
            if (int code = convertToGrey(env, grey, &grey)) return call.failed(code);
        }
        // The bitmap keeps "byteBoundary" 256 so that it is written at its
        // real width; without palette it is black (0) and white (1).
        if (int code = convertToBitmap(env, grey, method, threshold, &bitmap)) return call.failed(code);
        return call.finish(bitmap);
    });
}

HGLOBAL CmiModeIndexedColor256(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization, int32_t level1,
                               int32_t level2, int32_t level3, const CmiAttribute *attrs, int32_t count,
                               int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!oneOf(mode, {kModeBitmap, kMode16, kModeRGB}) ||
            (mode == kModeRGB && !paletteArgumentsValid(dither, quantization))) {
            *st = kRefusedArgument;
            return nullptr;
        }
        return indexedColour(image, mode, kMode256, dither, quantization, levelsOf(level1, level2, level3), attrs,
                             count, st);
    });
}

HGLOBAL CmiModeIndexedColor16(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization, int32_t level1,
                              int32_t level2, int32_t level3, const CmiAttribute *attrs, int32_t count,
                              int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!oneOf(mode, {kModeBitmap, kMode256, kModeGray, kModeRGB}) ||
            (mode != kModeBitmap && !paletteArgumentsValid(dither, quantization))) {
            *st = kRefusedArgument;
            return nullptr;
        }
        return indexedColour(image, mode, kMode16, dither, quantization, levelsOf(level1, level2, level3), attrs,
                             count, st);
    });
}

}  // extern "C"
