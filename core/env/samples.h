// Copying samples between data objects, and between objects and caller
// buffers.
#pragma once

#include <span>

#include "core/env/object.h"

namespace orvo {

// Copies the samples `source` and `destination` both cover (the smaller
// size in every dimension), band by band and row by row.  Boolean (18),
// nonnegative integer (153) and 32-bit word (175) data; the two objects
// must have the same data type and storage precision, else 10.
int copySamples(Environment *env, DataObject *source, DataObject *destination);

// Copies the samples of `object` into `buffer`, laid out as `object` would
// be with the list applied (for example another "dataPrecision" is
// refused, other dimensions crop).  The buffer must hold that data size.
int exportSamples(Environment *env, DataObject *object, void *buffer, std::span<const CmiAttribute> list);

// Copies samples from `buffer`, laid out as `object` with the list applied,
// into `object`.
int importSamples(Environment *env, const void *buffer, DataObject *object, std::span<const CmiAttribute> list);

}  // namespace orvo
