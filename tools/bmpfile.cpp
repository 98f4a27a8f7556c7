// Checking a packed bitmap before its sizes are trusted, and the BMP file
// header in front of it (see bmpfile.h).  All sums are done in 64 bits from
// 32-bit fields, so none can overflow.
#include "bmpfile.h"

#include <cstdlib>
#include <limits>

namespace orvo::cli {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCompressionNone = 0;       // BI_RGB
constexpr uint32_t kCompressionBitfields = 3;  // BI_BITFIELDS: three colour masks

uint32_t u32(std::span<const uint8_t> b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t u16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
void put32(uint8_t *to, uint32_t v) {
    for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool knownHeaderSize(uint32_t size) {
    // BITMAPINFOHEADER, the two extended kinds with masks, V4 and V5.
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

}  // namespace

bool checkPackedBitmap(std::span<const uint8_t> bytes, PackedBitmap &bitmap, std::string &why) {
    if (bytes.size() < 40) {
        why = "bitmap of " + std::to_string(bytes.size()) + " bytes has no information header";
        return false;
    }
    if (bytes.size() > std::numeric_limits<uint32_t>::max() - kFileHeaderSize) {
        why = "bitmap too large for a BMP file";
        return false;
    }
    const uint32_t headerSize = u32(bytes, 0);
    const int32_t width = static_cast<int32_t>(u32(bytes, 4));
    const int32_t height = static_cast<int32_t>(u32(bytes, 8));
    const uint16_t planes = u16(bytes, 12), bitCount = u16(bytes, 14);
    const uint32_t compression = u32(bytes, 16), coloursUsed = u32(bytes, 32);

    if (!knownHeaderSize(headerSize) || headerSize > bytes.size()) {
        why = "bitmap header size " + std::to_string(headerSize) + " not valid";
        return false;
    }
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min() || planes != 1) {
        why = "bitmap size " + std::to_string(width) + " x " + std::to_string(height) + " or planes " +
              std::to_string(planes) + " not valid";
        return false;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32) {
        why = "bitmap depth " + std::to_string(bitCount) + " not valid";
        return false;
    }
    const bool masked = compression == kCompressionBitfields && (bitCount == 16 || bitCount == 32);
    if (compression != kCompressionNone && !masked) {
        why = "bitmap rows compressed (" + std::to_string(compression) + ")";
        return false;
    }

    const uint64_t maskBytes = masked && headerSize == 40 ? 12 : 0;
    const uint64_t colours = coloursUsed != 0 ? coloursUsed : bitCount <= 8 ? 1u << bitCount : 0;
    const uint64_t pixelOffset = headerSize + maskBytes + colours * 4;
    const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
    const uint64_t rowBytes = stride * static_cast<uint64_t>(std::llabs(height));
    if (pixelOffset + rowBytes > bytes.size()) {
        why = "bitmap needs " + std::to_string(pixelOffset + rowBytes) + " bytes, block holds " +
              std::to_string(bytes.size());
        return false;
    }
    bitmap = {width, height, bitCount, headerSize, static_cast<uint32_t>(pixelOffset)};
    return true;
}

std::array<uint8_t, 14> bmpFileHeader(const PackedBitmap &bitmap, uint32_t packedSize) {
    std::array<uint8_t, 14> header{'B', 'M'};
    put32(&header[2], kFileHeaderSize + packedSize);  // then two reserved words of 0
    put32(&header[10], kFileHeaderSize + bitmap.pixelOffset);
    return header;
}

}  // namespace orvo::cli
