// Colour mode conversion.
//
// Every operator opens its images as whole planes (Planes) and works on the
// rectangle source and destination share: with "matchPointState" 1 the
// source's match point lands on the destination's, otherwise both top-left
// corners coincide.  Inner loops run over whole rows with per-call tables;
// nothing is called per pixel.
//
// Arithmetic is integer throughout so that results are exact:
// - luminance uses 15-bit fixed-point weights;
// - Floyd-Steinberg keeps errors scaled by 16 in two row arrays (current
//   and next row), divides them with truncation toward zero, and runs every
//   row left to right;
// - the ordered dither compares v x 16 with the 4 x 4 matrix entry scaled to
//   the sample range;
// - popularity quantization counts pixels in a coarse colour grid, picks the
//   most populated cells by a falling threshold, and resolves every populated
//   cell's nearest palette entry once, so that a pixel costs one table lookup
//   (plus a short exact search where a cell is equally near several entries).
#include "core/process/colourmode.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/env/exported.h"
#include "core/env/palette.h"
#include "core/process/planes.h"

namespace orvo {
namespace {

// Luminance weights by "colourSpace", as 15-bit fixed point (truncated).
struct LuminanceWeights {
    int32_t colourSpace;
    double red, green, blue;
};
constexpr LuminanceWeights kLuminanceWeights[] = {
    {118, 0.21261719, 0.71520276, 0.07218005}, {119, 0.17701522, 0.81232418, 0.0106606},
    {120, 0.23272304, 0.68867804, 0.07859892}, {121, 0.29889531, 0.58662247, 0.11448223},
    {122, 0.21235295, 0.70109788, 0.08654917},
};
constexpr int32_t fixedWeight(double weight) { return static_cast<int32_t>(weight * 32768.0); }
static_assert(fixedWeight(0.29889531) == 9794 && fixedWeight(0.58662247) == 19222 &&
              fixedWeight(0.11448223) == 3751);

// The pattern matrix, rows top to bottom, and its scale.
constexpr int32_t kPattern[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr int32_t kPatternScale = 16;

bool isEightBit(const Planes &p) { return !p.boolean(); }

// 2^precision - 1 of an 8-bit-stored image (precision 1..8).
int32_t sampleMaximum(const DataObject *image) {
    const int32_t precision = std::clamp(image->get32(Attr::dataPrecision), 1, 8);
    return (1 << precision) - 1;
}

// The rectangle of the source that lands on the destination.
struct Overlap {
    int64_t sx = 0, sy = 0, dx = 0, dy = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

Overlap overlapOf(const Environment *env, const DataObject *source, const Planes &s, const DataObject *destination,
                  const Planes &d) {
    int64_t offX = 0, offY = 0;
    if (envAttr(env, EnvAttr::matchPointState) == 1) {
        offX = destination->get(Attr::xMatchPoint) - source->get(Attr::xMatchPoint);
        offY = destination->get(Attr::yMatchPoint) - source->get(Attr::yMatchPoint);
    }
    Overlap o;
    // Match points are caller values: keep the arithmetic far from overflow.
    constexpr int64_t kFar = int64_t{1} << 40;
    if (offX <= -kFar || offX >= kFar || offY <= -kFar || offY >= kFar) return o;
    o.sx = std::max<int64_t>(0, -offX);
    o.sy = std::max<int64_t>(0, -offY);
    o.dx = o.sx + offX;
    o.dy = o.sy + offY;
    o.width = std::min(s.width() - o.sx, d.width() - o.dx);
    o.height = std::min(s.height() - o.sy, d.height() - o.dy);
    return o;
}

// Source and destination opened together; closed (destination stored) by
// finish().
struct PlanePair {
    Planes source, destination;
    Overlap overlap;

    int open(Environment *env, DataObject *src, DataObject *dst) {
        if (int code = source.open(env, src, false)) return code;
        if (int code = destination.open(env, dst, true)) return code;
        overlap = overlapOf(env, src, source, dst, destination);
        return kOk;
    }
    int finish(int code) {
        int closedDestination = destination.close();
        int closedSource = source.close();
        if (code != kOk) return code;
        return closedDestination != kOk ? closedDestination : closedSource;
    }
};

bool validLevels(const Levels &levels, int32_t bands, int32_t maximum) {
    for (int32_t b = 0; b < std::min(bands, 3); ++b) {
        // A level above maximum + 1 would make the step between levels 0.
        if (levels.level[b] < 2 || levels.level[b] > maximum + 1) return false;
    }
    return true;
}

// --- Luminance -------------------------------------------------------------

// gray = (R wR + G wG + B wB + 16384) >> 15 for one row.  The weights are
// below 2^15, so with SSE2 (part of every x86-64) pairs of 16-bit products
// are summed exactly into 32 bits by pmaddwd: (R, G) x (wR, wG) and
// (B, 1) x (wB, 16384), 16 pixels a step; the scalar loop finishes the row
// with the same arithmetic.
void luminanceRow(const uint8_t *r, const uint8_t *g, const uint8_t *b, uint8_t *d, int64_t width, uint32_t wr,
                  uint32_t wg, uint32_t wb) {
    int64_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsRG = _mm_set1_epi32(static_cast<int32_t>(wr | (wg << 16)));
    const __m128i weightsB1 = _mm_set1_epi32(static_cast<int32_t>(wb | (16384u << 16)));
    const __m128i ones = _mm_set1_epi16(1);
    auto four = [&](__m128i r16, __m128i g16, __m128i b16, bool high) {
        const __m128i rg = high ? _mm_unpackhi_epi16(r16, g16) : _mm_unpacklo_epi16(r16, g16);
        const __m128i b1 = high ? _mm_unpackhi_epi16(b16, ones) : _mm_unpacklo_epi16(b16, ones);
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(rg, weightsRG), _mm_madd_epi16(b1, weightsB1));
        return _mm_srli_epi32(sum, 15);
    };
    for (; x + 16 <= width; x += 16) {
        const __m128i rv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r + x));
        const __m128i gv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(g + x));
        const __m128i bv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        const __m128i rLow = _mm_unpacklo_epi8(rv, zero), rHigh = _mm_unpackhi_epi8(rv, zero);
        const __m128i gLow = _mm_unpacklo_epi8(gv, zero), gHigh = _mm_unpackhi_epi8(gv, zero);
        const __m128i bLow = _mm_unpacklo_epi8(bv, zero), bHigh = _mm_unpackhi_epi8(bv, zero);
        const __m128i low = _mm_packs_epi32(four(rLow, gLow, bLow, false), four(rLow, gLow, bLow, true));
        const __m128i high = _mm_packs_epi32(four(rHigh, gHigh, bHigh, false), four(rHigh, gHigh, bHigh, true));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x), _mm_packus_epi16(low, high));
    }
