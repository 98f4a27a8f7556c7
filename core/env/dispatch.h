// Format detection and the read and write pipelines.
//
// Files and memory images are wrapped in file objects (repository 83 with
// "fileName", or 9 with "applicationAddressSpace" and "size") and handed to
// the reader or writer of their format through the format table.  Coded
// pixel data passes through the compression stage in between.  Every object
// made here is destroyed, and every block freed, on success and on failure.
#pragma once

#include <cstdint>
#include <span>

#include "core/env/object.h"

namespace orvo {

// The format of a file or memory image; 0 when unknown, the reason in the
// environment's last error.  Memory images shorter than 10 bytes report 8.
int32_t detectFileFormat(Environment *env, const char *fileName);
int32_t detectMemoryFormat(Environment *env, const void *address, uint64_t length);

// Parses into `destination` from the named file, or from memory when the
// list carries "applicationAddressSpace" (and "size").  Modes 0, 171, 172.
int parseImage(Environment *env, const char *fileName, DataObject *destination, int32_t format,
               int32_t mode, std::span<const CmiAttribute> list);

// Generates the file `fileName` (or, with "applicationAddressSpace" in the
// list, memory) of `format` from `source`.
int generateImage(Environment *env, DataObject *source, const char *fileName, int32_t format,
                  std::span<const CmiAttribute> list);

// Header, then samples (through the compression stage when coded) of one
// image of a file or memory image.
int readImage(Environment *env, const char *fileName, DataObject *destination, int32_t format,
              std::span<const CmiAttribute> list);
int readImageFromMemory(Environment *env, const void *address, uint64_t size, DataObject *destination,
                        int32_t format, std::span<const CmiAttribute> list);

// Writes `source` as a file of `format`, encoding it first when the format's
// default or the list's "compression" asks for a coding.
int writeImage(Environment *env, DataObject *source, const char *fileName, int32_t format,
               std::span<const CmiAttribute> list);

// Generates the file `fileName` from `source` as it is (coded pages are
// stored with their own compression), beside its final name first, so that a
// failure leaves no partial file and an existing file unchanged.
int generateFile(Environment *env, DataObject *source, const char *fileName, int32_t format,
                 std::span<const CmiAttribute> list);

// Number of image file directories of a TIFF file or memory image; 0 with
// the reason recorded (22 when it is not a TIFF).
int32_t countTiffPages(Environment *env, const char *fileName);
int32_t countTiffPagesInMemory(Environment *env, const void *address, uint64_t size);

// The whole bytes of a file, read only, at *data (mapped, not copied, for
// regular files).  The caller gives them back with releaseFile(*handle).
int loadFile(Environment *env, const char *fileName, void **handle, const uint8_t **data, uint64_t *size);

// Frees what loadFile returned; null is accepted.
void releaseFile(void *handle);

}  // namespace orvo
