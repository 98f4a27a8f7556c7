// Dispatch of the compression stage: one table row per method.  A method
// listed without functions is known (its files can be inquired) but cannot
// be coded here, and is refused with 12.
#include "core/codecs/compression.h"

#include "core/codecs/runlength.h"
#include "core/env/codes.h"

namespace orvo {
namespace {

using Codec = int (*)(Environment *, DataObject *, DataObject *);

struct Method {
    int32_t code;
    Codec encode;
    Codec decode;
    uint64_t maxExpansion;  // samples bytes per coded byte, at most
};

constexpr Method kMethods[] = {
    {code::kFaxT4OneD, nullptr, nullptr, 1u << 14},
    {code::kFaxT4TwoD, nullptr, nullptr, 1u << 14},
    {code::kFaxT6, nullptr, nullptr, 1u << 14},
    {code::kFaxModifiedHuffman, nullptr, nullptr, 1u << 14},
    {code::kJPEG, nullptr, nullptr, 1u << 12},
    {code::kLZW, nullptr, nullptr, 1u << 10},
    {code::kPackBits, encodePackBits, decodePackBits, 128},
    {code::kKOL1RunCode, nullptr, nullptr, 1u << 14},
    // Run-length bitmaps can skip whole rows with one code; allow generous
    // expansion but not unbounded.
    {code::kBmpRunLength, encodeBmpRle, decodeBmpRle, 1u << 12},
    {code::kPcxRunLength, encodePcxRle, decodePcxRle, 63},
    {code::kDeflate, nullptr, nullptr, 1u << 11},
};

const Method *findMethod(int32_t method) {
    for (const Method &m : kMethods) {
        if (m.code == method) return &m;
    }
    return nullptr;
}

}  // namespace

int compressImage(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    if (source->get32(Attr::compression) != code::kNoCompression) return fail(env, kNonPermissibleOption);
    const Method *method = findMethod(destination->get32(Attr::compression));
    if (method == nullptr || method->encode == nullptr) return fail(env, kNonPermissibleOption);
    return method->encode(env, source, destination);
}

int decompressImage(Environment *env, DataObject *source, DataObject *destination) {
    if (int code = checkObject(env, source)) return code;
    if (int code = checkObject(env, destination)) return code;
    if (destination->get32(Attr::compression) != code::kNoCompression) return fail(env, kNonPermissibleOption);
    const Method *method = findMethod(source->get32(Attr::compression));
    if (method == nullptr || method->decode == nullptr) return fail(env, kNonPermissibleOption);
    return method->decode(env, source, destination);
}

bool plausibleExpansion(int32_t method, uint64_t compressedBytes, uint64_t uncompressedBytes) {
    const Method *m = findMethod(method);
    uint64_t ratio = m != nullptr ? m->maxExpansion : 1;
    constexpr uint64_t kSlack = 1u << 20;  // small images are always allowed
    uint64_t allowed;
    if (__builtin_mul_overflow(compressedBytes, ratio, &allowed)) return true;
    return uncompressedBytes <= allowed + kSlack;
}

}  // namespace orvo
