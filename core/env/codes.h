// The shared code space of the core: every symbolic value (repositories, data
// types, orders, colour spaces, file formats, compression methods, parse
// modes) is one integer from this space.
#pragma once

#include <cstdint>

namespace orvo::code {

// "repository"
inline constexpr int32_t kApplicationAddressSpace = 9;
inline constexpr int32_t kFile = 83;
inline constexpr int32_t kWorkSpace = 223;

// "dataType"
inline constexpr int32_t kBoolean = 18;
inline constexpr int32_t kComplex = 35;
inline constexpr int32_t kNonnegativeInteger = 153;
inline constexpr int32_t kReal = 161;
inline constexpr int32_t kSignedInteger = 174;
inline constexpr int32_t kWord32 = 175;

// "bitOrder", "byteOrder"
inline constexpr int32_t kMostSignificantFirst = 150;
inline constexpr int32_t kLeastSignificantFirst = 135;

// "colourSpace"
inline constexpr int32_t kRGB = 121;
inline constexpr int32_t kYCbCr = 219;

// "photometricInterpretation", "pixelInterpretation"
inline constexpr int32_t kMinIsBlack = 17;
inline constexpr int32_t kMinIsWhite = 222;
inline constexpr int32_t kSeparated = 33;
inline constexpr int32_t kDibRowOrder = 225;  // rows stored bottom-up as in a packed bitmap

// BMP "resolutionUnit": pixels per metre.
inline constexpr int32_t kPixelsPerMetre = 145;

// "fileFormat"
inline constexpr int32_t kFormatGIF = 92;
inline constexpr int32_t kFormatTIFF = 207;
inline constexpr int32_t kFormatKOL1 = 215;
inline constexpr int32_t kFormatSIA = 216;
inline constexpr int32_t kFormatBMP = 225;
inline constexpr int32_t kFormatJPEG = 235;
inline constexpr int32_t kFormatPCX = 246;
inline constexpr int32_t kFormatPackedDIB = 255;
inline constexpr int32_t kFormatPNG = 259;
inline constexpr int32_t kFormatSGI = 269;
inline constexpr int32_t kFormatDIBHeader = 271;

// "compression"
inline constexpr int32_t kNoCompression = 0;
inline constexpr int32_t kFaxT4OneD = 80;
inline constexpr int32_t kFaxT4TwoD = 81;
inline constexpr int32_t kFaxT6 = 82;
inline constexpr int32_t kFaxModifiedHuffman = 90;
inline constexpr int32_t kJPEG = 114;
inline constexpr int32_t kLZW = 136;
inline constexpr int32_t kPackBits = 156;
inline constexpr int32_t kKOL1RunCode = 217;
inline constexpr int32_t kBmpRunLength = 234;
inline constexpr int32_t kPcxRunLength = 247;
inline constexpr int32_t kDeflate = 264;

// Parse modes.
inline constexpr int32_t kParseAll = 0;
inline constexpr int32_t kParseSamplesOnly = 171;
inline constexpr int32_t kParseHeaderOnly = 172;

// "samplingFactor" default of the image templates.
inline constexpr int32_t kSampling422 = 239;

}  // namespace orvo::code
