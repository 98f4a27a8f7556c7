// Whole-plane access to the samples of an image object, for the processing
// operators: every band is a contiguous width x height array of bytes, rows
// top to bottom.
//
// 8-bit samples in a memory repository are used in place.  File
// repositories and boolean images go through a buffer: it is filled from the
// object at open (boolean samples unpacked to bytes 0 and 1), and for writes
// stored back by close (any non-zero byte sets the bit).  Opening for writing
// keeps what the object already holds, so pixels an operator leaves alone
// keep their samples.
#pragma once

#include <cstdint>
#include <vector>

#include "core/env/object.h"

namespace orvo {

class Planes {
public:
    Planes() = default;
    Planes(const Planes &) = delete;
    Planes &operator=(const Planes &) = delete;
    ~Planes();

    // Opens `image` (boolean or 8-bit nonnegative samples, else 10).  With
    // `write`, close() stores the planes.
    int open(Environment *env, DataObject *image, bool write);
    // Stores what was written (write mode) and releases the object.
    int close();

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    int64_t bands() const { return bands_; }
    bool boolean() const { return boolean_; }
    uint8_t *plane(int64_t band) { return base_ + band * planeBytes(); }
    const uint8_t *plane(int64_t band) const { return base_ + band * planeBytes(); }
    uint8_t *row(int64_t band, int64_t y) { return plane(band) + y * width_; }
    const uint8_t *row(int64_t band, int64_t y) const { return plane(band) + y * width_; }
    int64_t planeBytes() const { return width_ * height_; }

private:
    Environment *env_ = nullptr;
    DataObject *image_ = nullptr;
    struct DataAccess *access_ = nullptr;
    bool write_ = false;
    bool boolean_ = false;
    bool buffered_ = false;
    int64_t width_ = 0, height_ = 0, bands_ = 0;
    uint8_t *base_ = nullptr;
    std::vector<uint8_t> buffer_;
};

// Bytes 0/1 from `count` bits of `src` starting at bit `bit` (top bit first
// when `msbFirst`), and back: any non-zero byte sets its bit, the other bits
// of partly covered bytes keep their values.
void unpackBitRow(const uint8_t *src, uint64_t bit, bool msbFirst, uint8_t *dst, int64_t count);
void packBitRow(const uint8_t *src, int64_t count, uint8_t *dst, uint64_t bit, bool msbFirst);

}  // namespace orvo
