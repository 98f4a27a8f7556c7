// Palettes of images: the "lut" LookupTable objects, three planes of
// entries (red, green, blue).
#include "core/env/palette.h"

#include <algorithm>
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

int readTable(Environment *env, DataObject *lut, PaletteData *palette) {
    palette->resize(0);
    if (int code = checkObject(env, lut)) return code;
    const intptr_t entries = lut->get(Attr::xDimension);
    const intptr_t planes = lut->get(Attr::bDimension);
    if (entries <= 0 || planes <= 0 || !lut->inited()) return kOk;
    if (entries > 65536 || storagePrecision(env, lut) != 8 || lut->get32(Attr::dataType) != code::kNonnegativeInteger) {
        return fail(env, kMismatchDataType);
    }
    const size_t n = static_cast<size_t>(entries);
    std::vector<uint8_t> bytes(n * static_cast<size_t>(std::min<intptr_t>(planes, 3)));
    DataAccess *in;
    if (int code = openAccess(env, lut, AccessMode::Read, 0, {}, &in)) return code;
    int code = readBytes(in, 0, bytes.data(), bytes.size());
    int closed = closeAccess(env, in);
    if (code != kOk || closed != kOk) return code != kOk ? code : closed;
    palette->resize(static_cast<int32_t>(entries));
    const uint8_t *r = bytes.data();
    const uint8_t *g = planes >= 3 ? r + n : r;
    const uint8_t *b = planes >= 3 ? r + 2 * n : r;
    std::copy(r, r + n, palette->red.begin());
    std::copy(g, g + n, palette->green.begin());
    std::copy(b, b + n, palette->blue.begin());
    return kOk;
}

int writeTable(Environment *env, DataObject *lut, const PaletteData &palette) {
    if (int code = checkObject(env, lut)) return code;
    const CmiAttribute list[] = {{"bitOrder", code::kMostSignificantFirst}, {"dataType", code::kNonnegativeInteger},
                                 {"dataPrecision", 8}, {"bDimension", 3}, {"xDimension", palette.entries}};
    if (int code = setAttributes(env, lut, list)) return code;
    const size_t n = static_cast<size_t>(palette.entries);
    std::vector<uint8_t> planes(n * 3);
    std::copy_n(palette.red.begin(), n, planes.begin());
    std::copy_n(palette.green.begin(), n, planes.begin() + static_cast<ptrdiff_t>(n));
    std::copy_n(palette.blue.begin(), n, planes.begin() + static_cast<ptrdiff_t>(2 * n));
    DataAccess *out;
    if (int code = openAccess(env, lut, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, planes.data(), planes.size());
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

int readPalette(Environment *env, const DataObject *image, PaletteData *palette) {
    palette->resize(0);
    if (int code = checkObject(env, image)) return code;
    DataObject *lut = image->lutObject();
    if (lut == nullptr || checkObject(env, lut) != kOk) return kOk;
    return readTable(env, lut, palette);
}

int writePalette(Environment *env, DataObject *image, const PaletteData &palette) {
    if (int code = checkObject(env, image)) return code;
    DataObject *lut = image->lutObject();
    if (lut == nullptr || checkObject(env, lut) != kOk) {
        lut = createObject(env, "oLUT", ObjectClass::LookupTable, nullptr);
        if (lut == nullptr) return lastError(env);
        image->put(Attr::lut, reinterpret_cast<intptr_t>(lut));
    }
    if (palette.entries <= 0) return clearPalette(env, image);
    return writeTable(env, lut, palette);
}

}  // namespace orvo