#endif
    for (; x < width; ++x) d[x] = static_cast<uint8_t>((r[x] * wr + g[x] * wg + b[x] * wb + 16384u) >> 15);
}

// --- Floyd-Steinberg -----------------------------------------------------

// Diffuses one band over the overlap.  `quantize(v)` gives the output value
// of a value already within 0 .. maximum.
// One row of Floyd-Steinberg, one pixel a step.  `above` holds what the
// row above sent to each pixel of this row; `below` receives what this row
// sends down, each entry written once, whole, so nothing needs clearing.
// The error sent right and the sums for the two pixels below that are still
// collecting stay in registers.  `below[-1]` must be writable scratch.
template <bool boolean, class Quantize>
struct DiffusionRow {
    const uint8_t *source;
    uint8_t *out;
    const int32_t *above;
    int32_t *below;
    int32_t maximum;
    Quantize quantize;
    int32_t right = 0;      // 7 x the error of the pixel to the left
    int32_t belowLeft = 0;  // for the pixel below x - 1: its 1 and 5 parts
    int32_t belowHere = 0;  // for the pixel below x: its 1 part

    void step(int64_t x) {
        const int32_t v = source[x] + (above[x] + right) / 16;  // truncation toward zero
        // Branch-free: dithered output is not predictable.
        int32_t value;
        if constexpr (boolean) {
            const int32_t set = (maximum + 1 - 2 * v) >> 31;  // all ones when 2v > M + 1
            value = set & maximum;
            out[x] = static_cast<uint8_t>(set & 1);
        } else {
            value = quantize(std::clamp(v, -1, maximum + 1));
            out[x] = static_cast<uint8_t>(value);
        }
        const int32_t err = v - value;
        right = 7 * err;
        below[x - 1] = belowLeft + 3 * err;
        belowLeft = belowHere + 5 * err;
        belowHere = err;
    }
    void end(int64_t width) { below[width - 1] = belowLeft; }
};

// Diffuses one band.  Rows go two at a time, the second two pixels behind
// the first (a pixel needs the row above done up to its right neighbour),
// so that the two rows' serial chains overlap; the order of additions into
// every error is the same as row after row.
template <bool boolean, class Quantize>
void diffuseBand(const uint8_t *src, int64_t srcStride, uint8_t *dst, int64_t dstStride, int64_t width,
                 int64_t height, int32_t maximum, Quantize quantize, std::vector<int32_t> &rowA,
                 std::vector<int32_t> &rowB, std::vector<int32_t> &rowC) {
    using Row = DiffusionRow<boolean, Quantize>;
    // Each array: one scratch entry, then one per pixel.
    std::fill(rowA.begin(), rowA.end(), 0);
    int32_t *fromAbove = rowA.data() + 1;
    int32_t *middle = rowB.data() + 1;
    int32_t *toBelow = rowC.data() + 1;
    int64_t y = 0;
    for (; y + 2 <= height; y += 2) {
        Row first{src + y * srcStride, dst + y * dstStride, fromAbove, middle, maximum, quantize};
        Row second{src + (y + 1) * srcStride, dst + (y + 1) * dstStride, middle, toBelow, maximum, quantize};
        const int64_t lead = std::min<int64_t>(2, width);
        for (int64_t x = 0; x < lead; ++x) first.step(x);
        for (int64_t x = 2; x < width; ++x) {
            first.step(x);
            second.step(x - 2);
        }
        first.end(width);
        for (int64_t x = std::max<int64_t>(width - 2, 0); x < width; ++x) second.step(x);
        second.end(width);
        std::swap(fromAbove, toBelow);
    }
    if (y < height) {
        Row last{src + y * srcStride, dst + y * dstStride, fromAbove, middle, maximum, quantize};
        for (int64_t x = 0; x < width; ++x) last.step(x);
    }
}

// --- Popularity quantization -------------------------------------------

int32_t popularityCellSize(int64_t colours) {
    struct Band {
        int64_t upTo;
        int32_t cell;
    };
    constexpr Band kBands[] = {{13, 52},  {21, 64},  {31, 37},  {45, 32},  {62, 29},  {83, 26},
                               {107, 24}, {137, 22}, {171, 20}, {210, 19}, {255, 18}, {256, 16}};
    if (colours < 8) return 0;
    for (const Band &band : kBands) {
        if (colours <= band.upTo) return band.cell;
    }
    return 0;
}

int32_t cellCentre(int32_t i, int32_t c) { return i * c + c < 255 ? (2 * i * c + c - 1) >> 1 : (i * c + 255) >> 1; }

struct Rgb3 {
    int32_t r, g, b;
};
inline int32_t distance2(const Rgb3 &a, int32_t r, int32_t g, int32_t b) {
    return (a.r - r) * (a.r - r) + (a.g - g) * (a.g - g) + (a.b - b) * (a.b - b);
}

