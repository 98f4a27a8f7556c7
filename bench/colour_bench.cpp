// Colour mode conversions of a 4000 x 3000 full-colour bitmap through the
// public interface: grey, bilevel by error diffusion, pattern and
// threshold, and 256 and 16 palette colours by popularity and uniform
// quantization, with and without dithering.  The picture is a smooth
// gradient with a little noise, so that quantizers see many colours and
// dithers have errors to carry.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/env/codes.h"
#include "core/env/palette.h"
#include "core/formats/bmp.h"
#include "core/process/colourmode.h"
#include "orvo/orvocore.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

HGLOBAL makePicture() {
    const uint32_t row = (static_cast<uint32_t>(kWidth) * 3 + 3) / 4 * 4;
    const size_t size = 40 + static_cast<size_t>(row) * kHeight;
    HGLOBAL block = GlobalAlloc(GHND, size);
    auto *p = static_cast<uint8_t *>(GlobalLock(block));
    auto put32 = [p](size_t at, uint32_t v) { std::memcpy(p + at, &v, 4); };
    put32(0, 40);
    put32(4, kWidth);
    put32(8, kHeight);
    p[12] = 1;
    p[14] = 24;
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t *px = p + 40 + static_cast<size_t>(y) * row;
        for (int32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int jitter = static_cast<int>((noise >> 24) & 15) - 8;
            auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            px[3 * x] = clamp(x * 255 / kWidth + jitter);
            px[3 * x + 1] = clamp(y * 255 / kHeight + jitter);
            px[3 * x + 2] = clamp((x + y) * 255 / (kWidth + kHeight) - jitter);
        }
    }
    GlobalUnlock(block);
    return block;
}

HGLOBAL picture() {
    static HGLOBAL block = makePicture();
    return block;
}

template <class Convert>
void run(benchmark::State &state, Convert convert) {
    HGLOBAL image = picture();
    for (auto _ : state) {
        int32_t status = 0;
        HGLOBAL result = convert(image, &status);
        if (result == nullptr) {
            state.SkipWithError(OrvoStatusText(status));
            break;
        }
        GlobalFree(result);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_Grey(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) { return CmiModeGrayscale(h, CMI_MODE_RGB, nullptr, 0, s); });
}
void BM_BitmapErrorDiffusion(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) {
        return CmiModeBitmap(h, CMI_MODE_RGB, CMI_METHOD_ERROR_DIFFUSION, 0, nullptr, 0, s);
    });
}
void BM_BitmapPattern(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) { return CmiModeBitmap(h, CMI_MODE_RGB, CMI_METHOD_PATTERN, 0, nullptr, 0, s); });
}
void BM_BitmapThreshold(benchmark::State &state) {
    run(state,
        [](HGLOBAL h, int32_t *s) { return CmiModeBitmap(h, CMI_MODE_RGB, CMI_METHOD_THRESHOLD, 128, nullptr, 0, s); });
}
void BM_Colours256Popularity(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) {
        return CmiModeIndexedColor256(h, CMI_MODE_RGB, CMI_DITHER_NONE, CMI_QUANTIZE_POPULARITY, 8, 8, 4, nullptr, 0, s);
    });
}
void BM_Colours256PopularityDiffused(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) {
        return CmiModeIndexedColor256(h, CMI_MODE_RGB, CMI_METHOD_ERROR_DIFFUSION, CMI_QUANTIZE_POPULARITY, 8, 8, 4,
                                      nullptr, 0, s);
    });
}
void BM_Colours256Uniform(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) {
        return CmiModeIndexedColor256(h, CMI_MODE_RGB, CMI_DITHER_NONE, CMI_QUANTIZE_UNIFORM, 8, 8, 4, nullptr, 0, s);
    });
}
void BM_Colours16PopularityDiffused(benchmark::State &state) {
    run(state, [](HGLOBAL h, int32_t *s) {
        return CmiModeIndexedColor16(h, CMI_MODE_RGB, CMI_METHOD_ERROR_DIFFUSION, CMI_QUANTIZE_POPULARITY, 2, 4, 2,
                                     nullptr, 0, s);
    });
}
// The operators alone, on image objects parsed once.
class Operators {
public:
    Operators() {
        env_ = orvo::openEnvironment();
        auto *bitmap = static_cast<const uint8_t *>(GlobalLock(picture()));
        orvo::dibToImage(env_, bitmap, GlobalSize(picture()), orvo::code::kWorkSpace, &rgb_);
        GlobalUnlock(picture());
        rgb_->put(orvo::Attr::colourSpace, orvo::code::kRGB);
        grey_ = image(1, 8, false);
        bits_ = image(1, 1, true);
        rgbOut_ = image(3, 8, false);
        indices_ = image(1, 8, false);
        orvo::PaletteData black;
        black.resize(256);
        orvo::writePalette(env_, indices_, black);
        orvo::toLuminance(env_, rgb_, grey_);
    }
    ~Operators() { orvo::closeEnvironment(env_); }
    orvo::Environment *env() const { return env_; }
    orvo::DataObject *rgb_, *grey_, *bits_, *rgbOut_, *indices_;

private:
    orvo::DataObject *image(int32_t bands, int32_t precision, bool boolean) {
        const CmiAttribute list[] = {
            {"repository", orvo::code::kWorkSpace}, {"xDimension", kWidth}, {"yDimension", kHeight},
            {"bDimension", bands}, {"dataType", boolean ? orvo::code::kBoolean : orvo::code::kNonnegativeInteger},
            {"dataPrecision", precision}};
        return orvo::createObject(env_, "bench", orvo::ObjectClass::GenericImage, nullptr, list);
    }
    orvo::Environment *env_;
};

