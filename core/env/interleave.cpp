// Three-plane split and merge, with an SSSE3 path chosen at run time that
// gives the same bytes as the plain loops.
#include "core/env/interleave.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVO_X86 1
#endif

namespace orvo {
namespace {

void splitScalar(const uint8_t *pixels, size_t count, uint8_t *a, uint8_t *b, uint8_t *c) {
    for (size_t i = 0; i < count; ++i) {
        a[i] = pixels[3 * i];
        b[i] = pixels[3 * i + 1];
        c[i] = pixels[3 * i + 2];
    }
}

void mergeScalar(const uint8_t *a, const uint8_t *b, const uint8_t *c, size_t count, uint8_t *pixels) {
    for (size_t i = 0; i < count; ++i) {
        pixels[3 * i] = a[i];
        pixels[3 * i + 1] = b[i];
        pixels[3 * i + 2] = c[i];
    }
}

#ifdef ORVO_X86
// Shuffle masks for 16 pixels held in three 16-byte vectors.
struct Masks {
    // split[ch][v]: bytes of input vector v that belong to sample ch, moved
    // to their pixel's position.
    alignas(16) uint8_t split[3][3][16];
    // merge[v][ch]: bytes of output vector v taken from plane ch.
    alignas(16) uint8_t merge[3][3][16];
};

constexpr Masks makeMasks() {
    Masks m{};
    for (int ch = 0; ch < 3; ++ch) {
        for (int v = 0; v < 3; ++v) {
            for (int p = 0; p < 16; ++p) {
                const int k = 3 * p + ch;
                m.split[ch][v][p] = k / 16 == v ? static_cast<uint8_t>(k % 16) : 0x80;
            }
        }
    }
    for (int v = 0; v < 3; ++v) {
        for (int ch = 0; ch < 3; ++ch) {
            for (int i = 0; i < 16; ++i) {
                const int k = 16 * v + i;
                m.merge[v][ch][i] = k % 3 == ch ? static_cast<uint8_t>(k / 3) : 0x80;
            }
        }
    }
    return m;
}

constexpr Masks kMasks = makeMasks();

__attribute__((target("ssse3"))) void splitSsse3(const uint8_t *pixels, size_t count, uint8_t *a, uint8_t *b,
                                                 uint8_t *c) {
    uint8_t *out[3] = {a, b, c};
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 3 * i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 3 * i + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 3 * i + 32));
        for (int ch = 0; ch < 3; ++ch) {
            const __m128i r =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.split[ch][0]))),
                                          _mm_shuffle_epi8(v1, _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.split[ch][1])))),
                             _mm_shuffle_epi8(v2, _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.split[ch][2]))));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out[ch] + i), r);
        }
    }
    splitScalar(pixels + 3 * i, count - i, a + i, b + i, c + i);
}

__attribute__((target("ssse3"))) void mergeSsse3(const uint8_t *a, const uint8_t *b, const uint8_t *c, size_t count,
                                                 uint8_t *pixels) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i planes[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + i))};
        for (int v = 0; v < 3; ++v) {
            const __m128i r = _mm_or_si128(
                _mm_or_si128(
                    _mm_shuffle_epi8(planes[0], _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.merge[v][0]))),
                    _mm_shuffle_epi8(planes[1], _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.merge[v][1])))),
                _mm_shuffle_epi8(planes[2], _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.merge[v][2]))));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(pixels + 3 * i + 16 * v), r);
        }
    }
    mergeScalar(a + i, b + i, c + i, count - i, pixels + 3 * i);
}

bool haveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

}  // namespace

void splitTriples(const uint8_t *pixels, size_t count, uint8_t *first, uint8_t *second, uint8_t *third) {
#ifdef ORVO_X86
    if (haveSsse3()) return splitSsse3(pixels, count, first, second, third);
#endif
    splitScalar(pixels, count, first, second, third);
}

void mergeTriples(const uint8_t *first, const uint8_t *second, const uint8_t *third, size_t count, uint8_t *pixels) {
#ifdef ORVO_X86
    if (haveSsse3()) return mergeSsse3(first, second, third, count, pixels);
#endif
    mergeScalar(first, second, third, count, pixels);
}

}  // namespace orvo
