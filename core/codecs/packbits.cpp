// PackBits (Apple's byte run-length coding, TIFF 6.0 section 9).
//
// A signed header byte h is followed by h + 1 literal bytes (h >= 0) or by
// one byte to repeat 1 - h times (h < 0); -128 ends the data.  Runs never
// cross coded rows.  A coded row is one image row of one band plane, or of
// all bands interleaved when the planar configuration is contiguous (248).
// Format 241 stores every data byte inverted (the headers are not).
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codecs/codec_io.h"
#include "core/codecs/runlength.h"
#include "core/env/codes.h"
#include "core/env/interleave.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvo {
namespace {

// Length of the literal run starting at p[0] (p[0] != p[1]): up to the
// first j >= 1 with p[j] == p[j + 1], at most `cap` bytes.  p[cap] must be
// readable.
size_t literalLength(const uint8_t *p, size_t cap) {
    size_t j = 1;
#if defined(__SSE2__)
    // 16 neighbour pairs at a time; loads stay below p + cap + 1.
    for (; j + 16 <= cap; j += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + j + 1));
        const unsigned equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
        if (equal != 0) return j + static_cast<size_t>(__builtin_ctz(equal));
    }
#endif
    while (j < cap && p[j] != p[j + 1]) ++j;
    return j;
}

constexpr int32_t kContiguous = 248;
constexpr int32_t kSeparate = 249;
constexpr int32_t kFormatInvertedBilevel = 241;

struct Layout {
    int64_t width, height, bands;
    bool bits;          // one bit a sample
    bool nibbles;       // precision 4: two samples a byte in the stream
    bool interleaved;   // bands interleaved within a coded row
    bool invert;        // format 241
    bool dibOrder;      // rows bottom-up
    size_t rowBytes;    // bytes of one coded row
};

int layoutOf(Environment *env, DataObject *image, DataObject *coded, Layout *l) {
    const int32_t type = image->get32(Attr::dataType);
    const int32_t precision = image->get32(Attr::dataPrecision);
    if (type != coded->get32(Attr::dataType)) return fail(env, kMismatchDataType);
    if (!(type == code::kBoolean || (type == code::kNonnegativeInteger && (precision == 8 || precision == 4)))) {
        return fail(env, kMismatchDataType);
    }
    const int32_t format = coded->get32(Attr::fileFormat);
    if (format != 0 && format != code::kFormatTIFF && format != kFormatInvertedBilevel) {
        return fail(env, kNonPermissibleOption);
    }
    l->width = image->get(Attr::xDimension);
    l->height = image->get(Attr::yDimension);
    l->bands = image->get(Attr::bDimension);
    if (l->width < 1 || l->height < 1 || l->bands < 1) return fail(env, kOutOfRange);
    l->bits = type == code::kBoolean;
    l->nibbles = !l->bits && precision == 4;
    const int32_t planar = format == code::kFormatTIFF ? static_cast<int32_t>(formatWord(coded, "planarConfiguration"))
                                                       : kContiguous;
    l->interleaved = !l->bits && planar != kSeparate && l->bands > 1;
    l->invert = format == kFormatInvertedBilevel;
    l->dibOrder = image->get32(Attr::pixelInterpretation) == code::kDibRowOrder;
    const int64_t perPlane = l->bits ? (l->width + 7) / 8 : l->nibbles ? (l->width + 1) / 2 : l->width;
    l->rowBytes = static_cast<size_t>(perPlane * (l->interleaved ? l->bands : 1));
    return kOk;
}

// Calls visit(band or -1 for interleaved rows, image row) for every coded
// row in stream order.
template <class Visit>
int forEachCodedRow(const Layout &l, Visit &&visit) {
    const int64_t planes = l.interleaved ? 1 : l.bands;
    for (int64_t b = 0; b < planes; ++b) {
        for (int64_t y = 0; y < l.height; ++y) {
            const int64_t row = l.dibOrder ? l.height - 1 - y : y;
            if (int code = visit(l.interleaved ? -1 : b, row)) return code;
        }
    }
    return kOk;
}

