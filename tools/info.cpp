// `orvo info [--json] FILE...`: what the library says about each file - its
// format, how many images it holds, and each image's size, colour mode and
// compression.  A failed inquiry is reported and whatever was learnt before
// it is still shown; the exit status is 1 when any file failed.
#include <getopt.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "imagefile.h"

namespace orvo::cli {

namespace {

constexpr const char *kHelp =
    "Usage: orvo info [--json] FILE...\n"
    "Show the format, number of images, and each image's size, colour mode and\n"
    "compression of image files.\n"
    "\n"
    "  --json      one JSON object per file (an array when there are several);\n"
    "              values not known are null, a failure is in \"error\"\n"
    "  -h, --help  show this help and exit\n"
    "\n"
    "Exit status: 0 when every file was inquired, 1 when one failed, 2 for a\n"
    "wrong command line.\n";

struct Failure {
    std::string what;
    int32_t status;
};

struct FileReport {
    std::string file;
    int32_t format = 0;  // 0: not recognised
    std::optional<int32_t> imageCount;
    std::vector<ImageValues> images;
    std::optional<Failure> failure;
};

FileReport inquire(const char *file) {
    FileReport report;
    report.file = file;
    const Inquiry format = inquireFormat(file);
    if (format.value == 0 || !format.ok()) {
        report.failure = Failure{format.status ? "format inquiry failed" : "format not recognised",
                                 format.status};
        return report;
    }
    report.format = format.value;

    const Inquiry count = inquireImageCount(file, format.value);
    if (!count.ok() || count.value < 1) {
        report.failure = Failure{"image count inquiry failed", count.status};
        return report;
    }
    report.imageCount = count.value;

    if (int32_t status = inquireValues(file, format.value, count.value, report.images); status != 0)
        report.failure = Failure{"value inquiry failed", status};
    return report;
}

// ------------------------------------------------------------------ text

std::string number(const std::optional<int32_t> &value) {
    return value ? std::to_string(*value) : "?";
}

std::string named(const char *(*nameOf)(int32_t), const std::optional<int32_t> &code) {
    if (!code) return "?";
    const char *name = nameOf(*code);
    return (name ? std::string(name) + " " : std::string()) + "(" + std::to_string(*code) + ")";
}

void printText(const FileReport &report) {
    if (report.format == 0) return;  // nothing known beyond the error
    const char *name = formatName(report.format);
    std::printf("%s: %s (format %d)", report.file.c_str(), name ? name : "?", report.format);
    if (report.imageCount)
        std::printf(", %d image%s", *report.imageCount, *report.imageCount == 1 ? "" : "s");
    std::printf("\n");
    const bool interlacing = report.format == CMI_FORMAT_PNG || report.format == CMI_FORMAT_GIF;
    for (size_t i = 0; i < report.images.size(); ++i) {
        const ImageValues &image = report.images[i];
        if (!image.width && !image.height && !image.colorMode && !image.compression) continue;
        std::string line = "  image " + std::to_string(i + 1) + ": " + number(image.width) + " x " +
                           number(image.height) + ", colour mode " +
                           named(colorModeName, image.colorMode);
        if (image.compression) line += ", compression " + named(compressionName, image.compression);
        if (interlacing && image.interlaced)
            line += *image.interlaced ? ", interlaced" : ", not interlaced";
        std::printf("%s\n", line.c_str());
    }
}

// ------------------------------------------------------------------ JSON

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonNumber(const std::optional<int32_t> &value) {
    return value ? std::to_string(*value) : "null";
}

std::string jsonCode(const char *(*nameOf)(int32_t), const std::optional<int32_t> &code) {
    if (!code) return "null";
    const char *name = nameOf(*code);
    return "{\"code\": " + std::to_string(*code) +
           ", \"name\": " + (name ? jsonString(name) : "null") + "}";
}

std::string toJson(const FileReport &report) {
    const bool interlacing = report.format == CMI_FORMAT_PNG || report.format == CMI_FORMAT_GIF;
    std::string images;
    for (size_t i = 0; i < report.images.size(); ++i) {
        const ImageValues &image = report.images[i];
        images += std::string(i ? ", " : "") + "{\"width\": " + jsonNumber(image.width) +
                  ", \"height\": " + jsonNumber(image.height) +
                  ", \"colorMode\": " + jsonCode(colorModeName, image.colorMode) +
                  ", \"compression\": " + jsonCode(compressionName, image.compression) +
                  ", \"interlaced\": " +
                  (interlacing && image.interlaced ? (*image.interlaced ? "true" : "false")
                                                   : "null") +
                  "}";
    }
    std::string error = "null";
    if (report.failure)
        error = "{\"what\": " + jsonString(report.failure->what) +
                ", \"status\": " + std::to_string(report.failure->status) +
                ", \"text\": " + jsonString(OrvoStatusText(report.failure->status)) + "}";
    return "{\"file\": " + jsonString(report.file) + ", \"format\": " +
           jsonCode(formatName, report.format ? std::optional<int32_t>(report.format) : std::nullopt) +
           ", \"imageCount\": " + jsonNumber(report.imageCount) + ", \"images\": [" + images +
           "], \"error\": " + error + "}";
}

}  // namespace

int runInfo(int argc, char **argv) {
    static const option kOptions[] = {
        {"json", no_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    bool json = false;
    optind = 0;
    for (int c; (c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'j': json = true; break;
        case 'h': std::fputs(kHelp, stdout); return kSuccess;
        default: return refusedOption("info", argv, c);
        }
    }
    if (optind >= argc) return usageError("info", "no FILE given");

    const int files = argc - optind;
    int exit = kSuccess;
    if (json && files > 1) std::printf("[\n");
    for (int i = optind; i < argc; ++i) {
        const FileReport report = inquire(argv[i]);
        if (report.failure) {
            reportStatus(report.file, report.failure->what, report.failure->status);
            exit = kFailure;
        }
        if (!json)
            printText(report);
        else if (files > 1)
            std::printf("  %s%s\n", toJson(report).c_str(), i + 1 < argc ? "," : "");
        else
            std::printf("%s\n", toJson(report).c_str());
        std::fflush(stdout);
    }
    if (json && files > 1) std::printf("]\n");
    return exit;
}

}  // namespace orvo::cli
