// The geometric exports (ordinals 8 to 14): resize, quarter
// turns, rotation by any angle, mirrors, skew, subsample and the constant
// fill.  Each checks its arguments first (status -100, nothing locked),
// then runs the processing frame through ProcessCall: one lock of the
// input, one environment, image objects, the operators of geometry.h, a
// new packed bitmap.
//
// Canvases and results that live on caller-side
// buffers ("repository" 9, "applicationAddressSpace") use WorkBuffer
// blocks declared before the ProcessCall, so they outlive the environment
// and every object made on them.
#include <algorithm>
#include <cmath>

#include "core/env/codes.h"
#include "core/env/exported.h"
#include "core/env/samples.h"
#include "core/process/frame.h"
#include "core/process/geometry.h"

namespace orvo {
namespace {

HGLOBAL refused(int32_t *status) {
    *status = kRefusedArgument;
    return nullptr;
}

// A result of width x height is possible: both positive, and even at 24
// bits per pixel its rows fit in 2^31 bytes.
bool sizeAccepted(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    const uint64_t row = (static_cast<uint64_t>(width) * 24 + 31) / 32 * 4;
    return row * static_cast<uint64_t>(height) <= (uint64_t{1} << 31);
}

// "interpolation" of the attribute list for the warps: 8 (the default) or 9;
// 0 for anything else.
int32_t warpInterpolation(const CmiAttribute *attrs, int32_t count) {
    const CmiAttribute *option = findOption(attrs, count, "interpolation");
    if (option == nullptr) return kNearest;
    switch (option->value) {
    case 8: return kNearest;
    case 9: return kBilinear;
    default: return 0;
    }
}

// A block of band-sequential samples that objects in "repository" 9 point
// at.  Not zeroed unless asked.
// A fixed global block: image-sized ones get the huge pages of global
// memory, so filling a canvas faults a few hundred times, not thousands.
class WorkBuffer {
public:
    WorkBuffer() = default;
    WorkBuffer(const WorkBuffer &) = delete;
    WorkBuffer &operator=(const WorkBuffer &) = delete;
    ~WorkBuffer() {
        if (data_ != nullptr) GlobalFree(data_);
    }
    bool allocate(uint64_t size, bool zero) {
        if (size == 0 || size > SIZE_MAX) return false;
        if (data_ != nullptr) GlobalFree(data_);
        data_ = static_cast<uint8_t *>(GlobalAlloc(zero ? GPTR : GMEM_FIXED, static_cast<SIZE_T>(size)));
        size_ = data_ != nullptr ? size : 0;
        return data_ != nullptr;
    }
    uint8_t *data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    uint8_t *data_ = nullptr;
    uint64_t size_ = 0;
};

// Bytes of a band-sequential buffer of `bands` planes of width x height:
// ((width + 7) / 8) x height for bitmaps.
uint64_t planeBufferSize(const DataObject *image, int64_t width, int64_t height) {
    if (image->get32(Attr::dataType) == code::kBoolean) {
        return static_cast<uint64_t>((width + 7) / 8) * static_cast<uint64_t>(height);
    }
    return static_cast<uint64_t>(image->get(Attr::bDimension)) * static_cast<uint64_t>(width) *
           static_cast<uint64_t>(height);
}

// A buffer for a width x height result of `image`'s kind, filled with the
// levels of the options (or the default level) unless `fill` is false.
int filledBuffer(Environment *env, DataObject *image, int64_t width, int64_t height, const int32_t levels[3],
                 bool fill, WorkBuffer *buffer) {
    if (!buffer->allocate(planeBufferSize(image, width, height), !fill)) return fail(env, kSystemError);
    if (fill) fillPlanes(env, buffer->data(), buffer->size(), image, levels);
    return kOk;
}

// An image derived from `like` of width x height on `buffer`, holding the
// buffer's samples.
DataObject *imageOnBuffer(Environment *env, DataObject *like, int64_t width, int64_t height,
                          const WorkBuffer &buffer) {
    const CmiAttribute list[] = {
        {"xDimension", static_cast<intptr_t>(width)},
        {"yDimension", static_cast<intptr_t>(height)},
        {"xMatchPoint", 0},
        {"yMatchPoint", 0},
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(buffer.data())},
        {"size", static_cast<intptr_t>(buffer.size())},
        {"inited", 1},  // last: the dimensions above clear it
    };
    return deriveImage(env, like, list);
}

// Copies `source` into `destination` so that source (sx, sy) lands on
// destination (dx, dy) (the alignment rule), then turns the rule off again.
int alignedCopy(Environment *env, DataObject *source, int64_t sx, int64_t sy, DataObject *destination, int64_t dx,
                int64_t dy) {
    setEnvAttr(env, EnvAttr::matchPointState, 1);
    source->put(Attr::xMatchPoint, static_cast<intptr_t>(sx));
    source->put(Attr::yMatchPoint, static_cast<intptr_t>(sy));
    destination->put(Attr::xMatchPoint, static_cast<intptr_t>(dx));
    destination->put(Attr::yMatchPoint, static_cast<intptr_t>(dy));
    const int code = copySamples(env, source, destination);
    setEnvAttr(env, EnvAttr::matchPointState, 0);
    source->put(Attr::xMatchPoint, 0);
    source->put(Attr::yMatchPoint, 0);
    destination->put(Attr::xMatchPoint, 0);
    destination->put(Attr::yMatchPoint, 0);
    return code;
}

constexpr double kDegree = 0.017453292519943292;  // π / 180

// The shared steps of CmiRotateArbitrary and CmiSkew: a filled canvas of
// width x height holding the picture with its top-left corner at
// (x, y), and a filled result object of the same size.
struct Canvas {
    WorkBuffer canvasBuffer, resultBuffer;
    DataObject *canvas = nullptr;
    DataObject *result = nullptr;
};

int makeCanvas(ProcessCall &call, DataObject *picture, int32_t width, int32_t height, int64_t x, int64_t y,
               Canvas *c) {
    Environment *env = call.env();
    int32_t levels[3];
    readFillLevels(call.attrs(), call.count(), levels);
    if (int code = filledBuffer(env, picture, width, height, levels, true, &c->canvasBuffer)) return code;
    if (int code = filledBuffer(env, picture, width, height, levels, true, &c->resultBuffer)) return code;
    c->canvas = imageOnBuffer(env, picture, width, height, c->canvasBuffer);
    if (c->canvas == nullptr) return lastError(env);
    if (int code = alignedCopy(env, picture, 0, 0, c->canvas, x, y)) return code;
    c->result = imageOnBuffer(env, picture, width, height, c->resultBuffer);
    return c->result == nullptr ? lastError(env) : kOk;
}

// Masks of the last byte of a bitmap row of width mod 8 pixels: the
// padding bits become 0.
constexpr uint8_t kLastByteMask[8] = {255, 128, 192, 224, 240, 248, 252, 254};

}  // namespace
}  // namespace orvo

