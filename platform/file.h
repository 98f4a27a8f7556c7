// File access for the core: plain files, temporary work files and whole-file
// writes that never leave a partial file behind.
//
// All calls report failure by their return value and keep errno as the
// system left it, so callers can log the system's text for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::platform {

enum class FileMode {
    Read,               // read access, the file must exist
    ReadWriteExisting,  // read and write access, the file must exist
    WriteCreate,        // read and write access, created or truncated
};

// One open file.  Moves, never copies; closes itself when destroyed.
class File {
public:
    File() = default;
    ~File();
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool open(const char *path, FileMode mode);
    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    // Reads up to `count` bytes at the current position; the number read
    // (short only at the end of the file) or -1.
    int64_t read(void *buffer, size_t count);
    // Reads up to `count` bytes at `offset` without moving the position.
    int64_t readAt(uint64_t offset, void *buffer, size_t count);
    // Writes all `count` bytes or fails.
    bool write(const void *buffer, size_t count);
    bool writeAt(uint64_t offset, const void *buffer, size_t count);
    bool seek(uint64_t offset);
    int64_t position() const;
    // Sets the size; new bytes read as zero.
    bool resize(uint64_t size);
    // Size in bytes, or -1.
    int64_t size() const;
    // Closes; false when the system reports a failure (data may be lost).
    bool close();

private:
    int fd_ = -1;
};

// The whole contents of a file, read only: mapped into memory when the file
// is a regular one (no copy; the bytes come from the page cache), read into
// a buffer otherwise.  The file must not be truncated by another process
// while it is mapped.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // False when the file cannot be opened or read (errno says why).
    bool open(const char *path);
    const uint8_t *data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    const uint8_t *data_ = nullptr;
    uint64_t size_ = 0;
    void *mapping_ = nullptr;
    std::vector<uint8_t> copy_;
};

// Size of the file at `path`, or -1 when it cannot be examined.
int64_t fileSize(const char *path);
bool fileExists(const char *path);
bool removeFile(const char *path);

// The system temporary folder ($TMPDIR, else /tmp), without trailing slash.
std::string temporaryFolder();

// Creates a new empty file with a unique name "<prefix>XXXXXX" in the
// temporary folder and stores its path; false on failure.
bool makeTemporaryFile(const char *prefix, std::string &path);

// Writes `count` bytes as the whole content of `path`: into a temporary file
// beside it, synced, then renamed over `path`.  On failure nothing is left
// behind and an existing file at `path` is unchanged.
bool writeWholeFile(const char *path, const void *data, size_t count);

}  // namespace orvo::platform
