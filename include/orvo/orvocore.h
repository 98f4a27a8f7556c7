/*
 * ORVOCORE: reading, inquiring, writing and converting raster images held in
 * files, in caller memory or in global memory handles.
 *
 * Conventions of every Cmi function:
 *  - the last argument points to a 32-bit status, set to 0 on entry and then
 *    to -1 (system or memory failure), -100 (an argument refused before any
 *    work) or an internal code 1..26 (texts: OrvoStatusText in orvostatus.h);
 *  - options are (name, value) pairs; names are compared exactly;
 *  - a returned HGLOBAL is a packed device-independent bitmap (40-byte
 *    information header, palette, bottom-up rows padded to 4 bytes) in an
 *    unlocked movable block that belongs to the caller (free with GlobalFree);
 *  - calls keep no state between them and may run on several threads at once.
 */
#ifndef ORVO_ORVOCORE_H
#define ORVO_ORVOCORE_H

#include <stdint.h>

#include "orvo/globalmem.h"
#include "orvo/orvostatus.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One option or inquiry pair.  The value is pointer-sized: inquiry lists and
 * "applicationAddressSpace" carry addresses. */
typedef struct CmiAttribute {
    const char *name;
    intptr_t value;
} CmiAttribute;

/* File format codes (argument "format", result of the format inquiries). */
#define CMI_FORMAT_TIFF 4
#define CMI_FORMAT_JPEG 5
#define CMI_FORMAT_GIF 6
#define CMI_FORMAT_BMP 7
#define CMI_FORMAT_PCX 40
#define CMI_FORMAT_PNG 44
#define CMI_FORMAT_SIA 45

/* Colour modes ("colorMode" values; also the processing functions' modes). */
#define CMI_MODE_BITMAP 14      /* two colours, 1 bit */
#define CMI_MODE_16_COLOURS 15  /* 4-bit palette */
#define CMI_MODE_256_COLOURS 16 /* 8-bit palette, one band */
#define CMI_MODE_GRAYSCALE 17   /* 8-bit grey */
#define CMI_MODE_RGB 18         /* three 8-bit bands */

/* Compression codes ("compression" values). */
#define CMI_COMPRESSION_NONE 0
#define CMI_COMPRESSION_LZW 25
#define CMI_COMPRESSION_MH 26        /* modified Huffman, no EOL codes */
#define CMI_COMPRESSION_G3 27        /* CCITT T.4 one-dimensional */
#define CMI_COMPRESSION_G3_2D 28     /* CCITT T.4 two-dimensional */
#define CMI_COMPRESSION_G4 29        /* CCITT T.6 */
#define CMI_COMPRESSION_PACKBITS 30
#define CMI_COMPRESSION_BMP_RLE 31

/* Value of "photometricInterpretation" in every inquiry answer. */
#define CMI_PHOTOMETRIC_ANSWER 51

/* Value of the "repository" option that keeps working images in global
 * memory; any other value keeps them in temporary files. */
#define CMI_REPOSITORY_MEMORY 33

/* --- Reading side --------------------------------------------------------- */

/* Format of the file `fileName`: a CMI_FORMAT_* code, 0 when not recognised
 * (status: the reason). */
ORVO_EXPORT int32_t CmiInquireFileFormat(const char *fileName, const CmiAttribute *attrs,
                                         int32_t count, int32_t *status);

/* Number of images in the file: the TIFF page count for CMI_FORMAT_TIFF, 1 for
 * CMI_FORMAT_GIF (without reading the file); -100 for other formats. */
ORVO_EXPORT int32_t CmiInquireImageNumber(const char *fileName, int32_t format,
                                          const CmiAttribute *attrs, int32_t count,
                                          int32_t *status);

/* Fills the (name, address of int32_t) pairs of `values` for `imageCount`
 * images from `firstImage` on ("compression", "xDimension", "yDimension",
 * "colorMode", "predictor", "photometricInterpretation", "interlaced",
 * "transparency", "transparencyPaletteIndex").  For TIFF each address is an
 * array of one word per image.  Names not known are left untouched.
 * Returns the status. */
