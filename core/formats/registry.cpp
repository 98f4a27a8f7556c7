// Every file format the core knows.  Formats whose reader or writer is not
// built are listed with null functions and are refused with 18 by the
// dispatch layer.
#include "core/formats/registry.h"

#include "core/env/codes.h"
#include "core/formats/bmp.h"
#include "core/formats/tiff.h"

namespace orvo {
namespace {

constexpr FormatEntry kFormats[] = {
    {code::kFormatGIF, "GIF", nullptr, nullptr, code::kLZW},
    {code::kFormatTIFF, "TIFF", readTiff, writeTiff, code::kNoCompression},
    {code::kFormatKOL1, "KOL1", nullptr, nullptr, code::kKOL1RunCode},
    {code::kFormatSIA, "SIA", nullptr, nullptr, code::kNoCompression},
    {code::kFormatBMP, "BMP", readBmp, writeBmp, code::kNoCompression},
    {code::kFormatPackedDIB, "packed DIB", readBmp, writeBmp, code::kNoCompression},
    {code::kFormatDIBHeader, "DIB header", nullptr, writeBmp, code::kNoCompression},
    {code::kFormatJPEG, "JPEG", nullptr, nullptr, code::kJPEG},
    {code::kFormatPCX, "PCX", nullptr, nullptr, code::kPcxRunLength},
    {code::kFormatPNG, "PNG", nullptr, nullptr, code::kNoCompression},
    {code::kFormatSGI, "SGI", nullptr, nullptr, code::kNoCompression},
};

}  // namespace

const FormatEntry *findFormat(int32_t format) {
    for (const FormatEntry &entry : kFormats) {
        if (entry.format == format) return &entry;
    }
    return nullptr;
}

}  // namespace orvo