using namespace orvo;

extern "C" {

HGLOBAL CmiResize(HGLOBAL image, int32_t width, int32_t height, int32_t interpolation, int32_t morphology,
                  const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const int32_t kernel = interpolationCode(interpolation);
        const int32_t correction = morphologyCode(morphology);
        if (kernel == 0 || correction < 0 || !sizeAccepted(width, height)) return refused(st);
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        const CmiAttribute size[] = {{"xDimension", width}, {"yDimension", height}};
        DataObject *result = deriveImage(env, picture, size);
        if (result == nullptr) return call.failed(lastError(env));
        setEnvAttr(env, EnvAttr::interpolation, kernel);
        setEnvAttr(env, EnvAttr::morphologicalOperation, correction);
        if (int code = resizeImage(env, picture, result, nullptr, nullptr)) return call.failed(code);
        return call.finish(result);
    });
}

HGLOBAL CmiRotate(HGLOBAL image, int32_t width, int32_t height, int32_t angle, const CmiAttribute *attrs,
                  int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (angle < 1 || angle > 3 || !sizeAccepted(width, height)) return refused(st);
        const int32_t turn = angle == 1 ? kQuarterCounterClockwise : angle == 2 ? kHalfTurn : kQuarterClockwise;
        WorkBuffer buffer;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        // Every pixel is written when the result has exactly the turned size.
        const bool exact = angle == 2 ? width == call.width() && height == call.height()
                                      : width == call.height() && height == call.width();
        int32_t levels[3];
        readFillLevels(attrs, count, levels);
        if (int code = filledBuffer(env, picture, width, height, levels, !exact, &buffer)) return call.failed(code);
        DataObject *result = imageOnBuffer(env, picture, width, height, buffer);
        if (result == nullptr) return call.failed(lastError(env));
        if (int code = rotateQuarter(env, picture, result, turn)) return call.failed(code);
        return call.finish(result);
    });
}