ORVO_EXPORT int32_t CmiInquireValues(const char *fileName, int32_t imageCount, int32_t firstImage,
                                     int32_t format, CmiAttribute *values, int32_t valueCount,
                                     int32_t *status);

/* Reads up to `imageCount` images from `firstImage` on into `handles` as
 * packed bitmaps.  Returns the number stored; on failure 0, with every handle
 * the call stored freed and cleared. */
ORVO_EXPORT int32_t CmiReadAndParse(const char *fileName, HGLOBAL *handles, int32_t imageCount,
                                    int32_t format, int32_t firstImage, const CmiAttribute *attrs,
                                    int32_t count, int32_t *status);

/* The same four for an image file held in caller memory (`size` bytes at
 * `address`, which the library only reads). */
ORVO_EXPORT int32_t CmiInquireAddressSpaceFormat(const void *address, int32_t size,
                                                 const CmiAttribute *attrs, int32_t count,
                                                 int32_t *status);
ORVO_EXPORT int32_t CmiInquireImageNumberAddressSpace(const void *address, int32_t format,
                                                      int32_t size, const CmiAttribute *attrs,
                                                      int32_t count, int32_t *status);
ORVO_EXPORT int32_t CmiInquireValuesAddressSpace(const void *address, int32_t imageCount,
                                                 int32_t firstImage, int32_t format, int32_t size,
                                                 CmiAttribute *values, int32_t valueCount,
                                                 int32_t *status);
ORVO_EXPORT int32_t CmiImportAndParse(const void *address, HGLOBAL *handles, int32_t imageCount,
                                      int32_t format, int32_t firstImage, int32_t size,
                                      const CmiAttribute *attrs, int32_t count, int32_t *status);

/* --- Processing ------------------------------------------------------------ */

/* Every processing function takes a packed bitmap of 1, 4, 8 or 24 bits per
 * pixel in a movable block, which it only reads, and returns a new packed
 * bitmap (null on failure, with the status saying why).  `mode` tells what
 * the caller holds: CMI_MODE_BITMAP, CMI_MODE_16_COLOURS, CMI_MODE_256_COLOURS,
 * CMI_MODE_GRAYSCALE or CMI_MODE_RGB (and CMI_MODE_INVERTED_GRAY for
 * CmiModeGrayscale).  Options: "repository" (see CMI_REPOSITORY_MEMORY),
 * "sourceXPoint", "sourceYPoint", "sourceWidth", "sourceHeight" (the region
 * to process), "constantLevel", "constantLevel2", "constantLevel3" (fill of
 * uncovered areas) and "interpolation" (CMI_INTERPOLATION_NEAREST or
 * CMI_INTERPOLATION_BILINEAR). */

#define CMI_MODE_INVERTED_GRAY 50

#define CMI_INTERPOLATION_NEAREST 8
#define CMI_INTERPOLATION_BILINEAR 9
#define CMI_INTERPOLATION_BSPLINE 10
#define CMI_INTERPOLATION_CUBIC 11

/* Pixel correction of bitmaps when scaling. */
#define CMI_MORPHOLOGY_NONE 0
#define CMI_MORPHOLOGY_KEEP_SET 12   /* thin lines of set bits survive reduction */
#define CMI_MORPHOLOGY_KEEP_CLEAR 13 /* thin lines of clear bits survive reduction */

/* Quarter turns of CmiRotate. */
#define CMI_ROTATE_90 1
#define CMI_ROTATE_180 2
#define CMI_ROTATE_270 3

/* Directions of CmiFlip, CmiSkew and CmiSpherize. */
#define CMI_HORIZONTAL 48
#define CMI_VERTICAL 49

