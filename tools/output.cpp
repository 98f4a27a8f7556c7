// All-or-nothing output files (see output.h): mkstemp beside the target,
// write, close, rename.  The temporary file is removed on every failure.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orvo::cli {

namespace {

bool writeAll(int fd, std::initializer_list<std::span<const uint8_t>> parts) {
    for (auto part : parts) {
        while (!part.empty()) {
            const ssize_t written = ::write(fd, part.data(), part.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            part = part.subspan(static_cast<size_t>(written));
        }
    }
    return true;
}

std::string failure(const std::string &what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string writeOutput(const std::string &path,
                        std::initializer_list<std::span<const uint8_t>> parts) {
    if (path == "-")
        return writeAll(STDOUT_FILENO, parts) ? "" : failure("cannot write to standard output");

    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = directory + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');

    const int fd = ::mkstemp(name.data());
    if (fd < 0) return failure("cannot create a file in " + directory);
    temporary = name.data();

    // mkstemp makes the file private; give it the usual mode of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    std::string error;
    if (!writeAll(fd, parts)) error = failure("cannot write");
    if (::close(fd) != 0 && error.empty()) error = failure("cannot write");
    if (error.empty() && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = failure("cannot replace");
    if (!error.empty()) ::unlink(temporary.c_str());
    return error;
}

}  // namespace orvo::cli
