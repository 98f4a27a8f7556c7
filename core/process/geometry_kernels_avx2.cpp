// AVX2 variants of the geometric kernels (see geometry_kernels.h).  Each
// gives exactly the bytes of its scalar reference: the integer sums are the
// same exact sums, and the floating-point steps of the warp are the same
// IEEE operations in the same order (no fused multiply-add: the target is
// "avx2" alone, so no contraction can happen).
//
// Horizontal resize sums gather their source bytes with one byte shuffle
// per block when the block's taps lie within 16 bytes (enlargements and
// mild reductions); other blocks take the scalar loop.  Quarter turns are
// 16 x 16 byte transposes.  The warp computes positions and weights four
// pixels at a time and samples the bands with plain loads.
#include "core/process/geometry_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <climits>

#define ORVO_AVX2 __attribute__((target("avx2")))

namespace orvo {
namespace {

// --- Resize --------------------------------------------------------------------

// 16 int32 (each 0..255) to 16 bytes in order.
ORVO_AVX2 inline __m128i packBytes(__m256i a, __m256i b) {
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

// 16 int32 weights to 16 int16 in order.
ORVO_AVX2 inline __m256i packWords(const int32_t *w) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(w));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(w + 8));
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
}

// The 16 bytes row[index[0..15]] when they lie in one 16-byte window that
// may be read; false otherwise.
ORVO_AVX2 inline bool shuffleGather(const uint8_t *row, int64_t length, const int32_t *index, __m128i *bytes) {
    const int32_t base = index[0];
    if (index[15] - base >= 16 || base + 16 > length) return false;
    const __m256i b = _mm256_set1_epi32(base);
    const __m256i i0 = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(index)), b);
    const __m256i i1 = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(index + 8)), b);
    const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + base));
    *bytes = _mm_shuffle_epi8(window, packBytes(i0, i1));
    return true;
}

template <int Taps>
inline void horizontalTail(const uint8_t *row, const int32_t *index, const int32_t *weight, int64_t from, int64_t to,
                           int32_t *sums) {
    for (int64_t j = from; j < to; ++j) {
        int32_t sum = 0;
        for (int t = 0; t < Taps; ++t) sum += row[index[j * Taps + t]] * weight[j * Taps + t];
        sums[j] = sum;
    }
}

ORVO_AVX2 void horizontal2(const uint8_t *row, int64_t length, const int32_t *index, const int32_t *weight, int64_t n,
                           int32_t *sums) {
    int64_t j = 0;
    for (; j + 8 <= n; j += 8) {
        __m128i bytes;
        if (!shuffleGather(row, length, index + 2 * j, &bytes)) {
            horizontalTail<2>(row, index, weight, j, j + 8, sums);
            continue;
        }
        // p(i0) w0 + p(i1) w1 per output: one multiply-add of pairs.
        const __m256i s = _mm256_madd_epi16(_mm256_cvtepu8_epi16(bytes), packWords(weight + 2 * j));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sums + j), s);
    }
    horizontalTail<2>(row, index, weight, j, n, sums);
}

ORVO_AVX2 void horizontal4(const uint8_t *row, int64_t length, const int32_t *index, const int32_t *weight, int64_t n,
                           int32_t *sums) {
    int64_t j = 0;
    for (; j + 8 <= n; j += 8) {
        __m128i first, second;
        if (!shuffleGather(row, length, index + 4 * j, &first) ||
            !shuffleGather(row, length, index + 4 * j + 16, &second)) {
            horizontalTail<4>(row, index, weight, j, j + 8, sums);
            continue;
        }
        // Pair sums of outputs 0..3 and 4..7, then the two pairs of each
        // output added: lanes hold (o0 o1 o4 o5 | o2 o3 o6 o7).
        const __m256i a = _mm256_madd_epi16(_mm256_cvtepu8_epi16(first), packWords(weight + 4 * j));
        const __m256i b = _mm256_madd_epi16(_mm256_cvtepu8_epi16(second), packWords(weight + 4 * j + 16));
        const __m256i s = _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sums + j), s);
    }
    horizontalTail<4>(row, index, weight, j, n, sums);
}

