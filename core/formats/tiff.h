// TIFF files (TIFF 6.0): one reader and one writer for single images and for
// composites of pages.
//
// Layout: an 8-byte header ("II" little-endian or "MM" big-endian, 42, the
// offset of the first directory), then directories of 12-byte entries (tag,
// type, count, value or offset) chained by next-directory offsets.
#pragma once

#include <cstdint>

#include "core/env/object.h"

namespace orvo {

// Field types.
namespace tiff {
inline constexpr uint16_t kByte = 1;
inline constexpr uint16_t kAscii = 2;
inline constexpr uint16_t kShort = 3;
inline constexpr uint16_t kLong = 4;
inline constexpr uint16_t kRational = 5;

// Tags.
inline constexpr uint16_t kNewSubfileType = 254;
inline constexpr uint16_t kSubfileType = 255;
inline constexpr uint16_t kImageWidth = 256;
inline constexpr uint16_t kImageLength = 257;
inline constexpr uint16_t kBitsPerSample = 258;
inline constexpr uint16_t kCompression = 259;
inline constexpr uint16_t kPhotometric = 262;
inline constexpr uint16_t kThresholding = 263;
inline constexpr uint16_t kFillOrder = 266;
inline constexpr uint16_t kStripOffsets = 273;
inline constexpr uint16_t kOrientation = 274;
inline constexpr uint16_t kSamplesPerPixel = 277;
inline constexpr uint16_t kRowsPerStrip = 278;
inline constexpr uint16_t kStripByteCounts = 279;
inline constexpr uint16_t kMinSampleValue = 280;
inline constexpr uint16_t kMaxSampleValue = 281;
inline constexpr uint16_t kXResolution = 282;
inline constexpr uint16_t kYResolution = 283;
inline constexpr uint16_t kPlanarConfiguration = 284;
inline constexpr uint16_t kT4Options = 292;
inline constexpr uint16_t kT6Options = 293;
inline constexpr uint16_t kResolutionUnit = 296;
inline constexpr uint16_t kPageNumber = 297;
inline constexpr uint16_t kPredictor = 317;
inline constexpr uint16_t kColorMap = 320;
inline constexpr uint16_t kTileWidth = 322;
inline constexpr uint16_t kTileLength = 323;
inline constexpr uint16_t kTileOffsets = 324;
inline constexpr uint16_t kTileByteCounts = 325;
inline constexpr uint16_t kYCbCrSubSampling = 530;

// Codes of the TIFF format record ("photometricInterpretation" and the
// others) for the values of the file's tags.
inline constexpr int32_t kPhotometricMinIsWhite = 222;   // tag value 0
inline constexpr int32_t kPhotometricMinIsBlack = 17;    // 1
inline constexpr int32_t kPhotometricRGB = 121;          // 2
inline constexpr int32_t kPhotometricPalette = 157;      // 3
inline constexpr int32_t kPhotometricMask = 209;         // 4
inline constexpr int32_t kPhotometricSeparated = 33;     // 5
inline constexpr int32_t kPhotometricYCbCr = 219;        // 6
inline constexpr int32_t kPhotometricCIELab = 24;        // 8
inline constexpr int32_t kUnitNone = 0;                  // resolution unit 1
inline constexpr int32_t kUnitInch = 106;                // 2
inline constexpr int32_t kUnitCentimetre = 23;           // 3
inline constexpr int32_t kChunky = 248;                  // planar configuration 1
inline constexpr int32_t kPlanar = 249;                  // 2
inline constexpr int32_t kFullImage = 252;               // new subfile type 0
inline constexpr int32_t kReducedImage = 253;            // 1
inline constexpr int32_t kPage = 254;                    // 2
}  // namespace tiff

// Orientation tag values 1..8 and their record codes.
inline constexpr int32_t kTiffOrientationCodes[9] = {-1, 0, 117, 1, 208, 213, 2, 132, 3};

// Format reader and writer of the table (format 207).
int readTiff(Environment *env, DataObject *file, DataObject *destination, int32_t mode, int32_t format);
int writeTiff(Environment *env, DataObject *source, DataObject *target, int32_t format);

}  // namespace orvo
