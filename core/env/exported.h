// The frame shared by the exported Cmi functions.
#pragma once

#include <cstring>

#include "core/env/status.h"
#include "orvo/orvocore.h"

namespace orvo {

// Runs `body(status)` as an exported call: a null status pointer is
// tolerated, the status is cleared first, and no exception leaves the
// library (one thrown by the standard library becomes status -1).
template <class Body>
auto exportedCall(int32_t *status, Body &&body) -> decltype(body(status)) {
    int32_t ignored = 0;
    if (status == nullptr) status = &ignored;
    *status = kOk;
    try {
        return body(status);
    } catch (...) {
        *status = kSystemError;
        return {};
    }
}

// The last pair called `name` in a caller's option list, or null.
inline const CmiAttribute *findOption(const CmiAttribute *list, int32_t count, const char *name) {
    const CmiAttribute *found = nullptr;
    for (int32_t i = 0; list != nullptr && i < count; ++i) {
        if (list[i].name != nullptr && std::strcmp(list[i].name, name) == 0) found = &list[i];
    }
    return found;
}

}  // namespace orvo
