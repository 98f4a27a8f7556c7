/*
 * The fixed texts of the status codes returned by every Cmi function.
 * Header-only, so hosts and the library share one table.
 */
#ifndef ORVO_ORVOSTATUS_H
#define ORVO_ORVOSTATUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CMI_STATUS_SYSTEM_ERROR (-1)     /* allocation, file or memory call failed */
#define CMI_STATUS_REFUSED_ARGUMENT (-100) /* an argument was refused before any work */

/* Text of status `code`: 0 to 26 give the table texts; -1 and -100 their
 * descriptions; any other value "Unknown status".  The text is static. */
static inline const char *OrvoStatusText(int32_t code) {
    static const char *const texts[] = {
        "No error",
        "Closure failure",
        "Division by zero",
        "Exceed implementation",
        "Illegal data type conversion",
        "Incorrect data type",
        "Incorrect object class",
        "Initialization failure",
        "Insufficient size",
        "Invalid instance",
        "Mismatch data type",
        "Mismatch object class",
        "Non-permissible option",
        "Not integer multiples of the block",
        "Not a positive integer",
        "Not a positive even integer",
        "Not a positive odd integer",
        "Not a power of two",
        "Out of range",
        "Semantical error within data stream",
        "State is CLOSED when OPEN is expected",
        "State is OPEN when CLOSED is expected",
        "Syntactical error within data stream",
        "Upper bound is smaller than lower bound",
        "Invalid handle",
        "File Open Failure",
        "File Not Found",
    };
    if (code >= 0 && code < (int32_t)(sizeof texts / sizeof texts[0])) return texts[code];
    if (code == CMI_STATUS_SYSTEM_ERROR) return "System error";
    if (code == CMI_STATUS_REFUSED_ARGUMENT) return "Argument refused";
    return "Unknown status";
}

#ifdef __cplusplus
}
#endif

#endif
