// Repositories, row and window access, byte ranges and the bit stream.
#include "core/env/access.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/env/codes.h"
#include "orvo/globalmem.h"

namespace orvo {
namespace {

constexpr size_t kTransferSize = 512;

bool checkedEnd(uint64_t offset, uint64_t count, uint64_t *end) {
    return !__builtin_add_overflow(offset, count, end);
}

// Byte range [first, first + count) covering `element`'s row.
struct RowSpan {
    uint64_t first = 0;
    unsigned bitOffset = 0;
    size_t count = 0;
};

bool rowSpan(const DataAccess *a, int64_t element, RowSpan *span) {
    if (element < 0) return false;
    uint64_t bit;
    if (__builtin_mul_overflow(static_cast<uint64_t>(element), static_cast<uint64_t>(a->precision), &bit)) {
        return false;
    }
    uint64_t rowBits = static_cast<uint64_t>(a->elementsPerRow) * static_cast<uint64_t>(a->precision);
    span->first = bit / 8;
    span->bitOffset = static_cast<unsigned>(bit % 8);
    span->count = static_cast<size_t>((span->bitOffset + rowBits + 7) / 8);
    return true;
}

bool isMemory(const DataAccess *a) {
    return a->repository == code::kApplicationAddressSpace || a->repository == code::kWorkSpace;
}

int openWorkSpace(Environment *env, DataAccess *a) {
    DataObject *object = a->object;
    auto handle = reinterpret_cast<HGLOBAL>(object->get(Attr::workSpaceHandle));
    if (object->inited() && handle != nullptr && object->get(Attr::workSpace) != 0 &&
        GlobalSize(handle) >= a->dataBytes) {
        a->data = reinterpret_cast<uint8_t *>(object->get(Attr::workSpace));
        // Coded bytes may have grown the block past the data size.
        a->limit = GlobalSize(handle);
        return kOk;
    }
    if (handle != nullptr) {
        GlobalUnlock(handle);
        GlobalFree(handle);
        object->put(Attr::workSpace, 0);
        object->put(Attr::workSpaceHandle, 0);
    }
    // Coded data starts with room for its declared size, or for a little
    // expansion when that is unknown, so that it rarely has to grow.
    uint64_t capacity = a->dataBytes;
    if (a->growable) {
        const uint64_t declared = static_cast<uint64_t>(std::max<intptr_t>(object->get(Attr::size), 0));
        capacity = std::max(capacity + capacity / 32 + 65536, std::min(declared, 16 * capacity + (uint64_t{1} << 20)));
    }
    if (capacity > SIZE_MAX - 1) return fail(env, kSystemError);
    handle = GlobalAlloc(GHND, static_cast<SIZE_T>(std::max<uint64_t>(capacity, 1)));
    if (handle == nullptr) return fail(env, kSystemError);
    void *block = GlobalLock(handle);
    if (block == nullptr) {
        GlobalFree(handle);
        return fail(env, kSystemError);
    }
    object->put(Attr::workSpace, reinterpret_cast<intptr_t>(block));
    object->put(Attr::workSpaceHandle, reinterpret_cast<intptr_t>(handle));
    a->data = static_cast<uint8_t *>(block);
    a->limit = capacity;
    return kOk;
}

int openFileRepository(Environment *env, DataAccess *a, bool byteStream) {
    DataObject *object = a->object;
    if (a->mode == AccessMode::Read && !object->inited() && !byteStream) {
        return kOk;  // nothing stored yet: rows read as zeros, no file is touched
    }
    if (object->fileName() == nullptr) {
        std::string path;
        if (!platform::makeTemporaryFile("ipi", path)) return fail(env, kSystemError);
        try {
            object->fileNameStorage = path;
        } catch (const std::bad_alloc &) {
            platform::removeFile(path.c_str());
            return fail(env, kSystemError);
        }
        object->put(Attr::fileName, reinterpret_cast<intptr_t>(object->fileNameStorage.c_str()));
        object->flags |= kFlagTmpnam;
    }
    platform::FileMode mode = a->mode == AccessMode::Read ? platform::FileMode::Read
                              : object->inited()          ? platform::FileMode::ReadWriteExisting
                                                          : platform::FileMode::WriteCreate;
    if (!a->file.open(object->fileName(), mode)) return fail(env, kFileOpenFailure);
    a->fileOpened = true;
    int64_t size = a->file.size();
    a->limit = size < 0 ? 0 : static_cast<uint64_t>(size);
    return kOk;
}

// Reads stored bytes [first, first + count) into `out`; bytes past the end of
// a file read as zero (rows of files being written).
int fetchStored(DataAccess *a, uint64_t first, uint8_t *out, size_t count, bool zeroPastEnd) {
    uint64_t end;
    if (!checkedEnd(first, count, &end)) return fail(a->env, kInsufficientSize);
    if (isMemory(a)) {
        if (end > a->limit) {
            if (!zeroPastEnd) return fail(a->env, kInsufficientSize);
            std::memset(out, 0, count);
            if (first < a->limit) std::memcpy(out, a->data + first, static_cast<size_t>(a->limit - first));
            return kOk;
        }
        std::memcpy(out, a->data + first, count);
        return kOk;
    }
    if (!a->fileOpened) {
        std::memset(out, 0, count);
        return kOk;
    }
    int64_t got = a->file.readAt(first, out, count);
    if (got < 0) return fail(a->env, kSystemError);
    if (static_cast<size_t>(got) < count) {
        if (!zeroPastEnd) return fail(a->env, kInsufficientSize);
        std::memset(out + got, 0, count - static_cast<size_t>(got));
    }
    return kOk;
}

int flushPendingRow(DataAccess *a) {
    if (a->pendingElement < 0) return kOk;
    RowSpan span;
    rowSpan(a, a->pendingElement, &span);
    a->pendingElement = -1;
    if (!a->file.writeAt(span.first, a->rowBuffer.data(), span.count)) return fail(a->env, kSystemError);
    a->fileWritten = true;
    return kOk;
}

// Raw byte of the bit stream.
int nextStreamByte(DataAccess *a, uint8_t *byte) {
    if (isMemory(a)) {
        if (a->bitBytes >= a->limit) return fail(a->env, kInsufficientSize);
        *byte = a->data[a->bitBytes++];
        return kOk;
    }
    if (a->transferPos >= a->transferFill) {
        if (!a->fileOpened) return fail(a->env, kInsufficientSize);
        int64_t got = a->file.readAt(a->bitBytes, a->transfer.data(), kTransferSize);
        if (got < 0) return fail(a->env, kSystemError);
        if (got == 0) return fail(a->env, kInsufficientSize);
        a->transferFill = static_cast<size_t>(got);
        a->transferPos = 0;
    }
    *byte = a->transfer[a->transferPos++];
    ++a->bitBytes;
    return kOk;
}

// Makes room for `end` bytes in a growing work-space byte stream (coded
// data can be longer than the samples it codes); 8 for other repositories.
int growWorkSpace(DataAccess *a, uint64_t end) {
    // No coding expands its samples by more than this; a stream that does
    // is corrupt.
    const uint64_t ceiling = 16 * a->dataBytes + (uint64_t{1} << 20);
    if (!a->growable || end > ceiling) return fail(a->env, kInsufficientSize);
    DataObject *object = a->object;
    auto handle = reinterpret_cast<HGLOBAL>(object->get(Attr::workSpaceHandle));
    const uint64_t wanted = std::min(ceiling, std::max<uint64_t>(end, a->limit + a->limit / 2 + 4096));
    if (handle == nullptr || wanted > SIZE_MAX) return fail(a->env, kSystemError);
    GlobalUnlock(handle);
    HGLOBAL grown = GlobalReAlloc(handle, static_cast<SIZE_T>(wanted), GMEM_MOVEABLE | GMEM_ZEROINIT);
    auto *block = static_cast<uint8_t *>(GlobalLock(grown != nullptr ? grown : handle));
    if (block == nullptr) return fail(a->env, kSystemError);
    object->put(Attr::workSpace, reinterpret_cast<intptr_t>(block));
    a->data = block;
    if (grown == nullptr) return fail(a->env, kSystemError);
    object->put(Attr::workSpaceHandle, reinterpret_cast<intptr_t>(grown));
    a->limit = wanted;
    return kOk;
}

int emitStreamByte(DataAccess *a, uint8_t byte) {
    if (isMemory(a)) {
        if (a->bitBytes >= a->limit) {
            if (int code = growWorkSpace(a, a->bitBytes + 1)) return code;
        }
        a->data[a->bitBytes++] = byte;
        return kOk;
    }
    if (!a->fileOpened) return fail(a->env, kNonPermissibleOption);
    a->transfer[a->transferPos++] = byte;
    ++a->bitBytes;
    if (a->transferPos == kTransferSize) {
        if (!a->file.writeAt(a->bitBytes - kTransferSize, a->transfer.data(), kTransferSize)) {
            return fail(a->env, kSystemError);
        }
        a->transferPos = 0;
        a->fileWritten = true;
    }
    return kOk;
}

int emitCodedByte(DataAccess *a, uint8_t byte) {
    if (int code = emitStreamByte(a, byte)) return code;
    return byte == 0xFF ? emitStreamByte(a, 0x00) : kOk;
}

}  // namespace

size_t rowLengthFor(int64_t elements, int32_t precision) {
    uint64_t bits = static_cast<uint64_t>(elements) * static_cast<uint64_t>(precision);
    return static_cast<size_t>(bits % 8 == 0 ? bits / 8 : (bits + 14) / 8);
}

void copyBits(uint8_t *dst, uint64_t dstBit, int32_t dstOrder, const uint8_t *src, uint64_t srcBit,
              int32_t srcOrder, uint64_t count) {
    if (dstOrder == srcOrder && dstBit % 8 == 0 && srcBit % 8 == 0) {
        std::memcpy(dst + dstBit / 8, src + srcBit / 8, static_cast<size_t>(count / 8));
        uint64_t rest = count % 8;
        if (rest == 0) return;
        dstBit += count - rest;
        srcBit += count - rest;
        count = rest;
    }
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t s = srcBit + i, d = dstBit + i;
        unsigned sShift = srcOrder == code::kLeastSignificantFirst ? s % 8 : 7 - s % 8;
        unsigned dShift = dstOrder == code::kLeastSignificantFirst ? d % 8 : 7 - d % 8;
        uint8_t bit = (src[s / 8] >> sShift) & 1u;
        dst[d / 8] = static_cast<uint8_t>((dst[d / 8] & ~(1u << dShift)) | (bit << dShift));
    }
}

