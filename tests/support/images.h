// Helpers shared by the tests: reference images (binary PNM), packed bitmaps
// turned into RGB, and small BMP files built in code.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "orvo/globalmem.h"

namespace orvo::test {

struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // top row first, R G B
};

// A test name made of a corpus path: every character that is not a letter
// or digit becomes '_'.
inline std::string testNameOf(std::string path) {
    for (char &ch : path) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return path;
}

inline std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Reads a binary P5 or P6 file with maxval 255; grey becomes R = G = B.
inline bool readPnm(const std::string &path, Rgb *image) {
    std::vector<uint8_t> bytes = readFile(path);
    size_t at = 0;
    auto token = [&]() -> std::string {
        while (at < bytes.size()) {
            if (bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            } else if (std::isspace(bytes[at])) {
                ++at;
            } else {
                break;
            }
        }
        std::string t;
        while (at < bytes.size() && !std::isspace(bytes[at])) t += static_cast<char>(bytes[at++]);
        return t;
    };
    std::string magic = token();
    if (magic != "P5" && magic != "P6") return false;
    image->width = std::stoi(token());
    image->height = std::stoi(token());
    if (std::stoi(token()) != 255) return false;
    ++at;
    size_t channels = magic == "P6" ? 3 : 1;
    size_t count = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
    if (bytes.size() < at + count * channels) return false;
    image->pixels.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        for (size_t c = 0; c < 3; ++c) image->pixels[3 * i + c] = bytes[at + i * channels + (channels == 3 ? c : 0)];
    }
    return true;
}

inline uint32_t le32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
inline uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Expands a packed bitmap (40-byte header, palette, bottom-up rows) to RGB.
inline bool dibToRgb(const uint8_t *dib, size_t size, Rgb *image) {
    if (size < 40 || le32(dib) != 40) return false;
    int32_t w = static_cast<int32_t>(le32(dib + 4)), h = static_cast<int32_t>(le32(dib + 8));
    uint16_t depth = le16(dib + 14);
    uint32_t used = le32(dib + 32);
    if (w < 1 || h < 1) return false;
    uint32_t entries = depth <= 8 ? (used != 0 ? used : 1u << depth) : used;
    const uint8_t *palette = dib + 40;
    const uint8_t *bits = palette + entries * 4;
    size_t row = ((static_cast<size_t>(w) * depth + 31) / 32) * 4;
    if (static_cast<size_t>(bits - dib) + row * h > size) return false;
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * h * 3, 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = bits + row * static_cast<size_t>(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint8_t *px = &image->pixels[(static_cast<size_t>(y) * w + x) * 3];
            if (depth == 24) {
                px[0] = src[3 * x + 2];
                px[1] = src[3 * x + 1];
                px[2] = src[3 * x];
                continue;
            }
            uint32_t index = depth == 8 ? src[x] : depth == 4 ? (src[x / 2] >> ((x & 1) ? 0 : 4)) & 15
                                                             : (src[x / 8] >> (7 - x % 8)) & 1;
            if (index < entries) {
                px[0] = palette[4 * index + 2];
                px[1] = palette[4 * index + 1];
                px[2] = palette[4 * index];
            }
        }
    }
    return true;
}

inline bool handleToRgb(HGLOBAL handle, Rgb *image) {
    auto *dib = static_cast<const uint8_t *>(GlobalLock(handle));
    bool ok = dib != nullptr && dibToRgb(dib, GlobalSize(handle), image);
    GlobalUnlock(handle);
    return ok;
}

// Builds a BMP file: `rows` are the stored (bottom-up, padded) pixel rows.
inline std::vector<uint8_t> makeBmp(int32_t width, int32_t height, uint16_t depth,
                                    const std::vector<uint8_t> &palette, const std::vector<uint8_t> &rows,
                                    uint32_t compression = 0, uint32_t coloursUsed = 0) {
    std::vector<uint8_t> file(54, 0);
    auto put32 = [&file](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i)); };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, static_cast<uint32_t>(54 + palette.size()));
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = static_cast<uint8_t>(depth);
    file[29] = static_cast<uint8_t>(depth >> 8);
    put32(30, compression);
    put32(34, compression != 0 ? static_cast<uint32_t>(rows.size()) : 0);
    put32(46, coloursUsed);
    file.insert(file.end(), palette.begin(), palette.end());
    file.insert(file.end(), rows.begin(), rows.end());
    put32(2, static_cast<uint32_t>(file.size()));
    return file;
}

}  // namespace orvo::test