int quantizePopularity(Environment *env, const Planes &s, Planes &d, const Overlap &o, const Levels &levels,
                       int64_t capacity, PaletteData &palette) {
    const int64_t colours = int64_t{levels.level[0]} * levels.level[1] * levels.level[2];
    const int32_t c = popularityCellSize(colours);
    if (c == 0 || colours > capacity) return fail(env, kOutOfRange);
    const int32_t g = 255 / c + 1;
    const int32_t cells = g * g * g;
    uint16_t cellR[256], cellG[256], cellB[256];
    for (int32_t v = 0; v < 256; ++v) {
        cellR[v] = static_cast<uint16_t>(v / c);
        cellG[v] = static_cast<uint16_t>(g * (v / c));
        cellB[v] = static_cast<uint16_t>(g * g * (v / c));
    }
    const uint8_t *red = s.plane(0), *green = s.plane(1), *blue = s.plane(2);
    const int64_t stride = s.width();

    // Four partial histograms, so that runs of pixels in one cell do not
    // wait on each other's increments.
    std::vector<int64_t> lanes(static_cast<size_t>(cells) * 4, 0);
    int64_t *lane[4] = {lanes.data(), lanes.data() + cells, lanes.data() + 2 * cells, lanes.data() + 3 * cells};
    for (int64_t y = 0; y < o.height; ++y) {
        const int64_t at = (o.sy + y) * stride + o.sx;
        const uint8_t *r = red + at, *gr = green + at, *b = blue + at;
        int64_t x = 0;
        for (; x + 4 <= o.width; x += 4) {
            for (int i = 0; i < 4; ++i) ++lane[i][cellR[r[x + i]] + cellG[gr[x + i]] + cellB[b[x + i]]];
        }
        for (; x < o.width; ++x) ++lane[0][cellR[r[x]] + cellG[gr[x]] + cellB[b[x]]];
    }
    std::vector<int64_t> counts(static_cast<size_t>(cells), 0);
    int64_t total = 0;
    for (int32_t cell = 0; cell < cells; ++cell) {
        counts[static_cast<size_t>(cell)] = lane[0][cell] + lane[1][cell] + lane[2][cell] + lane[3][cell];
        total += counts[static_cast<size_t>(cell)];
    }

    // Choose cells: each walk takes, in index order, every unchosen cell
    // holding at least t pixels, then t falls.  Cells without pixels are
    // never chosen.
    std::vector<int32_t> cellEntry(static_cast<size_t>(cells), -1);
    std::vector<Rgb3> entries;
    auto centreOf = [&](int32_t cell) {
        return Rgb3{cellCentre(cell % g, c), cellCentre(cell / g % g, c), cellCentre(cell / (g * g), c)};
    };
    int64_t k = colours, n = total, t = n / (k + 1), m = 1;
    while (k > 0 && n > 0) {
        int64_t largest = 0;
        for (int32_t cell = 0; cell < cells; ++cell) {
            if (cellEntry[static_cast<size_t>(cell)] < 0) largest = std::max(largest, counts[static_cast<size_t>(cell)]);
        }
        if (largest == 0) break;
        // A walk that would take nothing only lowers t: skip straight to
        // the threshold at which it takes something.
        while (largest < t) {
            const int64_t lower = n / (k + 1);
            if (lower < t) {
                t = lower;
            } else {
                m = std::max(m, n / (t * k) + 1);  // the first m with n / (m k) < t
                t = n / (m * k);
            }
        }
        for (int32_t cell = 0; cell < cells && k > 0 && n > 0; ++cell) {
            const int64_t count = counts[static_cast<size_t>(cell)];
            if (cellEntry[static_cast<size_t>(cell)] >= 0 || count == 0 || count < t) continue;
            cellEntry[static_cast<size_t>(cell)] = static_cast<int32_t>(entries.size());
            entries.push_back(centreOf(cell));
            --k;
            n -= count;
        }
        if (k == 0 || n == 0) break;
        const int64_t lower = n / (k + 1);
        if (lower < t) {
            t = lower;
        } else if (t > 0) {
            m = std::max(m, n / (t * k) + 1);
            t = n / (m * k);
        } else {
            break;  // every populated cell is taken
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        palette.red[i] = static_cast<uint8_t>(entries[i].r);
        palette.green[i] = static_cast<uint8_t>(entries[i].g);
        palette.blue[i] = static_cast<uint8_t>(entries[i].b);
    }

    // Resolve every populated cell once: its own entry, the single nearest
    // entry, or a group of equally near candidates, stored as (count) then
    // (index, red, green, blue) per candidate and marked by `kTied` + the
    // group's offset.
    constexpr int32_t kTied = std::numeric_limits<int32_t>::min() / 2;
    std::vector<int32_t> tied;
    std::vector<int32_t> nearest;
    for (int32_t cell = 0; cell < cells; ++cell) {
        int32_t &entry = cellEntry[static_cast<size_t>(cell)];
        if (entry >= 0 || counts[static_cast<size_t>(cell)] == 0 || entries.empty()) continue;
        const Rgb3 centre = centreOf(cell);
        int32_t best = std::numeric_limits<int32_t>::max();
        nearest.clear();
        for (size_t i = 0; i < entries.size(); ++i) {
            const int32_t dist = distance2(entries[i], centre.r, centre.g, centre.b);
            if (dist < best) {
                best = dist;
                nearest.clear();
            }
            if (dist == best) nearest.push_back(static_cast<int32_t>(i));
        }
        if (nearest.size() == 1) {
            entry = nearest[0];
            continue;
        }
        entry = kTied + static_cast<int32_t>(tied.size());
        tied.push_back(static_cast<int32_t>(nearest.size()));
        for (int32_t i : nearest) {
            const Rgb3 &colour = entries[static_cast<size_t>(i)];
            tied.insert(tied.end(), {i, colour.r, colour.g, colour.b});
        }
    }

    uint8_t *out = d.plane(0);
    const int64_t dstStride = d.width();
    for (int64_t y = 0; y < o.height; ++y) {
        const int64_t at = (o.sy + y) * stride + o.sx;
        const uint8_t *r = red + at, *gr = green + at, *b = blue + at;
        uint8_t *row = out + (o.dy + y) * dstStride + o.dx;
        for (int64_t x = 0; x < o.width; ++x) {
            int32_t entry = cellEntry[static_cast<size_t>(cellR[r[x]] + cellG[gr[x]] + cellB[b[x]])];
            if (entry < 0) {
                // Equally near candidates: the one nearest to the pixel
                // itself, the first on ties.
                const int32_t *group = tied.data() + (entry - kTied);
                const int32_t pr = r[x], pg = gr[x], pb = b[x];
                int32_t best = std::numeric_limits<int32_t>::max();
                for (const int32_t *c4 = group + 1, *end = group + 1 + 4 * group[0]; c4 != end; c4 += 4) {
                    const int32_t dist = (c4[1] - pr) * (c4[1] - pr) + (c4[2] - pg) * (c4[2] - pg) +
                                         (c4[3] - pb) * (c4[3] - pb);
                    if (dist < best) {
                        best = dist;
                        entry = c4[0];
                    }
                }
            }
            row[x] = static_cast<uint8_t>(entry);
        }
    }
    return kOk;
}

int quantizeUniform(Environment *env, const Planes &s, Planes &d, const Overlap &o, const Levels &levels,
                    int64_t capacity, PaletteData &palette) {
    const int64_t colours = int64_t{levels.level[0]} * levels.level[1] * levels.level[2];
    if (colours > capacity) return fail(env, kOutOfRange);
    const int32_t l0 = levels.level[0], l1 = levels.level[1], l2 = levels.level[2];
    const int32_t q0 = 255 / (l0 - 1), q1 = 255 / (l1 - 1), q2 = 255 / (l2 - 1);
    for (int32_t i2 = 0; i2 < l2; ++i2) {
        for (int32_t i1 = 0; i1 < l1; ++i1) {
            for (int32_t i0 = 0; i0 < l0; ++i0) {
                const size_t e = static_cast<size_t>(i0 + l0 * (i1 + l1 * i2));
                palette.red[e] = static_cast<uint8_t>(i0 * q0);
                palette.green[e] = static_cast<uint8_t>(i1 * q1);
                palette.blue[e] = static_cast<uint8_t>(i2 * q2);
            }
        }
    }
    // Per-band index tables; a value whose quotient passes the top level
    // (possible when 255 / q > L - 1) takes the top level.
    uint8_t indexR[256], indexG[256], indexB[256];
    for (int32_t v = 0; v < 256; ++v) {
        indexR[v] = static_cast<uint8_t>(std::min(v / q0, l0 - 1));
        indexG[v] = static_cast<uint8_t>(l0 * std::min(v / q1, l1 - 1));
        indexB[v] = static_cast<uint8_t>(l0 * l1 * std::min(v / q2, l2 - 1));
    }
    const uint8_t *red = s.plane(0), *green = s.plane(1), *blue = s.plane(2);
    uint8_t *out = d.plane(0);
    for (int64_t y = 0; y < o.height; ++y) {
        const int64_t at = (o.sy + y) * s.width() + o.sx;
        const uint8_t *r = red + at, *g = green + at, *b = blue + at;
        uint8_t *row = out + (o.dy + y) * d.width() + o.dx;
        for (int64_t x = 0; x < o.width; ++x) {
            row[x] = static_cast<uint8_t>(indexR[r[x]] + indexG[g[x]] + indexB[b[x]]);
        }
    }
    return kOk;
}

// --- Image objects for the conversions -----------------------------------

// The width a non-boolean copy of `image` has: a bitmap read with its rows
// widened to whole bytes keeps its real width in "widthByteBoundary".
int64_t realWidth(const DataObject *image) {
    const intptr_t kept = image->get(Attr::widthByteBoundary);
    const intptr_t width = image->get(Attr::xDimension);
    if (image->get32(Attr::dataType) == code::kBoolean && kept > 0 && kept < width) return kept;
    return width;
}

int32_t workRepository(const DataObject *image) {
    return image->get32(Attr::repository) == code::kFile ? code::kFile : code::kWorkSpace;
}

// A new image without palette in the repository kind of `like`.
DataObject *newImage(Environment *env, const DataObject *like, int64_t width, int64_t height, int32_t bands,
                     int32_t dataType, int32_t precision, int32_t colourSpace = 0, int64_t keptWidth = 0) {
    const CmiAttribute list[] = {
        {"repository", workRepository(like)},
        {"xDimension", static_cast<intptr_t>(width)},
        {"yDimension", static_cast<intptr_t>(height)},
        {"zDimension", 1},
        {"tDimension", 1},
        {"bDimension", bands},
        {"dataType", dataType},
        {"dataPrecision", precision},
        {"bitOrder", code::kMostSignificantFirst},
        {"byteOrder", code::kMostSignificantFirst},
        {"colourSpace", colourSpace},
        {"widthByteBoundary", static_cast<intptr_t>(keptWidth)},
        {"lut", 0},
    };
    return createObject(env, "oConverted", ObjectClass::GenericImage, nullptr, list);
}

int errorOf(Environment *env) {
    const int code = lastError(env);
    return code != kOk ? code : kSystemError;
}

int32_t quantizationCode(int32_t quantization) {
    switch (quantization) {
    case kQuantizePopularity: return kPopularityQuantization;
    case kQuantizeUniform: return kUniformQuantization;
    case kQuantizeMedianCut: return kMedianCutQuantization;
    default: return 0;
    }
}

int32_t optionOr(std::span<const CmiAttribute> options, const char *name, int32_t fallback) {
    const CmiAttribute *found = findOption(options.data(), static_cast<int32_t>(options.size()), name);
    return found != nullptr ? static_cast<int32_t>(found->value) : fallback;
}

// Palette of a two-colour image as PaletteData with at least two entries.
int bitmapColours(Environment *env, DataObject *image, uint8_t colour0[3], uint8_t colour1[3]) {
    PaletteData palette;
    DataObject *lut = image->lutObject();
    if (lut != nullptr) {
        if (int code = readTable(env, lut, &palette)) return code;
    }
    // Without a palette a bitmap is black and white.
    colour0[0] = colour0[1] = colour0[2] = 0;
    colour1[0] = colour1[1] = colour1[2] = 255;
    if (palette.entries >= 1) {
        colour0[0] = palette.red[0], colour0[1] = palette.green[0], colour0[2] = palette.blue[0];
    }
    if (palette.entries >= 2) {
        colour1[0] = palette.red[1], colour1[1] = palette.green[1], colour1[2] = palette.blue[1];
    }
    return kOk;
}

}  // namespace

