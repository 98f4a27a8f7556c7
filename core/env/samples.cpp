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
    const int32_t precision = storagePrecision(env, source);
    const int32_t destinationType = destination->get32(Attr::dataType);
    // A bitmap may be copied into 8-bit samples: set bits become 255.
    const bool widen = type == code::kBoolean && destinationType == code::kNonnegativeInteger &&
                       storagePrecision(env, destination) == 8;
    if (!widen && (destinationType != type || precision != storagePrecision(env, destination))) {
        return fail(env, kMismatchDataType);
    }
    const Attr dims[5] = {Attr::xDimension, Attr::yDimension, Attr::zDimension, Attr::tDimension, Attr::bDimension};
    const Attr points[5] = {Attr::xMatchPoint, Attr::yMatchPoint, Attr::zMatchPoint, Attr::tMatchPoint,
                            Attr::bMatchPoint};
    const bool aligned = envAttr(env, EnvAttr::matchPointState) == 1;
    int64_t s[5], d[5], n[5], from0[5], to0[5];
    for (int i = 0; i < 5; ++i) {
        s[i] = std::max<intptr_t>(source->get(dims[i]), 0);
        d[i] = std::max<intptr_t>(destination->get(dims[i]), 0);
    }
    // Lookup tables keep their planes in "bDimension" with one row each.
    if (source->cls == ObjectClass::LookupTable) {
        s[1] = d[1] = 1;
        s[2] = d[2] = s[3] = d[3] = 1;
    }
    // Source sample p lands on destination sample p + offset; only the
    // overlap is written.
    for (int i = 0; i < 5; ++i) {
        int64_t offset = 0;
        if (aligned && source->cls != ObjectClass::LookupTable) {
            offset = static_cast<int64_t>(destination->get(points[i])) - static_cast<int64_t>(source->get(points[i]));
        }
        from0[i] = std::max<int64_t>(0, -offset);
        to0[i] = from0[i] + offset;
        n[i] = std::max<int64_t>(0, std::min(s[i] - from0[i], d[i] - to0[i]));
    }
    for (int i = 0; i < 5; ++i)
        if (n[i] == 0) return kOk;
    DataAccess *in = nullptr, *out = nullptr;
    if (int code = openAccess(env, source, AccessMode::Read, 1, {}, &in)) return code;
    if (int code = openAccess(env, destination, AccessMode::Write, 1, {}, &out)) {
        closeAccess(env, in);
        return code;
    }
    std::vector<uint8_t> row;
    try {
        row.assign(widen ? static_cast<size_t>(n[0]) : rowLengthFor(n[0], precision) + 1, 0);
    } catch (const std::bad_alloc &) {
        closeAccess(env, in);
        closeAccess(env, out);
        return fail(env, kSystemError);
    }
    const uint64_t bits = static_cast<uint64_t>(n[0]) * static_cast<uint64_t>(precision);
    const int32_t sourceOrder = source->get32(Attr::bitOrder);
    int code = kOk;
    for (int64_t b = 0; code == kOk && b < n[4]; ++b) {
        for (int64_t t = 0; code == kOk && t < n[3]; ++t) {
            for (int64_t z = 0; code == kOk && z < n[2]; ++z) {
                for (int64_t y = 0; code == kOk && y < n[1]; ++y) {
                    // Whole rows are addressed from their first sample; the
                    // copy starts inside them.
                    const int64_t from =
                        ((((b + from0[4]) * s[3] + t + from0[3]) * s[2] + z + from0[2]) * s[1] + y + from0[1]) * s[0];
                    const int64_t to =
                        ((((b + to0[4]) * d[3] + t + to0[3]) * d[2] + z + to0[2]) * d[1] + y + to0[1]) * d[0];
                    const uint8_t *src;
                    if ((code = readRow(in, from, &src)) != kOk) break;
                    const uint64_t srcBit = static_cast<uint64_t>(from) * precision % 8 +
                                            static_cast<uint64_t>(from0[0]) * static_cast<uint64_t>(precision);
                    if (widen) {
                        for (int64_t x = 0; x < n[0]; ++x) {
                            const uint64_t bit = srcBit + static_cast<uint64_t>(x);
                            const unsigned shift =
                                sourceOrder == code::kLeastSignificantFirst ? bit % 8 : 7 - bit % 8;
                            row[static_cast<size_t>(x)] = ((src[bit / 8] >> shift) & 1u) != 0 ? 255 : 0;
                        }
                        uint8_t *dst;
                        if ((code = writeRow(out, to, &dst)) != kOk) break;
                        std::memcpy(dst + to0[0], row.data(), row.size());
                        continue;
                    }
                    std::memset(row.data(), 0, row.size());
                    copyBits(row.data(), 0, code::kMostSignificantFirst, src, srcBit, sourceOrder, bits);
                    uint8_t *dst;
                    if ((code = writeRow(out, to, &dst)) != kOk) break;
                    const uint64_t dstBit = static_cast<uint64_t>(to) * precision % 8 +
                                            static_cast<uint64_t>(to0[0]) * static_cast<uint64_t>(precision);
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
