// Drives format detection, the inquiries and the reading functions from
// memory with
// arbitrary bytes.  The input is the image file itself, so seeds are plain
// files; the parity of its length chooses where working images are kept.
// Every byte of a returned bitmap is touched so that sanitizers see bad
// sizes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvo/orvocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (8u << 20)) return 0;
    const bool temporaryFiles = (size & 1) != 0;
    const uint8_t *image = size != 0 ? data : reinterpret_cast<const uint8_t *>("");
    const int32_t length = static_cast<int32_t>(size);
    const CmiAttribute options[] = {{"repository", temporaryFiles ? 83 : CMI_REPOSITORY_MEMORY}};

    int32_t status = 0;
    int32_t format = CmiInquireAddressSpaceFormat(image, length, nullptr, 0, &status);
    if (format == 0) format = CMI_FORMAT_BMP;
    int32_t pages = CmiInquireImageNumberAddressSpace(image, format, length, nullptr, 0, &status);
    pages = pages < 1 ? 1 : pages > 4 ? 4 : pages;

    int32_t width[4] = {}, height[4] = {}, mode[4] = {}, compression[4] = {};
    CmiAttribute values[] = {
        {"xDimension", reinterpret_cast<intptr_t>(width)},
        {"yDimension", reinterpret_cast<intptr_t>(height)},
        {"colorMode", reinterpret_cast<intptr_t>(mode)},
        {"compression", reinterpret_cast<intptr_t>(compression)},
    };
    CmiInquireValuesAddressSpace(image, pages, 0, format, length, values, 4, &status);

    HGLOBAL bitmaps[4] = {};
    const int32_t read = CmiImportAndParse(image, bitmaps, pages, format, 0, length, options, 1, &status);
    for (int32_t page = 0; page < read; ++page) {
        const auto *bytes = static_cast<const volatile uint8_t *>(GlobalLock(bitmaps[page]));
        uint8_t sum = 0;
        for (size_t i = 0, n = GlobalSize(bitmaps[page]); i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
        (void)sum;
        GlobalUnlock(bitmaps[page]);
        GlobalFree(bitmaps[page]);
    }
    return 0;
}
