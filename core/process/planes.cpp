// Whole-plane access for the operators.
#include "core/process/planes.h"

#include <cstring>
#include <new>

#include "core/env/access.h"
#include "core/env/codes.h"

namespace orvo {

void unpackBitRow(const uint8_t *src, uint64_t bit, bool msbFirst, uint8_t *dst, int64_t count) {
    src += bit / 8;
    unsigned shift = static_cast<unsigned>(bit % 8);
    int64_t i = 0;
    if (shift == 0 && msbFirst) {
        for (; i + 8 <= count; i += 8) {
            const unsigned byte = src[i / 8];
            for (int k = 0; k < 8; ++k) dst[i + k] = static_cast<uint8_t>((byte >> (7 - k)) & 1u);
        }
    }
    for (; i < count; ++i) {
        const uint64_t b = shift + static_cast<uint64_t>(i);
        const unsigned s = msbFirst ? 7 - b % 8 : b % 8;
        dst[i] = static_cast<uint8_t>((src[b / 8] >> s) & 1u);
    }
}

void packBitRow(const uint8_t *src, int64_t count, uint8_t *dst, uint64_t bit, bool msbFirst) {
    dst += bit / 8;
    unsigned shift = static_cast<unsigned>(bit % 8);
    int64_t i = 0;
    if (shift == 0 && msbFirst) {
        for (; i + 8 <= count; i += 8) {
            unsigned byte = 0;
            for (int k = 0; k < 8; ++k) byte = (byte << 1) | (src[i + k] != 0 ? 1u : 0u);
            dst[i / 8] = static_cast<uint8_t>(byte);
        }
    }
    for (; i < count; ++i) {
        const uint64_t b = shift + static_cast<uint64_t>(i);
        const unsigned s = msbFirst ? 7 - b % 8 : b % 8;
        const uint8_t mask = static_cast<uint8_t>(1u << s);
        dst[b / 8] = static_cast<uint8_t>(src[i] != 0 ? (dst[b / 8] | mask) : (dst[b / 8] & ~mask));
    }
}

Planes::~Planes() {
    if (access_ != nullptr) {
        write_ = false;  // a planes object given up without close() stores nothing
        closeAccess(env_, access_);
    }
}

int Planes::open(Environment *env, DataObject *image, bool write) {
    env_ = env;
    image_ = image;
    write_ = write;
    if (int code = checkObject(env, image)) return code;
    const int32_t type = image->get32(Attr::dataType);
    const int32_t precision = storagePrecision(env, image);
    boolean_ = type == code::kBoolean;
    if (!boolean_ && !(type == code::kNonnegativeInteger && precision == 8)) return fail(env, kMismatchDataType);
    width_ = image->get(Attr::xDimension);
    int64_t depth = image->get(Attr::zDimension) * image->get(Attr::tDimension);
    height_ = image->get(Attr::yDimension) * (depth > 0 ? depth : 1);
    bands_ = image->get(Attr::bDimension);
    if (width_ <= 0 || height_ <= 0 || bands_ <= 0) return fail(env, kOutOfRange);
    if (width_ > (int64_t{1} << 31) || height_ > (int64_t{1} << 31) || bands_ > 4 ||
        width_ * height_ > (int64_t{1} << 40) / bands_) {
        return fail(env, kExceedImplementation);
    }
    if (int code = openAccess(env, image, write ? AccessMode::Write : AccessMode::Read, 1, {}, &access_)) {
        return code;
    }
    const int32_t repository = access_->repository;
    const bool memory = repository == code::kApplicationAddressSpace || repository == code::kWorkSpace;
    const uint64_t total = static_cast<uint64_t>(planeBytes()) * static_cast<uint64_t>(bands_);
    if (memory && !boolean_) {
        if (access_->limit < total) return fail(env, kInsufficientSize);
        base_ = access_->data;
        buffered_ = false;
        return kOk;
    }
    buffered_ = true;
    try {
        buffer_.assign(total, 0);
    } catch (const std::bad_alloc &) {
        return fail(env, kSystemError);
    }
    base_ = buffer_.data();
    if (!image->inited() && !(memory && access_->initedAtOpen)) return kOk;
    // Fill the buffer from the stored samples (also for writes: untouched
    // pixels keep them).
    DataAccess *reader = access_;
    DataAccess *own = nullptr;
    if (write) {
        if (int code = openAccess(env, image, AccessMode::Read, 1, {}, &own)) return code;
        reader = own;
    }
    const bool msbFirst = image->get32(Attr::bitOrder) != code::kLeastSignificantFirst;
    int code = kOk;
    for (int64_t b = 0; code == kOk && b < bands_; ++b) {
        for (int64_t y = 0; y < height_; ++y) {
            const int64_t element = (b * height_ + y) * width_;
            const uint8_t *src;
            if ((code = readRow(reader, element, &src)) != kOk) break;
            if (boolean_) unpackBitRow(src, static_cast<uint64_t>(element) % 8, msbFirst, row(b, y), width_);
            else std::memcpy(row(b, y), src, static_cast<size_t>(width_));
        }
    }
    if (own != nullptr) {
        int closed = closeAccess(env, own);
        if (code == kOk) code = closed;
    }
    return code;
}

int Planes::close() {
    if (access_ == nullptr) return kOk;
    int code = kOk;
    if (write_ && buffered_) {
        const bool msbFirst = image_->get32(Attr::bitOrder) != code::kLeastSignificantFirst;
        for (int64_t b = 0; code == kOk && b < bands_; ++b) {
            for (int64_t y = 0; y < height_; ++y) {
                const int64_t element = (b * height_ + y) * width_;
                uint8_t *dst;
                if ((code = writeRow(access_, element, &dst)) != kOk) break;
                if (boolean_) packBitRow(row(b, y), width_, dst, static_cast<uint64_t>(element) % 8, msbFirst);
                else std::memcpy(dst, row(b, y), static_cast<size_t>(width_));
            }
        }
    }
    int closed = closeAccess(env_, access_);
    access_ = nullptr;
    return code != kOk ? code : closed;
}

}  // namespace orvo
