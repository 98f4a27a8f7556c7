// Buffered byte streams over the coded side of a codec, and the region both
// sides of a conversion cover.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/env/access.h"

namespace orvo {

// Reads coded bytes from offset 0 up to the object's "size", in chunks.
class CodedReader {
public:
    CodedReader(DataAccess *access, uint64_t size, size_t chunk = 32768)
        : access_(access), size_(size), chunk_(chunk) {}

    // Next byte; false at the end of the data or on a read error (then
    // error() holds the code).
    bool next(uint8_t *byte) {
        if (at_ == fill_ && !refill()) return false;
        *byte = buffer_[at_++];
        return true;
    }
    // Next `count` bytes into `out`; false when the data ends first.
    bool take(uint8_t *out, size_t count) {
        while (count > 0) {
            if (at_ == fill_ && !refill()) return false;
            const size_t n = std::min(count, fill_ - at_);
            std::memcpy(out, buffer_.data() + at_, n);
            at_ += n;
            out += n;
            count -= n;
        }
        return true;
    }
    // Skips `count` bytes; false when the data ends first.
    bool skip(size_t count) {
        while (count > 0) {
            if (at_ == fill_ && !refill()) return false;
            const size_t n = std::min(count, fill_ - at_);
            at_ += n;
            count -= n;
        }
        return true;
    }
    bool atEnd() const { return at_ == fill_ && offset_ >= size_; }
    int error() const { return error_; }

private:
    bool refill() {
        if (offset_ >= size_) return false;
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk_, size_ - offset_));
        buffer_.resize(n);
        if ((error_ = readBytes(access_, offset_, buffer_.data(), n)) != kOk) return false;
        offset_ += n;
        at_ = 0;
        fill_ = n;
        return true;
    }

    DataAccess *access_;
    uint64_t size_;
    size_t chunk_;
    std::vector<uint8_t> buffer_;
    size_t at_ = 0, fill_ = 0;
    uint64_t offset_ = 0;
    int error_ = kOk;
};

// Appends coded bytes, writing them to the object at increasing offsets
// whenever the buffer fills.
class CodedWriter {
public:
    explicit CodedWriter(DataAccess *access, size_t chunk = 32768) : access_(access), chunk_(chunk) {
        buffer_.reserve(chunk_ + 512);
    }
    int put(uint8_t byte) {
        buffer_.push_back(byte);
        return buffer_.size() >= chunk_ ? flush() : kOk;
    }
    int put(const uint8_t *bytes, size_t count) {
        buffer_.insert(buffer_.end(), bytes, bytes + count);
        return buffer_.size() >= chunk_ ? flush() : kOk;
    }
    int flush() {
        if (buffer_.empty()) return kOk;
        int code = writeBytes(access_, written_, buffer_.data(), buffer_.size());
        if (code == kOk) written_ += buffer_.size();
        buffer_.clear();
        return code;
    }
    uint64_t written() const { return written_ + buffer_.size(); }

private:
    DataAccess *access_;
    size_t chunk_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
};

// Opens the image side row by row and the coded side as a byte stream, and
// closes both on every path.
class CodecAccess {
public:
    CodecAccess(Environment *env) : env_(env) {}
    ~CodecAccess() {
        closeAccess(env_, image);
        closeAccess(env_, coded);
    }
    int open(DataObject *imageObject, AccessMode imageMode, DataObject *codedObject, AccessMode codedMode) {
        if (int code = openAccess(env_, imageObject, imageMode, 1, {}, &image)) return code;
        return openAccess(env_, codedObject, codedMode, 0, {}, &coded);
    }
    // Closes now, reporting a failure to write what was pending.
    int close() {
        int a = closeAccess(env_, image);
        int b = closeAccess(env_, coded);
        image = coded = nullptr;
        return a != kOk ? a : b;
    }
    DataAccess *image = nullptr;
    DataAccess *coded = nullptr;

private:
    Environment *env_;
};

}  // namespace orvo
