// Thin wrappers over the Cmi reading functions (see imagefile.h).
//
// CmiInquireValues fills (name, address of int32_t) pairs and leaves the
// words of names that do not apply untouched, so every word starts at a
// sentinel no answer can hold and still holding it means "not known".
#include "imagefile.h"

#include <array>
#include <limits>

namespace orvo::cli {

namespace {

template <size_t N>
const char *lookup(const std::array<std::pair<int32_t, const char *>, N> &table, int32_t code) {
    for (const auto &[key, name] : table)
        if (key == code) return name;
    return nullptr;
}

constexpr std::array<std::pair<int32_t, const char *>, 7> kFormats{{
    {CMI_FORMAT_TIFF, "TIFF"},
    {CMI_FORMAT_JPEG, "JPEG"},
    {CMI_FORMAT_GIF, "GIF"},
    {CMI_FORMAT_BMP, "BMP"},
    {CMI_FORMAT_PCX, "PCX"},
    {CMI_FORMAT_PNG, "PNG"},
    {CMI_FORMAT_SIA, "SIA"},
}};

constexpr std::array<std::pair<int32_t, const char *>, 5> kColorModes{{
    {CMI_MODE_BITMAP, "bitmap"},
    {CMI_MODE_16_COLOURS, "16 colours"},
    {CMI_MODE_256_COLOURS, "256 colours"},
    {CMI_MODE_GRAYSCALE, "greyscale"},
    {CMI_MODE_RGB, "RGB"},
}};

constexpr std::array<std::pair<int32_t, const char *>, 8> kCompressions{{
    {CMI_COMPRESSION_NONE, "none"},
    {CMI_COMPRESSION_LZW, "LZW"},
    {CMI_COMPRESSION_MH, "modified Huffman"},
    {CMI_COMPRESSION_G3, "CCITT G3"},
    {CMI_COMPRESSION_G3_2D, "CCITT G3 2D"},
    {CMI_COMPRESSION_G4, "CCITT G4"},
    {CMI_COMPRESSION_PACKBITS, "PackBits"},
    {CMI_COMPRESSION_BMP_RLE, "BMP RLE"},
}};

constexpr int32_t kNotFilled = std::numeric_limits<int32_t>::min();

std::optional<int32_t> filled(int32_t word) {
    return word == kNotFilled ? std::nullopt : std::optional<int32_t>(word);
}

}  // namespace

const char *formatName(int32_t format) { return lookup(kFormats, format); }
const char *colorModeName(int32_t colorMode) { return lookup(kColorModes, colorMode); }
const char *compressionName(int32_t compression) { return lookup(kCompressions, compression); }

Inquiry inquireFormat(const char *file) {
    Inquiry result;
    result.value = CmiInquireFileFormat(file, nullptr, 0, &result.status);
    return result;
}

Inquiry inquireImageCount(const char *file, int32_t format) {
    Inquiry result{1, 0};
    if (format == CMI_FORMAT_TIFF || format == CMI_FORMAT_GIF)
        result.value = CmiInquireImageNumber(file, format, nullptr, 0, &result.status);
    return result;
}

int32_t inquireValues(const char *file, int32_t format, int32_t imageCount,
                      std::vector<ImageValues> &images) {
    // One array of words per name, one word per image.
    const size_t count = imageCount > 0 ? static_cast<size_t>(imageCount) : 0;
    std::vector<int32_t> width(count, kNotFilled), height(count, kNotFilled),
        colorMode(count, kNotFilled), compression(count, kNotFilled), interlaced(count, kNotFilled);
    std::vector<CmiAttribute> values{
        {"xDimension", reinterpret_cast<intptr_t>(width.data())},
        {"yDimension", reinterpret_cast<intptr_t>(height.data())},
        {"colorMode", reinterpret_cast<intptr_t>(colorMode.data())},
        {"compression", reinterpret_cast<intptr_t>(compression.data())},
    };
    if (format == CMI_FORMAT_PNG || format == CMI_FORMAT_GIF)
        values.push_back({"interlaced", reinterpret_cast<intptr_t>(interlaced.data())});

    int32_t status = 0;
    CmiInquireValues(file, imageCount, 0, format, values.data(),
                     static_cast<int32_t>(values.size()), &status);

    images.assign(count, {});
    for (size_t i = 0; i < count; ++i)
        images[i] = {filled(width[i]), filled(height[i]), filled(colorMode[i]),
                     filled(compression[i]), filled(interlaced[i])};
    return status;
}

BitmapHandle::~BitmapHandle() {
    if (handle_) GlobalFree(handle_);
}

BitmapHandle::Lock::Lock(HGLOBAL handle) : handle_(handle) {
    const SIZE_T size = handle ? GlobalSize(handle) : 0;
    if (size == 0) return;
    if (auto *address = static_cast<const uint8_t *>(GlobalLock(handle)))
        bytes_ = {address, size};
    else
        handle_ = nullptr;
}

BitmapHandle::Lock::~Lock() {
    if (handle_ && !bytes_.empty()) GlobalUnlock(handle_);
}

Inquiry readImage(const char *file, int32_t format, int32_t index, BitmapHandle &bitmap) {
    Inquiry result;
    result.value = CmiReadAndParse(file, bitmap.slot(), 1, format, index, nullptr, 0, &result.status);
    return result;
}

}  // namespace orvo::cli
