// Module loading over dlopen/dlsym.
//
// Each known module name maps to the shared library that implements it and to
// its ordinal table.  The library is looked for first in ORVO_LIBRARY_DIR (the
// build directory, when the build defines it) and then by soname through the
// normal search (LD_LIBRARY_PATH, runpath, system directories).
#include "platform/loader.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>

#include <cstring>
#include <new>
#include <string>

#include "orvo/orvocore_ordinals.h"

namespace orvo::platform {
namespace {

const char *orvocoreExportName(uint16_t ordinal) {
    switch (ordinal) {
#define ORVO_ORDINAL_CASE(number, name) \
    case number:                        \
        return #name;
        ORVO_CMI_EXPORTS(ORVO_ORDINAL_CASE)
#undef ORVO_ORDINAL_CASE
    default:
        return nullptr;
    }
}

struct ModuleInfo {
    const char *name;            // without ".dll", compared case-insensitively
    const char *libraries[2];    // file names, preferred first
    const char *(*exportName)(uint16_t ordinal);
};

constexpr ModuleInfo kModules[] = {
    {"orvocore", {"liborvocore.so.0", "liborvocore.so"}, orvocoreExportName},
};

const ModuleInfo *findModuleInfo(const char *name) {
    if (name == nullptr) return nullptr;
    size_t length = std::strlen(name);
    if (length > 4 && strcasecmp(name + length - 4, ".dll") == 0) length -= 4;
    for (const ModuleInfo &info : kModules) {
        if (std::strlen(info.name) == length && strncasecmp(name, info.name, length) == 0)
            return &info;
    }
    return nullptr;
}

void *openLibrary(const ModuleInfo &info) {
    constexpr int flags = RTLD_NOW | RTLD_LOCAL;
#ifdef ORVO_LIBRARY_DIR
    for (const char *library : info.libraries) {
        const std::string path = std::string(ORVO_LIBRARY_DIR) + "/" + library;
        if (void *handle = dlopen(path.c_str(), flags)) return handle;
    }
#endif
    for (const char *library : info.libraries) {
        if (void *handle = dlopen(library, flags)) return handle;
    }
    return nullptr;
}

}  // namespace

struct Module {
    void *library;  // from dlopen
    const ModuleInfo *info;
};

Module *loadModule(const char *name) {
    try {
        const ModuleInfo *info = findModuleInfo(name);
        if (info == nullptr) return nullptr;
        void *library = openLibrary(*info);
        if (library == nullptr) return nullptr;
        auto *module = new (std::nothrow) Module{library, info};
        if (module == nullptr) dlclose(library);
        return module;
    } catch (...) {
        return nullptr;
    }
}

void freeModule(Module *module) {
    if (module == nullptr) return;
    dlclose(module->library);
    delete module;
}

// dlsym also searches the library's dependencies; only symbols defined by the
// library itself count as its exports.
void *findFunction(Module *module, const char *name) {
    if (module == nullptr || name == nullptr) return nullptr;
    void *address = dlsym(module->library, name);
    if (address == nullptr) return nullptr;

    link_map *own = nullptr;
    link_map *definer = nullptr;
    Dl_info info;
    if (dlinfo(module->library, RTLD_DI_LINKMAP, &own) != 0 ||
        dladdr1(address, &info, reinterpret_cast<void **>(&definer), RTLD_DL_LINKMAP) == 0 ||
        own != definer)
        return nullptr;
    return address;
}

void *findFunction(Module *module, uint16_t ordinal) {
    if (module == nullptr) return nullptr;
    const char *name = module->info->exportName(ordinal);
    return name == nullptr ? nullptr : findFunction(module, name);
}

const char *exportName(const char *moduleName, uint16_t ordinal) {
    const ModuleInfo *info = findModuleInfo(moduleName);
    return info == nullptr ? nullptr : info->exportName(ordinal);
}

}  // namespace orvo::platform