template <int Taps>
ORVO_AVX2 void verticalAvx2(const int32_t *const *rows, const int32_t *weight, int64_t n, uint8_t *out) {
    __m256i w[Taps];
    for (int t = 0; t < Taps; ++t) w[t] = _mm256_set1_epi32(weight[t]);
    const __m256i half = _mm256_set1_epi32(32768);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int64_t j = 0;
    for (; j + 32 <= n; j += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k) {
            __m256i sum = _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows[0] + j + 8 * k)),
                                             w[0]);
            for (int t = 1; t < Taps; ++t) {
                const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows[t] + j + 8 * k));
                sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(r, w[t]));
            }
            v[k] = _mm256_srai_epi32(_mm256_add_epi32(sum, half), 16);
        }
        // Saturating packs clamp to 0..255 as the scalar clamp does.
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), _mm256_permutevar8x32_epi32(bytes, order));
    }
    for (; j < n; ++j) {
        int32_t sum = 0;
        for (int t = 0; t < Taps; ++t) sum += rows[t][j] * weight[t];
        out[j] = static_cast<uint8_t>(std::clamp((sum + 32768) >> 16, 0, 255));
    }
}

ORVO_AVX2 void gather(const uint8_t *row, int64_t length, const int32_t *index, int64_t n, uint8_t *out) {
    int64_t j = 0;
    for (; j + 16 <= n; j += 16) {
        __m128i bytes;
        if (shuffleGather(row, length, index + j, &bytes)) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), bytes);
        } else {
            for (int64_t k = j; k < j + 16; ++k) out[k] = row[index[k]];
        }
    }
    for (; j < n; ++j) out[j] = row[index[j]];
}

// --- Quarter turns ---------------------------------------------------------------

// out[c] = column c of the 16 rows `in`.
ORVO_AVX2 inline void transpose16(const __m128i in[16], __m128i out[16]) {
    __m128i a[16], b[16];
    for (int i = 0; i < 8; ++i) {
        a[i] = _mm_unpacklo_epi8(in[2 * i], in[2 * i + 1]);      // rows 2i, 2i+1; columns 0..7
        a[i + 8] = _mm_unpackhi_epi8(in[2 * i], in[2 * i + 1]);  // columns 8..15
    }
    for (int h = 0; h < 2; ++h) {
        for (int i = 0; i < 4; ++i) {
            // Rows 4i..4i+3 of column groups 8h..8h+3 and 8h+4..8h+7.
            b[8 * h + i] = _mm_unpacklo_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
            b[8 * h + 4 + i] = _mm_unpackhi_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
        }
    }
    // b[4g + i]: columns 4g..4g+3, rows 4i..4i+3.
    for (int g = 0; g < 4; ++g) {
        for (int i = 0; i < 2; ++i) {
            a[4 * g + 2 * i] = _mm_unpacklo_epi32(b[4 * g + 2 * i], b[4 * g + 2 * i + 1]);      // columns 4g, 4g+1
            a[4 * g + 2 * i + 1] = _mm_unpackhi_epi32(b[4 * g + 2 * i], b[4 * g + 2 * i + 1]);  // columns 4g+2, 4g+3
        }
    }
    // a[4g + 2i + h]: rows 8i..8i+7 of columns 4g+2h and 4g+2h+1.
    for (int g = 0; g < 4; ++g) {
        for (int h = 0; h < 2; ++h) {
            out[4 * g + 2 * h] = _mm_unpacklo_epi64(a[4 * g + h], a[4 * g + 2 + h]);
            out[4 * g + 2 * h + 1] = _mm_unpackhi_epi64(a[4 * g + h], a[4 * g + 2 + h]);
        }
    }
}