int openAccess(Environment *env, DataObject *object, AccessMode mode, int rows,
               std::span<const CmiAttribute> list, DataAccess **access) {
    *access = nullptr;
    if (int code = checkObject(env, object)) return code;
    auto *a = new (std::nothrow) DataAccess;
    if (a == nullptr) return fail(env, kSystemError);
    a->env = env;
    a->object = object;
    a->mode = mode;
    a->repository = object->get32(Attr::repository);
    a->bitOrder = object->get32(Attr::bitOrder);
    a->byteOrder = object->get32(Attr::byteOrder);
    a->precision = storagePrecision(env, object);
    a->dataType = object->get32(Attr::dataType);
    a->initedAtOpen = object->inited();
    a->rows = std::max(rows, 1);
    a->elementsPerRow = object->get(Attr::xDimension);
    for (const CmiAttribute &pair : list) {
        if (pair.name == nullptr || pair.value == 0) continue;
        if (std::strcmp(pair.name, "matchPointState") == 0) {
            a->honourMatchPoints = envAttr(env, EnvAttr::matchPointState) != 0;
        } else if (std::strcmp(pair.name, "roiState") == 0) {
            a->honourRoi = envAttr(env, EnvAttr::roiState) != 0;
        }
    }
    if (a->honourMatchPoints) {
        const Attr points[5] = {Attr::xMatchPoint, Attr::yMatchPoint, Attr::zMatchPoint, Attr::tMatchPoint,
                                Attr::bMatchPoint};
        for (int i = 0; i < 5; ++i) a->matchPoint[i] = object->get(points[i]);
    }
    auto failOpen = [&](int code) {
        closeAccess(env, a);
        return code;
    };
    if (a->precision <= 0 || a->precision > 64 || a->elementsPerRow < 0 || !dataSize(env, object, &a->dataBytes)) {
        return failOpen(fail(env, kOutOfRange));
    }
    a->rowBytes = rowLengthFor(a->elementsPerRow, a->precision);
    bool byteStream = rows <= 0;
    // Coded data being written into work space (objects that carry a
    // compression method) may come out longer than its samples.
    a->growable = byteStream && mode == AccessMode::Write && a->repository == code::kWorkSpace &&
                  object->get32(Attr::compression) != code::kNoCompression;
    int code = kOk;
    switch (a->repository) {
    case code::kApplicationAddressSpace:
        a->data = reinterpret_cast<uint8_t *>(object->get(Attr::applicationAddressSpace));
        if (a->data == nullptr) return failOpen(fail(env, kNonPermissibleOption));
        a->limit = object->get(Attr::size) > 0 ? static_cast<uint64_t>(object->get(Attr::size)) : a->dataBytes;
        break;
    case code::kWorkSpace: code = openWorkSpace(env, a); break;
    case code::kFile: code = openFileRepository(env, a, byteStream); break;
    default: code = fail(env, kNonPermissibleOption); break;
    }
    if (code != kOk) return failOpen(code);
    try {
        if (!byteStream) {
            a->window.assign(static_cast<size_t>(a->rows) * (a->rowBytes + 1), 0);
            if (a->repository == code::kFile) a->rowBuffer.assign(a->rowBytes + 1, 0);
        }
        if (a->repository == code::kFile) a->transfer.assign(kTransferSize, 0);
    } catch (const std::bad_alloc &) {
        return failOpen(fail(env, kSystemError));
    }
    if (a->honourRoi && object->get(Attr::roi) != 0) {
        auto *roiObject = reinterpret_cast<DataObject *>(object->get(Attr::roi));
        if (int roiCode = openAccess(env, roiObject, AccessMode::Read, 1, {}, &a->roi)) return failOpen(roiCode);
    }
    *access = a;
    return kOk;
}

