// Geometric operators: resizing with four interpolation kernels (and pixel
// correction for bitmaps), quarter turns and mirrors, affine warps.
//
// Source and destination are image objects with equal band counts, both
// boolean or both 8-bit (else 10).  The environment's "interpolation"
// chooses the kernel (191 nearest, 192 bilinear, 194 cubic B-spline, 195
// cubic convolution; the warp takes 191 and 192 only; other values 12),
// "morphologicalOperation" (0, 46, 71) and "thresholdRamp" shape the pixel
// correction of boolean images.
#pragma once

#include <cstdint>

#include "core/env/object.h"

namespace orvo {

// A rectangle of an image: offset and size in pixels.
struct Box {
    int64_t x = 0, y = 0, width = 0, height = 0;
};

// Scales the `sourceBox` part of `source` onto the `destinationBox` part of
// `destination`; null boxes mean the whole image.  Destination pixels whose
// source position falls outside the source keep their samples.
int resizeImage(Environment *env, DataObject *source, DataObject *destination, const Box *sourceBox,
                const Box *destinationBox);

// Quarter turns and mirrors: 1 half turn, 2 quarter turn clockwise, 3
// quarter turn counter-clockwise, 117 left-right mirror, 208 top-bottom
// mirror; other codes do nothing.  Destination pixels without a source pixel
// keep their samples.
inline constexpr int32_t kHalfTurn = 1;
inline constexpr int32_t kQuarterClockwise = 2;
inline constexpr int32_t kQuarterCounterClockwise = 3;
inline constexpr int32_t kMirrorLeftRight = 117;
inline constexpr int32_t kMirrorTopBottom = 208;
int rotateQuarter(Environment *env, DataObject *source, DataObject *destination, int32_t code);

// Destination pixel (x, y) samples the source at (P0 + P1 x + P2 y,
// Q0 + Q1 x + Q2 y) (x row P, y row Q, 16 coefficients each; terms beyond
// the third are polynomial terms for distortions).  Positions outside the
// source leave the destination pixel as it is.
int warpAffine(Environment *env, DataObject *source, DataObject *destination, const double xRow[16],
               const double yRow[16]);

// Rotation by `angle` radians about (centreX, centreY) (counter-clockwise on
// screen for positive angles).
int rotateAbout(Environment *env, DataObject *source, DataObject *destination, double centreX, double centreY,
                double angle);

}  // namespace orvo
