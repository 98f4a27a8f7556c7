// `orvo convert IN OUT [options]`: converts an image file into another
// format through CmiFileFormatConvert.  Every option maps to one option pair
// of the library; the library writes OUT whole or not at all.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "imagefile.h"
#include "options.h"

namespace orvo::cli {

namespace {

constexpr const char *kHelp =
    "Usage: orvo convert IN OUT [OPTION]...\n"
    "Convert the image file IN into OUT.  The format of OUT comes from its\n"
    "extension (.bmp .tif .tiff .jpg .jpeg .gif .pcx .png) or from --to.\n"
    "\n"
    "  -t, --to FORMAT          bmp, tiff, jpeg, gif, pcx or png\n"
    "  -c, --compression NAME   none, packbits, lzw, mh, g3, g3-2d, g4 (TIFF);\n"
    "                           none, rle (BMP)\n"
    "      --pages FIRST:COUNT  the pages of a TIFF source to convert, from 1\n"
    "                           (default 1:1)\n"
    "      --multipage          mark TIFF pages as pages of a multi-page file\n"
    "      --predictor N        TIFF predictor\n"
    "      --k N                the K parameter of two-dimensional fax coding\n"
    "      --quality N          JPEG quality factor\n"
    "      --sampling S         JPEG chroma sampling: 444, 422 or 420\n"
    "      --interlaced         interlaced GIF or PNG\n"
    "      --color-mode MODE    bitmap, 16, 256, gray or rgb\n"
    "      --size WxH           scale into a canvas of W x H pixels\n"
    "      --place X,Y,W,H      the rectangle of the canvas the image fills\n"
    "      --fill L[,L2,L3]     level(s) of the canvas around the rectangle\n"
    "      --interpolation K    nearest, bilinear, cubic or bspline\n"
    "      --pixel-correction M none, thin or thick\n"
    "      --convert-first      change the colour mode before scaling\n"
    "      --method M           how colours are reduced: threshold, diffusion,\n"
    "                           pattern or none (default diffusion)\n"
    "      --threshold N        grey level 0..255 from which pixels become white\n"
    "                           with --method threshold (default 127)\n"
    "      --quantization Q     palette building: popularity, uniform or\n"
    "                           median-cut (default popularity)\n"
    "      --levels R,G,B       levels per colour of the palette (default 8,8,4\n"
    "                           for 256 colours, 2,4,2 for 16)\n"
    "  -h, --help               show this help and exit\n"
    "\n"
    "Exit status: 0 when OUT was written, 1 when the conversion failed, 2 for a\n"
    "wrong command line.\n";

constexpr Name kModes[] = {{"bitmap", CMI_MODE_BITMAP}, {"16", CMI_MODE_16_COLOURS}, {"256", CMI_MODE_256_COLOURS},
                           {"gray", CMI_MODE_GRAYSCALE}, {"grey", CMI_MODE_GRAYSCALE}, {"rgb", CMI_MODE_RGB}};
constexpr Name kSampling[] = {{"444", 37}, {"422", 38}, {"420", 39}};
constexpr Name kInterpolation[] = {{"nearest", 8}, {"bilinear", 9}, {"bspline", 10}, {"cubic", 11}};
constexpr Name kMethods[] = {{"none", 0}, {"threshold", 19}, {"diffusion", 20}, {"pattern", 21}};
constexpr Name kQuantization[] = {{"popularity", 22}, {"uniform", 23}, {"median-cut", 24}};
constexpr Name kCorrection[] = {{"none", 0}, {"thin", 12}, {"thick", 13}};

}  // namespace

int runConvert(int argc, char **argv) {
    enum : int {
        kPages = 256, kQuality, kSampling_, kInterlaced, kColorMode, kSize, kPlace,
        kFill, kInterpolation_, kCorrection_, kConvertFirst, kMethod, kThreshold, kQuantization_, kLevels,
    };
    static const option kOptions[] = {
        {"to", required_argument, nullptr, 't'},
        {"compression", required_argument, nullptr, 'c'},
        {"pages", required_argument, nullptr, kPages},
        {"multipage", no_argument, nullptr, kOptionMultipage},
        {"predictor", required_argument, nullptr, kOptionPredictor},
        {"k", required_argument, nullptr, kOptionK},
        {"quality", required_argument, nullptr, kQuality},
        {"sampling", required_argument, nullptr, kSampling_},
        {"interlaced", no_argument, nullptr, kInterlaced},
        {"color-mode", required_argument, nullptr, kColorMode},
        {"size", required_argument, nullptr, kSize},
        {"place", required_argument, nullptr, kPlace},
        {"fill", required_argument, nullptr, kFill},
        {"interpolation", required_argument, nullptr, kInterpolation_},
        {"pixel-correction", required_argument, nullptr, kCorrection_},
        {"convert-first", no_argument, nullptr, kConvertFirst},
        {"method", required_argument, nullptr, kMethod},
        {"threshold", required_argument, nullptr, kThreshold},
        {"quantization", required_argument, nullptr, kQuantization_},
        {"levels", required_argument, nullptr, kLevels},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int32_t target = 0;
    OptionList list;
    auto bad = [](const char *what, const char *value) {
        return usageError("convert", std::string(what) + " '" + value + "' is not valid");
    };
    optind = 0;
    for (int c; (c = getopt_long(argc, argv, ":t:c:h", kOptions, nullptr)) != -1;) {
        int32_t code = 0;
        std::vector<int32_t> numbers;
        switch (c) {
        case 't':
            if (!lookup(kWritableFormats, optarg, target)) return bad("format", optarg);
            break;
        case 'c':
            if (!compressionCode(optarg, code)) return bad("compression", optarg);
            list.add("compression", code);
            break;
        case kPages:
            if (!parseNumbers(optarg, ':', 2, numbers) || numbers[0] < 1 || numbers[1] < 1) return bad("pages", optarg);
            list.add("index", numbers[0] - 1);
            list.add("entries", numbers[1]);
            break;
        case kOptionMultipage:
        case kOptionPredictor:
        case kOptionK:
            if (!addWriteOption(c, optarg, list)) return bad("value", optarg);
            break;
        case kQuality:
            if (!parseNumbers(optarg, ',', 1, numbers)) return bad("quality", optarg);
            list.add("quarityFactor", numbers[0]);
            break;
        case kSampling_:
            if (!lookup(kSampling, optarg, code)) return bad("sampling", optarg);
            list.add("samplingFactor", code);
            break;
        case kInterlaced: list.add("interlaced", 1); break;
        case kColorMode:
            if (!lookup(kModes, optarg, code)) return bad("colour mode", optarg);
            list.add("colorMode", code);
            break;
        case kSize:
            if (!parseNumbers(optarg, 'x', 2, numbers) || numbers[0] < 1 || numbers[1] < 1) return bad("size", optarg);
            list.add("xDimension", numbers[0]);
            list.add("yDimension", numbers[1]);
            break;
        case kPlace:
            if (!parseNumbers(optarg, ',', 4, numbers)) return bad("place", optarg);
            list.add("destinationXPoint", numbers[0]);
            list.add("destinationYPoint", numbers[1]);
            list.add("destinationWidth", numbers[2]);
            list.add("destinationHeight", numbers[3]);
            break;
        case kFill: {
            std::string text = optarg;
            size_t count = 1 + static_cast<size_t>(std::count(text.begin(), text.end(), ','));
            if (count > 3 || !parseNumbers(optarg, ',', count, numbers)) return bad("fill", optarg);
            const char *names[] = {"constantLevel", "constantLevel2", "constantLevel3"};
            for (size_t i = 0; i < count; ++i) list.add(names[i], numbers[i]);
            break;
        }
        case kInterpolation_:
            if (!lookup(kInterpolation, optarg, code)) return bad("interpolation", optarg);
            list.add("interpolation", code);
            break;
        case kCorrection_:
            if (!lookup(kCorrection, optarg, code)) return bad("pixel correction", optarg);
            list.add("morphologicalOperation", code);
            break;
        case kConvertFirst: list.add("internalOperation", 47); break;
        case kMethod:
            if (!lookup(kMethods, optarg, code)) return bad("method", optarg);
            list.add("modeMethod", code);
            break;
        case kThreshold:
            if (!parseNumbers(optarg, ',', 1, numbers) || numbers[0] < 0 || numbers[0] > 255) {
                return bad("threshold", optarg);
            }
            list.add("modeValue", numbers[0]);
            break;
        case kQuantization_:
            if (!lookup(kQuantization, optarg, code)) return bad("quantization", optarg);
            list.add("colourQuantization", code);
            break;
        case kLevels:
            if (!parseNumbers(optarg, ',', 3, numbers) || numbers[0] < 2 || numbers[1] < 2 || numbers[2] < 2) {
                return bad("levels", optarg);
            }
            list.add("modeLevel", numbers[0]);
            list.add("modeLevel2", numbers[1]);
            list.add("modeLevel3", numbers[2]);
            break;
        case 'h': std::fputs(kHelp, stdout); return kSuccess;
        default: return refusedOption("convert", argv, c);
        }
    }
    if (argc - optind != 2) return usageError("convert", "give one input and one output file");
    const char *input = argv[optind];
    const char *output = argv[optind + 1];
    if (target == 0) target = formatOfExtension(output);
    if (target == 0) return usageError("convert", std::string("no format for '") + output + "': use --to");

    const Inquiry source = inquireFormat(input);
    if (source.value == 0 || !source.ok()) {
        reportStatus(input, source.status ? "format inquiry failed" : "format not recognised", source.status);
        return kFailure;
    }
    int32_t status = 0;
    CmiFileFormatConvert(input, output, source.value, target, list.data(), list.count(), &status);
    if (status != 0) {
        reportStatus(output, std::string("conversion from ") + input + " failed", status);
        return kFailure;
    }
    return kSuccess;
}

}  // namespace orvo::cli