int closeAccess(Environment *env, DataAccess *a) {
    if (a == nullptr) return kOk;
    int result = kOk;
    auto keep = [&result](int code) {
        if (code != kOk && result == kOk) result = code;
    };
    if (a->roi != nullptr) keep(closeAccess(env, a->roi));
    if (a->mode == AccessMode::Write) {
        if (a->repository == code::kFile && a->fileOpened) {
            keep(flushPendingRow(a));
            if (a->bitsUsed) {
                if (a->bitMask != 128) {
                    keep(emitStreamByte(a, a->bitByte));
                    a->bitMask = 128;
                }
                if (a->transferPos > 0) {
                    if (!a->file.writeAt(a->bitBytes - a->transferPos, a->transfer.data(), a->transferPos)) {
                        keep(fail(env, kSystemError));
                    }
                    a->transferPos = 0;
                }
                a->object->put(Attr::size, static_cast<intptr_t>(a->bitBytes));
            } else if (!a->initedAtOpen && !a->window.empty()) {
                int64_t size = a->file.size();
                if (size >= 0 && static_cast<uint64_t>(size) < a->dataBytes) {
                    // Rows never written read back as zeros.
                    if (!a->file.resize(a->dataBytes)) keep(fail(env, kSystemError));
                }
            }
        } else if (isMemory(a) && a->bitsUsed) {
            if (a->bitMask != 128) keep(emitStreamByte(a, a->bitByte));
            a->object->put(Attr::size, static_cast<intptr_t>(a->bitBytes));
        }
    }
    bool marksInited = a->repository != code::kFile || a->fileOpened;
    if (a->fileOpened && !a->file.close()) keep(fail(env, kSystemError));
    if (marksInited && checkObject(env, a->object) == kOk &&
        (a->mode == AccessMode::Write || a->initedAtOpen)) {
        markInited(a->object, true);
    }
    delete a;
    return result;
}

