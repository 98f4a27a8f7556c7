// Geometric operators: resize with four kernels and the pixel
// correction of bitmaps, quarter turns and mirrors, polynomial warps.
//
// Every operator works on whole planes (Planes): bytes per sample, boolean
// samples unpacked to 0 and 1.  Arithmetic is fixed point: weights are integers in 1/256, products of an x and a y weight in
// 1/65536, one rounding shift per sample.
//
// Resize computes, per call, the source indices and weights of every
// destination column (and of every destination row) once.  For the bilinear
// and cubic kernels on 8-bit samples the horizontal sums of a source row
// (Σ p × wx, exact integers) are computed once into an int32 row cache and
// reused by every destination row that needs that source row; the vertical
// sum over the cached rows is then the defining formula unchanged,
// because it adds horizontal sums first and weights them by row.
//
// Warps compute per-column terms once and walk the destination in tiles,
// so that the source area a tile reads stays in cache.  The inner loops
// live in geometry_kernels.cpp (scalar reference) and
// geometry_kernels_avx2.cpp (same bytes, chosen at run time).
//
// Invariants: destination pixels whose source position falls outside the
// source are never written (they keep the fill of a canvas); resize indices
// are checked once per row and column, never per sample.
#include "core/process/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "core/env/codes.h"
#include "core/env/environment.h"
#include "core/process/frame.h"
#include "core/process/geometry_kernels.h"
#include "core/process/planes.h"

