// Drives the run-length decoders (PackBits, BMP RLE8/RLE4, PCX) with
// arbitrary coded bytes, and the encoders with what the decoders made.  The first four bytes choose the method, the sample
// kind and a small image size; the rest is the coded stream.
#include <cstddef>
#include <cstdint>

#include "core/codecs/compression.h"
#include "core/env/access.h"
#include "core/env/codes.h"

using namespace orvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    static constexpr int32_t kMethods[] = {code::kPackBits, code::kBmpRunLength, code::kPcxRunLength};
    const int32_t method = kMethods[data[0] % 3];
    const int kind = data[1] % 4;  // bits, bytes, nibbles, three bands of bytes
    const int32_t width = 1 + data[2] % 97, height = 1 + data[3] % 61;
    const int32_t type = kind == 0 ? code::kBoolean : code::kNonnegativeInteger;
    const int32_t precision = kind == 0 ? 1 : kind == 2 ? 4 : 8;
    const int32_t bands = kind == 3 ? 3 : 1;
    const uint8_t *stream = data + 4;
    const size_t length = size - 4;

    Environment *env = openEnvironment();
    if (env == nullptr) return 0;
    const CmiAttribute imageList[] = {{"xDimension", width}, {"yDimension", height}, {"bDimension", bands},
                                      {"dataType", type},    {"dataPrecision", precision},
                                      {"repository", code::kWorkSpace},
                                      {"pixelInterpretation", (data[1] & 4) ? code::kDibRowOrder : code::kMinIsWhite}};
    DataObject *image = createObject(env, nullptr, ObjectClass::GenericImage, nullptr, imageList);
    const CmiAttribute codedList[] = {{"compression", method}, {"size", static_cast<intptr_t>(length)},
                                      {"repository", code::kApplicationAddressSpace},
                                      {"applicationAddressSpace", reinterpret_cast<intptr_t>(length ? stream : data)},
                                      {"inited", 1}};
    DataObject *coded = image != nullptr ? createObject(env, nullptr, ObjectClass::GenericImage, image, codedList)
                                         : nullptr;
    if (coded != nullptr && decompressImage(env, coded, image) == kOk) {
        // Touch every sample that came out.
        uint64_t bytes = 0;
        if (dataSize(env, image, &bytes)) {
            volatile uint8_t sum = 0;
            const auto *samples = reinterpret_cast<const uint8_t *>(image->get(Attr::workSpace));
            for (uint64_t i = 0; samples != nullptr && i < bytes; ++i) sum = static_cast<uint8_t>(sum + samples[i]);
        }
        // Code what came out again: the encoders see arbitrary samples too.
        const CmiAttribute againList[] = {{"compression", method}, {"repository", code::kFile}};
        DataObject *again = createObject(env, nullptr, ObjectClass::GenericImage, image, againList);
        if (again != nullptr) compressImage(env, image, again);
    }
    closeEnvironment(env);
    return 0;
}
