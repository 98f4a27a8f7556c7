// `orvo pages FILE OPERATION ...`: edits the pages of a TIFF file through
// CmiGenerateAndWriteAndControl.  New pages are read from image files of any
// readable format; the library rewrites FILE whole and replaces it only when
// the new one is complete.
#include <getopt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "imagefile.h"
#include "options.h"

namespace orvo::cli {

namespace {

constexpr const char *kHelp =
    "Usage: orvo pages FILE append IMAGE...\n"
    "       orvo pages FILE insert --at N IMAGE...\n"
    "       orvo pages FILE replace --at N IMAGE...\n"
    "       orvo pages FILE delete --at N [--count C]\n"
    "Edit the pages of the TIFF file FILE: append images (FILE is created when\n"
    "missing), insert them before page N, replace C pages from page N with them,\n"
    "or delete C pages (default 1) from page N.  Pages count from 1; deleting\n"
    "every page removes FILE.  The first image of each IMAGE file is used.\n"
    "\n"
    "  -a, --at N               the page to insert before, replace or delete\n"
    "  -n, --count C            the number of pages to delete\n"
    "  -c, --compression NAME   none, packbits, lzw, mh, g3, g3-2d or g4\n"
    "      --multipage          mark the new pages as pages of a multi-page file\n"
    "      --predictor N        TIFF predictor\n"
    "      --k N                the K parameter of two-dimensional fax coding\n"
    "  -h, --help               show this help and exit\n"
    "\n"
    "Exit status: 0 when FILE was rewritten, 1 when an image could not be read\n"
    "or the edit failed, 2 for a wrong command line.\n";

struct Operation {
    const char *name;
    int32_t code;
    bool takesImages;
};

constexpr Operation kOperations[] = {
    {"append", CMI_PAGES_APPEND, true},
    {"insert", CMI_PAGES_INSERT, true},
    {"replace", CMI_PAGES_REPLACE, true},
    {"delete", CMI_PAGES_DELETE, false},
};

}  // namespace

int runPages(int argc, char **argv) {
        static const option kOptions[] = {
        {"at", required_argument, nullptr, 'a'},
        {"count", required_argument, nullptr, 'n'},
        {"compression", required_argument, nullptr, 'c'},
        {"multipage", no_argument, nullptr, kOptionMultipage},
        {"predictor", required_argument, nullptr, kOptionPredictor},
        {"k", required_argument, nullptr, kOptionK},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int32_t at = 0, count = 1;
    bool haveAt = false;
    OptionList list;
    auto bad = [](const char *what, const char *value) {
        return usageError("pages", std::string(what) + " '" + value + "' is not valid");
    };
    optind = 0;
    for (int c; (c = getopt_long(argc, argv, ":a:n:c:h", kOptions, nullptr)) != -1;) {
        std::vector<int32_t> numbers;
        int32_t code = 0;
        switch (c) {
        case 'a':
            if (!parseNumbers(optarg, ',', 1, numbers) || numbers[0] < 1) return bad("page", optarg);
            at = numbers[0] - 1;
            haveAt = true;
            break;
        case 'n':
            if (!parseNumbers(optarg, ',', 1, numbers) || numbers[0] < 1) return bad("count", optarg);
            count = numbers[0];
            break;
        case 'c':
            if (!compressionCode(optarg, code) || code == CMI_COMPRESSION_BMP_RLE) return bad("compression", optarg);
            list.add("compression", code);
            break;
        case kOptionMultipage:
        case kOptionPredictor:
        case kOptionK:
            if (!addWriteOption(c, optarg, list)) return bad("value", optarg);
            break;
        case 'h': std::fputs(kHelp, stdout); return kSuccess;
        default: return refusedOption("pages", argv, c);
        }
    }
    if (argc - optind < 2) return usageError("pages", "give FILE and an operation");
    const char *file = argv[optind];
    const std::string_view name = argv[optind + 1];
    const Operation *operation = nullptr;
    for (const Operation &o : kOperations) {
        if (name == o.name) operation = &o;
    }
    if (operation == nullptr) return usageError("pages", "unknown operation '" + std::string(name) + "'");
    const int images = argc - optind - 2;
    if (operation->takesImages && images < 1) return usageError("pages", "no IMAGE given");
    if (!operation->takesImages && images > 0) return usageError("pages", "delete takes no IMAGE");
    if (operation->code != CMI_PAGES_APPEND && !haveAt) return usageError("pages", "--at N is needed");

    std::vector<std::unique_ptr<BitmapHandle>> bitmaps;
    std::vector<HGLOBAL> handles;
    for (int i = 0; i < images; ++i) {
        const char *image = argv[optind + 2 + i];
        const Inquiry format = inquireFormat(image);
        if (format.value == 0 || !format.ok()) {
            reportStatus(image, format.status ? "format inquiry failed" : "format not recognised", format.status);
            return kFailure;
        }
        bitmaps.push_back(std::make_unique<BitmapHandle>());
        const Inquiry read = readImage(image, format.value, 0, *bitmaps.back());
        if (read.value != 1 || !read.ok()) {
            reportStatus(image, "decoding failed", read.status);
            return kFailure;
        }
        handles.push_back(*bitmaps.back()->slot());
    }
    int32_t status = 0;
    CmiGenerateAndWriteAndControl(handles.empty() ? nullptr : handles.data(),
                                  operation->takesImages ? static_cast<int32_t>(handles.size()) : count, file,
                                  CMI_FORMAT_TIFF, operation->code, at, list.data(), list.count(), &status);
    if (status != 0) {
        reportStatus(file, std::string(operation->name) + " failed", status);
        return kFailure;
    }
    return kSuccess;
}

}  // namespace orvo::cli
