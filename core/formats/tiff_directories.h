// The chain of image file directories of a TIFF file (TIFF 6.0 section 2):
// header "II" or "MM", 42, the offset of the first directory; each directory
// a 16-bit entry count, 12-byte entries and the offset of the next.
#pragma once

#include <cstdint>
#include <vector>

#include "core/env/access.h"

namespace orvo {

struct TiffDirectoryChain {
    bool littleEndian = true;
    std::vector<uint32_t> offsets;  // one per directory, in chain order
};

// Walks the chain of `file`.  The walk stops at a zero offset, at an offset
// already visited (a chain that loops) and at a directory that does not fit
// in the file.  22 when the header is not a TIFF header or the first
// directory cannot be read.
int readTiffDirectoryChain(DataAccess *file, TiffDirectoryChain *chain);

}  // namespace orvo
