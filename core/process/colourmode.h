// Colour mode conversion: palette expansion, luminance, threshold, error
// diffusion, ordered dither, colour quantization, and the object-level
// conversion used when files are converted.  Full-colour images are three
// 8-bit bands R, G, B; palettes are LookupTable objects of three planes.
#pragma once

#include <cstdint>
#include <span>

#include "core/env/object.h"

namespace orvo {

// Colour modes of the processing interface.
inline constexpr int32_t kModeBitmap = 14;
inline constexpr int32_t kMode16 = 15;
inline constexpr int32_t kMode256 = 16;
inline constexpr int32_t kModeGray = 17;
inline constexpr int32_t kModeRGB = 18;
inline constexpr int32_t kModeInvertedGray = 50;

// Three levels per band (red, green, blue), each at least 2.
struct Levels {
    int32_t level[3] = {2, 2, 2};
};

int expandPalette(Environment *env, DataObject *source, DataObject *destination, DataObject *palette);
int toLuminance(Environment *env, DataObject *source, DataObject *destination);
int thresholdImage(Environment *env, DataObject *source, DataObject *destination, int32_t level, int32_t low,
                   int32_t high);
// `levels` null: boolean destination.
int errorDiffuse(Environment *env, DataObject *source, DataObject *destination, const Levels *levels);
// The 4 x 4 pattern matrix; `levels` null: boolean destination.
int orderedDither(Environment *env, DataObject *source, DataObject *destination, const Levels *levels);
// By the environment's "colourQuantization": 158 popularity, 211 uniform.
int quantizeColours(Environment *env, DataObject *source, DataObject *destination, DataObject *palette,
                    const Levels &levels);

// Converts `image` to `targetMode` (14..18) with the options "modeMethod",
// "colourQuantization", "modeValue", "modeLevel", "modeLevel2",
// "modeLevel3" (defaults by target mode).  `*result` is `image` itself when
// it already has that mode, else a new object (with its own palette).
int convertColourMode(Environment *env, DataObject *image, int32_t targetMode, std::span<const CmiAttribute> options,
                      DataObject **result);

// Method, dither and quantization arguments of the conversions.
inline constexpr int32_t kDitherNone = 0;
inline constexpr int32_t kMethodThreshold = 19;
inline constexpr int32_t kMethodErrorDiffusion = 20;
inline constexpr int32_t kMethodPattern = 21;
inline constexpr int32_t kQuantizePopularity = 22;
inline constexpr int32_t kQuantizeUniform = 23;
inline constexpr int32_t kQuantizeMedianCut = 24;

// Environment values: "errorDiffusion" (Floyd-Steinberg, the only one
// implemented) and "colourQuantization".
inline constexpr int32_t kFloydSteinberg = 85;
inline constexpr int32_t kPopularityQuantization = 158;
inline constexpr int32_t kUniformQuantization = 211;
inline constexpr int32_t kMedianCutQuantization = 251;

// The colour mode an image object holds: 14 (one boolean or 1-bit band),
// 15 (one 4-bit band), 16 (one 8-bit band), 18 (three 8-bit bands); 0 for
// anything else.
int32_t sourceModeOf(const DataObject *image);

// The steps the conversions are built of.  Each makes a new image object
// (in the file or work-space repository, as the source is) and leaves its
// source alone, except that convertToGrey sets the source's "colourSpace"
// to RGB first.
//
// Palette or bitmap image to three 8-bit bands ("colourSpace" RGB, no
// palette); images without palette read as grey levels.  A bitmap whose
// rows were widened to whole bytes gives its real width.
int convertToFullColour(Environment *env, DataObject *image, DataObject **rgb);
// Three bands to one 8-bit band of luminance, without palette.
int convertToGrey(Environment *env, DataObject *rgb, DataObject **grey);
// One 8-bit band to a boolean image by threshold (19, at `threshold`),
// error diffusion (20) or pattern dither (21); no palette.  With
// `wholeBytes` its rows are widened to whole bytes, the real width kept in
// "widthByteBoundary", and the environment's "byteBoundary" set to 256 so
// that the bitmap is written at its real width.
int convertToBitmap(Environment *env, DataObject *grey, int32_t method, int32_t threshold, DataObject **bitmap,
                    bool wholeBytes = true);
// To 256 (16) or 16 (15) palette colours.  Bitmaps and, for 256 colours,
// 16-colour images keep their colours and indices; 8-bit and full-colour
// images are dithered (0 none, 20, 21) and quantized (22, 23, 24) with
// `levels`.  The result has its own palette of 256 or 16 entries.
int convertToIndexed(Environment *env, DataObject *image, int32_t targetMode, int32_t dither, int32_t quantization,
                     const Levels &levels, DataObject **result);

}  // namespace orvo
