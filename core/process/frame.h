// The frame shared by the processing exports: one call takes a packed
// bitmap in a movable block (only read), opens its own environment, turns
// the bitmap into image objects, runs operators and returns a new packed
// bitmap in a new block.  Also the shared pieces of the exports: repository
// choice, fill levels, regions and the point, colour and neighbourhood
// drivers.
#pragma once

#include <cstdint>
#include <span>

#include "core/env/environment.h"
#include "core/env/object.h"
#include "core/process/geometry.h"
#include "orvo/globalmem.h"

namespace orvo {

// Operation selectors passed from the exports to the drivers.
enum Operation : int32_t {
    kOpEmboss = 68,
    kOpSharpen = 69,
    kOpBlur = 70,
    kOpEdgeEnhance = 71,
    kOpFindEdges = 72,
    kOpMedian = 73,
    kOpEdgeDetection = 74,
    kOpRankOrder = 75,
    kOpBlend = 76,
    kOpCalculate = 77,
    kOpEqualize = 78,
    kOpColourBalance = 79,
    kOpHueSaturation = 80,
    kOpBrightnessContrast = 81,
    kOpInvert = 82,
    kOpGamma = 83,
    kOpSolarize = 84,
};

// Environment "interpolation" and "morphologicalOperation" values.
inline constexpr int32_t kNearest = 191;
inline constexpr int32_t kBilinear = 192;
inline constexpr int32_t kBSpline = 194;
inline constexpr int32_t kCubicConvolution = 195;
inline constexpr int32_t kFavourSet = 46;
inline constexpr int32_t kFavourClear = 71;

// Interpolation argument 8..11 to the environment value; 0 when refused.
int32_t interpolationCode(int32_t argument);
// Morphology argument 0, 12, 13 to 0, 46, 71; -1 when refused.
int32_t morphologyCode(int32_t argument);

// 83 (file repositories) when the list holds "repository" with a value other
// than 33, else 223 (global memory).
int32_t selectRepository(const CmiAttribute *attrs, int32_t count);

// The level that areas a source does not cover are filled with: the index
// of the lightest palette entry (both nibbles for 4-bit images, 0 or 255 for
// bitmaps), 255 for images without palette or with several bands.
int32_t defaultFillLevel(Environment *env, DataObject *image);

// "constantLevel", "constantLevel2", "constantLevel3" of the list; -1 where
// missing (meaning the default level).
void readFillLevels(const CmiAttribute *attrs, int32_t count, int32_t levels[3]);

// Fills a band-sequential buffer of `image`'s band count, plane by plane,
// with the levels (negative: `defaultFillLevel`): bitmap bytes all set for
// a non-zero level, 4-bit samples (one per byte) the level's low nibble.
void fillPlanes(Environment *env, uint8_t *buffer, uint64_t size, DataObject *image, const int32_t levels[3]);

// A region of the caller's options ("sourceXPoint", ... or, with `second`,
// "source2XPoint", ...), clipped to the image; `given` when it differs from
// the whole image.
struct Region {
    Box box;
    bool given = false;
};
Region readRegion(const CmiAttribute *attrs, int32_t count, int64_t width, int64_t height, bool second = false);

// A new image derived from `image` (same palette and repository) holding the
// rectangle `box` of it.
int extractRegion(Environment *env, DataObject *image, const Box &box, DataObject **part);
// Copies `part` into `image` with its top-left corner at (x, y).
int pasteRegion(Environment *env, DataObject *part, DataObject *image, int64_t x, int64_t y);

// A new image derived from `source` with the list applied (a new body).
DataObject *deriveImage(Environment *env, DataObject *source, std::span<const CmiAttribute> list = {});

// One exported processing call: the input block locked once, an environment,
// the result block.  Typical use:
//
//     ProcessCall call(image, attrs, count, status);
//     if (!call.begin()) return nullptr;
//     DataObject *picture;
//     if (int code = call.parse(&picture)) return call.failed(code);
//     ... operators ...
//     return call.finish(result);
class ProcessCall {
public:
    ProcessCall(HGLOBAL image, const CmiAttribute *attrs, int32_t count, int32_t *status);
    ~ProcessCall();
    ProcessCall(const ProcessCall &) = delete;
    ProcessCall &operator=(const ProcessCall &) = delete;

    // Locks the input and opens the environment; false with the status set
    // (-1, or 22 when the block does not start with a 40-byte bitmap header
    // of 1, 4, 8 or 24 bits per pixel).
    bool begin();

    Environment *env() const { return env_; }
    const uint8_t *bitmap() const { return bitmap_; }
    uint64_t size() const { return size_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t bitsPerPixel() const { return bits_; }
    // Palette entries of the bitmap (biClrUsed, or 2^bits below 24 bits).
    uint32_t paletteEntries() const { return entries_; }
    int32_t repository() const { return repository_; }
    const CmiAttribute *attrs() const { return attrs_; }
    int32_t count() const { return count_; }
    std::span<const CmiAttribute> options() const;

    // The bitmap as an image object (and its "lut" palette).
    int parse(DataObject **image);

    // Generates `result` into a new block and ends the call: the block, or
    // null with the status set.
    HGLOBAL finish(DataObject *result);
    // Ends the call with a block already made (null: the status says why).
    HGLOBAL finishBlock(HGLOBAL block);
    // Ends the call with error `code`.
    HGLOBAL failed(int code);

private:
    HGLOBAL end(HGLOBAL block);

    HGLOBAL image_;
    const CmiAttribute *attrs_;
    int32_t count_;
    int32_t *status_;
    int32_t repository_;
    const uint8_t *bitmap_ = nullptr;
    uint64_t size_ = 0;
    int32_t width_ = 0, height_ = 0, bits_ = 0;
    uint32_t entries_ = 0;
    Environment *env_ = nullptr;
    bool ended_ = false;
};

// The drivers.  Each runs a whole exported call (arguments already checked)
// and returns the new block or null.
HGLOBAL runPointOperation(HGLOBAL image, int32_t mode, int32_t operation, double first, double second,
                          const CmiAttribute *attrs, int32_t count, int32_t *status);
HGLOBAL runColourOperation(HGLOBAL image, int32_t mode, int32_t operation, int32_t first, int32_t second,
                           int32_t third, const CmiAttribute *attrs, int32_t count, int32_t *status);
// Parameters of the neighbourhood operations.
struct NeighbourhoodParameters {
    int32_t direction = 0;
    int32_t rank = 0;
    int32_t size = 0;
};
HGLOBAL runNeighbourhoodOperation(HGLOBAL image, int32_t mode, int32_t operation,
                                  const NeighbourhoodParameters &parameters, const CmiAttribute *attrs,
                                  int32_t count, int32_t *status);

// Runs the operator of a point or colour operation from `source` into
// `destination` (images of equal geometry).
int runPointOperator(Environment *env, int32_t operation, DataObject *source, DataObject *destination, double first,
                     double second);
int runColourOperator(Environment *env, int32_t operation, DataObject *source, DataObject *destination,
                      int32_t first, int32_t second, int32_t third);
// The same for neighbourhood operations; -100 for an operation it does not
// know.
int runNeighbourhoodOperator(Environment *env, int32_t operation, const NeighbourhoodParameters &parameters,
                             DataObject *source, DataObject *destination);

}  // namespace orvo