int readRow(DataAccess *a, int64_t element, const uint8_t **row) {
    RowSpan span;
    if (!rowSpan(a, element, &span)) return fail(a->env, kOutOfRange);
    if (a->window.empty()) return fail(a->env, kNonPermissibleOption);
    if (isMemory(a) && a->initedAtOpen) {
        uint64_t end;
        if (!checkedEnd(span.first, span.count, &end) || end > a->limit) return fail(a->env, kInsufficientSize);
        *row = a->data + span.first;
        return kOk;
    }
    if (!a->initedAtOpen && !a->object->inited()) {
        std::memset(a->window.data(), 0, span.count);
    } else if (int code = fetchStored(a, span.first, a->window.data(), span.count, true)) {
        return code;
    }
    a->windowElement = -1;
    *row = a->window.data();
    return kOk;
}

int writeRow(DataAccess *a, int64_t element, uint8_t **row) {
    RowSpan span;
    if (!rowSpan(a, element, &span)) return fail(a->env, kOutOfRange);
    if (a->mode != AccessMode::Write || a->window.empty()) return fail(a->env, kNonPermissibleOption);
    if (isMemory(a)) {
        uint64_t end;
        if (!checkedEnd(span.first, span.count, &end) || end > a->limit) return fail(a->env, kInsufficientSize);
        *row = a->data + span.first;
        return kOk;
    }
    if (int code = flushPendingRow(a)) return code;
    std::memset(a->rowBuffer.data(), 0, span.count);
    bool sharesBytes = span.bitOffset != 0 ||
                       (static_cast<uint64_t>(a->elementsPerRow) * static_cast<uint64_t>(a->precision)) % 8 != 0;
    // Rows of an object that already holds samples may be written in part
    // (a rectangle pasted into it), so they start from what is stored.
    if (a->initedAtOpen || (sharesBytes && a->fileWritten)) {
        if (int code = fetchStored(a, span.first, a->rowBuffer.data(), span.count, true)) return code;
    }
    a->pendingElement = element;
    *row = a->rowBuffer.data();
    return kOk;
}

