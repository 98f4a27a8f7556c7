// Shared pieces of the `orvo` command: the subcommand table entry, exit
// codes, and the one way every subcommand reports an error.
//
// A subcommand is a function over its own arguments (argv[0] is the
// subcommand's name) that returns an exit code.  Adding one means a new
// source file with its run function and a line in the table of orvo.cpp.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvo::cli {

// Exit codes, as the shell sees them.
enum Exit : int {
    kSuccess = 0,
    kFailure = 1,  // a file could not be read, inquired, decoded or written
    kUsage = 2,    // the command line itself is wrong
};

struct Command {
    const char *name;
    const char *summary;  // one line for `orvo --help`
    int (*run)(int argc, char **argv);
};

int runInfo(int argc, char **argv);
int runDecode(int argc, char **argv);
int runConvert(int argc, char **argv);
int runPages(int argc, char **argv);

// "orvo: FILE: WHAT: status N (TEXT)" on stderr, for a failed Cmi call.
void reportStatus(std::string_view file, std::string_view what, int32_t status);

// "orvo: FILE: WHAT" on stderr, for failures that are not Cmi statuses.
void reportError(std::string_view file, std::string_view what);

// "orvo: MESSAGE" and "Try 'orvo COMMAND --help'." on stderr; returns kUsage.
int usageError(std::string_view command, std::string_view message);

// Reports the option getopt_long just refused as a usage error of `command`:
// `result` is getopt_long's answer, '?' (unknown option) or ':' (missing
// value; the option string must start with ':').  Returns kUsage.
int refusedOption(std::string_view command, char **argv, int result);

}  // namespace orvo::cli
