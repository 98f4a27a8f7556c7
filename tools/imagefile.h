// The `orvo` command's view of an image file, through the public Cmi API
// only: its format, how many images it holds, the values of each image, and
// one image decoded into a packed bitmap handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "orvo/orvocore.h"

namespace orvo::cli {

// Short names of the codes of orvocore.h, or null for a code without one.
const char *formatName(int32_t format);
const char *colorModeName(int32_t colorMode);
const char *compressionName(int32_t compression);

// A Cmi result with the status it came with.
struct Inquiry {
    int32_t value = 0;
    int32_t status = 0;
    bool ok() const { return status == 0; }
};

// CmiInquireFileFormat: value is a CMI_FORMAT_* code, 0 when not recognised.
Inquiry inquireFormat(const char *file);

// Images in the file: the page count of a TIFF, 1 for a GIF (both asked of
// the library), 1 for every other format (which hold one image).
Inquiry inquireImageCount(const char *file, int32_t format);

// The values of one image; a value the library left untouched is empty.
struct ImageValues {
    std::optional<int32_t> width, height, colorMode, compression, interlaced;
};

// CmiInquireValues for images 0 .. imageCount-1 (only TIFF holds more than
// one).  "interlaced" is asked for PNG and GIF only.  Returns the status;
// whatever was filled before a failure is kept in `images`.
int32_t inquireValues(const char *file, int32_t format, int32_t imageCount,
                      std::vector<ImageValues> &images);

// Owns a packed bitmap handle returned by the library; frees it on
// destruction.  The bytes are reached only through a Lock.
class BitmapHandle {
  public:
    BitmapHandle() = default;
    BitmapHandle(const BitmapHandle &) = delete;
    BitmapHandle &operator=(const BitmapHandle &) = delete;
    ~BitmapHandle();

    HGLOBAL *slot() { return &handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Locks the block for the life of the Lock; bytes() is empty when the
    // handle is invalid or the block holds nothing.
    class Lock {
      public:
        explicit Lock(HGLOBAL handle);
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;
        ~Lock();
        std::span<const uint8_t> bytes() const { return bytes_; }

      private:
        HGLOBAL handle_;
        std::span<const uint8_t> bytes_;
    };
    Lock lock() const { return Lock(handle_); }

  private:
    HGLOBAL handle_ = nullptr;
};

// CmiReadAndParse of the image at 0-based `index` into `bitmap`.  value is
// the number of bitmaps stored (1 on success).
Inquiry readImage(const char *file, int32_t format, int32_t index, BitmapHandle &bitmap);

}  // namespace orvo::cli
