// Runs a fuzz target over files given on the command line (folders are
// walked recursively), so that seeds and corpora replay as an ordinary test
// under any compiler.  Missing paths are skipped with a note.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void replay(const std::filesystem::path &path, size_t *count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
}

}  // namespace

int main(int argc, char **argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path root(argv[i]);
        std::error_code error;
        if (std::filesystem::is_regular_file(root, error)) {
            replay(root, &count);
        } else if (std::filesystem::is_directory(root, error)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(root, error)) {
                if (entry.is_regular_file() && entry.file_size() <= (8u << 20)) replay(entry.path(), &count);
            }
        } else {
            std::fprintf(stderr, "replay: %s not found, skipped\n", argv[i]);
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