// --- Operators -----------------------------------------------------------

int expandPalette(Environment *env, DataObject *source, DataObject *destination, DataObject *palette) {
    if (int code = checkEnvironment(env)) return code;
    PaletteData colours;
    if (palette != nullptr) {
        if (int code = readTable(env, palette, &colours)) return code;
    }
    // Indices the palette does not hold read as black.
    uint8_t table[3][256] = {};
    for (int32_t i = 0; i < std::min(colours.entries, 256); ++i) {
        table[0][i] = colours.red[static_cast<size_t>(i)];
        table[1][i] = colours.green[static_cast<size_t>(i)];
        table[2][i] = colours.blue[static_cast<size_t>(i)];
    }
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    if (p.destination.boolean() || p.destination.bands() < 3) return p.finish(fail(env, kMismatchDataType));
    const Overlap &o = p.overlap;
    for (int band = 0; band < 3 && !o.empty(); ++band) {
        const uint8_t *t = table[band];
        for (int64_t y = 0; y < o.height; ++y) {
            const uint8_t *s = p.source.row(0, o.sy + y) + o.sx;
            uint8_t *d = p.destination.row(band, o.dy + y) + o.dx;
            for (int64_t x = 0; x < o.width; ++x) d[x] = t[s[x]];
        }
    }
    return p.finish(kOk);
}

