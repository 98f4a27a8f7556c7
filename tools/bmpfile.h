// Packed bitmaps as the library returns them, and the BMP files made of them.
//
// A packed bitmap is an information header (40 bytes, or a larger later
// kind), an optional colour table and the rows.  A BMP file is the same bytes
// behind a 14-byte file header whose offset names where the rows start.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace orvo::cli {

struct PackedBitmap {
    int32_t width = 0;
    int32_t height = 0;  // negative: rows stored top-down
    uint16_t bitCount = 0;
    uint32_t headerSize = 0;
    uint32_t pixelOffset = 0;  // from the start of the packed bitmap
};

// Checks that `bytes` hold a packed bitmap whose header, masks, colour table
// and rows all fit; on failure `why` says what is wrong and false is returned.
bool checkPackedBitmap(std::span<const uint8_t> bytes, PackedBitmap &bitmap, std::string &why);

// The file header for a BMP file holding `bitmap`, `packedSize` bytes long
// (which checkPackedBitmap has accepted, so the sizes fit in 32 bits).
std::array<uint8_t, 14> bmpFileHeader(const PackedBitmap &bitmap, uint32_t packedSize);

}  // namespace orvo::cli
