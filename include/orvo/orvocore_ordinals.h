/*
 * The export table of ORVOCORE: every Cmi function with its ordinal.
 * ORVO_CMI_EXPORTS(X) expands X(ordinal, name) once per export; the module
 * loader resolves an ordinal through this table to the exported name.
 */
#ifndef ORVO_ORVOCORE_ORDINALS_H
#define ORVO_ORVOCORE_ORDINALS_H

#define ORVO_CMI_EXPORTS(X)                   \
    X(2, CmiInquireFileFormat)                \
    X(3, CmiInquireImageNumber)               \
    X(4, CmiInquireValues)                    \
    X(5, CmiReadAndParse)                     \
    X(6, CmiGenerateAndWrite)                 \
    X(7, CmiFileFormatConvert)                \
    X(8, CmiResize)                           \
    X(9, CmiRotate)                           \
    X(10, CmiRotateArbitrary)                 \
    X(11, CmiFlip)                            \
    X(12, CmiSkew)                            \
    X(13, CmiSubsample)                       \
    X(14, CmiConstant)                        \
    X(15, CmiModeRGBColor)                    \
    X(16, CmiModeGrayscale)                   \
    X(17, CmiModeBitmap)                      \
    X(18, CmiModeIndexedColor256)             \
    X(19, CmiModeIndexedColor16)              \
    X(20, CmiInvert)                          \
    X(21, CmiBrightnessAndContrast)           \
    X(22, CmiColourBalance)                   \
    X(23, CmiHueSaturation)                   \
    X(24, CmiGammaCorrection)                 \
    X(25, CmiSolarize)                        \
    X(26, CmiEqualize)                        \
    X(27, CmiConvert)                         \
    X(28, CmiBlend)                           \
    X(29, CmiCalculate)                       \
    X(30, CmiBlur)                            \
    X(31, CmiSharpen)                         \
    X(32, CmiMedian)                          \
    X(33, CmiFindEdges)                       \
    X(34, CmiEdgeEnhance)                     \
    X(35, CmiEdgeDetection)                   \
    X(36, CmiPinch)                           \
    X(37, CmiSpherize)                        \
    X(38, CmiRankOrder)                       \
    X(39, CmiEmboss)                          \
    X(40, CmiInquireAddressSpaceFormat)       \
    X(41, CmiInquireImageNumberAddressSpace)  \
    X(42, CmiInquireValuesAddressSpace)       \
    X(43, CmiImportAndParse)                  \
    X(44, CmiGenerateAndExport)               \
    X(45, CmiAddressSpaceFormatConvert)       \
    X(46, CmiGenerateAndExportHandle)         \
    X(47, CmiHandleFormatConvert)             \
    X(48, CmiGenerateAndWriteAndControl)      \
    X(49, CmiReleaseBuffer)

#endif
