// The table of file formats: for each internal format code its reader and
// writer (null where this system has none).  Readers fill a destination
// object from a file object; writers fill a target object from a source.
#pragma once

#include <cstdint>

#include "core/env/object.h"

namespace orvo {

// Reads `file` (a file object: repository 83 or caller memory 9) into
// `destination`.  `mode` is 0 (header and samples), 172 (header only) or
// 171 (samples only, into an object a header parse already described).
using FormatReader = int (*)(Environment *env, DataObject *file, DataObject *destination, int32_t mode,
                             int32_t format);
// Writes `source` (uncompressed samples, or bytes a codec produced) into
// the target object, whose repository receives the file's bytes.
using FormatWriter = int (*)(Environment *env, DataObject *source, DataObject *target, int32_t format);

struct FormatEntry {
    int32_t format;
    const char *name;
    FormatReader reader;
    FormatWriter writer;
    int32_t defaultCompression;  // chosen by the write pipeline when the list has none
};

// The entry of `format`, or null for codes that are not formats.
const FormatEntry *findFormat(int32_t format);

}  // namespace orvo
