// Scalar reference loops of the geometric operators, and the choice between
// them and the AVX2 variants.  These loops define the results: every
// variant must produce the same bytes.
#include "core/process/geometry_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvo {
namespace {

template <int Taps>
void horizontalScalar(const uint8_t *row, int64_t length, const int32_t *index, const int32_t *weight, int64_t n,
                      int32_t *sums) {
    for (int64_t j = 0; j < n; ++j) {
        int32_t sum = 0;
        for (int t = 0; t < Taps; ++t) sum += row[index[j * Taps + t]] * weight[j * Taps + t];
        sums[j] = sum;
    }
}

template <int Taps>
void verticalScalar(const int32_t *const *rows, const int32_t *weight, int64_t n, uint8_t *out) {
    for (int64_t j = 0; j < n; ++j) {
        int32_t sum = 0;
        for (int t = 0; t < Taps; ++t) sum += rows[t][j] * weight[t];
        const int32_t v = (sum + 32768) >> 16;
        out[j] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
}

void gatherScalar(const uint8_t *row, int64_t length, const int32_t *index, int64_t n, uint8_t *out) {
    for (int64_t j = 0; j < n; ++j) out[j] = row[index[j]];
}

void reverseScalar(const uint8_t *last, uint8_t *dst, int64_t n) {
    for (int64_t j = 0; j < n; ++j) dst[j] = last[-j];
}

// Square tiles keep both the rows read and the rows written in cache.
constexpr int64_t kTile = 32;

void clockwiseScalar(const QuarterBlock &q) {
    for (int64_t rb = q.r0; rb < q.r1; rb += kTile) {
        const int64_t re = std::min(rb + kTile, q.r1);
        for (int64_t cb = q.c0; cb < q.c1; cb += kTile) {
            const int64_t ce = std::min(cb + kTile, q.c1);
            for (int64_t r = rb; r < re; ++r) {
                const uint8_t *src = q.source + (r - q.oy);  // source column r - oy
                uint8_t *dst = q.destination + r * q.destinationWidth;
                for (int64_t c = cb; c < ce; ++c) dst[c] = src[(q.sourceHeight - 1 - (c - q.ox)) * q.sourceWidth];
            }
        }
    }
}

void counterClockwiseScalar(const QuarterBlock &q) {
    for (int64_t rb = q.r0; rb < q.r1; rb += kTile) {
        const int64_t re = std::min(rb + kTile, q.r1);
        for (int64_t cb = q.c0; cb < q.c1; cb += kTile) {
            const int64_t ce = std::min(cb + kTile, q.c1);
            for (int64_t r = rb; r < re; ++r) {
                const uint8_t *src = q.source + (q.sourceWidth - 1 - (r - q.oy));
                uint8_t *dst = q.destination + r * q.destinationWidth;
                for (int64_t c = cb; c < ce; ++c) dst[c] = src[(c - q.ox) * q.sourceWidth];
            }
        }
    }
}

void warpRowScalar(const WarpRow &w) {
    const double width = static_cast<double>(w.sourceWidth);
    const double height = static_cast<double>(w.sourceHeight);
    const int64_t sw = w.sourceWidth;
    for (int64_t x = 0; x < w.count; ++x) {
        const double sx = w.columnX[x] + w.rowX;
        const double sy = w.columnY[x] + w.rowY;
        // truncate() lands inside the source exactly when -1 < s < size.
        if (!(sx > -1.0 && sx < width && sy > -1.0 && sy < height)) continue;
        const int64_t ix = static_cast<int64_t>(sx);
        const int64_t iy = static_cast<int64_t>(sy);
        if (!w.bilinear) {
            for (int b = 0; b < w.bands; ++b) w.destination[b][x] = w.source[b][iy * sw + ix];
            continue;
        }
        const double fx = sx > 0.0 ? sx - static_cast<double>(ix) : 0.0;
        const double fy = sy > 0.0 ? sy - static_cast<double>(iy) : 0.0;
        const int32_t wx0 = static_cast<int32_t>((1.0 - fx) * 256.0), wx1 = static_cast<int32_t>(fx * 256.0);
        const int32_t wy0 = static_cast<int32_t>((1.0 - fy) * 256.0), wy1 = static_cast<int32_t>(fy * 256.0);
        const int64_t ix1 = std::min(ix + 1, sw - 1);
        const int64_t iy1 = std::min(iy + 1, w.sourceHeight - 1);
        const int64_t a = iy * sw + ix, bpos = iy * sw + ix1, c = iy1 * sw + ix, d = iy1 * sw + ix1;
        for (int b = 0; b < w.bands; ++b) {
            const uint8_t *s = w.source[b];
            if (w.boolean) {
                int32_t sum = 0;
                if (s[a] != 0) sum += wx0 * wy0;
                if (s[bpos] != 0) sum += wx1 * wy0;
                if (s[c] != 0) sum += wx0 * wy1;
                if (s[d] != 0) sum += wx1 * wy1;
                w.destination[b][x] = sum >= 32768 ? 1 : 0;
            } else {
                const int32_t v = s[a] * wx0 * wy0 + s[bpos] * wx1 * wy0 + s[c] * wx0 * wy1 + s[d] * wx1 * wy1;
                w.destination[b][x] = static_cast<uint8_t>((v + 32768) >> 16);
            }
        }
    }
}

constexpr ResizeKernels kScalarResize = {{horizontalScalar<2>, horizontalScalar<4>},
                                         {verticalScalar<2>, verticalScalar<4>},
                                         gatherScalar};
constexpr QuarterKernels kScalarQuarter = {reverseScalar, clockwiseScalar, counterClockwiseScalar};
constexpr WarpKernels kScalarWarp = {warpRowScalar};

bool simdWanted() {
    static const bool wanted = [] {
        const char *force = std::getenv("ORVO_FORCE_SCALAR");
        if (force != nullptr && *force != '\0' && std::strcmp(force, "0") != 0) return false;
#if defined(__x86_64__) || defined(__i386__)
        return __builtin_cpu_supports("avx2") != 0;
#else
        return false;
#endif
    }();
    return wanted;
}

}  // namespace

const ResizeKernels &scalarResizeKernels() { return kScalarResize; }
const QuarterKernels &scalarQuarterKernels() { return kScalarQuarter; }
const WarpKernels &scalarWarpKernels() { return kScalarWarp; }

bool geometrySimdActive() { return simdWanted() && avx2ResizeKernels() != nullptr; }

const ResizeKernels &resizeKernels() {
    static const ResizeKernels *chosen = simdWanted() && avx2ResizeKernels() ? avx2ResizeKernels() : &kScalarResize;
    return *chosen;
}

const QuarterKernels &quarterKernels() {
    static const QuarterKernels *chosen =
        simdWanted() && avx2QuarterKernels() ? avx2QuarterKernels() : &kScalarQuarter;
    return *chosen;
}

const WarpKernels &warpKernels() {
    static const WarpKernels *chosen = simdWanted() && avx2WarpKernels() ? avx2WarpKernels() : &kScalarWarp;
    return *chosen;
}

}  // namespace orvo
