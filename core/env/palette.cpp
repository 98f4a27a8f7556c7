// Palettes of images: the "lut" LookupTable objects, three planes of
// entries (red, green, blue).
#include "core/env/palette.h"

#include <vector>

#include "core/env/access.h"
#include "core/env/codes.h"

namespace orvo {

int setGreyPalette(Environment *env, DataObject *image, bool whiteFirst) {
    if (int code = checkObject(env, image)) return code;
    DataObject *lut = image->lutObject();
    if (lut == nullptr) return kOk;
    const int32_t precision = image->get32(Attr::dataPrecision);
    const int32_t entries = precision == 1 ? 2 : precision == 4 ? 16 : 256;
    const CmiAttribute list[] = {{"bitOrder", code::kMostSignificantFirst}, {"dataType", code::kNonnegativeInteger},
                                 {"bDimension", 3}, {"xDimension", entries}};
    if (int code = setAttributes(env, lut, list)) return code;
    std::vector<uint8_t> planes(static_cast<size_t>(entries) * 3);
    for (int32_t i = 0; i < entries; ++i) {
        const int32_t level = i * 255 / (entries - 1);
        const uint8_t value = static_cast<uint8_t>(whiteFirst ? 255 - level : level);
        for (int p = 0; p < 3; ++p) planes[static_cast<size_t>(p * entries + i)] = value;
    }
    DataAccess *out;
    if (int code = openAccess(env, lut, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, planes.data(), planes.size());
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

int clearPalette(Environment *env, DataObject *image) {
    if (int code = checkObject(env, image)) return code;
    DataObject *lut = image->lutObject();
    if (lut == nullptr) return kOk;
    const CmiAttribute list[] = {{"xDimension", 0}, {"bDimension", 0}};
    return setAttributes(env, lut, list);
}

}  // namespace orvo
