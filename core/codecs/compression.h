// The compression stage between coded objects and pixel objects.
//
// A format parser delivers an object whose "compression" is not 0 and whose
// repository holds the stored bytes unchanged; decompressImage turns it into
// samples.  A generator is handed an object that compressImage already
// filled.  The method is the "compression" code; codes without a codec here
// (LZW among them) are refused with 12 in both directions.
#pragma once

#include <cstdint>

#include "core/env/object.h"

namespace orvo {

// Encodes the uncompressed `source` into `destination`, whose attributes
// (method, parameters, file format) are already set.  12 when the source is
// compressed or the method has no encoder.
int compressImage(Environment *env, DataObject *source, DataObject *destination);

// Decodes `source` by its "compression" into `destination`, which must be
// uncompressed.  12 when the method has no decoder.
int decompressImage(Environment *env, DataObject *source, DataObject *destination);

// Whether `uncompressedBytes` of samples could come out of `compressedBytes`
// of data coded with `method`: guards allocations made before decoding, so a
// tiny file cannot claim an enormous image.
bool plausibleExpansion(int32_t method, uint64_t compressedBytes, uint64_t uncompressedBytes);

}  // namespace orvo