/* CmiModeBitmap methods and palette dithers. */
#define CMI_DITHER_NONE 0
#define CMI_METHOD_THRESHOLD 19
#define CMI_METHOD_ERROR_DIFFUSION 20
#define CMI_METHOD_PATTERN 21

/* Palette building of the indexed colour conversions. */
#define CMI_QUANTIZE_POPULARITY 22
#define CMI_QUANTIZE_UNIFORM 23
#define CMI_QUANTIZE_MEDIAN_CUT 24 /* accepted, then refused with status 12 */

ORVO_EXPORT HGLOBAL CmiResize(HGLOBAL image, int32_t width, int32_t height, int32_t interpolation,
                              int32_t morphology, const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiRotate(HGLOBAL image, int32_t width, int32_t height, int32_t angle,
                              const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiRotateArbitrary(HGLOBAL image, int32_t width, int32_t height, double angle,
                                       const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiFlip(HGLOBAL image, int32_t direction, const CmiAttribute *attrs, int32_t count,
                            int32_t *status);
ORVO_EXPORT HGLOBAL CmiSkew(HGLOBAL image, int32_t width, int32_t height, int32_t direction, double angle,
                            const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiSubsample(HGLOBAL image, int32_t sourceX, int32_t sourceY, int32_t sourceWidth,
                                 int32_t sourceHeight, int32_t resultWidth, int32_t resultHeight, int32_t targetX,
                                 int32_t targetY, int32_t targetWidth, int32_t targetHeight,
                                 int32_t interpolation, int32_t morphology, const CmiAttribute *attrs,
                                 int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiConstant(HGLOBAL image, int32_t x, int32_t y, int32_t width, int32_t height,
                                int32_t level, int32_t level2, int32_t level3, const CmiAttribute *attrs,
                                int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiModeRGBColor(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count,
                                    int32_t *status);
ORVO_EXPORT HGLOBAL CmiModeGrayscale(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count,
                                     int32_t *status);
ORVO_EXPORT HGLOBAL CmiModeBitmap(HGLOBAL image, int32_t mode, int32_t method, int32_t threshold,
                                  const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiModeIndexedColor256(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization,
                                           int32_t level1, int32_t level2, int32_t level3,
                                           const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiModeIndexedColor16(HGLOBAL image, int32_t mode, int32_t dither, int32_t quantization,
                                          int32_t level1, int32_t level2, int32_t level3,
                                          const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiInvert(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count,
                              int32_t *status);
ORVO_EXPORT HGLOBAL CmiBrightnessAndContrast(HGLOBAL image, int32_t mode, int32_t brightness, int32_t contrast,
                                             const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiColourBalance(HGLOBAL image, int32_t mode, int32_t red, int32_t green, int32_t blue,
                                     const CmiAttribute *attrs, int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiHueSaturation(HGLOBAL image, int32_t mode, int32_t hue, int32_t saturation,
                                     int32_t lightness, const CmiAttribute *attrs, int32_t count,
                                     int32_t *status);
ORVO_EXPORT HGLOBAL CmiGammaCorrection(HGLOBAL image, int32_t mode, double gamma, const CmiAttribute *attrs,
                                       int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiSolarize(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count,
                                int32_t *status);
ORVO_EXPORT HGLOBAL CmiEqualize(HGLOBAL image, int32_t mode, const CmiAttribute *attrs, int32_t count,
                                int32_t *status);
/* A copy of the block, byte for byte. */
ORVO_EXPORT HGLOBAL CmiConvert(HGLOBAL image, int32_t unused1, int32_t unused2, int32_t *status);

/* --- Writing side --------------------------------------------------------- */

/* Option codes of the writing functions. */
#define CMI_SUBFILE_FULL_IMAGE 34 /* "newSubfileType": an ordinary image */
#define CMI_SUBFILE_PAGE 36       /* "newSubfileType": a page of a multi-page file */

/* Writes the packed bitmaps `handles[0..count)` as a file of `format` (TIFF:
 * every bitmap a page; other formats: the first).  Options: "compression"
 * (TIFF: CMI_COMPRESSION_*; BMP: NONE or BMP_RLE), "newSubfileType",
 * "predictor", "k", "quarityFactor", "samplingFactor", "interlaced",
 * "transparency", "transparencyPaletteIndex", "repository".  The bitmaps are
 * only read.  A failed write leaves no file (and an existing file
 * unchanged).  Returns the status. */
ORVO_EXPORT int32_t CmiGenerateAndWrite(HGLOBAL *handles, int32_t count, const char *fileName, int32_t format,
                                        const CmiAttribute *attrs, int32_t attrCount, int32_t *status);

/* The same into a new heap buffer (release it with CmiReleaseBuffer) or a
 * new unlocked movable block; *size receives the byte count.  Null on
 * failure. */
ORVO_EXPORT void *CmiGenerateAndExport(HGLOBAL *handles, int32_t count, int32_t format, int32_t *size,
                                       const CmiAttribute *attrs, int32_t attrCount, int32_t *status);
ORVO_EXPORT HGLOBAL CmiGenerateAndExportHandle(HGLOBAL *handles, int32_t count, int32_t format, int32_t *size,
                                               const CmiAttribute *attrs, int32_t attrCount, int32_t *status);

/* Converts the image file `sourceFile` of `sourceFormat` into `targetFile`
 * of `targetFormat` (TIFF sources: "index" first page, "entries" pages).
 * Takes the options of CmiGenerateAndWrite and "xDimension", "yDimension",
 * "interpolation", "morphologicalOperation", "colorMode",
 * "internalOperation"; scaling and colour-mode changes are refused with 12
 * by this build.  Returns the status. */
ORVO_EXPORT int32_t CmiFileFormatConvert(const char *sourceFile, const char *targetFile, int32_t sourceFormat,
                                         int32_t targetFormat, const CmiAttribute *attrs, int32_t count,
                                         int32_t *status);

/* The same from `size` bytes at `address` (or in the block of `source`) into
 * a new heap buffer (release with CmiReleaseBuffer) or a new unlocked movable
 * block; *resultSize receives its length.  Null on failure. */
ORVO_EXPORT void *CmiAddressSpaceFormatConvert(const void *address, int32_t sourceFormat, int32_t targetFormat,
                                               int32_t size, int32_t *resultSize, const CmiAttribute *attrs,
                                               int32_t count, int32_t *status);
ORVO_EXPORT HGLOBAL CmiHandleFormatConvert(HGLOBAL source, int32_t sourceFormat, int32_t targetFormat, int32_t size,
                                           int32_t *resultSize, const CmiAttribute *attrs, int32_t count,
                                           int32_t *status);

/* Page operations of CmiGenerateAndWriteAndControl. */
#define CMI_PAGES_APPEND 56
#define CMI_PAGES_INSERT 85
#define CMI_PAGES_DELETE 86
#define CMI_PAGES_REPLACE 87

/* Edits the pages of the TIFF file `fileName` (format must be
 * CMI_FORMAT_TIFF): appends the bitmaps (a missing file is created), inserts
 * them before page `index`, deletes `count` pages from `index` (deleting
 * every page removes the file), or replaces `count` pages from `index` with
 * them.  Options as for CmiGenerateAndWrite.  The file is rewritten whole
 * and replaced only when the new one is complete.  Returns the status. */
ORVO_EXPORT int32_t CmiGenerateAndWriteAndControl(HGLOBAL *handles, int32_t count, const char *fileName,
                                                  int32_t format, int32_t operation, int32_t index,
                                                  const CmiAttribute *attrs, int32_t attrCount, int32_t *status);

/* Frees a buffer returned by CmiGenerateAndExport; null is accepted. */
ORVO_EXPORT void CmiReleaseBuffer(void *buffer);

#ifdef __cplusplus
}
#endif

#endif
