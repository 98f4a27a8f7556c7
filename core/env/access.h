// The access layer: the only way to the samples of a data object and to the
// bytes of an image file being parsed or generated.
//
// Where the bytes are is the object's "repository": caller memory (9, used in
// place), a file (83, the object's "fileName" or a temporary "ipi" file) or a
// global memory block owned by the object (223).  Callers address rows and
// samples by element offset (x fastest, then y, z, t, band); byte ranges by
// byte offset.
//
// Every read and write is bounded: a memory repository is limited by its
// object's "size" when that is set and otherwise by the object's data size,
// and a request that does not fit reports 8 without touching memory outside
// the block.  The one exception is coded data (an object with a compression
// method) written as a byte stream into work space: its block grows, up to
// 16 times the data size.  Files report 8 when they end before the bytes asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/env/object.h"
#include "platform/file.h"

namespace orvo {

enum class AccessMode { Read, Write };

struct DataAccess {
    Environment *env = nullptr;
    DataObject *object = nullptr;
    AccessMode mode = AccessMode::Read;
    int32_t repository = 0;
    int32_t bitOrder = 150;
    int32_t byteOrder = 150;
    int32_t precision = 8;             // storage precision
    int32_t dataType = 153;
    bool initedAtOpen = false;
    bool honourMatchPoints = false;
    int64_t matchPoint[5] = {};
    bool honourRoi = false;
    DataAccess *roi = nullptr;

    int64_t elementsPerRow = 0;
    size_t rowBytes = 0;               // bytes covering one row (spare byte for odd bit counts)
    int rows = 1;                      // rows of the window
    uint64_t dataBytes = 0;            // data size of the object
    uint64_t limit = 0;                // bytes that may be touched

    // Memory repositories.
    uint8_t *data = nullptr;
    bool growable = false;             // a work-space byte stream being written may outgrow its block

    // File repositories.
    platform::File file;
    bool fileOpened = false;
    bool fileWritten = false;

    // Row and window buffers.
    std::vector<uint8_t> window;       // rows x rowBytes
    int64_t windowElement = -1;        // element offset of the centre row held
    std::vector<uint8_t> rowBuffer;    // row handed out by writeRow on files
    int64_t pendingElement = -1;       // row of rowBuffer still to be written

    // Bit stream.
    uint8_t bitMask = 128;
    uint8_t bitByte = 0;
    uint64_t bitBytes = 0;             // bytes consumed or produced
    bool bitsUsed = false;
    bool pendingStuff = false;         // a 0x00 must follow the 0xFF just written
    std::vector<uint8_t> transfer;     // 512-byte buffer for files
    size_t transferPos = 0;
    size_t transferFill = 0;
};

// Opens an access on `object`.  `rows` is the height of the sliding window
// (at least 1).  The list may hold "matchPointState" and "roiState" to honour
// the environment settings of the same names.
int openAccess(Environment *env, DataObject *object, AccessMode mode, int rows,
               std::span<const CmiAttribute> list, DataAccess **access);

// Writes what is pending, closes the file, marks the object inited and frees
// the access (also on failure).  Null is accepted.
int closeAccess(Environment *env, DataAccess *access);

// Row starting at element `element`.  The pointer addresses the byte holding
// that element; boolean rows that do not start on a byte begin at bit
// element % 8 of it.  Valid until the next call on the access.
int readRow(DataAccess *access, int64_t element, const uint8_t **row);

// Row to fill for element `element`; on files the previous row is written
// first.  Boolean rows that share bytes with neighbours arrive holding the
// stored bits, so only the row's own bits need to be set.
int writeRow(DataAccess *access, int64_t element, uint8_t **row);

// Centre row of a window of `rows` rows around the row at `element`; rows
// outside the data read as zeros.
int readWindow(DataAccess *access, int64_t element, const uint8_t **centre);

// Byte ranges at byte offsets.
int readBytes(DataAccess *access, uint64_t offset, void *buffer, size_t count);
int writeBytes(DataAccess *access, uint64_t offset, const void *buffer, size_t count);

// Single samples of up to 32 bits.
int readElement(DataAccess *access, int64_t element, uint32_t *value);
int writeElement(DataAccess *access, int64_t element, uint32_t value);

// Bit stream, most significant bit first, with 0xFF bytes followed by a
// stuffed 0x00 byte (the marker escape of entropy-coded data).
int readBits(DataAccess *access, int count, uint32_t *value);
int writeBits(DataAccess *access, uint32_t value, int count);
// Pads a partly filled byte with one bits and emits it.
int flushBits(DataAccess *access);

// One 32-bit word of an object's body (composites, tuples).
int readElementWord(Environment *env, DataObject *object, int64_t index, uint32_t *word);
int writeElementWord(Environment *env, DataObject *object, int64_t index, uint32_t word);

// Bytes that cover a row of `elements` samples of `precision` bits.
size_t rowLengthFor(int64_t elements, int32_t precision);

// Copies `count` bits from `src` at bit `srcBit` to `dst` at bit `dstBit`;
// bit 0 of a byte is its top bit when the order is 150, its bottom bit
// when 135.
void copyBits(uint8_t *dst, uint64_t dstBit, int32_t dstOrder, const uint8_t *src, uint64_t srcBit,
              int32_t srcOrder, uint64_t count);

}  // namespace orvo
