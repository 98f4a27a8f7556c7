// POSIX implementation of the file layer.
#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::platform {

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool File::open(const char *path, FileMode mode) {
    if (fd_ >= 0) close();
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return false;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Read: flags |= O_RDONLY; break;
    case FileMode::ReadWriteExisting: flags |= O_RDWR; break;
    case FileMode::WriteCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    do {
        fd_ = ::open(path, flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return false;
    struct stat st;
    if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        errno = EISDIR;
        return false;
    }
    return true;
}

int64_t File::read(void *buffer, size_t count) {
    size_t done = 0;
    auto *out = static_cast<unsigned char *>(buffer);
    while (done < count) {
        ssize_t n = ::read(fd_, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t File::readAt(uint64_t offset, void *buffer, size_t count) {
    size_t done = 0;
    auto *out = static_cast<unsigned char *>(buffer);
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool File::write(const void *buffer, size_t count) {
    size_t done = 0;
    auto *in = static_cast<const unsigned char *>(buffer);
    while (done < count) {
        ssize_t n = ::write(fd_, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool File::writeAt(uint64_t offset, const void *buffer, size_t count) {
    size_t done = 0;
    auto *in = static_cast<const unsigned char *>(buffer);
    while (done < count) {
        ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool File::seek(uint64_t offset) {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

int64_t File::position() const { return ::lseek(fd_, 0, SEEK_CUR); }

bool File::resize(uint64_t size) { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

int64_t File::size() const {
    struct stat st;
    if (fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool File::close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

MappedFile::~MappedFile() {
    if (mapping_ != nullptr) munmap(mapping_, static_cast<size_t>(size_));
}

bool MappedFile::open(const char *path) {
    static const uint8_t kEmpty = 0;
    File file;
    if (!file.open(path, FileMode::Read)) return false;
    const int64_t length = file.size();
    if (length < 0) return false;
    if (length == 0) {
        data_ = &kEmpty;
        size_ = 0;
        return true;
    }
    struct stat st;
    if (fstat(file.descriptor(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(length) <= SIZE_MAX) {
        void *p = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                       file.descriptor(), 0);
        if (p != MAP_FAILED) {
            mapping_ = p;
            data_ = static_cast<const uint8_t *>(p);
            size_ = static_cast<uint64_t>(length);
            return true;
        }
    }
    try {
        copy_.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
    if (file.read(copy_.data(), copy_.size()) != length) return false;
    data_ = copy_.data();
    size_ = copy_.size();
    return true;
}

int64_t fileSize(const char *path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

bool fileExists(const char *path) {
    struct stat st;
    return path != nullptr && stat(path, &st) == 0;
}

bool removeFile(const char *path) { return path != nullptr && ::unlink(path) == 0; }

std::string temporaryFolder() {
    const char *dir = std::getenv("TMPDIR");
    std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool makeTemporaryFile(const char *prefix, std::string &path) {
    std::string name = temporaryFolder() + "/" + prefix + "XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    ::close(fd);
    path = name;
    return true;
}

bool writeWholeFile(const char *path, const void *data, size_t count) {
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return false;
    }
    std::string temp = std::string(path) + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    // mkstemp creates mode 0600; give the file the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    const auto *in = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (ok && done < count) {
        ssize_t n = ::write(fd, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.c_str(), path) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = savedErrno;
    }
    return ok;
}

}  // namespace orvo::platform
