// Walking the directory chain of a TIFF file.
#include "core/formats/tiff_directories.h"

#include <unordered_set>

namespace orvo {

int readTiffDirectoryChain(DataAccess *file, TiffDirectoryChain *chain) {
    Environment *env = file->env;
    chain->offsets.clear();
    uint8_t header[8];
    if (readBytes(file, 0, header, sizeof header) != kOk) return fail(env, kSyntaxError);
    if (header[0] == 'I' && header[1] == 'I') {
        chain->littleEndian = true;
    } else if (header[0] == 'M' && header[1] == 'M') {
        chain->littleEndian = false;
    } else {
        return fail(env, kSyntaxError);
    }
    auto u16 = [chain](const uint8_t *p) -> uint32_t {
        return chain->littleEndian ? (p[0] | (p[1] << 8)) : ((p[0] << 8) | p[1]);
    };
    auto u32 = [chain](const uint8_t *p) -> uint32_t {
        return chain->littleEndian
                   ? (uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24))
                   : ((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]));
    };
    if (u16(header + 2) != 42) return fail(env, kSyntaxError);
    std::unordered_set<uint32_t> visited;
    uint32_t offset = u32(header + 4);
    while (offset != 0 && visited.insert(offset).second) {
        uint8_t countBytes[2];
        if (readBytes(file, offset, countBytes, 2) != kOk) break;
        uint64_t next = uint64_t(offset) + 2 + 12ull * u16(countBytes);
        uint8_t nextBytes[4];
        if (readBytes(file, next, nextBytes, 4) != kOk) break;
        chain->offsets.push_back(offset);
        offset = u32(nextBytes);
    }
    if (chain->offsets.empty()) return fail(env, kSyntaxError);
    env->lastError = kOk;  // a failed read past the last good directory is not an error
    return kOk;
}

}  // namespace orvo
