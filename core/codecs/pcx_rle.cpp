// PCX run-length coding (ZSoft PCX technical reference).
//
// A byte with both top bits set carries a count in its low six bits and is
// followed by the byte to repeat; any other byte stands for itself.  A coded
// row is the row's bit plane, or its band planes one after the other, each
// padded to an even number of bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codecs/codec_io.h"
#include "core/codecs/runlength.h"
#include "core/env/codes.h"

namespace orvo {
namespace {

struct PcxLayout {
    int64_t width, height, bands;
    bool bits;
    size_t planeBytes;
    bool dibOrder;
};

int layoutOf(Environment *env, DataObject *image, PcxLayout *l) {
    const int32_t type = image->get32(Attr::dataType);
    if (type == code::kNonnegativeInteger && image->get32(Attr::dataPrecision) == 4) return fail(env, kSemanticError);
    if (type != code::kBoolean && !(type == code::kNonnegativeInteger && image->get32(Attr::dataPrecision) == 8)) {
        return fail(env, kMismatchDataType);
    }
    l->width = image->get(Attr::xDimension);
    l->height = image->get(Attr::yDimension);
    l->bands = image->get(Attr::bDimension);
    if (l->width < 1 || l->height < 1 || l->bands < 1) return fail(env, kOutOfRange);
    l->bits = type == code::kBoolean;
    l->planeBytes = static_cast<size_t>(l->bits ? (l->width + 15) / 16 * 2 : (l->width + 1) / 2 * 2);
    l->dibOrder = image->get32(Attr::pixelInterpretation) == code::kDibRowOrder;
    return kOk;
}

}  // namespace

int encodePcxRle(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    PcxLayout l;
    if (int code = layoutOf(env, source, &l)) return code;
    CodecAccess io(env);
    if (int code = io.open(source, AccessMode::Read, destination, AccessMode::Write)) return code;
    CodedWriter out(io.coded, static_cast<size_t>(std::max<int64_t>(l.width, 512)));
    std::vector<uint8_t> row(l.planeBytes * static_cast<size_t>(l.bands));
    const int64_t plane = l.width * l.height;
    int code = kOk;
    for (int64_t y = 0; code == kOk && y < l.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int64_t b = 0; code == kOk && b < l.bands; ++b) {
            const int64_t element = b * plane + y * l.width;
            const uint8_t *in;
            if ((code = readRow(io.image, element, &in)) != kOk) break;
            uint8_t *dst = row.data() + static_cast<size_t>(b) * l.planeBytes;
            if (l.bits) {
                copyBits(dst, 0, code::kMostSignificantFirst, in, static_cast<uint64_t>(element) % 8, io.image->bitOrder,
                         static_cast<uint64_t>(l.width));
            } else {
                std::memcpy(dst, in, static_cast<size_t>(l.width));
            }
        }
        const size_t n = row.size();
        for (size_t i = 0; code == kOk && i < n;) {
            const uint8_t v = row[i];
            if (i + 1 < n && row[i + 1] == v) {
                size_t r = 2;
                while (r < 63 && i + r < n && row[i + r] == v) ++r;
                const uint8_t pair[2] = {static_cast<uint8_t>(0xC0 | r), v};
                code = out.put(pair, 2);
                i += r;
            } else if (v >= 0xC0) {
                const uint8_t pair[2] = {0xC1, v};
                code = out.put(pair, 2);
                ++i;
            } else {
                code = out.put(v);
                ++i;
            }
        }
    }
    if (code == kOk) code = out.flush();
    if (code == kOk) code = setAttribute(env, destination, "size", static_cast<intptr_t>(out.written()));
    int closed = io.close();
    return code != kOk ? code : closed;
}

int decodePcxRle(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    PcxLayout l;
    if (int code = layoutOf(env, destination, &l)) return code;
    CodecAccess io(env);
    if (int code = io.open(destination, AccessMode::Write, source, AccessMode::Read)) return code;
    CodedReader in(io.coded, static_cast<uint64_t>(std::max<intptr_t>(source->get(Attr::size), 0)));
    const size_t rowBytes = l.planeBytes * static_cast<size_t>(l.bands);
    std::vector<uint8_t> row(rowBytes + 64);
    const int64_t plane = l.width * l.height;
    size_t carry = 0;  // bytes of a run that spilled past the previous row
    uint8_t carryValue = 0;
    int code = kOk;
    for (int64_t y = 0; code == kOk && y < l.height; ++y) {
        size_t at = 0;
        while (at < rowBytes && carry > 0) {
            row[at++] = carryValue;
            --carry;
        }
        while (at < rowBytes) {
            uint8_t v;
            if (!in.next(&v)) {
                code = in.error() != kOk ? in.error() : fail(env, kSyntaxError);
                break;
            }
            size_t count = 1;
            if ((v & 0xC0) == 0xC0) {
                count = v & 0x3F;
                if (!in.next(&v)) {
                    code = in.error() != kOk ? in.error() : fail(env, kSyntaxError);
                    break;
                }
            }
            const size_t n = std::min(count, rowBytes - at);
            std::memset(row.data() + at, v, n);
            at += n;
            carry = count - n;
            carryValue = v;
        }
        if (code != kOk) break;
        const int64_t imageRow = l.dibOrder ? l.height - 1 - y : y;
        if (l.dibOrder && l.bands == 3 && !l.bits) {
            // Pixels of three bytes, blue, green, red, in one row of bytes.
            uint8_t *out;
            if ((code = writeRow(io.image, imageRow * l.width, &out)) != kOk) break;
            for (int64_t i = 0; i < l.width / 3; ++i) {
                for (int b = 0; b < 3; ++b) out[3 * i + b] = row[static_cast<size_t>(2 - b) * l.planeBytes + i];
            }
            continue;
        }
        for (int64_t b = 0; code == kOk && b < l.bands; ++b) {
            const int64_t element = b * plane + imageRow * l.width;
            uint8_t *out;
            if ((code = writeRow(io.image, element, &out)) != kOk) break;
            const uint8_t *src = row.data() + static_cast<size_t>(b) * l.planeBytes;
            if (l.bits) {
                copyBits(out, static_cast<uint64_t>(element) % 8, io.image->bitOrder, src, 0, code::kMostSignificantFirst,
                         static_cast<uint64_t>(l.width));
            } else {
                std::memcpy(out, src, static_cast<size_t>(l.width));
            }
        }
    }
    int closed = io.close();
    return code != kOk ? code : closed;
}

}  // namespace orvo
