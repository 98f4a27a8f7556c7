// Helpers for tests of the core internals: an environment that closes itself,
// a scratch folder that removes itself, whole-object sample transfers through
// the access layer, and a little-endian / big-endian byte builder for file
// images made in code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "core/env/access.h"
#include "core/env/environment.h"
#include "core/env/object.h"

namespace orvo::test {

// Opens an environment for one test and checks that it closes cleanly.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const char *logName = nullptr) : env_(openEnvironment(logName)) {}
    ~ScopedEnvironment() {
        if (env_ != nullptr) EXPECT_EQ(closeEnvironment(env_), kOk);
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    Environment *get() const { return env_; }
    operator Environment *() const { return env_; }

private:
    Environment *env_;
};

// A fresh, empty folder under the system temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    bool ok() const { return !path_.empty(); }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool putFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline CmiAttribute pointerPair(const char *name, const void *pointer) {
    return {name, reinterpret_cast<intptr_t>(pointer)};
}

// Every stored byte of `object` (its data size), read as one byte range.
inline int readAllSamples(Environment *env, DataObject *object, std::vector<uint8_t> *bytes) {
    uint64_t size = 0;
    if (!dataSize(env, object, &size)) return kOutOfRange;
    bytes->assign(static_cast<size_t>(size), 0);
    DataAccess *in;
    if (int code = openAccess(env, object, AccessMode::Read, 0, {}, &in)) return code;
    int code = readBytes(in, 0, bytes->data(), bytes->size());
    int closed = closeAccess(env, in);
    return code != kOk ? code : closed;
}

// Stores `bytes` as the samples of `object` and marks it inited.
inline int writeAllSamples(Environment *env, DataObject *object, const std::vector<uint8_t> &bytes) {
    DataAccess *out;
    if (int code = openAccess(env, object, AccessMode::Write, 0, {}, &out)) return code;
    int code = writeBytes(out, 0, bytes.data(), bytes.size());
    int closed = closeAccess(env, out);
    return code != kOk ? code : closed;
}

// Appends integers of a file image in either byte order.
class Bytes {
public:
    explicit Bytes(bool littleEndian = true) : little_(littleEndian) {}

    Bytes &u8(uint32_t v) {
        data_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes &u8s(std::initializer_list<uint8_t> values) {
        data_.insert(data_.end(), values.begin(), values.end());
        return *this;
    }
    Bytes &u16(uint32_t v) { return put(v, 2); }
    Bytes &u32(uint32_t v) { return put(v, 4); }
    Bytes &text(const char *s) {
        while (*s != '\0') data_.push_back(static_cast<uint8_t>(*s++));
        return *this;
    }
    Bytes &zeros(size_t n) {
        data_.insert(data_.end(), n, 0);
        return *this;
    }
    size_t size() const { return data_.size(); }
    const std::vector<uint8_t> &data() const { return data_; }

private:
    Bytes &put(uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            int shift = little_ ? 8 * i : 8 * (n - 1 - i);
            data_.push_back(static_cast<uint8_t>(v >> shift));
        }
        return *this;
    }

    bool little_;
    std::vector<uint8_t> data_;
};

}  // namespace orvo::test
