// Sample copies through the access layer.
#include "core/env/samples.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"

namespace orvo {
namespace {

int copyRows(Environment *env, DataObject *source, DataObject *destination) {
    const int32_t type = source->get32(Attr::dataType);
    if (type != code::kBoolean && type != code::kNonnegativeInteger && type != code::kWord32) {
        return fail(env, kMismatchDataType);
    }
    if (destination->get32(Attr::dataType) != type ||
        storagePrecision(env, source) != storagePrecision(env, destination)) {
        return fail(env, kMismatchDataType);
    }
    const Attr dims[5] = {Attr::xDimension, Attr::yDimension, Attr::zDimension, Attr::tDimension, Attr::bDimension};
    int64_t s[5], d[5], n[5];
    for (int i = 0; i < 5; ++i) {
        s[i] = std::max<intptr_t>(source->get(dims[i]), 0);
        d[i] = std::max<intptr_t>(destination->get(dims[i]), 0);
        n[i] = std::min(s[i], d[i]);
    }
    // Lookup tables keep their planes in "bDimension" with one row each.
    if (source->cls == ObjectClass::LookupTable) {
        s[1] = d[1] = n[1] = 1;
        s[2] = d[2] = n[2] = s[3] = d[3] = n[3] = 1;
    }
    const int32_t precision = storagePrecision(env, source);
    DataAccess *in = nullptr, *out = nullptr;
    if (int code = openAccess(env, source, AccessMode::Read, 1, {}, &in)) return code;
    if (int code = openAccess(env, destination, AccessMode::Write, 1, {}, &out)) {
        closeAccess(env, in);
        return code;
    }
    std::vector<uint8_t> row(rowLengthFor(n[0], precision) + 1);
    int code = kOk;
    for (int64_t b = 0; code == kOk && b < n[4]; ++b) {
        for (int64_t t = 0; code == kOk && t < n[3]; ++t) {
            for (int64_t z = 0; code == kOk && z < n[2]; ++z) {
                for (int64_t y = 0; code == kOk && y < n[1]; ++y) {
                    const int64_t from = (((b * s[3] + t) * s[2] + z) * s[1] + y) * s[0];
                    const int64_t to = (((b * d[3] + t) * d[2] + z) * d[1] + y) * d[0];
                    const uint8_t *src;
                    if ((code = readRow(in, from, &src)) != kOk) break;
                    const uint64_t bits = static_cast<uint64_t>(n[0]) * static_cast<uint64_t>(precision);
                    const uint64_t srcBit = static_cast<uint64_t>(from) * precision % 8;
                    std::memset(row.data(), 0, row.size());
                    copyBits(row.data(), 0, code::kMostSignificantFirst, src, srcBit, source->get32(Attr::bitOrder),
                             bits);
                    uint8_t *dst;
                    if ((code = writeRow(out, to, &dst)) != kOk) break;
                    const uint64_t dstBit = static_cast<uint64_t>(to) * precision % 8;
                    copyBits(dst, dstBit, destination->get32(Attr::bitOrder), row.data(), 0, code::kMostSignificantFirst,
                             bits);
                }
            }
        }
    }
    int closedIn = closeAccess(env, in);
    int closedOut = closeAccess(env, out);
    if (code != kOk) return code;
    return closedIn != kOk ? closedIn : closedOut;
}

}  // namespace

int copySamples(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    return copyRows(env, source, destination);
}

namespace {

// Copies between `object` and a view of `buffer` laid out as `object` with
// `list` applied: into the buffer, or out of it when `intoObject`.
int copyWithBuffer(Environment *env, DataObject *object, const void *buffer, std::span<const CmiAttribute> list,
                   bool intoObject) {
    if (int code = checkObject(env, object)) return code;
    if (buffer == nullptr) return fail(env, kNonPermissibleOption);
    DataObject *view = createObject(env, nullptr, object->cls, object, list);
    if (view == nullptr) return lastError(env);
    const CmiAttribute where[] = {
        {"repository", code::kApplicationAddressSpace},
        {"applicationAddressSpace", reinterpret_cast<intptr_t>(buffer)},
        {"size", 0},
        {"inited", intoObject ? 1 : 0},  // a buffer read from holds valid samples
    };
    int code = setAttributes(env, view, where);
    if (code == kOk) code = intoObject ? copySamples(env, view, object) : copySamples(env, object, view);
    int destroyed = destroyObject(env, view);
    return code != kOk ? code : destroyed;
}

}  // namespace

int exportSamples(Environment *env, DataObject *object, void *buffer, std::span<const CmiAttribute> list) {
    return copyWithBuffer(env, object, buffer, list, false);
}

int importSamples(Environment *env, const void *buffer, DataObject *object, std::span<const CmiAttribute> list) {
    return copyWithBuffer(env, object, buffer, list, true);
}

}  // namespace orvo
