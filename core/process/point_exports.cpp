// The point operation exports: invert, brightness and contrast, colour
// balance, hue and saturation, gamma correction, solarize, equalize, and the
// plain block copy.  Each checks its arguments (status -100 before any
// work) and hands the call to its driver.
#include <cmath>
#include <cstring>

#include "core/env/exported.h"
#include "core/process/colourmode.h"
#include "core/process/frame.h"

namespace orvo {
namespace {

bool within(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// Modes 15, 16 and 18: the pictures the colour operations take.
bool colourMode(int32_t mode) { return mode == kMode16 || mode == kMode256 || mode == kModeRGB; }

HGLOBAL refused(int32_t *status) {
    *status = kRefusedArgument;
    return nullptr;
}

}  // namespace
}  // namespace orvo

using namespace orvo;

extern "C" {

HGLOBAL CmiInvert(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!within(mode, kModeBitmap, kModeRGB)) return refused(st);
        return runPointOperation(image, mode, kOpInvert, 0.0, 0.0, attrs, count, st);
    });
}

HGLOBAL CmiBrightnessAndContrast(HGLOBAL image, int32_t mode, int32_t brightness, int32_t contrast,
                                 const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!within(mode, kMode16, kModeRGB) || !within(brightness, -100, 100) || !within(contrast, -100, 100)) {
            return refused(st);
        }
        return runPointOperation(image, mode, kOpBrightnessContrast, brightness * 0.01, contrast * 0.01, attrs,
                                 count, st);
    });
}

HGLOBAL CmiColourBalance(HGLOBAL image, int32_t mode, int32_t red, int32_t green, int32_t blue,
                         const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!colourMode(mode) || !within(red, -100, 100) || !within(green, -100, 100) || !within(blue, -100, 100)) {
            return refused(st);
        }
        return runColourOperation(image, mode, kOpColourBalance, red, green, blue, attrs, count, st);
    });
}

HGLOBAL CmiHueSaturation(HGLOBAL image, int32_t mode, int32_t hue, int32_t saturation, int32_t lightness,
                         const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!colourMode(mode) || !within(hue, -180, 180) || !within(saturation, -100, 100) ||
            !within(lightness, -100, 100)) {
            return refused(st);
        }
        return runColourOperation(image, mode, kOpHueSaturation, hue, saturation, lightness, attrs, count, st);
    });
}

HGLOBAL CmiGammaCorrection(HGLOBAL image, int32_t mode, double gamma, const CmiAttribute *attrs, int32_t count,
                           int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!within(mode, kMode16, kModeRGB)) return refused(st);
        // Gamma 0 gives an infinite exponent, which the table handles.
        const double exponent = gamma != 0.0 ? 1.0 / gamma : HUGE_VAL;
        return runPointOperation(image, mode, kOpGamma, exponent, 0.0, attrs, count, st);
    });
}

HGLOBAL CmiSolarize(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!within(mode, kMode16, kModeRGB)) return refused(st);
        return runPointOperation(image, mode, kOpSolarize, 0.0, 0.0, attrs, count, st);
    });
}

HGLOBAL CmiEqualize(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        return runNeighbourhoodOperation(image, mode, kOpEqualize, NeighbourhoodParameters{}, attrs, count, st);
    });
}

HGLOBAL CmiConvert(HGLOBAL image, int32_t, int32_t, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const SIZE_T size = GlobalSize(image);
        const void *source = size != 0 ? GlobalLock(image) : nullptr;
        if (source == nullptr) {
            *st = kSystemError;
            return nullptr;
        }
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        void *target = copy != nullptr ? GlobalLock(copy) : nullptr;
        if (target == nullptr) {
            if (copy != nullptr) GlobalFree(copy);
            GlobalUnlock(image);
            *st = kSystemError;
            return nullptr;
        }
        std::memcpy(target, source, size);
        GlobalUnlock(copy);
        GlobalUnlock(image);
        return copy;
    });
}

}  // extern "C"
