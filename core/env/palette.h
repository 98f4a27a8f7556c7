// Palettes of images: the "lut" LookupTable object an image refers to.
#pragma once

#include "core/env/object.h"

namespace orvo {

// Gives `image`'s palette the grey levels of its precision (2, 16 or 256
// entries), from black to white, or from white to black when `whiteFirst`.
// An image without palette object is left alone.
int setGreyPalette(Environment *env, DataObject *image, bool whiteFirst);

// Empties `image`'s palette (0 entries, 0 planes).
int clearPalette(Environment *env, DataObject *image);

}  // namespace orvo