HGLOBAL CmiRotateArbitrary(HGLOBAL image, int32_t width, int32_t height, double angle, const CmiAttribute *attrs,
                           int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const int32_t kernel = warpInterpolation(attrs, count);
        if (kernel == 0 || !sizeAccepted(width, height)) return refused(st);
        Canvas canvas;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        const int64_t x = (static_cast<int64_t>(width) - picture->get(Attr::xDimension)) / 2;
        const int64_t y = (static_cast<int64_t>(height) - picture->get(Attr::yDimension)) / 2;
        if (int code = makeCanvas(call, picture, width, height, x, y, &canvas)) return call.failed(code);
        setEnvAttr(env, EnvAttr::interpolation, kernel);
        if (int code = rotateAbout(env, canvas.canvas, canvas.result, width / 2, height / 2, angle * kDegree)) {
            return call.failed(code);
        }
        return call.finish(canvas.result);
    });
}

HGLOBAL CmiFlip(HGLOBAL image, int32_t direction, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (direction != 48 && direction != 49) return refused(st);
        const int32_t mirror = direction == 48 ? kMirrorLeftRight : kMirrorTopBottom;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        const Region region = readRegion(attrs, count, call.width(), call.height());
        if (!region.given) {
            DataObject *result = deriveImage(env, picture);
            if (result == nullptr) return call.failed(lastError(env));
            if (int code = rotateQuarter(env, picture, result, mirror)) return call.failed(code);
            return call.finish(result);
        }
        // The rectangle (clipped to the image) mirrored in its place; a
        // rectangle wholly outside leaves the picture as it is.
        if (region.box.width > 0 && region.box.height > 0) {
            DataObject *part;
            if (int code = extractRegion(env, picture, region.box, &part)) return call.failed(code);
            DataObject *mirrored = deriveImage(env, part);
            if (mirrored == nullptr) return call.failed(lastError(env));
            if (int code = rotateQuarter(env, part, mirrored, mirror)) return call.failed(code);
            if (int code = pasteRegion(env, mirrored, picture, region.box.x, region.box.y)) {
                return call.failed(code);
            }
        }
        return call.finish(picture);
    });
}

HGLOBAL CmiSkew(HGLOBAL image, int32_t width, int32_t height, int32_t direction, double angle,
                const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const int32_t kernel = warpInterpolation(attrs, count);
        if ((direction != 48 && direction != 49) || kernel == 0 || !sizeAccepted(width, height)) return refused(st);
        Canvas canvas;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        // A positive angle leans the picture to the left from the
        // bottom-right corner of the canvas; otherwise from the top-left.
        int64_t x = 0, y = 0;
        if (angle > 0) {
            x = static_cast<int64_t>(width) - picture->get(Attr::xDimension);
            y = static_cast<int64_t>(height) - picture->get(Attr::yDimension);
        }
        if (int code = makeCanvas(call, picture, width, height, x, y, &canvas)) return call.failed(code);
        const double theta = (angle >= 0 ? 90.0 - angle : -90.0 - angle) * kDegree;
        const double k = std::cos(theta) / std::sin(theta);
        double xRow[16] = {}, yRow[16] = {};
        xRow[1] = 1.0;
        yRow[2] = 1.0;
        if (direction == 48) xRow[2] = k;
        else yRow[1] = k;
        setEnvAttr(env, EnvAttr::interpolation, kernel);
        if (int code = warpAffine(env, canvas.canvas, canvas.result, xRow, yRow)) return call.failed(code);
        return call.finish(canvas.result);
    });
}

