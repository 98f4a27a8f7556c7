// Writing a command's output file: all of it or nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace orvo::cli {

// Writes the concatenated `parts` to `path`, or to standard output when
// `path` is "-".  A file is written to a temporary file in the same
// directory and renamed over `path` when complete, so readers see the old
// file or the whole new one, and a failure leaves nothing behind.
// Returns an empty string on success, else what failed.
std::string writeOutput(const std::string &path,
                        std::initializer_list<std::span<const uint8_t>> parts);

}  // namespace orvo::cli