namespace orvo {
namespace {

// Both boolean, or both 8-bit samples (nonnegative integers stored in 8
// bits), else 10.
int checkPair(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    const int32_t type = source->get32(Attr::dataType);
    if (type != destination->get32(Attr::dataType)) return fail(env, kMismatchDataType);
    if (type == code::kBoolean) return kOk;
    if (type != code::kNonnegativeInteger || storagePrecision(env, source) != 8 ||
        storagePrecision(env, destination) != 8) {
        return fail(env, kMismatchDataType);
    }
    return kOk;
}

// The alignment rule of sample copies: with "matchPointState" 1, source sample
// (x, y) lands on destination sample (x + dxm - sxm, y + dym - sym).
void matchOffset(const Environment *env, const DataObject *source, const DataObject *destination, int64_t *dx,
                 int64_t *dy) {
    *dx = *dy = 0;
    if (envAttr(env, EnvAttr::matchPointState) == 0) return;
    *dx = destination->get(Attr::xMatchPoint) - source->get(Attr::xMatchPoint);
    *dy = destination->get(Attr::yMatchPoint) - source->get(Attr::yMatchPoint);
}

// Opens both planes; the source for reading, the destination for writing
// (keeping what it holds).
int openPair(Environment *env, DataObject *source, DataObject *destination, Planes &in, Planes &out) {
    if (int code = in.open(env, source, false)) return code;
    return out.open(env, destination, true);
}

int closePair(Planes &in, Planes &out, int code) {
    int closedOut = code == kOk ? out.close() : kOk;  // a failed operator stores nothing
    int closedIn = in.close();
    if (code != kOk) return code;
    return closedOut != kOk ? closedOut : closedIn;
}

// Source band of destination band b by the nearest-neighbour rule.
int64_t sourceBand(int64_t b, int64_t sourceBands, int64_t destinationBands) {
    if (sourceBands == destinationBands) return b;
    const double s = static_cast<double>(sourceBands) / static_cast<double>(destinationBands);
    return std::min<int64_t>(static_cast<int64_t>((static_cast<double>(b) + 0.5) * s), sourceBands - 1);
}

// --- Resize ----------------------------------------------------------------

int tapsOf(int32_t kernel) {
    switch (kernel) {
    case kNearest: return 1;
    case kBilinear: return 2;
    default: return 4;
    }
}

// Kernel weights in 1/256 at x = f + 1, f, f - 1, f - 2.
double bSpline(double x) {
    const double a = std::fabs(x);
    if (a <= 1.0) return 0.6666666666666666 - x * x + a * a * a * 0.5;
    if (a <= 2.0) {
        const double r = 2.0 - a;
        return r * r * r * 0.16666666666666666;
    }
    return 0.0;
}

double cubicConvolution(double x) {
    const double a = std::fabs(x);
    if (a <= 1.0) return 1.0 - 2.5 * x * x + 1.5 * a * a * a;
    if (a <= 2.0) return 2.0 - 4.0 * a + 2.5 * x * x - 0.5 * a * a * a;
    return 0.0;
}

}  // namespace

void resizeWeights(int32_t kernel, double f, int32_t weights[4]) {
    switch (kernel) {
    case kBilinear:
        weights[0] = static_cast<int32_t>((1.0 - f) * 256.0);
        weights[1] = static_cast<int32_t>(f * 256.0);
        weights[2] = weights[3] = 0;
        break;
    case kBSpline:
    case kCubicConvolution: {
        double (*k)(double) = kernel == kBSpline ? bSpline : cubicConvolution;
        weights[0] = static_cast<int32_t>(k(f + 1.0) * 256.0);
        weights[1] = static_cast<int32_t>(k(f) * 256.0);
        weights[2] = static_cast<int32_t>(k(f - 1.0) * 256.0);
        weights[3] = static_cast<int32_t>(k(f - 2.0) * 256.0);
        break;
    }
    default:
        weights[0] = 256;
        weights[1] = weights[2] = weights[3] = 0;
        break;
    }
}

int64_t pixelCorrectionThreshold(int32_t morphology, int32_t kernel, int32_t ramp, double xFactor,
                                 double yFactor) {
    if (morphology == 0) return 32768;
    const double h = kernel == kBilinear ? 1.0 : 3.0;
    auto factor = [&](double s) {
        if (s < 1.0) return 1.0;
        if (s - 1.0 > h) return 0.0;
        const double q = (1.0 + h - s) / h;
        switch (ramp) {
        case 42: return q * q * q;
        case 181: return q * q;
        case 211: return q;
        default: {
            const double x = (s - 1.0) * 3.141592653589793;
            const double n = 2.0 * h;
            return 0.34 + 0.5 * std::cos(2.0 * x / n) + 0.16 * std::cos(4.0 * x / n);
        }
        }
    };
    double t = 65536.0 * 0.5 * factor(xFactor) * factor(yFactor);
    if (!(t > 0.0)) t = std::numeric_limits<double>::denorm_min();
    if (t < 1.0) t = 1.0;
    return static_cast<int64_t>(t);
}

int buildAxis(int32_t kernel, int64_t sourceSize, int64_t sourceOffset, int64_t destinationSize,
              int64_t destinationOffset, int64_t destinationLimit, int64_t sourceLimit, ResizeAxis *axis) {
    axis->taps = tapsOf(kernel);
    axis->begin = axis->end = 0;
    axis->index.clear();
    axis->weight.clear();
    const double s = static_cast<double>(sourceSize) / static_cast<double>(destinationSize);
    const int64_t lo = std::max<int64_t>(destinationOffset, 0);
    const int64_t hi = std::min<int64_t>(destinationOffset + destinationSize, destinationLimit);
    const double last = static_cast<double>(sourceLimit);
    // The mapping is monotone in d (IEEE arithmetic is), so the destination
    // indices with a source index inside the source form one run.
    bool started = false;
    for (int64_t d = lo; d < hi; ++d) {
        double u = (static_cast<double>(d) + 0.5 - static_cast<double>(destinationOffset)) * s +
                   static_cast<double>(sourceOffset);
        if (kernel != kNearest) u -= 0.5;
        // truncate(u) lies in 0 .. sourceLimit - 1 exactly when -1 < u < sourceLimit.
        if (!(u > -1.0 && u < last)) {
            if (started) break;
            continue;
        }
        if (!started) {
            axis->begin = d;
            started = true;
        }
        axis->end = d + 1;
        const int64_t i = static_cast<int64_t>(u);
        const double f = u > 0.0 ? u - static_cast<double>(i) : 0.0;
        int32_t w[4];
        resizeWeights(kernel, f, w);
        const int64_t top = sourceLimit - 1;
        int64_t taps[4];
        switch (axis->taps) {
        case 1: taps[0] = i; break;
        case 2:
            taps[0] = i;
            taps[1] = std::min(i + 1, top);
            break;
        default:
            taps[0] = i > 0 ? i - 1 : i;  // an index before the first is replaced by i
            taps[1] = i;
            taps[2] = std::min(i + 1, top);
            taps[3] = std::min(i + 2, top);
            break;
        }
        for (int t = 0; t < axis->taps; ++t) {
            axis->index.push_back(static_cast<int32_t>(taps[t]));
            axis->weight.push_back(w[t]);
        }
    }
    return kOk;
}

namespace {

// 8-bit bilinear or cubic: horizontal sums into the row cache, then the
// weighted sum of the cached rows.
template <int Taps>
int resizeSmooth8(const Planes &in, Planes &out, int64_t sb, int64_t db, const ResizeAxis &xs, const ResizeAxis &ys,
                  const ResizeKernels &kernels) {
    const int64_t n = xs.end - xs.begin;
    const int64_t sw = in.width();
    struct Slot {
        int64_t row = -1;
        std::vector<int32_t> sums;
    };
    Slot slots[Taps];
    try {
        for (Slot &slot : slots) slot.sums.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc &) {
        return kSystemError;
    }
    const uint8_t *source = in.plane(sb);
    uint8_t *destination = out.plane(db);
    const int64_t dw = out.width();
    for (int64_t k = 0; k < ys.end - ys.begin; ++k) {
        const int32_t *rowIndex = &ys.index[static_cast<size_t>(k * Taps)];
        const int32_t *rowWeight = &ys.weight[static_cast<size_t>(k * Taps)];
        const int32_t *rows[Taps];
        bool held[Taps] = {};
        // Rows already in the cache.
        for (int t = 0; t < Taps; ++t) {
            rows[t] = nullptr;
            for (int c = 0; c < Taps; ++c) {
                if (slots[c].row == rowIndex[t]) {
                    rows[t] = slots[c].sums.data();
                    held[c] = true;
                    break;
                }
            }
        }
        // The others into slots no needed row occupies.
        for (int t = 0; t < Taps; ++t) {
            if (rows[t] != nullptr) continue;
            int c = 0;
            while (held[c]) ++c;
            held[c] = true;
            slots[c].row = rowIndex[t];
            kernels.horizontal[Taps == 2 ? 0 : 1](source + static_cast<int64_t>(rowIndex[t]) * sw, sw,
                                                   xs.index.data(), xs.weight.data(), n, slots[c].sums.data());
            rows[t] = slots[c].sums.data();
            // Later taps naming the same row share it.
            for (int u = t + 1; u < Taps; ++u) {
                if (rowIndex[u] == rowIndex[t]) rows[u] = rows[t];
            }
        }
        kernels.vertical[Taps == 2 ? 0 : 1](rows, rowWeight, n, destination + (ys.begin + k) * dw + xs.begin);
    }
    return kOk;
}

// Boolean bilinear or cubic: the pixel correction.  Weighted products of the
// neighbours of the favoured polarity are added in row-major order; the bit
// is decided as soon as the running sum passes the threshold.
void resizeBoolean(const Planes &in, Planes &out, int64_t sb, int64_t db, const ResizeAxis &xs, const ResizeAxis &ys,
                   int32_t morphology, int64_t threshold) {
    const int taps = xs.taps;
    const int64_t sw = in.width(), dw = out.width();
    const uint8_t *source = in.plane(sb);
    uint8_t *destination = out.plane(db);
    const bool favourClear = morphology == kFavourClear;
    for (int64_t k = 0; k < ys.end - ys.begin; ++k) {
        const int32_t *rowIndex = &ys.index[static_cast<size_t>(k * taps)];
        const int32_t *rowWeight = &ys.weight[static_cast<size_t>(k * taps)];
        uint8_t *drow = destination + (ys.begin + k) * dw + xs.begin;
        for (int64_t j = 0; j < xs.end - xs.begin; ++j) {
            const int32_t *colIndex = &xs.index[static_cast<size_t>(j * taps)];
            const int32_t *colWeight = &xs.weight[static_cast<size_t>(j * taps)];
            int64_t sum = 0;
            uint8_t bit = favourClear ? 1 : 0;
            for (int t = 0; t < taps; ++t) {
                const uint8_t *srow = source + static_cast<int64_t>(rowIndex[t]) * sw;
                for (int u = 0; u < taps; ++u) {
                    const bool set = srow[colIndex[u]] != 0;
                    if (set == favourClear) continue;
                    sum += static_cast<int64_t>(colWeight[u]) * rowWeight[t];
                    if (favourClear ? sum > threshold : sum >= threshold) {
                        bit = favourClear ? 0 : 1;
                        goto decided;
                    }
                }
            }
        decided:
            drow[j] = bit;
        }
    }
}

void resizeNearest(const Planes &in, Planes &out, int64_t sb, int64_t db, const ResizeAxis &xs, const ResizeAxis &ys,
                   const ResizeKernels &kernels) {
    const int64_t sw = in.width(), dw = out.width();
    const int64_t n = xs.end - xs.begin;
    const uint8_t *source = in.plane(sb);
    uint8_t *destination = out.plane(db);
    const int32_t *index = xs.index.data();
    // Columns that copy a run of the source unscaled (offsets of an exact
    // copy) are one block copy.
    const bool straight = n > 0 && index[n - 1] - index[0] == n - 1;
    for (int64_t k = 0; k < ys.end - ys.begin; ++k) {
        const uint8_t *srow = source + static_cast<int64_t>(ys.index[static_cast<size_t>(k)]) * sw;
        uint8_t *drow = destination + (ys.begin + k) * dw + xs.begin;
        if (straight) {
            std::memmove(drow, srow + index[0], static_cast<size_t>(n));
            continue;
        }
        kernels.nearest(srow, sw, index, n, drow);
    }
}

}  // namespace

int resizeImage(Environment *env, DataObject *source, DataObject *destination, const Box *sourceBox,
                const Box *destinationBox) {
    if (int code = checkEnvironment(env)) return code;
    const int32_t kernel = envAttr(env, EnvAttr::interpolation);
    if (kernel != kNearest && kernel != kBilinear && kernel != kBSpline && kernel != kCubicConvolution) {
        return fail(env, kNonPermissibleOption);
    }
    if (int code = checkPair(env, source, destination)) return code;
    Planes in, out;
    if (int code = openPair(env, source, destination, in, out)) return closePair(in, out, code);
    const Box from = sourceBox != nullptr ? *sourceBox : Box{0, 0, in.width(), in.height()};
    const Box to = destinationBox != nullptr ? *destinationBox : Box{0, 0, out.width(), out.height()};
    if (from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0) {
        return closePair(in, out, fail(env, kOutOfRange));
    }
    int64_t mx, my;
    matchOffset(env, source, destination, &mx, &my);
    ResizeAxis xs, ys;
    try {
        buildAxis(kernel, from.width, from.x, to.width, to.x + mx, out.width(), in.width(), &xs);
        buildAxis(kernel, from.height, from.y, to.height, to.y + my, out.height(), in.height(), &ys);
    } catch (const std::bad_alloc &) {
        return closePair(in, out, fail(env, kSystemError));
    }
    const bool boolean = in.boolean();
    int64_t threshold = 0;
    const int32_t morphology = envAttr(env, EnvAttr::morphologicalOperation);
    if (boolean && kernel != kNearest) {
        threshold = pixelCorrectionThreshold(morphology, kernel, envAttr(env, EnvAttr::thresholdRamp),
                                             static_cast<double>(from.width) / static_cast<double>(to.width),
                                             static_cast<double>(from.height) / static_cast<double>(to.height));
    }
    const ResizeKernels &kernels = resizeKernels();
    int code = kOk;
    if (xs.end > xs.begin && ys.end > ys.begin) {
        for (int64_t b = 0; code == kOk && b < out.bands(); ++b) {
            const int64_t sb = sourceBand(b, in.bands(), out.bands());
            if (kernel == kNearest) resizeNearest(in, out, sb, b, xs, ys, kernels);
            else if (boolean) resizeBoolean(in, out, sb, b, xs, ys, morphology, threshold);
            else if (xs.taps == 2) code = resizeSmooth8<2>(in, out, sb, b, xs, ys, kernels);
            else code = resizeSmooth8<4>(in, out, sb, b, xs, ys, kernels);
        }
    }
    if (code != kOk) code = fail(env, code);
    return closePair(in, out, code);
}

// --- Quarter turns and mirrors -------------------------------------------------

namespace {

// Destination rectangle [c0, c1) x [r0, r1) of a rotated picture of
// rw x rh placed at (ox, oy) in a dw x dh destination.
struct Span2 {
    int64_t c0, c1, r0, r1;
};

Span2 placed(int64_t ox, int64_t oy, int64_t rw, int64_t rh, int64_t dw, int64_t dh) {
    return {std::max<int64_t>(ox, 0), std::min(ox + rw, dw), std::max<int64_t>(oy, 0), std::min(oy + rh, dh)};
}

}  // namespace

int rotateQuarter(Environment *env, DataObject *source, DataObject *destination, int32_t code) {
    if (int check = checkEnvironment(env)) return check;
    if (code != kHalfTurn && code != kQuarterClockwise && code != kQuarterCounterClockwise &&
        code != kMirrorLeftRight && code != kMirrorTopBottom) {
        return kOk;
    }
    if (int check = checkPair(env, source, destination)) return check;
    Planes in, out;
    if (int check = openPair(env, source, destination, in, out)) return closePair(in, out, check);
    int64_t ox, oy;
    matchOffset(env, source, destination, &ox, &oy);
    const int64_t w = in.width(), h = in.height();
    const bool quarter = code == kQuarterClockwise || code == kQuarterCounterClockwise;
    const int64_t rw = quarter ? h : w, rh = quarter ? w : h;
    const Span2 s = placed(ox, oy, rw, rh, out.width(), out.height());
    const QuarterKernels &kernels = quarterKernels();
    if (s.c0 < s.c1 && s.r0 < s.r1) {
        for (int64_t b = 0; b < out.bands(); ++b) {
            const uint8_t *src = in.plane(sourceBand(b, in.bands(), out.bands()));
            uint8_t *dst = out.plane(b);
            const int64_t dw = out.width();
            const int64_t n = s.c1 - s.c0;
            if (!quarter) {
                // Row by row: (c, r) from (W-1-c', H-1-r'), (W-1-c', r') or
                // (c', H-1-r'), with c' = c - ox, r' = r - oy.
                for (int64_t r = s.r0; r < s.r1; ++r) {
                    const int64_t rr = r - oy, cc = s.c0 - ox;
                    uint8_t *drow = dst + r * dw + s.c0;
                    switch (code) {
                    case kHalfTurn: kernels.reverse(src + (h - 1 - rr) * w + (w - 1 - cc), drow, n); break;
                    case kMirrorLeftRight: kernels.reverse(src + rr * w + (w - 1 - cc), drow, n); break;
                    default: std::memcpy(drow, src + (h - 1 - rr) * w + cc, static_cast<size_t>(n)); break;
                    }
                }
            } else {
                // Destination (c, r) from source (W-1-r', c') (counter-clockwise)
                // or (r', H-1-c') (clockwise), r' = r - oy, c' = c - ox: a
                // transpose with one axis reversed.
                QuarterBlock block{src, w, h, dst, dw, s.c0, s.c1, s.r0, s.r1, ox, oy};
                if (code == kQuarterCounterClockwise) kernels.counterClockwise(block);
                else kernels.clockwise(block);
            }
        }
    }
    return closePair(in, out, kOk);
}

// --- Warps ---------------------------------------------------------------------

int warpAffine(Environment *env, DataObject *source, DataObject *destination, const double xRow[16],
               const double yRow[16]) {
    if (int code = checkEnvironment(env)) return code;
    const int32_t kernel = envAttr(env, EnvAttr::interpolation);
    if (kernel != kNearest && kernel != kBilinear) return fail(env, kNonPermissibleOption);
    if (int code = checkPair(env, source, destination)) return code;
    Planes in, out;
    if (int code = openPair(env, source, destination, in, out)) return closePair(in, out, code);
    int64_t ox, oy;
    matchOffset(env, source, destination, &ox, &oy);
    bool affine = true;
    for (int k = 3; k < 16; ++k) affine = affine && xRow[k] == 0.0 && yRow[k] == 0.0;
    const int64_t dw = out.width(), dh = out.height();
    const int64_t bands = out.bands();
    WarpRow row;
    row.sourceWidth = in.width();
    row.sourceHeight = in.height();
    row.bands = static_cast<int>(std::min<int64_t>(bands, 4));
    row.boolean = in.boolean();
    row.bilinear = kernel == kBilinear;
    for (int64_t b = 0; b < row.bands; ++b) row.source[b] = in.plane(sourceBand(b, in.bands(), bands));
    std::vector<double> columnX, columnY, powers;
    try {
        columnX.resize(static_cast<size_t>(dw));
        columnY.resize(static_cast<size_t>(dw));
        if (!affine) powers.resize(static_cast<size_t>(dw) * 3);
    } catch (const std::bad_alloc &) {
        return closePair(in, out, fail(env, kSystemError));
    }
    // Per-column terms: with them sx = (P0 + P1 x) + P2 y, the defining
    // sum in its own order.
    for (int64_t x = 0; x < dw; ++x) {
        const double xx = static_cast<double>(x - ox);
        columnX[static_cast<size_t>(x)] = xRow[0] + xRow[1] * xx;
        columnY[static_cast<size_t>(x)] = yRow[0] + yRow[1] * xx;
        if (!affine) {
            powers[static_cast<size_t>(3 * x)] = xx;
            powers[static_cast<size_t>(3 * x + 1)] = xx * xx;
            powers[static_cast<size_t>(3 * x + 2)] = xx * xx * xx;
        }
    }
    const WarpKernels &kernels = warpKernels();
    std::vector<double> sx, sy;
    if (!affine) {
        try {
            sx.resize(static_cast<size_t>(dw));
            sy.resize(static_cast<size_t>(dw));
        } catch (const std::bad_alloc &) {
            return closePair(in, out, fail(env, kSystemError));
        }
    }
    if (affine) {
        // Destination tiles keep the source area a tile reads small: a row
        // of a rotated picture crosses hundreds of source rows (and pages).
        constexpr int64_t kTileRows = 64, kTileColumns = 64;
        for (int64_t ty = 0; ty < dh; ty += kTileRows) {
            const int64_t ye = std::min(ty + kTileRows, dh);
            for (int64_t tx = 0; tx < dw; tx += kTileColumns) {
                row.count = std::min(kTileColumns, dw - tx);
                row.columnX = columnX.data() + tx;
                row.columnY = columnY.data() + tx;
                for (int64_t y = ty; y < ye; ++y) {
                    const double yy = static_cast<double>(y - oy);
                    for (int64_t b = 0; b < row.bands; ++b) row.destination[b] = out.row(b, y) + tx;
                    row.rowX = xRow[2] * yy;
                    row.rowY = yRow[2] * yy;
                    kernels.row(row);
                }
            }
        }
        return closePair(in, out, kOk);
    }
    for (int64_t y = 0; y < dh; ++y) {
        const double yy = static_cast<double>(y - oy);
        for (int64_t b = 0; b < row.bands; ++b) row.destination[b] = out.row(b, y);
        row.count = dw;
        // Σ c[k] × monomial k in the order 1, x, y, x², xy, y², x³, x²y,
        // xy², y³, x³y, x²y², xy³, x²y³, x³y², x³y³ (the distortions' order).
        const double y2 = yy * yy, y3 = y2 * yy;
        for (int64_t x = 0; x < dw; ++x) {
            const double *p = &powers[static_cast<size_t>(3 * x)];
            const double m[16] = {1.0,      p[0],      yy,        p[1],      p[0] * yy, y2,
                                  p[2],     p[1] * yy, p[0] * y2, y3,        p[2] * yy, p[1] * y2,
                                  p[0] * y3, p[1] * y3, p[2] * y2, p[2] * y3};
            double a = 0.0, c = 0.0;
            for (int k = 0; k < 16; ++k) {
                a += xRow[k] * m[k];
                c += yRow[k] * m[k];
            }
            sx[static_cast<size_t>(x)] = a;
            sy[static_cast<size_t>(x)] = c;
        }
        row.columnX = sx.data();
        row.columnY = sy.data();
        row.rowX = 0.0;
        row.rowY = 0.0;
        kernels.row(row);
    }
    return closePair(in, out, kOk);
}

int rotateAbout(Environment *env, DataObject *source, DataObject *destination, double centreX, double centreY,
                double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    double xRow[16] = {}, yRow[16] = {};
    xRow[0] = centreX - c * centreX + s * centreY;
    xRow[1] = c;
    xRow[2] = -s;
    yRow[0] = centreY - s * centreX - c * centreY;
    yRow[1] = s;
    yRow[2] = c;
    return warpAffine(env, source, destination, xRow, yRow);
}

}  // namespace orvo
