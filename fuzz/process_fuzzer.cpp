// Drives the processing exports with packed bitmaps built from arbitrary
// bytes.  The first bytes choose the bitmap's header fields (depth, a size
// up to 64 x 64, row order, palette count, a block shorter than the header
// claims) and the arguments of the calls (sizes, angle, interpolation,
// morphology, region, levels, mode); the rest fills the palette and the
// rows.  Arguments are mostly valid so that the operators run, with room
// for refused and hostile values.  Every byte of a returned bitmap is
// touched so that sanitizers see bad sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "orvo/orvocore.h"

namespace {

constexpr size_t kHeaderBytes = 16;  // control bytes before the picture bytes

void consume(HGLOBAL result) {
    if (result == nullptr) return;
    if (const auto *bytes = static_cast<const volatile uint8_t *>(GlobalLock(result))) {
        uint8_t sum = 0;
        for (size_t i = 0, n = GlobalSize(result); i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
        (void)sum;
        GlobalUnlock(result);
    }
    GlobalFree(result);
}

void put32(uint8_t *to, uint32_t v) {
    for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kHeaderBytes || size > (1u << 16)) return 0;
    const uint8_t *c = data;  // control bytes
    static constexpr uint16_t kDepths[] = {1, 4, 8, 24};
    const uint16_t depth = kDepths[c[0] & 3];
    const int32_t width = 1 + c[1] % 64, height = 1 + c[2] % 64;
    const bool topDown = (c[0] & 4) != 0;     // negative biHeight
    const bool shortBlock = (c[0] & 8) != 0;  // the block ends before the rows do
    const bool temporaryFiles = (c[0] & 0x30) == 0x30;
    const bool hostileMode = (c[0] & 0x40) != 0;
    // Palette entries: the full table, fewer, none, or a count past the block.
    uint32_t clrUsed = 0;
    if (depth <= 8) {
        switch (c[3] & 3) {
        case 0: clrUsed = 0; break;
        case 1: clrUsed = 1 + c[3] % (1u << depth); break;
        case 2: clrUsed = 1u << depth; break;
        default: clrUsed = 0x10000u + c[3]; break;
        }
    }

    const uint32_t entries = depth <= 8 ? (clrUsed ? std::min<uint32_t>(clrUsed, 256) : 1u << depth) : 0;
    const uint64_t stride = (static_cast<uint64_t>(width) * depth + 31) / 32 * 4;
    uint64_t total = 40 + 4ull * entries + stride * static_cast<uint64_t>(height);
    if (shortBlock) total = total > 41 + c[4] ? total - 1 - c[4] : 41;

    HGLOBAL image = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, total);
    if (image == nullptr) return 0;
    auto *bytes = static_cast<uint8_t *>(GlobalLock(image));
    put32(bytes, 40);
    put32(bytes + 4, static_cast<uint32_t>(width));
    put32(bytes + 8, static_cast<uint32_t>(topDown ? -height : height));
    bytes[12] = 1;
    bytes[14] = static_cast<uint8_t>(depth);
    put32(bytes + 32, clrUsed);
    const uint8_t *picture = data + kHeaderBytes;
    const size_t pictureBytes = size - kHeaderBytes;
    for (uint64_t i = 40; i < total && pictureBytes != 0; ++i) bytes[i] = picture[(i - 40) % pictureBytes];
    GlobalUnlock(image);

    const int32_t mode = hostileMode ? static_cast<int8_t>(c[5]) : depth == 1 ? CMI_MODE_BITMAP
                                                               : depth == 4   ? CMI_MODE_16_COLOURS
                                                               : depth == 24  ? CMI_MODE_RGB
                                                               : (c[5] & 1)   ? CMI_MODE_GRAYSCALE
                                                                              : CMI_MODE_256_COLOURS;
    const int32_t toWidth = 1 + c[6] % 96, toHeight = 1 + c[7] % 96;
    const int32_t interpolation = (c[8] & 0x80) ? static_cast<int8_t>(c[8]) : 8 + c[8] % 4;
    static constexpr int32_t kMorphologies[] = {CMI_MORPHOLOGY_NONE, CMI_MORPHOLOGY_KEEP_SET,
                                                CMI_MORPHOLOGY_KEEP_CLEAR, 1};
    const int32_t morphology = kMorphologies[c[9] & 3];
    const double angle = static_cast<int8_t>(c[10]) * 1.5;
    // Region and target rectangles, sometimes reaching past the image.
    const int32_t rx = c[11] % 80 - 8, ry = c[12] % 80 - 8, rw = c[13] % 80, rh = c[14] % 80;
    const int32_t level = static_cast<int8_t>(c[15]);

    const CmiAttribute options[] = {
        {"repository", temporaryFiles ? 83 : CMI_REPOSITORY_MEMORY},
        {"interpolation", 8 + (c[8] & 1)},
        {"constantLevel", level},
        {"sourceXPoint", rx},
        {"sourceYPoint", ry},
        {"sourceWidth", rw},
        {"sourceHeight", rh},
    };
    // The region options only when asked for, so whole-image paths run too.
    const int32_t count = (c[9] & 4) ? 7 : 3;
    int32_t status = 0;

    consume(CmiResize(image, toWidth, toHeight, interpolation, morphology, options, count, &status));
    consume(CmiRotateArbitrary(image, toWidth, toHeight, angle, options, count, &status));
    consume(CmiSubsample(image, rx, ry, rw, rh, toWidth, toHeight, ry, rx, rh, rw, interpolation, morphology,
                         options, count, &status));
    consume(CmiModeIndexedColor256(image, mode, (c[9] & 8) ? CMI_METHOD_ERROR_DIFFUSION : CMI_DITHER_NONE,
                                   22 + (c[9] >> 4) % 3, 2 + c[11] % 8, 2 + c[12] % 8, 2 + c[13] % 4, options,
                                   count, &status));
    consume(CmiModeBitmap(image, mode, 19 + (c[9] >> 6) % 3, c[15], options, count, &status));
    consume(CmiInvert(image, mode, options, count, &status));
    consume(CmiBrightnessAndContrast(image, mode, static_cast<int8_t>(c[6]) % 110, static_cast<int8_t>(c[7]) % 110,
                                     options, count, &status));
    GlobalFree(image);
    return 0;
}
