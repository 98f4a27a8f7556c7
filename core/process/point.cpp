// Point operators.  Every operator opens its source and destination as
// whole planes (Planes), works out the rectangle the two share under the
// environment's match points, and runs one row loop over that rectangle and
// every band the two have in common.  Most operators reduce to a 256-entry
// table built once per call; colour balance works with one table per band
// and hue/saturation with per-pixel double arithmetic on three bands.
#include "core/process/point.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/env/access.h"
#include "core/env/codes.h"
#include "core/process/planes.h"

namespace orvo {
namespace {

// The rectangle source and destination share: source (x, y) lands on
// destination (x + shiftX, y + shiftY) when the environment's
// "matchPointState" is 1, else on (x, y).
struct Overlap {
    int64_t sourceX = 0, sourceY = 0;
    int64_t destinationX = 0, destinationY = 0;
    int64_t width = 0, height = 0;
    int64_t bands = 0;
};

Overlap overlapOf(Environment *env, const DataObject *source, const DataObject *destination, const Planes &in,
                  const Planes &out) {
    int64_t shiftX = 0, shiftY = 0;
    if (envAttr(env, EnvAttr::matchPointState) == 1) {
        // Match points are 32-bit words, so the differences cannot overflow.
        shiftX = int64_t{destination->get32(Attr::xMatchPoint)} - source->get32(Attr::xMatchPoint);
        shiftY = int64_t{destination->get32(Attr::yMatchPoint)} - source->get32(Attr::yMatchPoint);
    }
    Overlap o;
    auto axis = [](int64_t shift, int64_t sourceLength, int64_t destinationLength, int64_t *from, int64_t *to,
                   int64_t *length) {
        const int64_t first = std::max<int64_t>(0, -shift);
        const int64_t last = std::min(sourceLength, destinationLength - shift);
        *from = first;
        *to = first + shift;
        *length = std::max<int64_t>(0, last - first);
    };
    axis(shiftX, in.width(), out.width(), &o.sourceX, &o.destinationX, &o.width);
    axis(shiftY, in.height(), out.height(), &o.sourceY, &o.destinationY, &o.height);
    o.bands = std::min(in.bands(), out.bands());
    return o;
}

// Opens both images, 8-bit (or, with `allowBoolean`, both boolean); 10 for
// anything else.  `out` keeps what the destination already holds outside
// the shared rectangle.
int openPair(Environment *env, DataObject *source, DataObject *destination, bool allowBoolean, Planes *in,
             Planes *out) {
    if (int code = checkEnvironment(env)) return code;
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    // Checked before the destination is opened, so that a refused call
    // leaves it as it was.
    const bool booleanSource = source->get32(Attr::dataType) == code::kBoolean;
    const bool booleanDestination = destination->get32(Attr::dataType) == code::kBoolean;
    if (booleanSource != booleanDestination || (booleanSource && !allowBoolean)) return fail(env, kMismatchDataType);
    if (int code = in->open(env, source, false)) return code;
    return out->open(env, destination, true);
}

int closePair(Planes *in, Planes *out) {
    int written = out->close();
    int read = in->close();
    return written != kOk ? written : read;
}

// Runs `rowOp(sourceRow, destinationRow, length, band)` over the shared
// rectangle of every common band.
template <class RowOp>
void forEachRow(const Overlap &o, Planes &in, Planes &out, RowOp &&rowOp) {
    if (o.width <= 0) return;
    for (int64_t b = 0; b < o.bands; ++b) {
        for (int64_t y = 0; y < o.height; ++y) {
            rowOp(in.row(b, o.sourceY + y) + o.sourceX, out.row(b, o.destinationY + y) + o.destinationX, o.width, b);
        }
    }
}

void tableRow(const uint8_t *src, uint8_t *dst, int64_t length, const uint8_t *table) {
    int64_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const uint8_t a = table[src[i]], b = table[src[i + 1]], c = table[src[i + 2]], d = table[src[i + 3]];
        dst[i] = a;
        dst[i + 1] = b;
        dst[i + 2] = c;
        dst[i + 3] = d;
    }
    for (; i < length; ++i) dst[i] = table[src[i]];
}

// A double already scaled to 0 .. 255, truncated; NaN counts as 0.
uint8_t clampTruncate(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

// Three-band 8-bit pair for the colour operators.
int openColourPair(Environment *env, DataObject *source, DataObject *destination, Planes *in, Planes *out) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    if (source->get(Attr::bDimension) != 3 || destination->get(Attr::bDimension) != 3) {
        return fail(env, kMismatchDataType);
    }
    return openPair(env, source, destination, false, in, out);
}

}  // namespace

