// Point operators: each sample changes independently of its neighbours.
// Sources and destinations are image objects of equal geometry with 8-bit
// samples (invert also takes boolean images); other data gives 10.
#pragma once

#include <cstdint>

#include "core/env/object.h"

namespace orvo {

// destination = table[source] for every sample of every band; `table` is a
// 256-entry one-band 8-bit LookupTable.
int applyTable(Environment *env, DataObject *source, DataObject *destination, DataObject *table);
// The same with a table held by the caller.
int applyTable(Environment *env, DataObject *source, DataObject *destination, const uint8_t table[256]);

int invertImage(Environment *env, DataObject *source, DataObject *destination);
// brightness and contrast in -1.0 .. 1.0.
int brightnessContrast(Environment *env, DataObject *source, DataObject *destination, double brightness,
                       double contrast);
// exponent = 1 / gamma.
int gammaTable(Environment *env, DataObject *source, DataObject *destination, double exponent);
int solarize(Environment *env, DataObject *source, DataObject *destination);
// Three-band images; offsets -100 .. 100 per band.
int colourBalance(Environment *env, DataObject *source, DataObject *destination, int32_t red, int32_t green,
                  int32_t blue);
// Three-band images; hue in degrees, saturation and lightness -100 .. 100.
int hueSaturation(Environment *env, DataObject *source, DataObject *destination, int32_t hue, int32_t saturation,
                  int32_t lightness);
// Histogram equalization over all bands together to 0 .. 255.
int equalize(Environment *env, DataObject *source, DataObject *destination);

// The tables themselves (256 entries).
void brightnessContrastTable(double brightness, double contrast, uint8_t table[256]);
void gammaCorrectionTable(double exponent, uint8_t table[256]);

// The equalization core: `mode` kUniformEqualization spreads the cumulative
// histogram over low .. high; other modes give 18.
inline constexpr int32_t kUniformEqualization = 211;
int equalizeHistogram(Environment *env, DataObject *source, DataObject *destination, int32_t mode, int32_t low,
                      int32_t high);

// The colour balance offset of an argument -100 .. 100: |value| x 2.55
// rounded half up, at most 255, with the sign of `value`.
int32_t colourBalanceOffset(int32_t value);

}  // namespace orvo