// Moves one coded row from or to the image's rows.
bool inMemory(const DataAccess *image) {
    return image->repository == code::kApplicationAddressSpace || image->repository == code::kWorkSpace;
}

int storeRow(DataAccess *image, const Layout &l, int64_t band, int64_t row, const uint8_t *coded) {
    const int64_t plane = l.width * l.height;
    if (band < 0 && l.bands == 3 && !l.bits && !l.nibbles && inMemory(image)) {
        // Rows of memory repositories stay in place: split RGB in one pass.
        uint8_t *out[3];
        for (int64_t b = 0; b < 3; ++b) {
            if (int code = writeRow(image, b * plane + row * l.width, &out[b])) return code;
        }
        splitTriples(coded, static_cast<size_t>(l.width), out[0], out[1], out[2]);
        return kOk;
    }
    const int64_t first = band < 0 ? 0 : band, last = band < 0 ? l.bands : band + 1;
    for (int64_t b = first; b < last; ++b) {
        const int64_t element = b * plane + row * l.width;
        uint8_t *out;
        if (int code = writeRow(image, element, &out)) return code;
        if (l.bits) {
            copyBits(out, static_cast<uint64_t>(element) % 8, image->bitOrder, coded, 0, code::kMostSignificantFirst,
                     static_cast<uint64_t>(l.width));
        } else if (l.nibbles) {
            const uint8_t *src = coded + (band < 0 ? b * ((l.width + 1) / 2) : 0);
            for (int64_t i = 0; i < l.width; ++i) out[i] = (i & 1) ? (src[i / 2] & 15) : (src[i / 2] >> 4);
        } else if (band < 0) {
            for (int64_t i = 0; i < l.width; ++i) out[i] = coded[i * l.bands + b];
        } else {
            std::memcpy(out, coded, static_cast<size_t>(l.width));
        }
    }
    return kOk;
}

int loadRow(DataAccess *image, const Layout &l, int64_t band, int64_t row, uint8_t *coded) {
    const int64_t plane = l.width * l.height;
    const int64_t first = band < 0 ? 0 : band, last = band < 0 ? l.bands : band + 1;
    if (band < 0 && l.bands == 3 && !l.bits && !l.nibbles && inMemory(image)) {
        const uint8_t *in[3];
        for (int64_t b = 0; b < 3; ++b) {
            if (int code = readRow(image, b * plane + row * l.width, &in[b])) return code;
        }
        mergeTriples(in[0], in[1], in[2], static_cast<size_t>(l.width), coded);
        std::memset(coded + 3 * l.width, 0, l.rowBytes - static_cast<size_t>(3 * l.width));
        return kOk;
    }
    std::memset(coded, 0, l.rowBytes);
    for (int64_t b = first; b < last; ++b) {
        const int64_t element = b * plane + row * l.width;
        const uint8_t *in;
        if (int code = readRow(image, element, &in)) return code;
        if (l.bits) {
            copyBits(coded, 0, code::kMostSignificantFirst, in, static_cast<uint64_t>(element) % 8, image->bitOrder,
                     static_cast<uint64_t>(l.width));
        } else if (l.nibbles) {
            uint8_t *dst = coded + (band < 0 ? b * ((l.width + 1) / 2) : 0);
            for (int64_t i = 0; i < l.width; ++i) dst[i / 2] |= static_cast<uint8_t>((in[i] & 15) << ((i & 1) ? 0 : 4));
        } else if (band < 0) {
            for (int64_t i = 0; i < l.width; ++i) coded[i * l.bands + b] = in[i];
        } else {
            std::memcpy(coded, in, static_cast<size_t>(l.width));
        }
    }
    return kOk;
}

}  // namespace