int readWindow(DataAccess *a, int64_t element, const uint8_t **centre) {
    RowSpan span;
    if (!rowSpan(a, element, &span)) return fail(a->env, kOutOfRange);
    if (a->window.empty()) return fail(a->env, kNonPermissibleOption);
    const size_t stride = a->rowBytes + 1;
    const int half = a->rows / 2;
    const int64_t perRow = a->elementsPerRow;
    uint64_t total = 0;
    elementCount(a->object, &total);
    auto load = [&](int slot, int64_t rowElement) -> int {
        uint8_t *dst = a->window.data() + static_cast<size_t>(slot) * stride;
        std::memset(dst, 0, stride);
        if (rowElement < 0 || static_cast<uint64_t>(rowElement) >= total) return kOk;
        if (!a->initedAtOpen && !a->object->inited()) return kOk;
        RowSpan s;
        rowSpan(a, rowElement, &s);
        return fetchStored(a, s.first, dst, s.count, true);
    };
    if (a->windowElement >= 0 && element == a->windowElement + perRow && a->rows > 1) {
        std::memmove(a->window.data(), a->window.data() + stride, stride * static_cast<size_t>(a->rows - 1));
        if (int code = load(a->rows - 1, element + static_cast<int64_t>(half) * perRow)) return code;
    } else if (a->windowElement != element) {
        for (int slot = 0; slot < a->rows; ++slot) {
            if (int code = load(slot, element + static_cast<int64_t>(slot - half) * perRow)) return code;
        }
    }
    a->windowElement = element;
    *centre = a->window.data() + static_cast<size_t>(half) * stride;
    return kOk;
}

