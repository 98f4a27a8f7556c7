// Palettes of images: the "lut" LookupTable object an image refers to.
#pragma once

#include <cstdint>
#include <vector>

#include "core/env/object.h"

namespace orvo {

// Gives `image`'s palette the grey levels of its precision (2, 16 or 256
// entries), from black to white, or from white to black when `whiteFirst`.
// An image without palette object is left alone.
int setGreyPalette(Environment *env, DataObject *image, bool whiteFirst);

// Empties `image`'s palette (0 entries, 0 planes).
int clearPalette(Environment *env, DataObject *image);

// A palette as three planes of `entries` bytes each.
struct PaletteData {
    int32_t entries = 0;
    std::vector<uint8_t> red, green, blue;
    void resize(int32_t n) {
        entries = n;
        red.assign(static_cast<size_t>(n), 0);
        green.assign(static_cast<size_t>(n), 0);
        blue.assign(static_cast<size_t>(n), 0);
    }
};

// The three planes of a LookupTable object, and a new content for one.
int readTable(Environment *env, DataObject *lut, PaletteData *palette);
int writeTable(Environment *env, DataObject *lut, const PaletteData &palette);

// Reads `image`'s palette; 0 entries when it has none (or an empty one).
// Palettes of fewer than three planes repeat their first plane.
int readPalette(Environment *env, const DataObject *image, PaletteData *palette);

// Replaces the palette of `image` (its "lut" object, created when missing).
int writePalette(Environment *env, DataObject *image, const PaletteData &palette);

}  // namespace orvo