int applyTable(Environment *env, DataObject *source, DataObject *destination, const uint8_t table[256]) {
    Planes in, out;
    if (int code = openPair(env, source, destination, false, &in, &out)) return code;
    const Overlap o = overlapOf(env, source, destination, in, out);
    forEachRow(o, in, out, [table](const uint8_t *src, uint8_t *dst, int64_t length, int64_t) {
        tableRow(src, dst, length, table);
    });
    return closePair(&in, &out);
}

int applyTable(Environment *env, DataObject *source, DataObject *destination, DataObject *table) {
    if (int code = checkEnvironment(env)) return code;
    if (int code = checkObject(env, table)) return code;
    if (table->get32(Attr::dataType) != code::kNonnegativeInteger || storagePrecision(env, table) != 8) {
        return fail(env, kMismatchDataType);
    }
    if (table->get(Attr::xDimension) < 256 || table->get(Attr::bDimension) < 1) return fail(env, kInsufficientSize);
    uint8_t entries[256];
    DataAccess *access;
    if (int code = openAccess(env, table, AccessMode::Read, 1, {}, &access)) return code;
    int code = readBytes(access, 0, entries, sizeof entries);
    int closed = closeAccess(env, access);
    if (code != kOk || closed != kOk) return code != kOk ? code : closed;
    return applyTable(env, source, destination, entries);
}

int invertImage(Environment *env, DataObject *source, DataObject *destination) {
    Planes in, out;
    if (int code = openPair(env, source, destination, true, &in, &out)) return code;
    const Overlap o = overlapOf(env, source, destination, in, out);
    // Boolean planes hold bytes 0 and 1.
    const uint8_t mask = in.boolean() ? 1 : 255;
    forEachRow(o, in, out, [mask](const uint8_t *src, uint8_t *dst, int64_t length, int64_t) {
        for (int64_t i = 0; i < length; ++i) dst[i] = static_cast<uint8_t>(src[i] ^ mask);
    });
    return closePair(&in, &out);
}

void brightnessContrastTable(double brightness, double contrast, uint8_t table[256]) {
    constexpr int n = 256;
    const double scale = n - 1;
    const double T = 0.5 - 0.2 * brightness;
    const double U = 0.5 + 0.2 * brightness;
    const double G = contrast + 1.0;
    const double E1 = G * T / U;
    const double E2 = G * (1.0 - T) / (1.0 - U);
    const double K1 = U * std::pow(T, -E1);
    const double K2 = -(1.0 - U) * std::pow(1.0 - T, -E2);
    for (int i = 1; i < n - 1; ++i) {
        const double t = i / scale;
        if (t < T) table[i] = clampTruncate(K1 * std::pow(t, E1) * scale);
        else table[i] = clampTruncate((K2 * std::pow(1.0 - t, E2) + 1.0) * scale);
    }
    // The end entries repeat their neighbours.
    table[0] = table[1];
    table[n - 1] = table[n - 2];
}

int brightnessContrast(Environment *env, DataObject *source, DataObject *destination, double brightness,
                       double contrast) {
    uint8_t table[256];
    brightnessContrastTable(brightness, contrast, table);
    return applyTable(env, source, destination, table);
}

void gammaCorrectionTable(double exponent, uint8_t table[256]) {
    for (int i = 0; i < 256; ++i) {
        const double x = i * 0.00392156862745098;
        const double v = 255.0 * std::pow(x, exponent) + 0.5;
        table[i] = clampTruncate(v);
    }
}

int gammaTable(Environment *env, DataObject *source, DataObject *destination, double exponent) {
    uint8_t table[256];
    gammaCorrectionTable(exponent, table);
    return applyTable(env, source, destination, table);
}