int decodePackBits(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    Layout l;
    if (int code = layoutOf(env, destination, source, &l)) return code;
    CodecAccess io(env);
    if (int code = io.open(destination, AccessMode::Write, source, AccessMode::Read)) return code;
    CodedReader in(io.coded, static_cast<uint64_t>(std::max<intptr_t>(source->get(Attr::size), 0)));
    std::vector<uint8_t> row(l.rowBytes);
    bool ended = false;
    int code = forEachCodedRow(l, [&](int64_t band, int64_t y) -> int {
        if (ended) return kOk;
        size_t at = 0;
        while (at < l.rowBytes) {
            uint8_t header, value;
            if (!in.next(&header)) return in.error() != kOk ? in.error() : fail(env, kSyntaxError);
            if (header == 0x80) {
                ended = true;  // end of data: this row and the rest keep their contents
                return kOk;
            }
            if (header < 0x80) {
                // Literal bytes; any that run past the row are dropped.
                const size_t count = header + 1u;
                const size_t n = std::min(count, l.rowBytes - at);
                if (!in.take(row.data() + at, n) || !in.skip(count - n)) {
                    return in.error() != kOk ? in.error() : fail(env, kSyntaxError);
                }
                if (l.invert) {
                    for (size_t i = 0; i < n; ++i) row[at + i] ^= 0xFF;
                }
                at += n;
            } else {
                if (!in.next(&value)) return in.error() != kOk ? in.error() : fail(env, kSyntaxError);
                size_t n = std::min<size_t>(257u - header, l.rowBytes - at);
                std::memset(row.data() + at, l.invert ? value ^ 0xFF : value, n);
                at += n;
            }
        }
        return storeRow(io.image, l, band, y, row.data());
    });
    int closed = io.close();
    return code != kOk ? code : closed;
}

int encodePackBits(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    Layout l;
    if (int code = layoutOf(env, source, destination, &l)) return code;
    CodecAccess io(env);
    if (int code = io.open(source, AccessMode::Read, destination, AccessMode::Write)) return code;
    CodedWriter out(io.coded);
    std::vector<uint8_t> row(l.rowBytes), coded;
    const bool strips = destination->get32(Attr::fileFormat) == code::kFormatTIFF && !l.interleaved && !l.bits &&
                        l.bands > 1;
    std::vector<uint32_t> stripBytes;
    uint64_t planeStart = 0;
    int64_t rowsDone = 0;
    const uint8_t mask = l.invert ? 0xFF : 0x00;  // data bytes only, never headers
    // No input byte codes to more than two output bytes (a one-byte literal
    // between runs costs a header and the byte).
    coded.resize(2 * l.rowBytes + 2);
    int code = forEachCodedRow(l, [&](int64_t band, int64_t y) -> int {
        if (int c = loadRow(io.image, l, band, y, row.data())) return c;
        const uint8_t *p = row.data();
        const size_t n = l.rowBytes;
        uint8_t *o = coded.data();
        size_t i = 0;
        while (i < n) {
            if (i == n - 1) {
                *o++ = 0x00;
                *o++ = p[i] ^ mask;
                ++i;
            } else if (p[i] == p[i + 1]) {
                size_t r = 2;
                while (r < 128 && i + r < n && p[i + r] == p[i]) ++r;
                *o++ = static_cast<uint8_t>(1 - static_cast<int>(r));
                *o++ = p[i] ^ mask;
                i += r;
            } else {
                const size_t r = literalLength(p + i, std::min<size_t>(128, n - 1 - i));
                *o++ = static_cast<uint8_t>(r - 1);
                if (mask == 0) std::memcpy(o, p + i, r);
                else for (size_t k = 0; k < r; ++k) o[k] = p[i + k] ^ mask;
                o += r;
                i += r;
            }
        }
        if (int c = out.put(coded.data(), static_cast<size_t>(o - coded.data()))) return c;
        if (strips && ++rowsDone % l.height == 0) {
            stripBytes.push_back(static_cast<uint32_t>(out.written() - planeStart));
            planeStart = out.written();
        }
        return kOk;
    });
    if (code == kOk) code = out.flush();
    if (code == kOk) code = setAttribute(env, destination, "size", static_cast<intptr_t>(out.written()));
    if (code == kOk && strips) {
        code = setAttribute(env, destination, "stripsPerImage", static_cast<intptr_t>(stripBytes.size()));
        if (code == kOk) code = setAttribute(env, destination, "stripByteCounts", reinterpret_cast<intptr_t>(stripBytes.data()));
    }
    int closed = io.close();
    return code != kOk ? code : closed;
}

}  // namespace orvo
