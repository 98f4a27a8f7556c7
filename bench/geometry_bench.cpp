// Speed of the geometric operators and exports on synthetic 4000 x 3000
// full-colour pictures: resize to 1000 x 750 and 8000 x 6000 (bilinear,
// cubic convolution), quarter turn, rotation by 17 degrees.
//
// The operator benchmarks time the operator alone on image objects in work
// space; the export benchmarks time the whole call (parse of the packed
// bitmap, operator, generation of the new block).  ORVO_FORCE_SCALAR=1
// times the scalar loops.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/env/codes.h"
#include "core/env/environment.h"
#include "core/env/object.h"
#include "core/process/frame.h"
#include "core/process/geometry.h"
#include "core/process/planes.h"
#include "orvo/orvocore.h"

namespace {

using namespace orvo;

constexpr int64_t kWidth = 4000, kHeight = 3000;

// A smooth picture with some noise, so that no kernel sees constant rows.
uint8_t sampleAt(int64_t x, int64_t y, int64_t band, uint32_t noise) {
    return static_cast<uint8_t>((x * (band + 1) / 7 + y / 5 + (noise & 15)) & 255);
}

DataObject *image(Environment *env, int64_t w, int64_t h, bool fill) {
    const CmiAttribute list[] = {{"xDimension", static_cast<intptr_t>(w)},
                                 {"yDimension", static_cast<intptr_t>(h)},
                                 {"bDimension", 3},
                                 {"repository", code::kWorkSpace}};
    DataObject *object = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, list);
    Planes planes;
    planes.open(env, object, true);
    if (fill) {
        std::mt19937 random(1);
        for (int64_t b = 0; b < 3; ++b) {
            for (int64_t y = 0; y < h; ++y) {
                uint8_t *row = planes.row(b, y);
                for (int64_t x = 0; x < w; ++x) row[x] = sampleAt(x, y, b, random());
            }
        }
    }
    planes.close();
    return object;
}

struct Fixture {
    Environment *env = openEnvironment();
    DataObject *source = image(env, kWidth, kHeight, true);
    ~Fixture() { closeEnvironment(env); }
};

void resizeTo(benchmark::State &state, int32_t kernel, int64_t w, int64_t h) {
    Fixture f;
    DataObject *destination = image(f.env, w, h, false);
    setEnvAttr(f.env, EnvAttr::interpolation, kernel);
    for (auto _ : state) {
        if (resizeImage(f.env, f.source, destination, nullptr, nullptr) != kOk) state.SkipWithError("resize failed");
    }
    state.SetItemsProcessed(state.iterations() * w * h * 3);
}

void BM_ResizeDownBilinear(benchmark::State &s) { resizeTo(s, kBilinear, 1000, 750); }
void BM_ResizeDownCubic(benchmark::State &s) { resizeTo(s, kCubicConvolution, 1000, 750); }
void BM_ResizeUpBilinear(benchmark::State &s) { resizeTo(s, kBilinear, 8000, 6000); }
void BM_ResizeUpCubic(benchmark::State &s) { resizeTo(s, kCubicConvolution, 8000, 6000); }
void BM_ResizeUpNearest(benchmark::State &s) { resizeTo(s, kNearest, 8000, 6000); }

void BM_RotateQuarter(benchmark::State &state) {
    Fixture f;
    DataObject *destination = image(f.env, kHeight, kWidth, false);
    for (auto _ : state) rotateQuarter(f.env, f.source, destination, kQuarterCounterClockwise);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight * 3);
}

void BM_HalfTurn(benchmark::State &state) {
    Fixture f;
    DataObject *destination = image(f.env, kWidth, kHeight, false);
    for (auto _ : state) rotateQuarter(f.env, f.source, destination, kHalfTurn);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight * 3);
}

// Rotation about the centre by state.range(0) degrees (0: the same warp
// with a straight walk through the source).
void rotateBy(benchmark::State &state, int32_t kernel) {
    Fixture f;
    DataObject *destination = image(f.env, kWidth, kHeight, false);
    setEnvAttr(f.env, EnvAttr::interpolation, kernel);
    const double angle = static_cast<double>(state.range(0)) * 0.017453292519943292;
    for (auto _ : state) rotateAbout(f.env, f.source, destination, kWidth / 2, kHeight / 2, angle);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight * 3);
}
void BM_RotateNearest(benchmark::State &s) { rotateBy(s, kNearest); }
void BM_RotateBilinear(benchmark::State &s) { rotateBy(s, kBilinear); }

// --- Whole exports on a 24-bit packed bitmap ---------------------------------------

HGLOBAL bitmap() {
    const size_t row = (kWidth * 3 + 3) / 4 * 4;
    HGLOBAL block = GlobalAlloc(GHND, 40 + row * kHeight);
    auto *p = static_cast<uint8_t *>(GlobalLock(block));
    auto put32 = [p](size_t at, uint32_t v) { std::memcpy(p + at, &v, 4); };
    put32(0, 40);
    put32(4, kWidth);
    put32(8, kHeight);
    p[12] = 1;
    p[14] = 24;
    std::mt19937 random(2);
    for (int64_t y = 0; y < kHeight; ++y) {
        uint8_t *r = p + 40 + row * static_cast<size_t>(y);
        for (int64_t x = 0; x < kWidth; ++x) {
            for (int64_t b = 0; b < 3; ++b) r[3 * x + b] = sampleAt(x, y, b, random());
        }
    }
    GlobalUnlock(block);
    return block;
}

template <class Call>
void exportCall(benchmark::State &state, Call call) {
    HGLOBAL input = bitmap();
    for (auto _ : state) {
        int32_t status = 0;
        HGLOBAL out = call(input, &status);
        if (out == nullptr || status != 0) state.SkipWithError("call failed");
        GlobalFree(out);
    }
    GlobalFree(input);
}

void BM_CmiResizeDownBilinear(benchmark::State &s) {
    exportCall(s, [](HGLOBAL in, int32_t *st) { return CmiResize(in, 1000, 750, 9, 0, nullptr, 0, st); });
}
void BM_CmiResizeUpCubic(benchmark::State &s) {
    exportCall(s, [](HGLOBAL in, int32_t *st) { return CmiResize(in, 8000, 6000, 11, 0, nullptr, 0, st); });
}
void BM_CmiRotate90(benchmark::State &s) {
    exportCall(s, [](HGLOBAL in, int32_t *st) { return CmiRotate(in, kHeight, kWidth, 1, nullptr, 0, st); });
}
void BM_CmiRotateArbitrary17(benchmark::State &s) {
    const CmiAttribute bilinear[] = {{"interpolation", 9}};
    exportCall(s, [&](HGLOBAL in, int32_t *st) {
        return CmiRotateArbitrary(in, kWidth, kHeight, 17.0, bilinear, 1, st);
    });
}

}  // namespace

BENCHMARK(BM_ResizeDownBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeDownCubic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeUpBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeUpCubic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeUpNearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateQuarter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfTurn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateNearest)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateBilinear)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmiResizeDownBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmiResizeUpCubic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmiRotate90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmiRotateArbitrary17)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