int solarize(Environment *env, DataObject *source, DataObject *destination) {
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v < 128 ? v : 255 - v);
    return applyTable(env, source, destination, table);
}

int32_t colourBalanceOffset(int32_t value) {
    const int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
    const int64_t offset = std::min<int64_t>((magnitude * 255 + 50) / 100, 255);
    return static_cast<int32_t>(value < 0 ? -offset : offset);
}

int colourBalance(Environment *env, DataObject *source, DataObject *destination, int32_t red, int32_t green,
                  int32_t blue) {
    Planes in, out;
    if (int code = openColourPair(env, source, destination, &in, &out)) return code;
    uint8_t tables[3][256];
    const int32_t offsets[3] = {colourBalanceOffset(red), colourBalanceOffset(green), colourBalanceOffset(blue)};
    for (int b = 0; b < 3; ++b) {
        for (int v = 0; v < 256; ++v) tables[b][v] = static_cast<uint8_t>(std::clamp(v + offsets[b], 0, 255));
    }
    const Overlap o = overlapOf(env, source, destination, in, out);
    forEachRow(o, in, out, [&tables](const uint8_t *src, uint8_t *dst, int64_t length, int64_t band) {
        tableRow(src, dst, length, tables[band]);
    });
    return closePair(&in, &out);
}

namespace {

// The rotation in the opponent colour plane, with its constants computed
// once per call.
class HueSaturationTransform {
public:
    HueSaturationTransform(int32_t hue, int32_t saturation, int32_t lightness)
        : hue_(hue), lightness_(lightness), saturation_(saturation * 0.01) {
        root6_ = std::sqrt(6.0);
        twoOverRoot6_ = 2.0 / root6_;
        minusOneOverRoot6_ = -1.0 / root6_;
        oneOverRoot6_ = 1.0 / root6_;
        halfRoot6_ = root6_ * 0.5;
        thirdRoot6_ = root6_ / 3.0;
        pi_ = 4.0 * std::atan(1.0);
    }

    void apply(uint8_t R, uint8_t G, uint8_t B, uint8_t *outR, uint8_t *outG, uint8_t *outB) const {
        const double r = R * 0.00392156862745098;
        const double g = G * 0.00392156862745098;
        const double b = B * 0.00392156862745098;
        double I = (r + g + b) * 0.3333333333333333;
        const double X = minusOneOverRoot6_ * r + minusOneOverRoot6_ * g + twoOverRoot6_ * b;
        const double Y = oneOverRoot6_ * r - oneOverRoot6_ * g;
        double C = std::sqrt(X * X + Y * Y);
        double H;
        if (X != 0.0) H = std::atan2(Y, X);
        else H = Y > 0.0 ? pi_ / 2 : Y < 0.0 ? -pi_ / 2 : 0.0;
        if (lightness_ != 0) I += lightness_ * 0.01;
        if (hue_ != 0) H += hue_ * 0.017453292519943292;
        const double s = saturation_;
        if (s > 0.0) {
            const double Cm = twoOverRoot6_;
            if (C != 0.0 && C != Cm) C = Cm * std::pow(C, 1.0 - s * 0.6666666666666666);
            if (C > Cm) C = Cm;
        } else if (s < 0.0) {
            if (C == 0.0 || s == -1.0) C = 0.0;
            else C = std::pow(C, 1.0 / (1.0 + s));
        }
        const double Xp = C * std::cos(H);
        const double Yp = C * std::sin(H);
        *outR = scaled(I - Xp / root6_ + Yp * halfRoot6_);
        *outG = scaled(I - Xp / root6_ - Yp * halfRoot6_);
        *outB = scaled(I + Xp * thirdRoot6_);
    }

private:
    static uint8_t scaled(double v) {
        const double w = v * 255.0;
        if (w > 255.0) return 255;
        if (!(w >= 0.0)) return 0;
        return clampTruncate(w + 0.5);
    }

    int32_t hue_;
    int32_t lightness_;
    double saturation_;
    double root6_, twoOverRoot6_, minusOneOverRoot6_, oneOverRoot6_, halfRoot6_, thirdRoot6_, pi_;
};

}  // namespace