HGLOBAL CmiSubsample(HGLOBAL image, int32_t sourceX, int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight,
                     int32_t resultWidth, int32_t resultHeight, int32_t targetX, int32_t targetY, int32_t targetWidth,
                     int32_t targetHeight, int32_t interpolation, int32_t morphology, const CmiAttribute *attrs,
                     int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        const int32_t kernel = interpolationCode(interpolation);
        const int32_t correction = morphologyCode(morphology);
        if (kernel == 0 || correction < 0 || !sizeAccepted(resultWidth, resultHeight) ||
            !sizeAccepted(sourceWidth, sourceHeight) || !sizeAccepted(targetWidth, targetHeight)) {
            return refused(st);
        }
        WorkBuffer buffer;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        const bool bitmap = call.bitsPerPixel() == 1;
        // Bitmaps are parsed with rows of whole bytes ("widthByteBoundary"
        // keeps the true width, and the result is generated with it).
        if (bitmap) setEnvAttr(env, EnvAttr::byteBoundary, 256);
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        const int64_t canvasWidth = bitmap ? (static_cast<int64_t>(resultWidth) + 7) / 8 * 8 : resultWidth;
        const bool fill = targetWidth != resultWidth || targetHeight != resultHeight;
        int32_t levels[3];
        readFillLevels(attrs, count, levels);
        if (int code = filledBuffer(env, picture, resultWidth, resultHeight, levels, fill, &buffer)) {
            return call.failed(code);
        }
        const int64_t rowBytes = (static_cast<int64_t>(resultWidth) + 7) / 8;
        if (bitmap && fill && resultWidth % 8 != 0) {
            for (int64_t r = 0; r < resultHeight; ++r) {
                buffer.data()[r * rowBytes + rowBytes - 1] &= kLastByteMask[resultWidth % 8];
            }
        }
        const CmiAttribute list[] = {
            {"xDimension", static_cast<intptr_t>(canvasWidth)},
            {"yDimension", resultHeight},
            {"xMatchPoint", 0},
            {"yMatchPoint", 0},
            {"widthByteBoundary", bitmap ? resultWidth : 0},
            {"repository", code::kApplicationAddressSpace},
            {"applicationAddressSpace", reinterpret_cast<intptr_t>(buffer.data())},
            {"size", static_cast<intptr_t>(buffer.size())},
            {"inited", 1},
        };
        DataObject *canvas = deriveImage(env, picture, list);
        if (canvas == nullptr) return call.failed(lastError(env));
        int code;
        if (sourceWidth == targetWidth && targetWidth == resultWidth && sourceHeight == targetHeight &&
            targetHeight == resultHeight) {
            code = alignedCopy(env, picture, sourceX, sourceY, canvas, targetX, targetY);
        } else {
            setEnvAttr(env, EnvAttr::interpolation, kernel);
            setEnvAttr(env, EnvAttr::morphologicalOperation, correction);
            const Box from{sourceX, sourceY, sourceWidth, sourceHeight};
            const Box to{targetX, targetY, targetWidth, targetHeight};
            code = resizeImage(env, picture, canvas, &from, &to);
        }
        if (code != kOk) return call.failed(code);
        return call.finish(canvas);
    });
}

HGLOBAL CmiConstant(HGLOBAL image, int32_t x, int32_t y, int32_t width, int32_t height, int32_t level,
                    int32_t level2, int32_t level3, const CmiAttribute *attrs, int32_t count, int32_t *status) {
    return exportedCall(status, [&](int32_t *st) -> HGLOBAL {
        if (!sizeAccepted(width, height)) return refused(st);
        WorkBuffer buffer;
        ProcessCall call(image, attrs, count, st);
        if (!call.begin()) return nullptr;
        Environment *env = call.env();
        if (call.bitsPerPixel() == 1) setEnvAttr(env, EnvAttr::byteBoundary, 256);
        DataObject *picture;
        if (int code = call.parse(&picture)) return call.failed(code);
        // The rectangle clipped to the picture; nothing to fill outside it.
        const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
        const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(x) + width, call.width());
        const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(y) + height, call.height());
        if (x0 < x1 && y0 < y1) {
            const int32_t levels[3] = {level, level2, level3};
            if (int code = filledBuffer(env, picture, x1 - x0, y1 - y0, levels, true, &buffer)) {
                return call.failed(code);
            }
            DataObject *rectangle = imageOnBuffer(env, picture, x1 - x0, y1 - y0, buffer);
            if (rectangle == nullptr) return call.failed(lastError(env));
            if (int code = alignedCopy(env, rectangle, 0, 0, picture, x0, y0)) return call.failed(code);
        }
        return call.finish(picture);
    });
}

}  // extern "C"
