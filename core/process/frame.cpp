// The frame of the processing exports and its shared pieces.
#include "core/process/frame.h"

#include <algorithm>
#include <cstring>

#include "core/env/codes.h"
#include "core/env/palette.h"
#include "core/env/samples.h"
#include "core/formats/bmp.h"

namespace orvo {
namespace {

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

const CmiAttribute *lastOption(const CmiAttribute *list, int32_t count, const char *name) {
    const CmiAttribute *found = nullptr;
    for (int32_t i = 0; list != nullptr && i < count; ++i) {
        if (list[i].name != nullptr && std::strcmp(list[i].name, name) == 0) found = &list[i];
    }
    return found;
}

// Copies `source` into `destination` with the two match points given,
// restoring the environment's "matchPointState" and the points afterwards.
int alignedCopy(Environment *env, DataObject *source, int64_t sx, int64_t sy, DataObject *destination, int64_t dx,
                int64_t dy) {
    const int32_t state = envAttr(env, EnvAttr::matchPointState);
    const intptr_t saved[4] = {source->get(Attr::xMatchPoint), source->get(Attr::yMatchPoint),
                               destination->get(Attr::xMatchPoint), destination->get(Attr::yMatchPoint)};
    setEnvAttr(env, EnvAttr::matchPointState, 1);
    source->put(Attr::xMatchPoint, static_cast<intptr_t>(sx));
    source->put(Attr::yMatchPoint, static_cast<intptr_t>(sy));
    destination->put(Attr::xMatchPoint, static_cast<intptr_t>(dx));
    destination->put(Attr::yMatchPoint, static_cast<intptr_t>(dy));
    int code = copySamples(env, source, destination);
    setEnvAttr(env, EnvAttr::matchPointState, state);
    source->put(Attr::xMatchPoint, saved[0]);
    source->put(Attr::yMatchPoint, saved[1]);
    destination->put(Attr::xMatchPoint, saved[2]);
    destination->put(Attr::yMatchPoint, saved[3]);
    return code;
}

}  // namespace

int32_t interpolationCode(int32_t argument) {
    switch (argument) {
    case 8: return kNearest;
    case 9: return kBilinear;
    case 10: return kBSpline;
    case 11: return kCubicConvolution;
    default: return 0;
    }
}

int32_t morphologyCode(int32_t argument) {
    switch (argument) {
    case 0: return 0;
    case 12: return kFavourSet;
    case 13: return kFavourClear;
    default: return -1;
    }
}

int32_t selectRepository(const CmiAttribute *attrs, int32_t count) {
    const CmiAttribute *option = lastOption(attrs, count, "repository");
    return option != nullptr && option->value != 33 ? code::kFile : code::kWorkSpace;
}

int32_t defaultFillLevel(Environment *env, DataObject *image) {
    if (image->lutObject() == nullptr || image->get(Attr::bDimension) > 1) return 255;
    PaletteData palette;
    if (readPalette(env, image, &palette) != kOk || palette.entries == 0) return 255;
    int32_t chosen = 0;
    int32_t best = -1;
    for (int32_t i = 0; i < palette.entries; ++i) {
        const int r = palette.red[i], g = palette.green[i], b = palette.blue[i];
        const int lightness = static_cast<int>((std::max({r, g, b}) + std::min({r, g, b}) + 1) * 0.5);
        if (lightness >= best) {
            best = lightness;
            chosen = i;
        }
    }
    switch (image->get32(Attr::dataPrecision)) {
    case 1: return chosen == 1 ? 255 : 0;
    case 4: return chosen * 16 + chosen;
    default: return chosen;
    }
}

void readFillLevels(const CmiAttribute *attrs, int32_t count, int32_t levels[3]) {
    static const char *const names[3] = {"constantLevel", "constantLevel2", "constantLevel3"};
    for (int i = 0; i < 3; ++i) {
        const CmiAttribute *option = lastOption(attrs, count, names[i]);
        levels[i] = option != nullptr ? static_cast<int32_t>(option->value) : -1;
    }
}

void fillPlanes(Environment *env, uint8_t *buffer, uint64_t size, DataObject *image, const int32_t levels[3]) {
    const int64_t bands = std::max<intptr_t>(image->get(Attr::bDimension), 1);
    const uint64_t plane = size / static_cast<uint64_t>(bands);
    const int32_t precision = image->get32(Attr::dataPrecision);
    int32_t fallback = -1;
    for (int64_t b = 0; b < bands; ++b) {
        int32_t level = b < 3 ? levels[b] : -1;
        if (level < 0) {
            if (fallback < 0) fallback = defaultFillLevel(env, image);
            level = fallback;
        }
        uint8_t byte;
        if (precision == 1) byte = level != 0 ? 255 : 0;
        // 4-bit samples are held one per byte: the level's low nibble, which
        // is also what a level written into both nibbles leaves.
        else if (precision == 4 && storagePrecision(env, image) == 8) byte = static_cast<uint8_t>(level & 15);
        else if (precision == 4) byte = static_cast<uint8_t>((level * 16) | level);
        else byte = static_cast<uint8_t>(level);
        std::memset(buffer + static_cast<uint64_t>(b) * plane, byte, plane);
    }
}

Region readRegion(const CmiAttribute *attrs, int32_t count, int64_t width, int64_t height, bool second) {
    const char *const names[2][4] = {{"sourceXPoint", "sourceYPoint", "sourceWidth", "sourceHeight"},
                                      {"source2XPoint", "source2YPoint", "source2Width", "source2Height"}};
    const char *const *n = names[second ? 1 : 0];
    const int64_t defaults[4] = {0, 0, width, height};
    int64_t v[4];
    for (int i = 0; i < 4; ++i) {
        const CmiAttribute *option = lastOption(attrs, count, n[i]);
        v[i] = option != nullptr ? static_cast<int32_t>(option->value) : defaults[i];
    }
    Region region;
    region.given = v[0] != 0 || v[1] != 0 || v[2] != width || v[3] != height;
    // Clip to the image.
    int64_t x0 = std::clamp<int64_t>(v[0], 0, width), y0 = std::clamp<int64_t>(v[1], 0, height);
    int64_t x1 = std::clamp<int64_t>(v[0] + std::max<int64_t>(v[2], 0), 0, width);
    int64_t y1 = std::clamp<int64_t>(v[1] + std::max<int64_t>(v[3], 0), 0, height);
    region.box = {x0, y0, std::max<int64_t>(x1 - x0, 0), std::max<int64_t>(y1 - y0, 0)};
    return region;
}

DataObject *deriveImage(Environment *env, DataObject *source, std::span<const CmiAttribute> list) {
    DataObject *image = createObject(env, nullptr, source->cls, source);
    if (image == nullptr) return nullptr;
    image->put(Attr::size, 0);
    image->put(Attr::roi, 0);
    image->put(Attr::compression, 0);
    if (image->get32(Attr::repository) == code::kApplicationAddressSpace) {
        image->put(Attr::repository, code::kWorkSpace);
    }
    if (setAttributes(env, image, list) != kOk) {
        destroyObject(env, image);
        return nullptr;
    }
    return image;
}

int extractRegion(Environment *env, DataObject *image, const Box &box, DataObject **part) {
    *part = nullptr;
    if (box.width <= 0 || box.height <= 0) return fail(env, kOutOfRange);
    const CmiAttribute list[] = {{"xDimension", static_cast<intptr_t>(box.width)},
                                 {"yDimension", static_cast<intptr_t>(box.height)},
                                 {"xMatchPoint", 0}, {"yMatchPoint", 0}};
    DataObject *result = deriveImage(env, image, list);
    if (result == nullptr) return lastError(env);
    if (int code = alignedCopy(env, image, box.x, box.y, result, 0, 0)) {
        destroyObject(env, result);
        return code;
    }
    *part = result;
    return kOk;
}

int pasteRegion(Environment *env, DataObject *part, DataObject *image, int64_t x, int64_t y) {
    return alignedCopy(env, part, 0, 0, image, x, y);
}

ProcessCall::ProcessCall(HGLOBAL image, const CmiAttribute *attrs, int32_t count, int32_t *status)
    : image_(image), attrs_(attrs), count_(count), status_(status),
      repository_(selectRepository(attrs, count)) {}

ProcessCall::~ProcessCall() {
    if (!ended_) end(nullptr);
}

std::span<const CmiAttribute> ProcessCall::options() const {
    if (attrs_ == nullptr || count_ <= 0) return {};
    return {attrs_, static_cast<size_t>(count_)};
}

bool ProcessCall::begin() {
    auto *locked = static_cast<const uint8_t *>(GlobalLock(image_));
    if (locked == nullptr) {
        *status_ = kSystemError;
        ended_ = true;
        return false;
    }
    bitmap_ = locked;
    size_ = GlobalSize(image_);
    env_ = openEnvironment();
    if (env_ == nullptr) {
        *status_ = kSystemError;
        end(nullptr);
        return false;
    }
    // The raw paths of the drivers read the header and palette in place, so
    // they are checked against the block here once.
    int code = kOk;
    if (size_ < kInfoHeaderSize || le32(bitmap_) != kInfoHeaderSize) {
        code = kSyntaxError;
    } else {
        width_ = static_cast<int32_t>(le32(bitmap_ + 4));
        height_ = static_cast<int32_t>(le32(bitmap_ + 8));
        bits_ = le16(bitmap_ + 14);
        const uint32_t compression = le32(bitmap_ + 16);
        const uint32_t used = le32(bitmap_ + 32);
        if (width_ <= 0 || height_ <= 0 || le16(bitmap_ + 12) != 1) {
            code = kSyntaxError;
        } else if ((bits_ != 1 && bits_ != 4 && bits_ != 8 && bits_ != 24) || compression != 0) {
            code = kNonPermissibleOption;
        } else {
            entries_ = used != 0 ? used : bits_ == 24 ? 0 : 1u << bits_;
            const uint64_t rowBytes = (static_cast<uint64_t>(width_) * static_cast<uint64_t>(bits_) + 31) / 32 * 4;
            const uint64_t needed = kInfoHeaderSize + uint64_t{4} * entries_ + rowBytes * static_cast<uint64_t>(height_);
            if (entries_ > 65536 || needed > size_) code = kInsufficientSize;
        }
    }
    if (code != kOk) {
        failed(code);
        return false;
    }
    return true;
}

int ProcessCall::parse(DataObject **image) {
    return dibToImage(env_, bitmap_, size_, repository_, image);
}

HGLOBAL ProcessCall::finish(DataObject *result) {
    HGLOBAL block = nullptr;
    if (int code = imageToDib(env_, result, &block)) return failed(code);
    return end(block);
}

HGLOBAL ProcessCall::finishBlock(HGLOBAL block) { return end(block); }

HGLOBAL ProcessCall::failed(int code) {
    *status_ = code;
    return end(nullptr);
}

HGLOBAL ProcessCall::end(HGLOBAL block) {
    if (ended_) return nullptr;
    ended_ = true;
    if (env_ != nullptr) {
        int closed = closeEnvironment(env_);
        env_ = nullptr;
        if (closed != kOk) *status_ = closed;
    }
    if (bitmap_ != nullptr) GlobalUnlock(image_);
    bitmap_ = nullptr;
    if (*status_ != kOk || block == nullptr) {
        if (block != nullptr) GlobalFree(block);
        if (*status_ == kOk) *status_ = kSystemError;
        return nullptr;
    }
    return block;
}

}  // namespace orvo
