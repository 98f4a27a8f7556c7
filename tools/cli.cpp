// Error reporting shared by the subcommands (see cli.h).
#include "cli.h"

#include <getopt.h>

#include <cstdio>
#include <string>

#include "orvo/orvostatus.h"

namespace orvo::cli {

namespace {

void printLine(const std::string &line) { std::fprintf(stderr, "orvo: %s\n", line.c_str()); }

}  // namespace

void reportStatus(std::string_view file, std::string_view what, int32_t status) {
    printLine(std::string(file) + ": " + std::string(what) + ": status " + std::to_string(status) +
              " (" + OrvoStatusText(status) + ")");
}

void reportError(std::string_view file, std::string_view what) {
    printLine(std::string(file) + ": " + std::string(what));
}

int usageError(std::string_view command, std::string_view message) {
    printLine(std::string(message));
    std::string help = command.empty() ? "orvo --help" : "orvo " + std::string(command) + " --help";
    std::fprintf(stderr, "Try '%s'.\n", help.c_str());
    return kUsage;
}

int refusedOption(std::string_view command, char **argv, int result) {
    // getopt_long leaves a refused long option (unknown, given a value it
    // does not take, or missing its value) just before optind; for a short
    // one optopt is its letter.
    const char *previous = optind > 0 ? argv[optind - 1] : "";
    const std::string option = optopt == 0 || std::string_view(previous).starts_with("--")
                                   ? std::string(previous)
                                   : std::string("-") + static_cast<char>(optopt);
    return usageError(command, result == ':' ? "option '" + option + "' needs a value"
                                             : "invalid option '" + option + "'");
}

}  // namespace orvo::cli
