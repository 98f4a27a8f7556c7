// Option lists for the library's writing and converting functions, built
// from the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "orvo/orvocore.h"

namespace orvo::cli {

// (name, value) pairs for a Cmi call; names are string literals.
class OptionList {
  public:
    void add(const char *name, intptr_t value) { pairs_.push_back({name, value}); }
    const CmiAttribute *data() const { return pairs_.data(); }
    int32_t count() const { return static_cast<int32_t>(pairs_.size()); }

  private:
    std::vector<CmiAttribute> pairs_;
};

// A word of the command line and the code it stands for.
struct Name {
    const char *name;
    int32_t code;
};

// The code of `text` in `names`; false when it is none of them.
template <size_t N>
bool lookup(const Name (&names)[N], std::string_view text, int32_t &code) {
    for (const Name &n : names) {
        if (text == n.name) {
            code = n.code;
            return true;
        }
    }
    return false;
}

// The formats files can be written in, by name or extension (bmp, dib, tif,
// tiff, jpg, jpeg, gif, pcx, png).
inline constexpr Name kWritableFormats[] = {
    {"bmp", CMI_FORMAT_BMP},   {"dib", CMI_FORMAT_BMP},  {"tif", CMI_FORMAT_TIFF},
    {"tiff", CMI_FORMAT_TIFF}, {"jpg", CMI_FORMAT_JPEG}, {"jpeg", CMI_FORMAT_JPEG},
    {"gif", CMI_FORMAT_GIF},   {"pcx", CMI_FORMAT_PCX},  {"png", CMI_FORMAT_PNG}};

// The writable format named by the extension of `path`, or 0.
int32_t formatOfExtension(std::string_view path);

// The CMI_COMPRESSION_* code of a user's name for it (none, packbits, lzw,
// mh, g3, g3-2d, g4, rle).
bool compressionCode(std::string_view name, int32_t &code);

// The write options convert and pages share, as getopt_long entries with
// values from kWriteOptionFirst on.  addWriteOption takes one of them;
// false when its value is not valid.
inline constexpr int kWriteOptionFirst = 512;
enum WriteOption : int { kOptionMultipage = kWriteOptionFirst, kOptionPredictor, kOptionK };
bool addWriteOption(int option, const char *value, OptionList &list);

// Exactly `count` decimal integers separated by `separator` ("800x600",
// "1:20", "0,0,10,10").
bool parseNumbers(const char *text, char separator, size_t count, std::vector<int32_t> &numbers);

}  // namespace orvo::cli
