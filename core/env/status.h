// Status codes of the core.  0 is success, 1..26 index the fixed message
// table (orvo/orvostatus.h), -1 is a system failure (allocation, file or
// memory call), -100 is an argument refused at the exported interface.
#pragma once

#include <cstdint>

namespace orvo {

enum : int32_t {
    kOk = 0,
    kClosureFailure = 1,
    kDivisionByZero = 2,
    kExceedImplementation = 3,
    kIllegalConversion = 4,
    kIncorrectDataType = 5,
    kIncorrectObjectClass = 6,
    kInitializationFailure = 7,
    kInsufficientSize = 8,
    kInvalidInstance = 9,
    kMismatchDataType = 10,
    kMismatchObjectClass = 11,
    kNonPermissibleOption = 12,
    kNotBlockMultiple = 13,
    kNotPositiveInteger = 14,
    kNotPositiveEven = 15,
    kNotPositiveOdd = 16,
    kNotPowerOfTwo = 17,
    kOutOfRange = 18,
    kSemanticError = 19,
    kStateClosed = 20,
    kStateOpen = 21,
    kSyntaxError = 22,
    kBoundsReversed = 23,
    kInvalidHandle = 24,
    kFileOpenFailure = 25,
    kFileNotFound = 26,
    kSystemError = -1,
    kRefusedArgument = -100,
};

}  // namespace orvo
