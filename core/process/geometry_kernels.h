// The inner loops of the geometric operators, and the per-call tables they
// run on.  Each family has a scalar reference (geometry_kernels.cpp) and an
// AVX2 variant (geometry_kernels_avx2.cpp) that must give the same bytes;
// the variant is chosen once, at first use, from the processor's features,
// and the environment variable ORVO_FORCE_SCALAR (any value but "0")
// forces the scalar loops.
#pragma once

#include <cstdint>
#include <vector>

namespace orvo {

// --- Resize tables -----------------------------------------------------------

// One axis of a resize: the destination indices [begin, end) that have a
// source index inside the source, and for each of them `taps` source indices
// (already clamped to the source) and weights in 1/256.
struct ResizeAxis {
    int64_t begin = 0, end = 0;
    int taps = 1;
    std::vector<int32_t> index;
    std::vector<int32_t> weight;
};

// The resize coordinate mapping for one axis: source size and offset,
// destination size and offset, the destination's and the source's extent.
int buildAxis(int32_t kernel, int64_t sourceSize, int64_t sourceOffset, int64_t destinationSize,
              int64_t destinationOffset, int64_t destinationLimit, int64_t sourceLimit, ResizeAxis *axis);

// Weights of `kernel` (192, 194, 195; else nearest) for the fraction f:
// truncate(K(x) × 256) at x = f + 1, f, f - 1, f - 2 (bilinear: the two
// weights truncate((1 - f) × 256), truncate(f × 256)).
void resizeWeights(int32_t kernel, double f, int32_t weights[4]);

// Threshold T of the boolean pixel correction, in 1/65536, for the
// reduction factors S / D of both axes.
int64_t pixelCorrectionThreshold(int32_t morphology, int32_t kernel, int32_t ramp, double xFactor, double yFactor);

// --- Kernels -------------------------------------------------------------------

// sums[j] = Σ_t row[index[j·T + t]] × weight[j·T + t] for T = 2 or 4 taps;
// `length` is the number of bytes of `row` that may be read.
using HorizontalKernel = void (*)(const uint8_t *row, int64_t length, const int32_t *index, const int32_t *weight,
                                  int64_t n, int32_t *sums);
// out[j] = row[index[j]].
using GatherKernel = void (*)(const uint8_t *row, int64_t length, const int32_t *index, int64_t n, uint8_t *out);
// out[j] = clamp((Σ_t rows[t][j] × weight[t] + 32768) >> 16, 0, 255).
using VerticalKernel = void (*)(const int32_t *const *rows, const int32_t *weight, int64_t n, uint8_t *out);

struct ResizeKernels {
    HorizontalKernel horizontal[2];  // 2 taps, 4 taps
    VerticalKernel vertical[2];
    GatherKernel nearest;
};

// A quarter turn of one plane into the destination rectangle
// [c0, c1) x [r0, r1), the rotated picture placed at (ox, oy).
struct QuarterBlock {
    const uint8_t *source;
    int64_t sourceWidth, sourceHeight;
    uint8_t *destination;
    int64_t destinationWidth;
    int64_t c0, c1, r0, r1;
    int64_t ox, oy;
};

struct QuarterKernels {
    // dst[j] = last[-j] for j < n.
    void (*reverse)(const uint8_t *last, uint8_t *dst, int64_t n);
    // Destination (c, r) from source (r - oy, H - 1 - (c - ox)).
    void (*clockwise)(const QuarterBlock &block);
    // Destination (c, r) from source (W - 1 - (r - oy), c - ox).
    void (*counterClockwise)(const QuarterBlock &block);
};

// One destination row of a warp: the source position of pixel x is
// (columnX[x] + rowX, columnY[x] + rowY).
struct WarpRow {
    const uint8_t *source[4] = {};
    uint8_t *destination[4] = {};
    int bands = 0;
    int64_t sourceWidth = 0, sourceHeight = 0;
    int64_t count = 0;
    const double *columnX = nullptr;
    const double *columnY = nullptr;
    double rowX = 0.0, rowY = 0.0;
    bool boolean = false;
    bool bilinear = false;
};

struct WarpKernels {
    void (*row)(const WarpRow &row);
};

// The kernels in use (SIMD when available and not forced off).
const ResizeKernels &resizeKernels();
const QuarterKernels &quarterKernels();
const WarpKernels &warpKernels();

// The scalar references, and the AVX2 variants (null pointers when the
// build or the processor has none).
const ResizeKernels &scalarResizeKernels();
const QuarterKernels &scalarQuarterKernels();
const WarpKernels &scalarWarpKernels();
const ResizeKernels *avx2ResizeKernels();
const QuarterKernels *avx2QuarterKernels();
const WarpKernels *avx2WarpKernels();

// True when the SIMD variants are in use.
bool geometrySimdActive();

}  // namespace orvo
