// `orvo`: reading, inquiring, converting and editing raster images from the shell, through the
// public Cmi API of liborvocore only.  This file holds the table of
// subcommands and the top-level options; each subcommand lives in a file of
// its own (info.cpp, decode.cpp) with its options and help.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli.h"

#ifndef ORVO_VERSION
#error "ORVO_VERSION is set by the build"
#endif

namespace orvo::cli {

int runProcess(int argc, char **argv);  // process.cpp

namespace {

constexpr Command kCommands[] = {
    {"info", "show the format, size, colour mode and compression of image files", runInfo},
    {"decode", "decode one image of a file into a BMP file", runDecode},
    {"convert", "convert an image file into another format", runConvert},
    {"pages", "append, insert, replace or delete pages of a TIFF file", runPages},
    {"process", "resize, rotate, convert the colour mode of or retouch an image", runProcess},
};

void printHelp(FILE *to) {
    std::fprintf(to,
        "Usage: orvo COMMAND [OPTION]... [ARGUMENT]...\n"
        "Read, inquire, convert and edit raster images: BMP, TIFF, JPEG, PNG, GIF, PCX\nand SIA.\n"
        "\n"
        "Commands:\n");
    for (const Command &command : kCommands) std::fprintf(to, "  %-8s %s\n", command.name, command.summary);
    std::fprintf(to,
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit\n"
        "  -V, --version  show the version and exit\n"
        "\n"
        "Run 'orvo COMMAND --help' for the options of a command.\n");
}

const Command *find(std::string_view name) {
    for (const Command &command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

int run(int argc, char **argv) {
    if (argc < 2) {
        printHelp(stderr);
        return kUsage;
    }
    const std::string_view first = argv[1];
    if (first == "-h" || first == "--help") {
        printHelp(stdout);
        return kSuccess;
    }
    if (first == "-V" || first == "--version") {
        std::printf("orvo %s\n", ORVO_VERSION);
        return kSuccess;
    }
    if (first == "help") {  // `orvo help COMMAND` is `orvo COMMAND --help`
        if (argc < 3) {
            printHelp(stdout);
            return kSuccess;
        }
        const Command *command = find(argv[2]);
        if (!command) return usageError("", "unknown command '" + std::string(argv[2]) + "'");
        char help[] = "--help";
        char *helpArgv[] = {argv[2], help, nullptr};
        return command->run(2, helpArgv);
    }
    if (!first.empty() && first[0] == '-')
        return usageError("", "unknown option '" + std::string(first) + "'");
    const Command *command = find(first);
    if (!command) return usageError("", "unknown command '" + std::string(first) + "'");
    return command->run(argc - 1, argv + 1);
}

}  // namespace
}  // namespace orvo::cli

int main(int argc, char **argv) {
    const int exit = orvo::cli::run(argc, argv);
    if (std::fflush(stdout) != 0 && exit == orvo::cli::kSuccess) {
        std::fprintf(stderr, "orvo: cannot write to standard output: %s\n", std::strerror(errno));
        return orvo::cli::kFailure;
    }
    return exit;
}
