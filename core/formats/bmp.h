// Windows bitmaps: BMP files (format 225, with the 14-byte file header),
// packed DIBs (255, header, palette and pixels) and DIB headers alone (271,
// written in front of pixels another step already placed).
//
// Rows are stored bottom-up and padded to 4 bytes.  Images are band
// sequential: a 24-bit bitmap becomes three 8-bit planes R, G, B.  Depths 1,
// 4, 8, 16 (5-5-5), 24 and 32 are read; 1, 4, 8, 24 and 32 are written.
#pragma once

#include <cstdint>

#include "core/env/access.h"
#include "orvo/globalmem.h"

namespace orvo {

inline constexpr uint32_t kInfoHeaderSize = 40;
inline constexpr uint32_t kFileHeaderSize = 14;

// What a bitmap's headers say, checked against the bytes present.
struct BmpHeader {
    uint32_t headerSize = 0;      // 12 (OS/2 core header) or 40 and its extensions
    int32_t width = 0;
    int32_t height = 0;
    uint16_t depth = 0;
    uint32_t compression = 0;     // as stored: 0 none, 1 RLE8, 2 RLE4
    uint32_t imageSize = 0;
    int32_t xPixelsPerMetre = 0;
    int32_t yPixelsPerMetre = 0;
    uint32_t coloursUsed = 0;     // as stored
    uint64_t paletteOffset = 0;
    uint32_t paletteEntrySize = 4;
    uint32_t paletteEntries = 0;  // entries present before the pixel data
    uint64_t dataOffset = 0;
    uint64_t rowBytes = 0;
    uint64_t pixelBytes = 0;      // rows x rowBytes, or the coded size
    uint64_t available = 0;       // bytes of the file object
};

// Row length in bytes of a bitmap row of `width` pixels at `depth` bits.
uint64_t bmpRowLength(uint32_t depth, uint64_t width);

// Reads and validates the headers at the start of `file` (format 225 with a
// file header, 255 without).  22 for a malformed header, 8 when the file is
// too short for its headers.
int parseBmpHeader(DataAccess *file, int32_t format, BmpHeader *header);

// Format reader and writer of the table (formats 225, 255, 271).
int readBmp(Environment *env, DataObject *file, DataObject *destination, int32_t mode, int32_t format);
int writeBmp(Environment *env, DataObject *source, DataObject *target, int32_t format);

// Turns `size` bytes of a locked packed bitmap into an image object with a
// palette object ("lut"), its samples in `repository`.
int dibToImage(Environment *env, const void *bitmap, uint64_t size, int32_t repository, DataObject **image);

// Writes `image` as a packed bitmap into a new unlocked movable block:
// depths 1, 4, 8 (one band) and 24 (three 8-bit bands).
int imageToDib(Environment *env, DataObject *image, HGLOBAL *bitmap);

// Bytes imageToDib needs for `image`, with its depth; false when the image is
// of another kind or too large.
bool dibBlockSize(const DataObject *image, uint64_t *bytes, uint32_t *depth);

}  // namespace orvo