int readBytes(DataAccess *a, uint64_t offset, void *buffer, size_t count) {
    if (count == 0) return kOk;
    return fetchStored(a, offset, static_cast<uint8_t *>(buffer), count, false);
}

int writeBytes(DataAccess *a, uint64_t offset, const void *buffer, size_t count) {
    if (a->mode != AccessMode::Write) return fail(a->env, kNonPermissibleOption);
    if (count == 0) return kOk;
    uint64_t end;
    if (!checkedEnd(offset, count, &end)) return fail(a->env, kInsufficientSize);
    if (isMemory(a)) {
        if (end > a->limit) {
            if (int code = growWorkSpace(a, end)) return code;
        }
        std::memcpy(a->data + offset, buffer, count);
        return kOk;
    }
    if (!a->fileOpened) return fail(a->env, kNonPermissibleOption);
    if (!a->file.writeAt(offset, buffer, count)) return fail(a->env, kSystemError);
    a->fileWritten = true;
    return kOk;
}

namespace {

// Reads (or, for a write, updates) the bytes holding one sample.
int sampleBytes(DataAccess *a, int64_t element, uint64_t *first, unsigned *bitOffset, size_t *count) {
    if (element < 0 || a->precision > 32) return fail(a->env, kOutOfRange);
    uint64_t bit;
    if (__builtin_mul_overflow(static_cast<uint64_t>(element), static_cast<uint64_t>(a->precision), &bit)) {
        return fail(a->env, kOutOfRange);
    }
    *first = bit / 8;
    *bitOffset = static_cast<unsigned>(bit % 8);
    *count = (*bitOffset + static_cast<unsigned>(a->precision) + 7) / 8;
    return kOk;
}

uint32_t assemble(const DataAccess *a, const uint8_t *bytes, unsigned bitOffset) {
    if (a->precision % 8 == 0 && bitOffset == 0) {
        uint32_t v = 0;
        int n = a->precision / 8;
        for (int i = 0; i < n; ++i) {
            int index = a->byteOrder == code::kLeastSignificantFirst ? n - 1 - i : i;
            v = (v << 8) | bytes[index];
        }
        return v;
    }
    uint32_t v = 0;
    for (int i = 0; i < a->precision; ++i) {
        unsigned b = bitOffset + static_cast<unsigned>(i);
        unsigned shift = a->bitOrder == code::kLeastSignificantFirst ? b % 8 : 7 - b % 8;
        v = (v << 1) | ((bytes[b / 8] >> shift) & 1u);
    }
    return v;
}

void scatter(const DataAccess *a, uint8_t *bytes, unsigned bitOffset, uint32_t value) {
    if (a->precision % 8 == 0 && bitOffset == 0) {
        int n = a->precision / 8;
        for (int i = 0; i < n; ++i) {
            int index = a->byteOrder == code::kLeastSignificantFirst ? i : n - 1 - i;
            bytes[index] = static_cast<uint8_t>(value >> (8 * i));
        }
        return;
    }
    for (int i = 0; i < a->precision; ++i) {
        unsigned b = bitOffset + static_cast<unsigned>(i);
        unsigned shift = a->bitOrder == code::kLeastSignificantFirst ? b % 8 : 7 - b % 8;
        uint8_t bit = (value >> (a->precision - 1 - i)) & 1u;
        bytes[b / 8] = static_cast<uint8_t>((bytes[b / 8] & ~(1u << shift)) | (bit << shift));
    }
}

}  // namespace

