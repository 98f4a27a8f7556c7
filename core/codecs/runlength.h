// Byte-oriented run-length codecs: PackBits (TIFF), BMP RLE8/RLE4 and PCX.
// Each turns an image object into coded bytes (encode) or back (decode);
// (environment, source, destination) -> status, as the compression stage
// calls them.
#pragma once

#include "core/env/object.h"

namespace orvo {

int encodePackBits(Environment *env, DataObject *source, DataObject *destination);
int decodePackBits(Environment *env, DataObject *source, DataObject *destination);
int encodeBmpRle(Environment *env, DataObject *source, DataObject *destination);
int decodeBmpRle(Environment *env, DataObject *source, DataObject *destination);
int encodePcxRle(Environment *env, DataObject *source, DataObject *destination);
int decodePcxRle(Environment *env, DataObject *source, DataObject *destination);

}  // namespace orvo
