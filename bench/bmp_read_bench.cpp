// Reading bitmaps from memory through the public interface, by path through
// the reader: the plain 24-bit copy, the 16-bit conversion and the general
// path through an image object (a V5 header).  Peers are compared by
// bench/decode-bmp.sh; this measures the library alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "orvo/orvocore.h"

namespace {

std::vector<uint8_t> makeBitmap(int32_t width, int32_t height, uint16_t depth, uint32_t headerSize) {
    const uint32_t row = ((static_cast<uint32_t>(width) * depth + 31) / 32) * 4;
    const uint32_t offset = 14 + headerSize;
    std::vector<uint8_t> file(offset + static_cast<size_t>(row) * height, 0);
    auto put32 = [&file](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(file.size()));
    put32(10, offset);
    put32(14, headerSize);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = static_cast<uint8_t>(depth);
    for (size_t i = offset; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    return file;
}

void readBitmap(benchmark::State &state, uint16_t depth, uint32_t headerSize) {
    const std::vector<uint8_t> file = makeBitmap(4000, 3000, depth, headerSize);
    for (auto _ : state) {
        HGLOBAL bitmap = nullptr;
        int32_t status = 0;
        int32_t n = CmiImportAndParse(file.data(), &bitmap, 1, CMI_FORMAT_BMP, 0, static_cast<int32_t>(file.size()),
                                      nullptr, 0, &status);
        if (n != 1) state.SkipWithError(OrvoStatusText(status));
        GlobalFree(bitmap);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_Read24BitCopy(benchmark::State &state) { readBitmap(state, 24, 40); }
void BM_Read16BitTo24(benchmark::State &state) { readBitmap(state, 16, 40); }
void BM_Read24BitV5Header(benchmark::State &state) { readBitmap(state, 24, 124); }

BENCHMARK(BM_Read24BitCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read16BitTo24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read24BitV5Header)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