int toLuminance(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkEnvironment(env)) return code;
    if (int code = checkObject(env, source)) return code;
    const int32_t colourSpace = source->get32(Attr::colourSpace);
    const LuminanceWeights *weights = nullptr;
    for (const LuminanceWeights &w : kLuminanceWeights) {
        if (w.colourSpace == colourSpace) weights = &w;
    }
    if (weights == nullptr) return fail(env, kNonPermissibleOption);
    const uint32_t wr = static_cast<uint32_t>(fixedWeight(weights->red));
    const uint32_t wg = static_cast<uint32_t>(fixedWeight(weights->green));
    const uint32_t wb = static_cast<uint32_t>(fixedWeight(weights->blue));
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    if (!isEightBit(p.source) || !isEightBit(p.destination) || p.source.bands() < 3) {
        return p.finish(fail(env, kMismatchDataType));
    }
    const Overlap &o = p.overlap;
    for (int64_t y = 0; y < o.height; ++y) {
        const uint8_t *r = p.source.row(0, o.sy + y) + o.sx;
        const uint8_t *g = p.source.row(1, o.sy + y) + o.sx;
        const uint8_t *b = p.source.row(2, o.sy + y) + o.sx;
        uint8_t *d = p.destination.row(0, o.dy + y) + o.dx;
        luminanceRow(r, g, b, d, o.width, wr, wg, wb);
    }
    return p.finish(kOk);
}

int thresholdImage(Environment *env, DataObject *source, DataObject *destination, int32_t level, int32_t low,
                   int32_t high) {
    if (int code = checkEnvironment(env)) return code;
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    if (!isEightBit(p.source) || !p.destination.boolean()) return p.finish(fail(env, kMismatchDataType));
    const uint8_t below = low != 0 ? 1 : 0, above = high != 0 ? 1 : 0;
    uint8_t table[256];
    for (int32_t v = 0; v < 256; ++v) table[v] = v < level ? below : above;
    const Overlap &o = p.overlap;
    const int64_t bands = std::min(p.source.bands(), p.destination.bands());
    for (int64_t band = 0; band < bands; ++band) {
        for (int64_t y = 0; y < o.height; ++y) {
            const uint8_t *s = p.source.row(band, o.sy + y) + o.sx;
            uint8_t *d = p.destination.row(band, o.dy + y) + o.dx;
            for (int64_t x = 0; x < o.width; ++x) d[x] = table[s[x]];
        }
    }
    return p.finish(kOk);
}

int errorDiffuse(Environment *env, DataObject *source, DataObject *destination, const Levels *levels) {
    if (int code = checkEnvironment(env)) return code;
    if (envAttr(env, EnvAttr::errorDiffusion) != kFloydSteinberg) return fail(env, kNonPermissibleOption);
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    const bool boolean = levels == nullptr;
    if (!isEightBit(p.source) || p.destination.boolean() != boolean) return p.finish(fail(env, kMismatchDataType));
    const int32_t maximum = sampleMaximum(source);
    const int64_t bands = std::min(p.source.bands(), p.destination.bands());
    if (!boolean && !validLevels(*levels, static_cast<int32_t>(bands), maximum)) return p.finish(fail(env, kOutOfRange));
    const Overlap &o = p.overlap;
    if (o.empty()) return p.finish(kOk);
    std::vector<int32_t> rowA, rowB, rowC;
    try {
        rowA.resize(static_cast<size_t>(o.width + 1));
        rowB.resize(static_cast<size_t>(o.width + 1));
        rowC.resize(static_cast<size_t>(o.width + 1));
    } catch (const std::bad_alloc &) {
        return p.finish(fail(env, kSystemError));
    }
    for (int64_t band = 0; band < bands; ++band) {
        const uint8_t *s = p.source.row(band, o.sy) + o.sx;
        uint8_t *d = p.destination.row(band, o.dy) + o.dx;
        if (boolean) {
            diffuseBand<true>(s, p.source.width(), d, p.destination.width(), o.width, o.height, maximum,
                              [](int32_t v) { return v; }, rowA, rowB, rowC);
            continue;
        }
        // Nearest multiple of the step, exact halves downwards, at most the
        // maximum: tabulated for the values -1 (any value below 0, giving
        // 0) to maximum + 1 (any value above, giving the maximum).
        const int32_t q = maximum / (levels->level[band < 3 ? band : 2] - 1);
        uint8_t levelOf[258];
        uint8_t *table = levelOf + 1;
        table[-1] = 0;
        table[maximum + 1] = static_cast<uint8_t>(maximum);
        for (int32_t v = 0; v <= maximum; ++v) {
            int32_t out = v / q * q;
            if (2 * (v % q) > q) out += q;
            table[v] = static_cast<uint8_t>(std::min(out, maximum));
        }
        diffuseBand<false>(s, p.source.width(), d, p.destination.width(), o.width, o.height, maximum,
                           [table](int32_t v) { return static_cast<int32_t>(table[v]); }, rowA, rowB, rowC);
    }
    return p.finish(kOk);
}