int readElement(DataAccess *a, int64_t element, uint32_t *value) {
    uint64_t first;
    unsigned bitOffset;
    size_t count;
    if (int code = sampleBytes(a, element, &first, &bitOffset, &count)) return code;
    uint8_t bytes[8] = {};
    if (a->initedAtOpen || a->object->inited()) {
        if (int code = fetchStored(a, first, bytes, count, !isMemory(a))) return code;
    }
    *value = assemble(a, bytes, bitOffset);
    return kOk;
}

int writeElement(DataAccess *a, int64_t element, uint32_t value) {
    uint64_t first;
    unsigned bitOffset;
    size_t count;
    if (int code = sampleBytes(a, element, &first, &bitOffset, &count)) return code;
    if (a->mode != AccessMode::Write) return fail(a->env, kNonPermissibleOption);
    uint8_t bytes[8] = {};
    if (int code = fetchStored(a, first, bytes, count, !isMemory(a))) return code;
    scatter(a, bytes, bitOffset, value);
    return writeBytes(a, first, bytes, count);
}

int readBits(DataAccess *a, int count, uint32_t *value) {
    if (count < 0 || count > 32) return fail(a->env, kOutOfRange);
    if (!a->bitsUsed) {
        a->bitsUsed = true;
        a->bitMask = 0;  // no byte loaded yet
    }
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
        if (a->bitMask == 0) {
            uint8_t byte;
            if (int code = nextStreamByte(a, &byte)) return code;
            if (byte == 0xFF) {
                uint8_t stuffed;
                if (int code = nextStreamByte(a, &stuffed)) return code;
                if (stuffed != 0x00) return fail(a->env, kSemanticError);
            }
            a->bitByte = byte;
            a->bitMask = 128;
        }
        v = (v << 1) | ((a->bitByte & a->bitMask) ? 1u : 0u);
        a->bitMask >>= 1;
    }
    *value = v;
    return kOk;
}

int writeBits(DataAccess *a, uint32_t value, int count) {
    if (count < 0 || count > 32) return fail(a->env, kOutOfRange);
    if (a->mode != AccessMode::Write) return fail(a->env, kNonPermissibleOption);
    a->bitsUsed = true;
    for (int i = count - 1; i >= 0; --i) {
        if ((value >> i) & 1u) a->bitByte |= a->bitMask;
        a->bitMask >>= 1;
        if (a->bitMask == 0) {
            if (int code = emitCodedByte(a, a->bitByte)) return code;
            a->bitByte = 0;
            a->bitMask = 128;
        }
    }
    return kOk;
}

int flushBits(DataAccess *a) {
    if (a->mode != AccessMode::Write) return fail(a->env, kNonPermissibleOption);
    if (!a->bitsUsed || a->bitMask == 128) return kOk;
    while (a->bitMask != 0) {
        a->bitByte |= a->bitMask;
        a->bitMask >>= 1;
    }
    int code = emitCodedByte(a, a->bitByte);
    a->bitByte = 0;
    a->bitMask = 128;
    return code;
}

int readElementWord(Environment *env, DataObject *object, int64_t index, uint32_t *word) {
    DataAccess *a;
    if (int code = openAccess(env, object, AccessMode::Read, 1, {}, &a)) return code;
    int code = readElement(a, index, word);
    int closed = closeAccess(env, a);
    return code != kOk ? code : closed;
}

int writeElementWord(Environment *env, DataObject *object, int64_t index, uint32_t word) {
    DataAccess *a;
    if (int code = openAccess(env, object, AccessMode::Write, 1, {}, &a)) return code;
    int code = writeElement(a, index, word);
    int closed = closeAccess(env, a);
    return code != kOk ? code : closed;
}

}  // namespace orvo
