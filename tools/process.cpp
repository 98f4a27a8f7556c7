// `orvo process OP IN OUT [options]`: runs one processing function of the
// library on one image of IN and writes the result as OUT.
//
// The flow is the same for every operation: read the image into a packed
// bitmap (CmiReadAndParse), learn its colour mode from the bitmap itself
// (bits per pixel, and a grey ramp palette for 8-bit greyscale), call the
// operation's Cmi function, and write the returned bitmap with
// CmiGenerateAndWrite (or as a BMP on standard output).  Each operation is
// one row of a table: its name, its help and the options it takes; an option
// that an operation does not take is a usage error, not silently ignored.
#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "bmpfile.h"
#include "cli.h"
#include "imagefile.h"
#include "options.h"
#include "output.h"

namespace orvo::cli {

int runProcess(int argc, char **argv);

namespace {

// ---------------------------------------------------------------- options

enum OptionId : int {
    kSize = 256, kScale, kInterpolation, kMorphology, kAngle, kDirection, kRegion, kPlace, kFill,
    kMethod, kThreshold, kDither, kQuantization, kLevels, kBrightness, kContrast, kRed, kGreen,
    kBlue, kHue, kSaturation, kLightness, kGamma, kRepository, kPage, kMode, kCompression,
    kOptionEnd,
};
static_assert(kOptionEnd - kSize <= 64, "option masks are 64 bits");

constexpr uint64_t bit(int id) { return uint64_t{1} << (id - kSize); }
template <typename... Ids>
constexpr uint64_t mask(Ids... ids) {
    return (bit(ids) | ... | 0);
}

// Taken by every operation.
constexpr uint64_t kCommon = mask(kRepository, kPage, kMode, kCompression);

const option kOptions[] = {
    {"size", required_argument, nullptr, kSize},
    {"scale", required_argument, nullptr, kScale},
    {"interpolation", required_argument, nullptr, kInterpolation},
    {"morphology", required_argument, nullptr, kMorphology},
    {"angle", required_argument, nullptr, kAngle},
    {"direction", required_argument, nullptr, kDirection},
    {"region", required_argument, nullptr, kRegion},
    {"place", required_argument, nullptr, kPlace},
    {"fill", required_argument, nullptr, kFill},
    {"method", required_argument, nullptr, kMethod},
    {"threshold", required_argument, nullptr, kThreshold},
    {"dither", required_argument, nullptr, kDither},
    {"quantization", required_argument, nullptr, kQuantization},
    {"levels", required_argument, nullptr, kLevels},
    {"brightness", required_argument, nullptr, kBrightness},
    {"contrast", required_argument, nullptr, kContrast},
    {"red", required_argument, nullptr, kRed},
    {"green", required_argument, nullptr, kGreen},
    {"blue", required_argument, nullptr, kBlue},
    {"hue", required_argument, nullptr, kHue},
    {"saturation", required_argument, nullptr, kSaturation},
    {"lightness", required_argument, nullptr, kLightness},
    {"gamma", required_argument, nullptr, kGamma},
    {"repository", required_argument, nullptr, kRepository},
    {"page", required_argument, nullptr, kPage},
    {"mode", required_argument, nullptr, kMode},
    {"compression", required_argument, nullptr, kCompression},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char *optionName(int id) {
    for (const option &o : kOptions)
        if (o.name && o.val == id) return o.name;
    return "?";
}

template <size_t N>
bool lookup(const Name (&names)[N], std::string_view text, std::optional<int32_t> &code) {
    int32_t found = 0;
    if (!lookup(names, text, found)) return false;
    code = found;
    return true;
}

constexpr Name kInterpolations[] = {{"nearest", CMI_INTERPOLATION_NEAREST},
                                    {"bilinear", CMI_INTERPOLATION_BILINEAR},
                                    {"bspline", CMI_INTERPOLATION_BSPLINE},
                                    {"cubic", CMI_INTERPOLATION_CUBIC}};
constexpr Name kMorphologies[] = {{"none", CMI_MORPHOLOGY_NONE},
                                  {"keep-set", CMI_MORPHOLOGY_KEEP_SET},
                                  {"keep-clear", CMI_MORPHOLOGY_KEEP_CLEAR}};
constexpr Name kDirections[] = {{"horizontal", CMI_HORIZONTAL}, {"left-right", CMI_HORIZONTAL},
                                {"vertical", CMI_VERTICAL},     {"top-bottom", CMI_VERTICAL}};
constexpr Name kMethods[] = {{"threshold", CMI_METHOD_THRESHOLD},
                             {"diffusion", CMI_METHOD_ERROR_DIFFUSION},
                             {"pattern", CMI_METHOD_PATTERN}};
constexpr Name kDithers[] = {{"none", CMI_DITHER_NONE},
                             {"diffusion", CMI_METHOD_ERROR_DIFFUSION},
                             {"pattern", CMI_METHOD_PATTERN}};
constexpr Name kQuantizations[] = {{"popularity", CMI_QUANTIZE_POPULARITY},
                                   {"uniform", CMI_QUANTIZE_UNIFORM},
                                   {"median-cut", CMI_QUANTIZE_MEDIAN_CUT}};
constexpr Name kModes[] = {{"bitmap", CMI_MODE_BITMAP},       {"16", CMI_MODE_16_COLOURS},
                           {"256", CMI_MODE_256_COLOURS},     {"gray", CMI_MODE_GRAYSCALE},
                           {"grey", CMI_MODE_GRAYSCALE},      {"rgb", CMI_MODE_RGB},
                           {"inverted-gray", CMI_MODE_INVERTED_GRAY}};
constexpr Name kRepositories[] = {{"memory", CMI_REPOSITORY_MEMORY}, {"file", 83}};
struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Everything the command line said, before it is applied to an image.
struct Settings {
    std::optional<std::pair<int32_t, int32_t>> size;
    std::optional<std::pair<double, double>> scale;  // percent
    std::optional<int32_t> interpolation;
    int32_t morphology = CMI_MORPHOLOGY_NONE;
    std::optional<double> angle;
    std::optional<int32_t> direction;
    std::optional<Rect> region, place;
    std::vector<int32_t> fill;  // 1 to 3 levels
    int32_t method = CMI_METHOD_ERROR_DIFFUSION;
    int32_t threshold = 127;
    int32_t dither = CMI_METHOD_ERROR_DIFFUSION;
    int32_t quantization = CMI_QUANTIZE_POPULARITY;
    std::optional<std::vector<int32_t>> levels;
    int32_t brightness = 0, contrast = 0, red = 0, green = 0, blue = 0;
    int32_t hue = 0, saturation = 0, lightness = 0;
    double gamma = 1.0;
    std::optional<int32_t> repository;
    int32_t page = 1;
    std::optional<int32_t> mode;
    std::optional<int32_t> compression;
};

bool parseInteger(const char *text, int32_t low, int32_t high, int32_t &value) {
    std::vector<int32_t> numbers;
    if (!parseNumbers(text, ',', 1, numbers) || numbers[0] < low || numbers[0] > high) return false;
    value = numbers[0];
    return true;
}

bool parseReal(const char *text, double &value) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// "50%" or "50" (both axes), "50%x25%" (each axis); from 0.001 to 100000 percent.
bool parseScale(const char *text, std::pair<double, double> &scale) {
    std::string s = text;
    const size_t x = s.find('x');
    auto one = [](std::string part, double &value) {
        if (!part.empty() && part.back() == '%') part.pop_back();
        return parseReal(part.c_str(), value) && value >= 0.001 && value <= 100000;
    };
    if (x == std::string::npos) {
        if (!one(s, scale.first)) return false;
        scale.second = scale.first;
        return true;
    }
    return one(s.substr(0, x), scale.first) && one(s.substr(x + 1), scale.second);
}

// A list of `low`..`high` integers: exactly `count` of them, or 1..-count
// when count is negative.
bool parseList(const char *text, int count, int32_t low, int32_t high, std::vector<int32_t> &numbers) {
    const std::string_view s = text;
    const size_t given = 1 + static_cast<size_t>(std::count(s.begin(), s.end(), ','));
    if (count > 0 ? given != static_cast<size_t>(count) : given > static_cast<size_t>(-count)) return false;
    if (!parseNumbers(text, ',', given, numbers)) return false;
    for (int32_t n : numbers)
        if (n < low || n > high) return false;
    return true;
}

bool parseRect(const char *text, Rect &rect) {
    std::vector<int32_t> n;
    if (!parseList(text, 4, 0, INT32_MAX, n) || n[2] < 1 || n[3] < 1) return false;
    rect = {n[0], n[1], n[2], n[3]};
    return true;
}

bool parseSize(const char *text, std::pair<int32_t, int32_t> &size) {
    std::vector<int32_t> n;
    if (!parseNumbers(text, 'x', 2, n) || n[0] < 1 || n[1] < 1) return false;
    size = {n[0], n[1]};
    return true;
}

// ---------------------------------------------------------------- the picture

// What the operation needs to know of its input.
struct Picture {
    int32_t width = 0, height = 0, bits = 0;
    int32_t mode = 0;  // derived from the bitmap, or --mode
};

bool greyRamp(std::span<const uint8_t> bytes, const PackedBitmap &layout) {
    const uint64_t entries = (layout.pixelOffset - layout.headerSize) / 4;
    if (entries != 256) return false;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t *entry = &bytes[layout.headerSize + 4 * i];
        if (entry[0] != i || entry[1] != i || entry[2] != i) return false;
    }
    return true;
}

int32_t modeOf(std::span<const uint8_t> bytes, const PackedBitmap &layout) {
    switch (layout.bitCount) {
    case 1: return CMI_MODE_BITMAP;
    case 4: return CMI_MODE_16_COLOURS;
    case 8: return greyRamp(bytes, layout) ? CMI_MODE_GRAYSCALE : CMI_MODE_256_COLOURS;
    case 24: return CMI_MODE_RGB;
    default: return 0;
    }
}

const char *modeText(int32_t mode) {
    switch (mode) {
    case CMI_MODE_BITMAP: return "bitmap";
    case CMI_MODE_16_COLOURS: return "16-colour";
    case CMI_MODE_256_COLOURS: return "256-colour";
    case CMI_MODE_GRAYSCALE: return "greyscale";
    case CMI_MODE_RGB: return "RGB";
    case CMI_MODE_INVERTED_GRAY: return "inverted grey";
    default: return "unknown";
    }
}

bool isPaletteMode(int32_t mode) {
    return mode == CMI_MODE_BITMAP || mode == CMI_MODE_16_COLOURS || mode == CMI_MODE_256_COLOURS;
}

// ---------------------------------------------------------------- operations

// One call of an operation: the bitmap, its picture, the settings and the
// option list already holding the options every operation passes on.
struct Call {
    HGLOBAL image;
    const Picture &picture;
    const Settings &settings;
    OptionList &list;
    int32_t *status;
    std::string error;  // set when the settings do not fit this picture (usage error)
};

int32_t defaultInterpolation(const Call &call) {
    // Interpolating palette indices or bits would invent colours.
    return call.settings.interpolation.value_or(isPaletteMode(call.picture.mode) ? CMI_INTERPOLATION_NEAREST
                                                                                 : CMI_INTERPOLATION_BILINEAR);
}

void addRegion(Call &call) {
    if (!call.settings.region) return;
    const Rect &r = *call.settings.region;
    call.list.add("sourceXPoint", r.x);
    call.list.add("sourceYPoint", r.y);
    call.list.add("sourceWidth", r.width);
    call.list.add("sourceHeight", r.height);
}

// One level is every band's level.
void fillLevels(const Settings &settings, int32_t levels[3]) {
    const std::vector<int32_t> &fill = settings.fill;
    for (size_t i = 0; i < 3; ++i) levels[i] = i < fill.size() ? fill[i] : fill.size() == 1 ? fill[0] : -1;
}

void addFill(Call &call) {
    if (call.settings.fill.empty()) return;
    int32_t levels[3];
    fillLevels(call.settings, levels);
    const char *names[] = {"constantLevel", "constantLevel2", "constantLevel3"};
    for (int i = 0; i < 3; ++i)
        if (levels[i] >= 0) call.list.add(names[i], levels[i]);
}

// The warp operations take nearest or bilinear only.
bool warpInterpolation(Call &call, int32_t &interpolation) {
    interpolation = defaultInterpolation(call);
    if (interpolation != CMI_INTERPOLATION_NEAREST && interpolation != CMI_INTERPOLATION_BILINEAR) {
        call.error = "this operation takes --interpolation nearest or bilinear";
        return false;
    }
    call.list.add("interpolation", interpolation);
    return true;
}

bool fitsInt32(double v) { return v >= 1 && v <= INT32_MAX; }

HGLOBAL resize(Call &call) {
    const Settings &s = call.settings;
    int32_t width = 0, height = 0;
    if (s.size) {
        std::tie(width, height) = *s.size;
    } else if (s.scale) {
        const double w = std::max(1.0, std::round(call.picture.width * s.scale->first / 100));
        const double h = std::max(1.0, std::round(call.picture.height * s.scale->second / 100));
        if (!fitsInt32(w) || !fitsInt32(h)) {
            call.error = "the scaled size is too large";
            return nullptr;
        }
        width = static_cast<int32_t>(w);
        height = static_cast<int32_t>(h);
    } else {
        call.error = "give --size WxH or --scale PERCENT";
        return nullptr;
    }
    return CmiResize(call.image, width, height, defaultInterpolation(call), s.morphology, call.list.data(),
                     call.list.count(), call.status);
}

HGLOBAL rotate(Call &call) {
    const Settings &s = call.settings;
    const Picture &p = call.picture;
    double angle = std::fmod(s.angle.value_or(90.0), 360.0);
    if (angle < 0) angle += 360.0;
    addFill(call);
    const int32_t quarter = angle == 90    ? CMI_ROTATE_90
                            : angle == 180 ? CMI_ROTATE_180
                            : angle == 270 ? CMI_ROTATE_270
                                           : 0;
    if (quarter != 0) {
        std::pair<int32_t, int32_t> size =
            quarter == CMI_ROTATE_180 ? std::pair{p.width, p.height} : std::pair{p.height, p.width};
        if (s.size) size = *s.size;
        return CmiRotate(call.image, size.first, size.second, quarter, call.list.data(), call.list.count(),
                         call.status);
    }
    int32_t interpolation;
    if (!warpInterpolation(call, interpolation)) return nullptr;
    // The smallest canvas that holds the whole turned picture.
    const double radians = angle * 3.14159265358979323846 / 180.0;
    const double c = std::fabs(std::cos(radians)), sn = std::fabs(std::sin(radians));
    const double w = std::max(1.0, std::ceil(p.width * c + p.height * sn - 1e-6));
    const double h = std::max(1.0, std::ceil(p.width * sn + p.height * c - 1e-6));
    if (!s.size && (!fitsInt32(w) || !fitsInt32(h))) {
        call.error = "the turned canvas is too large; give --size";
        return nullptr;
    }
    const auto size = s.size.value_or(std::pair{static_cast<int32_t>(w), static_cast<int32_t>(h)});
    return CmiRotateArbitrary(call.image, size.first, size.second, angle, call.list.data(), call.list.count(),
                              call.status);
}

HGLOBAL flip(Call &call) {
    addRegion(call);
    return CmiFlip(call.image, call.settings.direction.value_or(CMI_HORIZONTAL), call.list.data(),
                   call.list.count(), call.status);
}

HGLOBAL skew(Call &call) {
    const Settings &s = call.settings;
    const Picture &p = call.picture;
    if (!s.angle || !(*s.angle > -90 && *s.angle < 90)) {
        call.error = "give --angle between -90 and 90 (exclusive)";
        return nullptr;
    }
    const int32_t direction = s.direction.value_or(CMI_HORIZONTAL);
    int32_t interpolation;
    if (!warpInterpolation(call, interpolation)) return nullptr;
    addFill(call);
    // The canvas that holds the slanted picture: the source plus the shift
    // of its far edge.
    const double shift = std::ceil(std::fabs(std::tan(*s.angle * 3.14159265358979323846 / 180.0)) *
                                       (direction == CMI_HORIZONTAL ? p.height : p.width) -
                                   1e-6);
    const double w = direction == CMI_HORIZONTAL ? p.width + shift : p.width;
    const double h = direction == CMI_HORIZONTAL ? p.height : p.height + shift;
    if (!s.size && (!fitsInt32(w) || !fitsInt32(h))) {
        call.error = "the skewed canvas is too large; give --size";
        return nullptr;
    }
    const auto size = s.size.value_or(std::pair{static_cast<int32_t>(w), static_cast<int32_t>(h)});
    return CmiSkew(call.image, size.first, size.second, direction, *s.angle, call.list.data(), call.list.count(),
                   call.status);
}

HGLOBAL subsample(Call &call) {
    const Settings &s = call.settings;
    const Rect source = s.region.value_or(Rect{0, 0, call.picture.width, call.picture.height});
    const auto size = s.size.value_or(std::pair{source.width, source.height});
    const Rect target = s.place.value_or(Rect{0, 0, size.first, size.second});
    addFill(call);
    return CmiSubsample(call.image, source.x, source.y, source.width, source.height, size.first, size.second,
                        target.x, target.y, target.width, target.height, defaultInterpolation(call),
                        s.morphology, call.list.data(), call.list.count(), call.status);
}

HGLOBAL crop(Call &call) {
    if (!call.settings.region) {
        call.error = "give --region X,Y,W,H";
        return nullptr;
    }
    // What of the rectangle lies inside the image; nothing of it is an error.
    Rect r = *call.settings.region;
    const Picture &p = call.picture;
    if (r.x >= p.width || r.y >= p.height) {
        call.error = "the region lies outside the " + std::to_string(p.width) + " x " + std::to_string(p.height) +
                     " image";
        return nullptr;
    }
    r.width = static_cast<int32_t>(std::min<int64_t>(r.width, int64_t{p.width} - r.x));
    r.height = static_cast<int32_t>(std::min<int64_t>(r.height, int64_t{p.height} - r.y));
    return CmiSubsample(call.image, r.x, r.y, r.width, r.height, r.width, r.height, 0, 0, r.width, r.height,
                        CMI_INTERPOLATION_NEAREST, CMI_MORPHOLOGY_NONE, call.list.data(), call.list.count(),
                        call.status);
}

HGLOBAL fill(Call &call) {
    const Rect r = call.settings.region.value_or(Rect{0, 0, call.picture.width, call.picture.height});
    int32_t levels[3];
    fillLevels(call.settings, levels);
    return CmiConstant(call.image, r.x, r.y, r.width, r.height, levels[0], levels[1], levels[2], call.list.data(),
                       call.list.count(), call.status);
}

HGLOBAL rgb(Call &call) {
    return CmiModeRGBColor(call.image, call.picture.mode, call.list.data(), call.list.count(), call.status);
}

HGLOBAL gray(Call &call) {
    return CmiModeGrayscale(call.image, call.picture.mode, call.list.data(), call.list.count(), call.status);
}

HGLOBAL bitmap(Call &call) {
    return CmiModeBitmap(call.image, call.picture.mode, call.settings.method, call.settings.threshold,
                         call.list.data(), call.list.count(), call.status);
}

template <bool kSixteen>
HGLOBAL indexed(Call &call) {
    const Settings &s = call.settings;
    const std::vector<int32_t> levels = s.levels.value_or(kSixteen ? std::vector<int32_t>{2, 4, 2}
                                                                   : std::vector<int32_t>{8, 8, 4});
    auto run = kSixteen ? CmiModeIndexedColor16 : CmiModeIndexedColor256;
    return run(call.image, call.picture.mode, s.dither, s.quantization, levels[0], levels[1], levels[2],
               call.list.data(), call.list.count(), call.status);
}

HGLOBAL invert(Call &call) {
    addRegion(call);
    return CmiInvert(call.image, call.picture.mode, call.list.data(), call.list.count(), call.status);
}

HGLOBAL brightnessContrast(Call &call) {
    addRegion(call);
    return CmiBrightnessAndContrast(call.image, call.picture.mode, call.settings.brightness,
                                    call.settings.contrast, call.list.data(), call.list.count(), call.status);
}

HGLOBAL colourBalance(Call &call) {
    addRegion(call);
    const Settings &s = call.settings;
    return CmiColourBalance(call.image, call.picture.mode, s.red, s.green, s.blue, call.list.data(),
                            call.list.count(), call.status);
}

HGLOBAL hueSaturation(Call &call) {
    addRegion(call);
    const Settings &s = call.settings;
    return CmiHueSaturation(call.image, call.picture.mode, s.hue, s.saturation, s.lightness, call.list.data(),
                            call.list.count(), call.status);
}

HGLOBAL gamma(Call &call) {
    addRegion(call);
    return CmiGammaCorrection(call.image, call.picture.mode, call.settings.gamma, call.list.data(),
                              call.list.count(), call.status);
}

HGLOBAL solarize(Call &call) {
    addRegion(call);
    return CmiSolarize(call.image, call.picture.mode, call.list.data(), call.list.count(), call.status);
}

HGLOBAL equalize(Call &call) {
    addRegion(call);
    return CmiEqualize(call.image, call.picture.mode, call.list.data(), call.list.count(), call.status);
}

struct Operation {
    const char *name;
    const char *alias;    // another name, or null
    const char *summary;  // one line for `orvo process --help`
    const char *help;     // the operation's own option lines
    uint64_t options;
    HGLOBAL (*run)(Call &call);
    bool recolours = false;  // palette images: the palette changes, so a region cannot be kept to
};

constexpr const char *kRegionLine = "  --region X,Y,W,H      process only this rectangle (default: the whole image)\n";

const Operation kOperations[] = {
    {"resize", nullptr, "scale the image to a new size",
     "  --size WxH            the new size in pixels\n"
     "  --scale P[%][xQ[%]]   or the new size as a percentage of the old one\n"
     "  --interpolation K     nearest, bilinear, bspline or cubic (default: nearest\n"
     "                        for palette images and bitmaps, else bilinear)\n"
     "  --morphology M        for bitmaps: none, keep-set or keep-clear (thin lines\n"
     "                        of set or clear pixels survive a reduction)\n",
     mask(kSize, kScale, kInterpolation, kMorphology), resize},
    {"rotate", nullptr, "turn the image by any angle (counter-clockwise)",
     "  --angle DEGREES       counter-clockwise (default 90); 90, 180 and 270 are exact\n"
     "                        quarter turns, other angles are resampled\n"
     "  --size WxH            the result canvas (default: just large enough)\n"
     "  --interpolation K     nearest or bilinear, for angles other than quarter turns\n"
     "                        (default: nearest for palette images, else bilinear)\n"
     "  --fill L[,L2,L3]      level of the uncovered canvas, one per band or one for\n"
     "                        all (default: the lightest palette entry, or white)\n",
     mask(kAngle, kSize, kInterpolation, kFill), rotate},
    {"flip", nullptr, "mirror the image left to right or top to bottom",
     "  --direction D         horizontal (left-right, the default) or vertical\n"
     "                        (top-bottom)\n",
     mask(kDirection, kRegion), flip},
    {"skew", nullptr, "slant the image horizontally or vertically",
     "  --angle DEGREES       the slant, between -90 and 90 (required)\n"
     "  --direction D         horizontal (default) or vertical\n"
     "  --size WxH            the result canvas (default: just large enough)\n"
     "  --interpolation K     nearest or bilinear\n"
     "  --fill L[,L2,L3]      level of the uncovered canvas\n",
     mask(kAngle, kDirection, kSize, kInterpolation, kFill), skew},
    {"subsample", nullptr, "scale a rectangle of the image into a rectangle of a new canvas",
     "  --region X,Y,W,H      the source rectangle (default: the whole image)\n"
     "  --size WxH            the canvas (default: the size of the source rectangle)\n"
     "  --place X,Y,W,H       where in the canvas the rectangle goes (default: all of it)\n"
     "  --interpolation K     nearest, bilinear, bspline or cubic (default as for\n"
     "                        resize)\n"
     "  --morphology M        for bitmaps: none, keep-set or keep-clear\n"
     "  --fill L[,L2,L3]      level of the canvas around the placed rectangle\n",
     mask(kRegion, kSize, kPlace, kInterpolation, kMorphology, kFill), subsample},
    {"crop", nullptr, "cut a rectangle out of the image",
     "  --region X,Y,W,H      the rectangle to keep (required; cut to the image)\n", mask(kRegion), crop},
    {"fill", "constant", "fill a rectangle with a constant level",
     "  --region X,Y,W,H      the rectangle (default: the whole image)\n"
     "  --fill L[,L2,L3]      the level, one per band or one for all (palette images:\n"
     "                        an index; default: the lightest palette entry, or white)\n",
     mask(kRegion, kFill), fill},
    {"rgb", nullptr, "convert a palette, grey or bitmap image to full colour", "", 0, rgb},
    {"gray", "grey", "convert to 256 grey levels", "", 0, gray},
    {"bitmap", nullptr, "convert to a two-colour bitmap",
     "  --method M            threshold, diffusion (error diffusion, the default) or\n"
     "                        pattern (ordered dither)\n"
     "  --threshold N         0 to 255, for --method threshold (default 127)\n",
     mask(kMethod, kThreshold), bitmap},
    {"indexed256", nullptr, "convert a full-colour image to 256 palette colours",
     "  --dither D            none, diffusion (the default) or pattern\n"
     "  --quantization Q      popularity (the default) or uniform; median-cut is\n"
     "                        refused by the library (status 12)\n"
     "  --levels R,G,B        levels per band, each 2 or more (default 8,8,4)\n",
     mask(kDither, kQuantization, kLevels), indexed<false>},
    {"indexed16", nullptr, "convert to 16 palette colours",
     "  --dither D            none, diffusion (the default) or pattern\n"
     "  --quantization Q      popularity (the default) or uniform; median-cut is\n"
     "                        refused by the library (status 12)\n"
     "  --levels R,G,B        levels per band, each 2 or more (default 2,4,2)\n",
     mask(kDither, kQuantization, kLevels), indexed<true>},
    {"invert", nullptr, "invert the colours", kRegionLine, mask(kRegion), invert, true},
    {"brightness-contrast", nullptr, "change brightness and contrast",
     "  --brightness N        -100 to 100 (default 0)\n"
     "  --contrast N          -100 to 100 (default 0)\n",
     mask(kBrightness, kContrast, kRegion), brightnessContrast, true},
    {"colour-balance", "color-balance", "shift the red, green and blue levels",
     "  --red N, --green N, --blue N   -100 to 100 each (default 0)\n", mask(kRed, kGreen, kBlue, kRegion),
     colourBalance, true},
    {"hue-saturation", nullptr, "change hue, saturation and lightness",
     "  --hue N               -180 to 180 degrees (default 0)\n"
     "  --saturation N        -100 to 100 (default 0)\n"
     "  --lightness N         -100 to 100 (default 0)\n",
     mask(kHue, kSaturation, kLightness, kRegion), hueSaturation, true},
    {"gamma", nullptr, "gamma correction",
     "  --gamma G             the gamma, a positive number (default 1)\n", mask(kGamma, kRegion), gamma, true},
    {"solarize", nullptr, "solarize (invert the light half of the levels)", kRegionLine, mask(kRegion), solarize, true},
    {"equalize", nullptr, "equalize the histogram of a grey or full-colour image", kRegionLine, mask(kRegion),
     equalize},
};

// Operations whose help names --region through their own line.
bool takesRegionLine(const Operation &op) {
    return (op.options & bit(kRegion)) && op.run != subsample && op.run != crop && op.run != fill &&
           op.help != kRegionLine;
}

const Operation *findOperation(std::string_view name) {
    for (const Operation &op : kOperations)
        if (name == op.name || (op.alias && name == op.alias)) return &op;
    return nullptr;
}

void printHelp(FILE *to) {
    std::fputs(
        "Usage: orvo process OPERATION IN OUT [OPTION]...\n"
        "Run one image processing operation on an image of IN and write the result as\n"
        "OUT, in the format of its extension (.bmp .tif .tiff; '-' writes a BMP to\n"
        "standard output).  OUT is replaced only when the whole result was written.\n"
        "\n"
        "Operations:\n",
        to);
    for (const Operation &op : kOperations) std::fprintf(to, "  %-20s %s\n", op.name, op.summary);
    std::fputs(
        "\n"
        "Run 'orvo process OPERATION --help' for the options of an operation.\n"
        "\n"
        "Exit status: 0 when OUT was written, 1 when reading, processing or writing\n"
        "failed, 2 for a wrong command line.\n",
        to);
}

void printOperationHelp(const Operation &op) {
    std::printf("Usage: orvo process %s IN OUT [OPTION]...\n", op.name);
    std::printf("%c%s.\n\n", std::toupper(static_cast<unsigned char>(op.summary[0])), op.summary + 1);
    std::fputs(op.help, stdout);
    if (takesRegionLine(op)) std::fputs(kRegionLine, stdout);
    std::fputs(
        "  --page N              the image of IN to process, from 1 (default 1)\n"
        "  --mode MODE           what the image holds: bitmap, 16, 256, gray, rgb or\n"
        "                        inverted-gray (default: from the image itself)\n"
        "  --repository R        keep working images in memory (default) or in\n"
        "                        temporary files (file)\n"
        "  --compression NAME    of OUT: none, packbits (TIFF); none, rle (BMP)\n"
        "  -h, --help            show this help and exit\n",
        stdout);
}

// ---------------------------------------------------------------- running

int writeResult(HGLOBAL result, const std::string &output, int32_t format, const Settings &settings) {
    if (output == "-") {
        BitmapHandle::Lock lock(result);
        PackedBitmap layout;
        std::string why;
        if (lock.bytes().empty() || !checkPackedBitmap(lock.bytes(), layout, why)) {
            reportError(output, "result " + (why.empty() ? std::string("cannot be locked") : why));
            return kFailure;
        }
        const auto header = bmpFileHeader(layout, static_cast<uint32_t>(lock.bytes().size()));
        if (std::string error = writeOutput(output, {header, lock.bytes()}); !error.empty()) {
            reportError(output, error);
            return kFailure;
        }
        return kSuccess;
    }
    OptionList list;
    if (settings.compression) list.add("compression", *settings.compression);
    if (settings.repository) list.add("repository", *settings.repository);
    int32_t status = 0;
    HGLOBAL handles[] = {result};
    CmiGenerateAndWrite(handles, 1, output.c_str(), format, list.data(), list.count(), &status);
    if (status != 0) {
        reportStatus(output, "writing failed", status);
        return kFailure;
    }
    return kSuccess;
}

int process(const Operation &op, const char *input, const std::string &output, int32_t format,
            const Settings &settings) {
    const Inquiry source = inquireFormat(input);
    if (source.value == 0 || !source.ok()) {
        reportStatus(input, source.status ? "format inquiry failed" : "format not recognised", source.status);
        return kFailure;
    }
    const Inquiry count = inquireImageCount(input, source.value);
    if (!count.ok() || count.value < 1) {
        reportStatus(input, "image count inquiry failed", count.status);
        return kFailure;
    }
    if (settings.page > count.value) {
        reportError(input, "no page " + std::to_string(settings.page) + ": the file holds " +
                               std::to_string(count.value) + " image" + (count.value == 1 ? "" : "s"));
        return kFailure;
    }
    BitmapHandle image;
    const Inquiry read = readImage(input, source.value, settings.page - 1, image);
    if (read.value != 1 || !read.ok() || !image) {
        reportStatus(input, "decoding failed", read.status);
        return kFailure;
    }

    Picture picture;
    {
        const BitmapHandle::Lock lock = image.lock();
        PackedBitmap layout;
        std::string why;
        if (lock.bytes().empty() || !checkPackedBitmap(lock.bytes(), layout, why)) {
            reportError(input, "decoded " + (why.empty() ? std::string("bitmap cannot be locked") : why));
            return kFailure;
        }
        picture = {layout.width, layout.height < 0 ? -layout.height : layout.height, layout.bitCount,
                   modeOf(lock.bytes(), layout)};
    }
    if (settings.mode) picture.mode = *settings.mode;

    if (op.recolours && settings.region &&
        (picture.mode == CMI_MODE_16_COLOURS || picture.mode == CMI_MODE_256_COLOURS))
        reportError(input, std::string("note: ") + op.name + " changes the palette of a " + modeText(picture.mode) +
                               " image, so the whole image changes; --region is ignored");

    OptionList list;
    if (settings.repository) list.add("repository", *settings.repository);
    int32_t status = 0;
    Call call{*image.slot(), picture, settings, list, &status, {}};
    BitmapHandle result;
    *result.slot() = op.run(call);
    if (!call.error.empty()) return usageError(std::string("process ") + op.name, call.error);
    if (!result || status != 0) {
        reportStatus(input, std::string(op.name) + " of the " + modeText(picture.mode) + " image failed", status);
        return kFailure;
    }
    return writeResult(*result.slot(), output, format, settings);
}

}  // namespace

int runProcess(int argc, char **argv) {
    if (argc < 2) {
        printHelp(stderr);
        return kUsage;
    }
    const std::string_view first = argv[1];
    if (first == "-h" || first == "--help") {
        printHelp(stdout);
        return kSuccess;
    }
    const Operation *op = findOperation(first);
    if (!op) return usageError("process", "unknown operation '" + std::string(first) + "'");
    const std::string command = std::string("process ") + op->name;

    Settings s;
    auto bad = [&](int id, const char *value) {
        return usageError(command, std::string("--") + optionName(id) + " '" + value + "' is not valid");
    };
    // getopt_long sees the operation as the program name.
    argc -= 1;
    argv += 1;
    optind = 0;
    for (int c; (c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
        if (c == 'h') {
            printOperationHelp(*op);
            return kSuccess;
        }
        if (c < kSize || c >= kOptionEnd) return refusedOption(command, argv, c);
        if (!((op->options | kCommon) & bit(c)))
            return usageError(command, std::string("option '--") + optionName(c) + "' does not apply to " + op->name);
        int32_t code = 0;
        std::vector<int32_t> numbers;
        bool ok = true;
        switch (c) {
        case kSize: {
            std::pair<int32_t, int32_t> size;
            ok = parseSize(optarg, size);
            s.size = size;
            break;
        }
        case kScale: {
            std::pair<double, double> scale;
            ok = parseScale(optarg, scale);
            s.scale = scale;
            break;
        }
        case kInterpolation: ok = lookup(kInterpolations, optarg, s.interpolation); break;
        case kMorphology: ok = lookup(kMorphologies, optarg, s.morphology); break;
        case kAngle: {
            double angle = 0;
            ok = parseReal(optarg, angle) && std::fabs(angle) <= 1e6;
            s.angle = angle;
            break;
        }
        case kDirection: ok = lookup(kDirections, optarg, s.direction); break;
        case kRegion: {
            Rect r;
            ok = parseRect(optarg, r);
            s.region = r;
            break;
        }
        case kPlace: {
            Rect r;
            ok = parseRect(optarg, r);
            s.place = r;
            break;
        }
        case kFill: ok = parseList(optarg, -3, 0, 255, s.fill); break;
        case kMethod: ok = lookup(kMethods, optarg, s.method); break;
        case kThreshold: ok = parseInteger(optarg, 0, 255, s.threshold); break;
        case kDither: ok = lookup(kDithers, optarg, s.dither); break;
        case kQuantization: ok = lookup(kQuantizations, optarg, s.quantization); break;
        case kLevels:
            ok = parseList(optarg, 3, 2, 256, numbers);
            s.levels = numbers;
            break;
        case kBrightness: ok = parseInteger(optarg, -100, 100, s.brightness); break;
        case kContrast: ok = parseInteger(optarg, -100, 100, s.contrast); break;
        case kRed: ok = parseInteger(optarg, -100, 100, s.red); break;
        case kGreen: ok = parseInteger(optarg, -100, 100, s.green); break;
        case kBlue: ok = parseInteger(optarg, -100, 100, s.blue); break;
        case kHue: ok = parseInteger(optarg, -180, 180, s.hue); break;
        case kSaturation: ok = parseInteger(optarg, -100, 100, s.saturation); break;
        case kLightness: ok = parseInteger(optarg, -100, 100, s.lightness); break;
        case kGamma: ok = parseReal(optarg, s.gamma) && s.gamma > 0 && s.gamma <= 1e6; break;
        case kRepository: ok = lookup(kRepositories, optarg, s.repository); break;
        case kPage: ok = parseInteger(optarg, 1, INT32_MAX, s.page); break;
        case kMode: ok = lookup(kModes, optarg, s.mode); break;
        case kCompression: ok = compressionCode(optarg, code);
            s.compression = code; break;
        default: ok = false;
        }
        if (!ok) return bad(c, optarg);
    }
    if (s.size && s.scale) return usageError(command, "give --size or --scale, not both");
    if (argc - optind != 2) return usageError(command, "give one input and one output file");
    const char *input = argv[optind];
    const std::string output = argv[optind + 1];
    const int32_t format = output == "-" ? CMI_FORMAT_BMP : formatOfExtension(output);
    if (format == 0) return usageError(command, "no format for '" + output + "': use .bmp or .tif");
    return process(*op, input, output, format, s);
}

}  // namespace orvo::cli
