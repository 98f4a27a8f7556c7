// BMP run-length coding (RLE8 and RLE4), as Windows bitmaps store it.
//
// The stream codes rows bottom-up.  A pair (n, v) with n > 0 is a run of n
// pixels of v (RLE4: alternating the two nibbles of v); 00 00 ends a row,
// 00 01 ends the bitmap, 00 02 dx dy moves the position, 00 n (n >= 3) is
// followed by n literal pixels padded to a 16-bit boundary.
//
// Decoding is lenient about what the format leaves open: positions outside
// the image are skipped, and the end of the data ends the bitmap.  Rows are
// only ever visited upwards, so one row buffer suffices.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codecs/codec_io.h"
#include "core/codecs/runlength.h"
#include "core/env/codes.h"

namespace orvo {
namespace {

// Samples of one image row as bytes (value 0..255, or 0..15 for RLE4).
struct RowSink {
    DataAccess *image;
    int64_t width;
    int64_t height;
    bool dibOrder;     // rows in stream order, RLE4 packed two a byte
    bool fourBit;
    std::vector<uint8_t> row;

    int store(int64_t streamRow) {
        if (streamRow < 0 || streamRow >= height) return kOk;
        int64_t imageRow = dibOrder ? streamRow : height - 1 - streamRow;
        int64_t stride = image->elementsPerRow;
        uint8_t *out;
        if (int code = writeRow(image, imageRow * stride, &out)) return code;
        int64_t n = std::min(width, stride);
        if (dibOrder && fourBit) {
            for (int64_t i = 0; i < width && i / 2 < stride; i += 2) {
                uint8_t low = i + 1 < width ? row[static_cast<size_t>(i + 1)] : 0;
                out[i / 2] = static_cast<uint8_t>((row[static_cast<size_t>(i)] << 4) | (low & 15));
            }
        } else {
            std::memcpy(out, row.data(), static_cast<size_t>(n));
        }
        std::fill(row.begin(), row.end(), 0);
        return kOk;
    }
};

int decode(Environment *env, DataObject *source, DataObject *destination) {
    const int32_t precision = destination->get32(Attr::dataPrecision);
    if (destination->get32(Attr::dataType) != code::kNonnegativeInteger) return fail(env, kMismatchDataType);
    if (precision != 8 && precision != 4) return kOk;
    const uint64_t size = static_cast<uint64_t>(std::max<intptr_t>(source->get(Attr::size), 0));
    CodecAccess io(env);
    if (int code = io.open(destination, AccessMode::Write, source, AccessMode::Read)) return code;
    RowSink sink{io.image, destination->get(Attr::xDimension), destination->get(Attr::yDimension),
                 destination->get32(Attr::pixelInterpretation) == code::kDibRowOrder, precision == 4, {}};
    sink.row.assign(static_cast<size_t>(std::max<int64_t>(sink.width, 0)) + 2, 0);
    if (size < 2) return io.close();
    CodedReader in(io.coded, size);
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t value) {
        if (x >= 0 && x < sink.width) sink.row[static_cast<size_t>(x)] = value;
        ++x;
    };
    int code = kOk;
    uint8_t first, second;
    while (code == kOk && y < sink.height && in.next(&first) && in.next(&second)) {
        if (first != 0) {
            for (int i = 0; i < first; ++i) put(precision == 8 ? second : (i & 1) ? (second & 15) : (second >> 4));
            continue;
        }
        if (second == 0) {  // end of row
            code = sink.store(y++);
            x = 0;
        } else if (second == 1) {  // end of bitmap
            break;
        } else if (second == 2) {  // move right dx, down dy
            uint8_t dx, dy;
            if (!in.next(&dx) || !in.next(&dy)) break;
            for (int i = 0; code == kOk && i < dy && y < sink.height; ++i) code = sink.store(y++);
            x += dx;
        } else {  // literal pixels, padded to a 16-bit boundary
            int count = second;
            int bytes = precision == 8 ? count : (count + 1) / 2;
            uint8_t value = 0;
            for (int i = 0; i < bytes; ++i) {
                if (!in.next(&value)) break;
                if (precision == 8) {
                    put(value);
                } else {
                    put(value >> 4);
                    if (2 * i + 1 < count) put(value & 15);
                }
            }
            if (bytes & 1) in.next(&value);
        }
    }
    if (code == kOk && in.error() != kOk) code = in.error();
    // The row in progress when the data ends (or at the end-of-bitmap code).
    if (code == kOk && y < sink.height) code = sink.store(y);
    int closed = io.close();
    return code != kOk ? code : closed;
}

// Codes one row of samples (bytes; for RLE4 already packed two a byte, with
// `pixels` the row's pixel count).
void encodeRow8(const uint8_t *p, int64_t n, std::vector<uint8_t> &out) {
    int64_t i = 0;
    while (i < n) {
        if (i == n - 1) {
            out.insert(out.end(), {1, p[i]});
            ++i;
        } else if (p[i] == p[i + 1]) {
            int64_t r = 2;
            while (i + r < n && p[i + r] == p[i]) ++r;
            while (r > 254) {
                out.insert(out.end(), {0xFE, p[i]});
                r -= 254;
                i += 254;
            }
            out.insert(out.end(), {static_cast<uint8_t>(r), p[i]});
            i += r;
        } else {
            int64_t r = 1;
            while (i + r < n && !(i + r + 1 < n && p[i + r] == p[i + r + 1])) ++r;
            while (r > 254) {
                out.insert(out.end(), {0, 0xFE});
                out.insert(out.end(), p + i, p + i + 254);
                r -= 254;
                i += 254;
            }
            if (r >= 3) {
                out.insert(out.end(), {0, static_cast<uint8_t>(r)});
                out.insert(out.end(), p + i, p + i + r);
                if (r & 1) out.push_back(0);
            } else if (r == 2) {
                out.insert(out.end(), {1, p[i], 1, p[i + 1]});
            } else {
                out.insert(out.end(), {1, p[i]});
            }
            i += r;
        }
    }
    static const uint8_t kPad[4][2] = {{0, 0}, {3, 0}, {2, 0}, {1, 0}};
    if (n % 4 != 0) out.insert(out.end(), kPad[n % 4], kPad[n % 4] + 2);
}

// RLE4: the packed bytes coded like RLE8 with pixel counts twice the byte
// counts.
void encodeRow4(const uint8_t *p, int64_t n, std::vector<uint8_t> &out) {
    int64_t i = 0;
    while (i < n) {
        if (i == n - 1) {
            out.insert(out.end(), {2, p[i]});
            ++i;
        } else if (p[i] == p[i + 1]) {
            int64_t r = 2;
            while (i + r < n && p[i + r] == p[i]) ++r;
            while (2 * r > 254) {
                out.insert(out.end(), {0xFE, p[i]});
                r -= 127;
                i += 127;
            }
            out.insert(out.end(), {static_cast<uint8_t>(2 * r), p[i]});
            i += r;
        } else {
            int64_t r = 1;
            while (i + r < n && !(i + r + 1 < n && p[i + r] == p[i + r + 1])) ++r;
            while (2 * r > 254) {
                out.insert(out.end(), {0, 0xFE});
                out.insert(out.end(), p + i, p + i + 127);
                out.push_back(0);
                r -= 127;
                i += 127;
            }
            if (2 * r >= 3) {
                out.insert(out.end(), {0, static_cast<uint8_t>(2 * r)});
                out.insert(out.end(), p + i, p + i + r);
                if (r & 1) out.push_back(0);
            } else {
                out.insert(out.end(), {2, p[i]});
            }
            i += r;
        }
    }
    static const uint8_t kPad[4][2] = {{0, 0}, {6, 0}, {4, 0}, {2, 0}};
    if (n % 4 != 0) out.insert(out.end(), kPad[n % 4], kPad[n % 4] + 2);
}

int encode(Environment *env, DataObject *source, DataObject *destination) {
    const int32_t precision = source->get32(Attr::dataPrecision);
    if (source->get32(Attr::dataType) != code::kNonnegativeInteger) return fail(env, kMismatchDataType);
    if (precision != 8 && precision != 4) return setAttribute(env, destination, "size", 0);
    CodecAccess io(env);
    if (int code = io.open(source, AccessMode::Read, destination, AccessMode::Write)) return code;
    const int64_t width = source->get(Attr::xDimension);
    const int64_t height = source->get(Attr::yDimension);
    const bool dibOrder = source->get32(Attr::pixelInterpretation) == code::kDibRowOrder;
    CodedWriter out(io.coded);
    std::vector<uint8_t> coded, packed(static_cast<size_t>((width + 1) / 2));
    int code = kOk;
    for (int64_t j = 0; code == kOk && j < height; ++j) {
        const int64_t imageRow = dibOrder ? j : height - 1 - j;
        const uint8_t *row;
        if ((code = readRow(io.image, imageRow * width, &row)) != kOk) break;
        coded.clear();
        if (precision == 8) {
            encodeRow8(row, width, coded);
        } else {
            std::fill(packed.begin(), packed.end(), 0);
            for (int64_t i = 0; i < width; ++i) packed[i / 2] |= static_cast<uint8_t>((row[i] & 15) << ((i & 1) ? 0 : 4));
            encodeRow4(packed.data(), static_cast<int64_t>(packed.size()), coded);
        }
        coded.insert(coded.end(), {0, static_cast<uint8_t>(j == height - 1 ? 1 : 0)});
        code = out.put(coded.data(), coded.size());
    }
    if (code == kOk) code = out.flush();
    if (code == kOk) code = setAttribute(env, destination, "size", static_cast<intptr_t>(out.written()));
    int closed = io.close();
    return code != kOk ? code : closed;
}

}  // namespace

int decodeBmpRle(Environment *env, DataObject *source, DataObject *destination) {
    return decode(env, source, destination);
}

int encodeBmpRle(Environment *env, DataObject *source, DataObject *destination) {
    return encode(env, source, destination);
}

}  // namespace orvo