Operators &operators() {
    static Operators ops;
    return ops;
}

template <class Operator>
void runOperator(benchmark::State &state, Operator op) {
    Operators &ops = operators();
    for (auto _ : state) {
        if (int code = op(ops)) {
            state.SkipWithError(OrvoStatusText(code));
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_OpLuminance(benchmark::State &state) {
    runOperator(state, [](Operators &o) { return orvo::toLuminance(o.env(), o.rgb_, o.grey_); });
}
void BM_OpErrorDiffusionBilevel(benchmark::State &state) {
    runOperator(state, [](Operators &o) { return orvo::errorDiffuse(o.env(), o.grey_, o.bits_, nullptr); });
}
void BM_OpErrorDiffusionLevels(benchmark::State &state) {
    orvo::Levels levels;
    levels.level[0] = levels.level[1] = 8, levels.level[2] = 4;
    runOperator(state, [&](Operators &o) { return orvo::errorDiffuse(o.env(), o.rgb_, o.rgbOut_, &levels); });
}
void BM_OpPattern(benchmark::State &state) {
    runOperator(state, [](Operators &o) { return orvo::orderedDither(o.env(), o.grey_, o.bits_, nullptr); });
}
void BM_OpPopularity256(benchmark::State &state) {
    orvo::Levels levels;
    levels.level[0] = levels.level[1] = 8, levels.level[2] = 4;
    runOperator(state, [&](Operators &o) {
        orvo::setEnvAttr(o.env(), orvo::EnvAttr::colourQuantization, orvo::kPopularityQuantization);
        return orvo::quantizeColours(o.env(), o.rgb_, o.indices_, o.indices_->lutObject(), levels);
    });
}
void BM_OpUniform256(benchmark::State &state) {
    orvo::Levels levels;
    levels.level[0] = levels.level[1] = 8, levels.level[2] = 4;
    runOperator(state, [&](Operators &o) {
        orvo::setEnvAttr(o.env(), orvo::EnvAttr::colourQuantization, orvo::kUniformQuantization);
        return orvo::quantizeColours(o.env(), o.rgb_, o.indices_, o.indices_->lutObject(), levels);
    });
}

BENCHMARK(BM_OpLuminance)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpErrorDiffusionBilevel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpErrorDiffusionLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpPattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpPopularity256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpUniform256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapErrorDiffusion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapPattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colours256Popularity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colours256PopularityDiffused)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colours256Uniform)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colours16PopularityDiffused)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