// The full 16 x 16 blocks of the rectangle; the strips left over go to the
// scalar loops.
template <bool Clockwise>
ORVO_AVX2 void quarterAvx2(const QuarterBlock &q) {
    const int64_t rows = (q.r1 - q.r0) / 16 * 16, cols = (q.c1 - q.c0) / 16 * 16;
    const int64_t w = q.sourceWidth, h = q.sourceHeight;
    // Strips of 64 destination rows keep the source lines they read in cache
    // for the next block row.
    for (int64_t rs = q.r0; rs < q.r0 + rows; rs += 64) {
        const int64_t re = std::min(rs + 64, q.r0 + rows);
        for (int64_t c = q.c0; c < q.c0 + cols; c += 16) {
            for (int64_t r = rs; r < re; r += 16) {
                const int64_t rr = r - q.oy, cc = c - q.ox;
                __m128i in[16], out[16];
                if (Clockwise) {
                    // Destination (c + i, r + k) from source (rr + k, H - 1 - cc - i).
                    for (int i = 0; i < 16; ++i) {
                        in[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q.source + (h - 1 - cc - i) * w + rr));
                    }
                    transpose16(in, out);
                    for (int k = 0; k < 16; ++k) {
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(q.destination + (r + k) * q.destinationWidth + c),
                                         out[k]);
                    }
                } else {
                    // Destination (c + i, r + 15 - k) from source (W - 16 - rr + k, cc + i).
                    const int64_t x0 = w - 16 - rr;
                    for (int i = 0; i < 16; ++i) {
                        in[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q.source + (cc + i) * w + x0));
                    }
                    transpose16(in, out);
                    for (int k = 0; k < 16; ++k) {
                        _mm_storeu_si128(
                            reinterpret_cast<__m128i *>(q.destination + (r + 15 - k) * q.destinationWidth + c), out[k]);
                    }
                }
            }
        }
    }
    const QuarterKernels &scalar = scalarQuarterKernels();
    void (*rest)(const QuarterBlock &) = Clockwise ? scalar.clockwise : scalar.counterClockwise;
    if (cols < q.c1 - q.c0 && rows > 0) {
        QuarterBlock right = q;
        right.c0 = q.c0 + cols;
        right.r1 = q.r0 + rows;
        rest(right);
    }
    if (rows < q.r1 - q.r0) {
        QuarterBlock bottom = q;
        bottom.r0 = q.r0 + rows;
        rest(bottom);
    }
}

ORVO_AVX2 void clockwise(const QuarterBlock &q) { quarterAvx2<true>(q); }
ORVO_AVX2 void counterClockwise(const QuarterBlock &q) { quarterAvx2<false>(q); }

ORVO_AVX2 void reverse(const uint8_t *last, uint8_t *dst, int64_t n) {
    const __m256i mirror = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,  //
                                            15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    int64_t j = 0;
    for (; j + 32 <= n; j += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(last - j - 31));
        // Bytes reversed within each lane, then the lanes swapped.
        const __m256i r = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, mirror), _MM_SHUFFLE(1, 0, 3, 2));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + j), r);
    }
    for (; j < n; ++j) dst[j] = last[-j];
}

// --- Warp ----------------------------------------------------------------------