int hueSaturation(Environment *env, DataObject *source, DataObject *destination, int32_t hue, int32_t saturation,
                  int32_t lightness) {
    Planes in, out;
    if (int code = openColourPair(env, source, destination, &in, &out)) return code;
    const HueSaturationTransform transform(hue, saturation, lightness);
    const Overlap o = overlapOf(env, source, destination, in, out);
    for (int64_t y = 0; o.width > 0 && y < o.height; ++y) {
        const uint8_t *src[3];
        uint8_t *dst[3];
        for (int b = 0; b < 3; ++b) {
            src[b] = in.row(b, o.sourceY + y) + o.sourceX;
            dst[b] = out.row(b, o.destinationY + y) + o.destinationX;
        }
        // Runs of one colour are common; the previous result is reused.
        uint8_t lastIn[3] = {src[0][0], src[1][0], src[2][0]};
        uint8_t lastOut[3];
        transform.apply(lastIn[0], lastIn[1], lastIn[2], &lastOut[0], &lastOut[1], &lastOut[2]);
        for (int64_t x = 0; x < o.width; ++x) {
            const uint8_t r = src[0][x], g = src[1][x], b = src[2][x];
            if (r != lastIn[0] || g != lastIn[1] || b != lastIn[2]) {
                lastIn[0] = r;
                lastIn[1] = g;
                lastIn[2] = b;
                transform.apply(r, g, b, &lastOut[0], &lastOut[1], &lastOut[2]);
            }
            dst[0][x] = lastOut[0];
            dst[1][x] = lastOut[1];
            dst[2][x] = lastOut[2];
        }
    }
    return closePair(&in, &out);
}

namespace {

// Adds the values of `count` bytes to `histogram`.  Four partial counts
// keep runs of equal values from waiting on one counter.
void countSamples(const uint8_t *bytes, int64_t count, uint64_t histogram[256]) {
    constexpr int64_t kChunk = int64_t{1} << 30;  // keeps the partial counts within 32 bits
    while (count > 0) {
        const int64_t n = std::min(count, kChunk);
        uint32_t partial[4][256] = {};
        int64_t i = 0;
        for (; i + 4 <= n; i += 4) {
            ++partial[0][bytes[i]];
            ++partial[1][bytes[i + 1]];
            ++partial[2][bytes[i + 2]];
            ++partial[3][bytes[i + 3]];
        }
        for (; i < n; ++i) ++partial[0][bytes[i]];
        for (int v = 0; v < 256; ++v) {
            histogram[v] += uint64_t{partial[0][v]} + partial[1][v] + partial[2][v] + partial[3][v];
        }
        bytes += n;
        count -= n;
    }
}

}  // namespace

int equalizeHistogram(Environment *env, DataObject *source, DataObject *destination, int32_t mode, int32_t low,
                      int32_t high) {
    if (int code = checkEnvironment(env)) return code;
    if (mode != kUniformEqualization) return fail(env, kOutOfRange);
    uint64_t histogram[256] = {};
    uint64_t total = 0;
    {
        Planes in;
        if (int code = in.open(env, source, false)) return code;
        if (in.boolean()) return fail(env, kMismatchDataType);
        for (int64_t b = 0; b < in.bands(); ++b) countSamples(in.plane(b), in.planeBytes(), histogram);
        total = static_cast<uint64_t>(in.planeBytes()) * static_cast<uint64_t>(in.bands());
        if (int code = in.close()) return code;
    }
    uint8_t table[256];
    uint64_t cumulative = 0;
    for (int i = 0; i < 256; ++i) {
        cumulative += histogram[i];
        const double fraction = total != 0 ? static_cast<double>(cumulative) / static_cast<double>(total) : 0.0;
        table[i] = clampTruncate(low + (static_cast<double>(high) - low) * fraction + 0.5);
    }
    return applyTable(env, source, destination, table);
}

int equalize(Environment *env, DataObject *source, DataObject *destination) {
    return equalizeHistogram(env, source, destination, kUniformEqualization, 0, 255);
}

}  // namespace orvo