int orderedDither(Environment *env, DataObject *source, DataObject *destination, const Levels *levels) {
    if (int code = checkEnvironment(env)) return code;
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    const bool boolean = levels == nullptr;
    if (!isEightBit(p.source) || p.destination.boolean() != boolean) return p.finish(fail(env, kMismatchDataType));
    const int32_t maximum = sampleMaximum(source);
    const int32_t range = maximum + 1;  // 2^precision
    const int64_t bands = std::min(p.source.bands(), p.destination.bands());
    if (!boolean && !validLevels(*levels, static_cast<int32_t>(bands), maximum)) return p.finish(fail(env, kOutOfRange));
    const Overlap &o = p.overlap;
    for (int64_t band = 0; band < bands && !o.empty(); ++band) {
        const int32_t q = boolean ? 1 : maximum / (levels->level[band < 3 ? band : 2] - 1);
        // base[v] and the scaled remainder (v - base) x S, per value.
        uint8_t base[256], up[256];
        int32_t remainder[256];
        for (int32_t v = 0; v <= maximum; ++v) {
            base[v] = static_cast<uint8_t>(v / q * q);
            up[v] = static_cast<uint8_t>(std::min(v / q * q + q, maximum));
            remainder[v] = (v - v / q * q) * kPatternScale;
        }
        for (int64_t y = 0; y < o.height; ++y) {
            const int32_t *pattern = kPattern[(o.dy + y) % 4];
            int32_t limit[4];
            for (int i = 0; i < 4; ++i) limit[i] = pattern[i] * (boolean ? range : q);
            const uint8_t *s = p.source.row(band, o.sy + y) + o.sx;
            uint8_t *d = p.destination.row(band, o.dy + y) + o.dx;
            // The matrix column follows the destination position.
            const int64_t phase = o.dx;
            if (boolean) {
                for (int64_t x = 0; x < o.width; ++x) {
                    d[x] = s[x] * kPatternScale > limit[(phase + x) & 3] ? 1 : 0;
                }
            } else {
                for (int64_t x = 0; x < o.width; ++x) {
                    const uint8_t v = s[x];
                    d[x] = remainder[v] > limit[(phase + x) & 3] ? up[v] : base[v];
                }
            }
        }
    }
    return p.finish(kOk);
}

int quantizeColours(Environment *env, DataObject *source, DataObject *destination, DataObject *palette,
                    const Levels &levels) {
    if (int code = checkEnvironment(env)) return code;
    const int32_t method = envAttr(env, EnvAttr::colourQuantization);
    if (method != kPopularityQuantization && method != kUniformQuantization) return fail(env, kNonPermissibleOption);
    for (int32_t level : levels.level) {
        // More than 256 levels of a band can never fit a palette.
        if (level < 2 || level > 256) return fail(env, kOutOfRange);
    }
    if (int code = checkObject(env, destination)) return code;
    if (palette == nullptr) palette = destination->lutObject();
    if (palette == nullptr) return fail(env, kNonPermissibleOption);
    if (int code = checkObject(env, palette)) return code;
    PaletteData colours;
    if (int code = readTable(env, palette, &colours)) return code;
    PlanePair p;
    if (int code = p.open(env, source, destination)) return p.finish(code);
    if (!isEightBit(p.source) || !isEightBit(p.destination) || p.source.bands() < 3) {
        return p.finish(fail(env, kMismatchDataType));
    }
    // Indices must fit the destination's samples.
    const int64_t capacity = int64_t{sampleMaximum(destination)} + 1;
    const int64_t colourCount = int64_t{levels.level[0]} * levels.level[1] * levels.level[2];
    if (colourCount > capacity) return p.finish(fail(env, kOutOfRange));
    // The palette keeps its other entries, and holds at least the indices
    // the destination can take.
    PaletteData grown;
    grown.resize(static_cast<int32_t>(std::max<int64_t>(colours.entries, capacity)));
    std::copy(colours.red.begin(), colours.red.end(), grown.red.begin());
    std::copy(colours.green.begin(), colours.green.end(), grown.green.begin());
    std::copy(colours.blue.begin(), colours.blue.end(), grown.blue.begin());
    int code = method == kPopularityQuantization
                   ? quantizePopularity(env, p.source, p.destination, p.overlap, levels, capacity, grown)
                   : quantizeUniform(env, p.source, p.destination, p.overlap, levels, capacity, grown);
    code = p.finish(code);
    if (code != kOk) return code;
    return writeTable(env, palette, grown);
}

// --- Conversions -----------------------------------------------------------