// Positions and weights of a run of pixels are computed four at a time into
// small arrays; the samples are then read with plain loads, all bands of a
// pixel together.  (Gathers are slower here: the loads are few and their
// addresses irregular.)
ORVO_AVX2 void warpRow(const WarpRow &w) {
    const int64_t sw = w.sourceWidth, sh = w.sourceHeight;
    if (sw * sh > INT32_MAX - 64) {
        scalarWarpKernels().row(w);  // offsets would not fit the 32-bit lanes
        return;
    }
    constexpr int kChunk = 256;
    constexpr int64_t kAhead = 16;
    alignas(32) int32_t offset[kChunk];
    alignas(32) int32_t right[kChunk], down[kChunk];
    alignas(32) int32_t w00[kChunk], w10[kChunk], w01[kChunk], w11[kChunk];
    const __m256d minusOne = _mm256_set1_pd(-1.0), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d width = _mm256_set1_pd(static_cast<double>(sw)), height = _mm256_set1_pd(static_cast<double>(sh));
    const __m256d scale = _mm256_set1_pd(256.0);
    const __m256d rowX = _mm256_set1_pd(w.rowX), rowY = _mm256_set1_pd(w.rowY);
    const __m128i stride = _mm_set1_epi32(static_cast<int32_t>(sw));
    const __m128i lastX = _mm_set1_epi32(static_cast<int32_t>(sw - 1));
    const __m128i lastY = _mm_set1_epi32(static_cast<int32_t>(sh - 1));
    const __m128i outside = _mm_set1_epi32(-1), oneStep = _mm_set1_epi32(1);
    for (int64_t x0 = 0; x0 < w.count; x0 += kChunk) {
        const int64_t m = std::min<int64_t>(kChunk, w.count - x0);
        int64_t k = 0;
        for (; k + 4 <= m; k += 4) {
            const __m256d sx = _mm256_add_pd(_mm256_loadu_pd(w.columnX + x0 + k), rowX);
            const __m256d sy = _mm256_add_pd(_mm256_loadu_pd(w.columnY + x0 + k), rowY);
            const __m256d in = _mm256_and_pd(
                _mm256_and_pd(_mm256_cmp_pd(sx, minusOne, _CMP_GT_OQ), _mm256_cmp_pd(sx, width, _CMP_LT_OQ)),
                _mm256_and_pd(_mm256_cmp_pd(sy, minusOne, _CMP_GT_OQ), _mm256_cmp_pd(sy, height, _CMP_LT_OQ)));
            // Lanes outside are zeroed before the conversions (no invalid values).
            const __m256d cx = _mm256_and_pd(sx, in), cy = _mm256_and_pd(sy, in);
            const __m128i ix = _mm256_cvttpd_epi32(cx), iy = _mm256_cvttpd_epi32(cy);
            const __m128i keep = _mm_cmpeq_epi32(_mm256_cvttpd_epi32(_mm256_and_pd(in, one)), oneStep);
            const __m128i at = _mm_add_epi32(_mm_mullo_epi32(iy, stride), ix);
            _mm_store_si128(reinterpret_cast<__m128i *>(offset + k), _mm_blendv_epi8(outside, at, keep));
            if (!w.bilinear) continue;
            const __m256d fx =
                _mm256_and_pd(_mm256_sub_pd(cx, _mm256_cvtepi32_pd(ix)), _mm256_cmp_pd(cx, zero, _CMP_GT_OQ));
            const __m256d fy =
                _mm256_and_pd(_mm256_sub_pd(cy, _mm256_cvtepi32_pd(iy)), _mm256_cmp_pd(cy, zero, _CMP_GT_OQ));
            const __m128i wx0 = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(one, fx), scale));
            const __m128i wx1 = _mm256_cvttpd_epi32(_mm256_mul_pd(fx, scale));
            const __m128i wy0 = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(one, fy), scale));
            const __m128i wy1 = _mm256_cvttpd_epi32(_mm256_mul_pd(fy, scale));
            _mm_store_si128(reinterpret_cast<__m128i *>(w00 + k), _mm_mullo_epi32(wx0, wy0));
            _mm_store_si128(reinterpret_cast<__m128i *>(w10 + k), _mm_mullo_epi32(wx1, wy0));
            _mm_store_si128(reinterpret_cast<__m128i *>(w01 + k), _mm_mullo_epi32(wx0, wy1));
            _mm_store_si128(reinterpret_cast<__m128i *>(w11 + k), _mm_mullo_epi32(wx1, wy1));
            // Right and lower neighbours, clamped to the last column and row.
            _mm_store_si128(reinterpret_cast<__m128i *>(right + k), _mm_and_si128(_mm_cmpgt_epi32(lastX, ix), oneStep));
            _mm_store_si128(reinterpret_cast<__m128i *>(down + k), _mm_and_si128(_mm_cmpgt_epi32(lastY, iy), stride));
        }
        // The last pixels of the row: the scalar steps.
        for (; k < m; ++k) {
            const double sx = w.columnX[x0 + k] + w.rowX, sy = w.columnY[x0 + k] + w.rowY;
            if (!(sx > -1.0 && sx < static_cast<double>(sw) && sy > -1.0 && sy < static_cast<double>(sh))) {
                offset[k] = -1;
                continue;
            }
            const int64_t ix = static_cast<int64_t>(sx), iy = static_cast<int64_t>(sy);
            offset[k] = static_cast<int32_t>(iy * sw + ix);
            if (!w.bilinear) continue;
            const double fx = sx > 0.0 ? sx - static_cast<double>(ix) : 0.0;
            const double fy = sy > 0.0 ? sy - static_cast<double>(iy) : 0.0;
            const int32_t wx0 = static_cast<int32_t>((1.0 - fx) * 256.0), wx1 = static_cast<int32_t>(fx * 256.0);
            const int32_t wy0 = static_cast<int32_t>((1.0 - fy) * 256.0), wy1 = static_cast<int32_t>(fy * 256.0);
            w00[k] = wx0 * wy0;
            w10[k] = wx1 * wy0;
            w01[k] = wx0 * wy1;
            w11[k] = wx1 * wy1;
            right[k] = ix < sw - 1 ? 1 : 0;
            down[k] = iy < sh - 1 ? static_cast<int32_t>(sw) : 0;
        }
        const int bands = w.bands;
        if (!w.bilinear) {
            for (int b = 0; b < bands; ++b) {
                const uint8_t *s = w.source[b];
                uint8_t *d = w.destination[b] + x0;
                for (int64_t j = 0; j < m; ++j) {
                    if (offset[j] >= 0) d[j] = s[offset[j]];
                }
            }
            continue;
        }
        for (int64_t j = 0; j < m; ++j) {
            // The positions move across source rows, which the hardware
            // prefetchers do not follow: fetch both rows ahead.
            if (j + kAhead < m && offset[j + kAhead] >= 0) {
                for (int b = 0; b < bands; ++b) {
                    const uint8_t *ahead = w.source[b] + offset[j + kAhead];
                    _mm_prefetch(reinterpret_cast<const char *>(ahead), _MM_HINT_T0);
                    _mm_prefetch(reinterpret_cast<const char *>(ahead + down[j + kAhead]), _MM_HINT_T0);
                }
            }
            if (offset[j] < 0) continue;
            const int32_t dx = right[j], dy = down[j];
            for (int b = 0; b < bands; ++b) {
                const uint8_t *p = w.source[b] + offset[j];
                uint8_t *d = w.destination[b] + x0 + j;
                if (w.boolean) {
                    int32_t sum = 0;
                    if (p[0] != 0) sum += w00[j];
                    if (p[dx] != 0) sum += w10[j];
                    if (p[dy] != 0) sum += w01[j];
                    if (p[dy + dx] != 0) sum += w11[j];
                    *d = sum >= 32768 ? 1 : 0;
                } else {
                    const int32_t v = p[0] * w00[j] + p[dx] * w10[j] + p[dy] * w01[j] + p[dy + dx] * w11[j];
                    *d = static_cast<uint8_t>((v + 32768) >> 16);
                }
            }
        }
    }
}

constexpr ResizeKernels kResize = {{horizontal2, horizontal4}, {verticalAvx2<2>, verticalAvx2<4>}, gather};
constexpr QuarterKernels kQuarter = {reverse, clockwise, counterClockwise};
constexpr WarpKernels kWarp = {warpRow};

}  // namespace

const ResizeKernels *avx2ResizeKernels() { return &kResize; }
const QuarterKernels *avx2QuarterKernels() { return &kQuarter; }
const WarpKernels *avx2WarpKernels() { return &kWarp; }

}  // namespace orvo

#else

namespace orvo {

const ResizeKernels *avx2ResizeKernels() { return nullptr; }
const QuarterKernels *avx2QuarterKernels() { return nullptr; }
const WarpKernels *avx2WarpKernels() { return nullptr; }

}  // namespace orvo

#endif
