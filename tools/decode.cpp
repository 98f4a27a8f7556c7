// `orvo decode FILE -o OUT.bmp [--page N]`: reads one image of FILE through
// the library into a packed bitmap and writes it as a BMP file.  The bitmap
// is checked before its sizes are used for anything, and the output appears
// whole or not at all.
#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bmpfile.h"
#include "cli.h"
#include "imagefile.h"
#include "output.h"

namespace orvo::cli {

namespace {

constexpr const char *kHelp =
    "Usage: orvo decode FILE -o OUT.bmp [--page N]\n"
    "Decode one image of FILE and write it as a BMP file.\n"
    "\n"
    "  -o, --output OUT  the BMP file to write ('-' for standard output); it is\n"
    "                    replaced only when the whole image was written\n"
    "  -p, --page N      the image to decode, from 1 (default 1); only TIFF\n"
    "                    files hold more than one\n"
    "  -h, --help        show this help and exit\n"
    "\n"
    "Exit status: 0 when the image was written, 1 when reading or writing\n"
    "failed, 2 for a wrong command line.\n";

bool parsePage(const char *text, int32_t &page) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > INT32_MAX) return false;
    page = static_cast<int32_t>(value);
    return true;
}

int decode(const char *file, const std::string &output, int32_t page) {
    const Inquiry format = inquireFormat(file);
    if (format.value == 0 || !format.ok()) {
        reportStatus(file, format.status ? "format inquiry failed" : "format not recognised",
                     format.status);
        return kFailure;
    }
    // Asking for an image the file does not hold is refused here: the
    // library's readers of one-image formats do not look at the index.
    const Inquiry count = inquireImageCount(file, format.value);
    if (!count.ok() || count.value < 1) {
        reportStatus(file, "image count inquiry failed", count.status);
        return kFailure;
    }
    if (page > count.value) {
        reportError(file, "no page " + std::to_string(page) + ": the file holds " +
                              std::to_string(count.value) + " image" +
                              (count.value == 1 ? "" : "s"));
        return kFailure;
    }

    BitmapHandle bitmap;
    const Inquiry read = readImage(file, format.value, page - 1, bitmap);
    if (read.value != 1 || !read.ok() || !bitmap) {
        reportStatus(file, "decoding failed", read.status);
        return kFailure;
    }

    const BitmapHandle::Lock lock = bitmap.lock();
    PackedBitmap layout;
    std::string why;
    if (lock.bytes().empty()) {
        reportError(file, "decoded bitmap handle cannot be locked");
        return kFailure;
    }
    if (!checkPackedBitmap(lock.bytes(), layout, why)) {
        reportError(file, "decoded " + why);
        return kFailure;
    }
    const auto header = bmpFileHeader(layout, static_cast<uint32_t>(lock.bytes().size()));
    if (std::string error = writeOutput(output, {header, lock.bytes()}); !error.empty()) {
        reportError(output, error);
        return kFailure;
    }
    return kSuccess;
}

}  // namespace

int runDecode(int argc, char **argv) {
    static const option kOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"page", required_argument, nullptr, 'p'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    const char *output = nullptr;
    int32_t page = 1;
    optind = 0;
    for (int c; (c = getopt_long(argc, argv, ":o:p:h", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'o': output = optarg; break;
        case 'p':
            if (!parsePage(optarg, page))
                return usageError("decode", "page '" + std::string(optarg) +
                                                "' is not a number from 1");
            break;
        case 'h': std::fputs(kHelp, stdout); return kSuccess;
        default: return refusedOption("decode", argv, c);
        }
    }
    if (optind >= argc) return usageError("decode", "no FILE given");
    if (argc - optind > 1) return usageError("decode", "only one FILE can be decoded at a time");
    if (!output || !*output) return usageError("decode", "no output given (-o OUT.bmp)");
    return decode(argv[optind], output, page);
}

}  // namespace orvo::cli