int32_t sourceModeOf(const DataObject *image) {
    const intptr_t bands = image->get(Attr::bDimension);
    const int32_t type = image->get32(Attr::dataType);
    const int32_t precision = image->get32(Attr::dataPrecision);
    if (bands == 1 && (type == code::kBoolean || precision == 1)) return kModeBitmap;
    if (type != code::kNonnegativeInteger) return 0;
    if (bands == 1 && precision == 4) return kMode16;
    if (bands == 1 && precision == 8) return kMode256;
    if (bands == 3 && precision == 8) return kModeRGB;
    return 0;
}

int convertToFullColour(Environment *env, DataObject *image, DataObject **rgb) {
    *rgb = nullptr;
    if (int code = checkObject(env, image)) return code;
    DataObject *result = newImage(env, image, realWidth(image), image->get(Attr::yDimension), 3,
                                  code::kNonnegativeInteger, 8, code::kRGB);
    if (result == nullptr) return errorOf(env);
    DataObject *lut = image->lutObject();
    if (lut != nullptr && checkObject(env, lut) != kOk) lut = nullptr;
    int code;
    if (lut == nullptr || lut->get(Attr::xDimension) <= 0 || !lut->inited()) {
        // Without a palette the indices are grey levels (black and white
        // for a bitmap), as the bitmap writer would store them.
        DataObject *ramp = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr);
        if (ramp == nullptr) return errorOf(env);
        const int32_t precision = image->get32(Attr::dataType) == code::kBoolean
                                      ? 1
                                      : std::clamp(image->get32(Attr::dataPrecision), 1, 8);
        const int32_t entries = 1 << precision;
        PaletteData colours;
        colours.resize(entries);
        for (int32_t i = 0; i < entries; ++i) {
            const auto level = static_cast<uint8_t>(i * 255 / (entries - 1));
            colours.red[static_cast<size_t>(i)] = colours.green[static_cast<size_t>(i)] =
                colours.blue[static_cast<size_t>(i)] = level;
        }
        code = writeTable(env, ramp, colours);
        if (code == kOk) code = expandPalette(env, image, result, ramp);
        int destroyed = destroyObject(env, ramp);
        if (code == kOk) code = destroyed;
    } else {
        code = expandPalette(env, image, result, lut);
    }
    if (code != kOk) return code;
    *rgb = result;
    return kOk;
}

int convertToGrey(Environment *env, DataObject *rgb, DataObject **grey) {
    *grey = nullptr;
    if (int code = checkObject(env, rgb)) return code;
    // The conversions always weigh the bands as RGB.
    rgb->put(Attr::colourSpace, code::kRGB);
    DataObject *result = newImage(env, rgb, rgb->get(Attr::xDimension), rgb->get(Attr::yDimension), 1,
                                  code::kNonnegativeInteger, 8);
    if (result == nullptr) return errorOf(env);
    if (int code = toLuminance(env, rgb, result)) return code;
    *grey = result;
    return kOk;
}

int convertToBitmap(Environment *env, DataObject *grey, int32_t method, int32_t threshold, DataObject **bitmap,
                    bool wholeBytes) {
    *bitmap = nullptr;
    if (int code = checkObject(env, grey)) return code;
    if (method != kMethodThreshold && method != kMethodErrorDiffusion && method != kMethodPattern) {
        return fail(env, kNonPermissibleOption);
    }
    const int64_t width = grey->get(Attr::xDimension);
    DataObject *result;
    if (wholeBytes) {
        setEnvAttr(env, EnvAttr::byteBoundary, 256);
        result = newImage(env, grey, (width + 7) / 8 * 8, grey->get(Attr::yDimension), 1, code::kBoolean, 1, 0, width);
    } else {
        result = newImage(env, grey, width, grey->get(Attr::yDimension), 1, code::kBoolean, 1);
    }
    if (result == nullptr) return errorOf(env);
    int code = method == kMethodThreshold ? thresholdImage(env, grey, result, threshold, 0, 1)
               : method == kMethodErrorDiffusion ? errorDiffuse(env, grey, result, nullptr)
                                                 : orderedDither(env, grey, result, nullptr);
    if (code != kOk) return code;
    *bitmap = result;
    return kOk;
}

