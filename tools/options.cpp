// Parsing of the option values shared by convert and pages.
#include "options.h"

#include <cctype>
#include <string>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace orvo::cli {

bool compressionCode(std::string_view name, int32_t &code) {
    struct Entry {
        const char *name;
        int32_t code;
    };
    static constexpr Entry kCodes[] = {
        {"none", CMI_COMPRESSION_NONE}, {"packbits", CMI_COMPRESSION_PACKBITS}, {"lzw", CMI_COMPRESSION_LZW},
        {"mh", CMI_COMPRESSION_MH},     {"g3", CMI_COMPRESSION_G3},             {"g3-2d", CMI_COMPRESSION_G3_2D},
        {"g4", CMI_COMPRESSION_G4},     {"rle", CMI_COMPRESSION_BMP_RLE},
    };
    for (const Entry &e : kCodes) {
        if (name == e.name) {
            code = e.code;
            return true;
        }
    }
    return false;
}

bool addWriteOption(int option, const char *value, OptionList &list) {
    std::vector<int32_t> numbers;
    switch (option) {
    case kOptionMultipage: list.add("newSubfileType", CMI_SUBFILE_PAGE); return true;
    case kOptionPredictor:
        if (!parseNumbers(value, ',', 1, numbers)) return false;
        list.add("predictor", numbers[0]);
        return true;
    case kOptionK:
        if (!parseNumbers(value, ',', 1, numbers)) return false;
        list.add("k", numbers[0]);
        return true;
    default: return false;
    }
}

bool parseNumbers(const char *text, char separator, size_t count, std::vector<int32_t> &numbers) {
    numbers.clear();
    const char *at = text;
    for (size_t i = 0; i < count; ++i) {
        char *end = nullptr;
        errno = 0;
        const long value = std::strtol(at, &end, 10);
        if (errno != 0 || end == at || value < INT32_MIN || value > INT32_MAX) return false;
        numbers.push_back(static_cast<int32_t>(value));
        const bool last = i + 1 == count;
        if (last ? *end != '\0' : *end != separator) return false;
        at = end + 1;
    }
    return true;
}

int32_t formatOfExtension(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return 0;
    std::string extension(path.substr(dot + 1));
    for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int32_t code = 0;
    lookup(kWritableFormats, extension, code);
    return code;
}

}  // namespace orvo::cli