int convertToIndexed(Environment *env, DataObject *image, int32_t targetMode, int32_t dither, int32_t quantization,
                     const Levels &levels, DataObject **result) {
    *result = nullptr;
    if (int code = checkObject(env, image)) return code;
    if (targetMode != kMode16 && targetMode != kMode256) return fail(env, kNonPermissibleOption);
    const int32_t sourceMode = sourceModeOf(image);
    const int32_t entries = targetMode == kMode256 ? 256 : 16;
    const int32_t precision = targetMode == kMode256 ? 8 : 4;
    const int64_t height = image->get(Attr::yDimension);

    if (sourceMode == kModeBitmap || (sourceMode == kMode16 && targetMode == kMode256)) {
        // Palette entries and indices carried over unchanged (a bitmap's
        // colour 1 becomes the last entry).
        PaletteData palette;
        palette.resize(entries);
        uint8_t table[256] = {};
        if (sourceMode == kModeBitmap) {
            uint8_t colour0[3], colour1[3];
            if (int code = bitmapColours(env, image, colour0, colour1)) return code;
            palette.red[0] = colour0[0], palette.green[0] = colour0[1], palette.blue[0] = colour0[2];
            const size_t last = static_cast<size_t>(entries - 1);
            palette.red[last] = colour1[0], palette.green[last] = colour1[1], palette.blue[last] = colour1[2];
            table[1] = static_cast<uint8_t>(entries - 1);
        } else {
            PaletteData own;
            if (image->lutObject() != nullptr) {
                if (int code = readTable(env, image->lutObject(), &own)) return code;
            }
            for (int32_t i = 0; i < std::min(own.entries, 16); ++i) {
                palette.red[static_cast<size_t>(i)] = own.red[static_cast<size_t>(i)];
                palette.green[static_cast<size_t>(i)] = own.green[static_cast<size_t>(i)];
                palette.blue[static_cast<size_t>(i)] = own.blue[static_cast<size_t>(i)];
            }
            for (int32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
        }
        DataObject *out = newImage(env, image, realWidth(image), height, 1, code::kNonnegativeInteger, precision);
        if (out == nullptr) return errorOf(env);
        PlanePair p;
        int code = p.open(env, image, out);
        if (code == kOk && !isEightBit(p.destination)) code = fail(env, kMismatchDataType);
        for (int64_t y = 0; code == kOk && y < p.overlap.height; ++y) {
            const uint8_t *s = p.source.row(0, p.overlap.sy + y) + p.overlap.sx;
            uint8_t *d = p.destination.row(0, p.overlap.dy + y) + p.overlap.dx;
            for (int64_t x = 0; x < p.overlap.width; ++x) d[x] = table[s[x]];
        }
        if ((code = p.finish(code)) != kOk) return code;
        if ((code = writePalette(env, out, palette)) != kOk) return code;
        *result = out;
        return kOk;
    }

    if (dither != kDitherNone && dither != kMethodErrorDiffusion && dither != kMethodPattern) {
        return fail(env, kNonPermissibleOption);
    }
    const int32_t method = quantizationCode(quantization);
    if (method == 0) return fail(env, kNonPermissibleOption);
    DataObject *rgb = image;
    if (sourceMode == kMode256 || sourceMode == kMode16) {
        if (int code = convertToFullColour(env, image, &rgb)) return code;
    } else if (sourceMode != kModeRGB) {
        return fail(env, kMismatchDataType);
    }
    if (dither != kDitherNone) {
        // 256 colours dither to the caller's levels; 16 colours to levels
        // fixed by the palette method.
        Levels ditherLevels = levels;
        if (targetMode == kMode16) {
            const int32_t fixed = quantization == kQuantizePopularity ? 6 : quantization == kQuantizeUniform ? 2 : 3;
            ditherLevels.level[0] = ditherLevels.level[1] = ditherLevels.level[2] = fixed;
        }
        DataObject *dithered = newImage(env, rgb, rgb->get(Attr::xDimension), rgb->get(Attr::yDimension), 3,
                                        code::kNonnegativeInteger, 8, code::kRGB);
        if (dithered == nullptr) return errorOf(env);
        int code = dither == kMethodErrorDiffusion ? errorDiffuse(env, rgb, dithered, &ditherLevels)
                                                   : orderedDither(env, rgb, dithered, &ditherLevels);
        if (code != kOk) return code;
        rgb = dithered;
    }
    DataObject *out = newImage(env, rgb, rgb->get(Attr::xDimension), rgb->get(Attr::yDimension), 1,
                               code::kNonnegativeInteger, precision);
    if (out == nullptr) return errorOf(env);
    PaletteData black;
    black.resize(entries);
    if (int code = writePalette(env, out, black)) return code;
    setEnvAttr(env, EnvAttr::colourQuantization, method);
    if (int code = quantizeColours(env, rgb, out, out->lutObject(), levels)) return code;
    *result = out;
    return kOk;
}

int convertColourMode(Environment *env, DataObject *image, int32_t targetMode, std::span<const CmiAttribute> options,
                      DataObject **result) {
    *result = nullptr;
    if (int code = checkEnvironment(env)) return code;
    if (int code = checkObject(env, image)) return code;
    const int32_t sourceMode = sourceModeOf(image);
    if (sourceMode == 0) return fail(env, kMismatchDataType);
    if (sourceMode == targetMode) {
        *result = image;
        return kOk;
    }
    switch (targetMode) {
    case kModeBitmap: {
        DataObject *grey = image;
        if (sourceMode != kModeRGB) {
            if (int code = convertToFullColour(env, image, &grey)) return code;
        }
        if (int code = convertToGrey(env, grey, &grey)) return code;
        DataObject *bitmap;
        const int32_t method = optionOr(options, "modeMethod", kMethodErrorDiffusion);
        // Rows of whole bytes only where the environment asks for them (the
        // writers that know "widthByteBoundary"); otherwise the real width.
        const bool wholeBytes = envAttr(env, EnvAttr::byteBoundary) != 0;
        if (int code = convertToBitmap(env, grey, method, optionOr(options, "modeValue", 127), &bitmap, wholeBytes)) {
            return code;
        }
        PaletteData blackWhite;
        blackWhite.resize(2);
        blackWhite.red[1] = blackWhite.green[1] = blackWhite.blue[1] = 255;
        if (int code = writePalette(env, bitmap, blackWhite)) return code;
        *result = bitmap;
        return kOk;
    }
    case kMode16:
    case kMode256: {
        const bool sixteen = targetMode == kMode16;
        Levels levels;
        levels.level[0] = optionOr(options, "modeLevel", sixteen ? 2 : 8);
        levels.level[1] = optionOr(options, "modeLevel2", sixteen ? 4 : 8);
        levels.level[2] = optionOr(options, "modeLevel3", sixteen ? 2 : 4);
        return convertToIndexed(env, image, targetMode, optionOr(options, "modeMethod", kMethodErrorDiffusion),
                                optionOr(options, "colourQuantization", kQuantizePopularity), levels, result);
    }
    case kModeGray: {
        DataObject *rgb = image;
        if (sourceMode != kModeRGB) {
            if (int code = convertToFullColour(env, image, &rgb)) return code;
        }
        DataObject *grey;
        if (int code = convertToGrey(env, rgb, &grey)) return code;
        PaletteData ramp;
        ramp.resize(256);
        for (int32_t i = 0; i < 256; ++i) {
            ramp.red[static_cast<size_t>(i)] = ramp.green[static_cast<size_t>(i)] = ramp.blue[static_cast<size_t>(i)] =
                static_cast<uint8_t>(i);
        }
        if (int code = writePalette(env, grey, ramp)) return code;
        *result = grey;
        return kOk;
    }
    case kModeRGB: return convertToFullColour(env, image, result);
    default: return fail(env, kNonPermissibleOption);
    }
}

}  // namespace orvo
