#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "orvo/orvocore.h"
#include "orvo/orvocore_ordinals.h"
#include "platform/loader.h"

namespace {

using orvo::platform::exportName;
using orvo::platform::findFunction;
using orvo::platform::freeModule;
using orvo::platform::loadModule;
using orvo::platform::Module;

// Owns a module for the length of a test.
struct Loaded {
    explicit Loaded(const char *name) : module(loadModule(name)) {}
    ~Loaded() { freeModule(module); }
    Loaded(const Loaded &) = delete;
    Loaded &operator=(const Loaded &) = delete;
    Module *module;
};

class LoaderModuleName : public testing::TestWithParam<const char *> {};

TEST_P(LoaderModuleName, OpensTheCoreLibrary) {
    Loaded core(GetParam());
    ASSERT_NE(core.module, nullptr);
    EXPECT_NE(findFunction(core.module, "CmiInquireFileFormat"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Spellings, LoaderModuleName,
                         testing::Values("Orvocore.dll", "ORVOCORE.DLL", "orvocore", "OrvoCore"));

TEST(Loader, UnknownModuleNamesGiveNull) {
    const char *names[] = {nullptr, "", ".dll", "orvocore.so", "liborvocore.so.0",
                           "orvocore.dll.dll", "orvocor.dll", "kernel32.dll"};
    for (const char *name : names) {
        SCOPED_TRACE(name ? name : "(null)");
        EXPECT_EQ(loadModule(name), nullptr);
        EXPECT_EQ(exportName(name, 2), nullptr);
    }
}

TEST(Loader, OrdinalAndNameReachTheLinkedFunction) {
    Loaded core("Orvocore.dll");
    ASSERT_NE(core.module, nullptr);
    void *byOrdinal = findFunction(core.module, uint16_t{2});
    void *byName = findFunction(core.module, "CmiInquireFileFormat");
    ASSERT_NE(byOrdinal, nullptr);
    EXPECT_EQ(byOrdinal, byName);
    EXPECT_EQ(byOrdinal, reinterpret_cast<void *>(&CmiInquireFileFormat));
}

TEST(Loader, MissingExportsGiveNull) {
    Loaded core("orvocore");
    ASSERT_NE(core.module, nullptr);
    for (uint16_t ordinal : {0, 1, 50, 65535}) {
        SCOPED_TRACE(ordinal);
        EXPECT_EQ(findFunction(core.module, ordinal), nullptr);
        EXPECT_EQ(exportName("Orvocore.dll", ordinal), nullptr);
    }
    EXPECT_EQ(findFunction(core.module, "CmiNoSuchFunction"), nullptr);
    EXPECT_EQ(findFunction(core.module, nullptr), nullptr);
    // Reachable through the library's dependencies, but not its export.
    EXPECT_EQ(findFunction(core.module, "malloc"), nullptr);
    EXPECT_EQ(findFunction(nullptr, "CmiInquireFileFormat"), nullptr);
    EXPECT_EQ(findFunction(nullptr, uint16_t{2}), nullptr);
    freeModule(nullptr);
}

TEST(Loader, ExportNameFollowsTheOrdinalTable) {
    EXPECT_STREQ(exportName("Orvocore.dll", 43), "CmiImportAndParse");
    EXPECT_STREQ(exportName("ORVOCORE", 2), "CmiInquireFileFormat");
    EXPECT_STREQ(exportName("orvocore.dll", 48), "CmiGenerateAndWriteAndControl");
}

// --- The library's dynamic symbol table ------------------------------------

struct DynamicSymbol {
    char type;
    std::string name;
};

// Defined dynamic symbols of `library` as `nm -D --defined-only` lists them;
// false when nm cannot be run.
bool readDynamicSymbols(const char *library, std::vector<DynamicSymbol> &symbols) {
    if (std::system("nm --version >/dev/null 2>&1") != 0) return false;
    const std::string command = std::string("LC_ALL=C nm -D --defined-only '") + library + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<address> <type> <name>[@version]"
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        symbols.push_back({type[0], name.substr(0, name.find('@'))});
    }
    return pclose(pipe) == 0;
}

TEST(Loader, LibraryExportsOnlyCmiAndGlobalNames) {
    std::vector<DynamicSymbol> symbols;
    if (!readDynamicSymbols(ORVO_LIBRARY_FILE, symbols)) GTEST_SKIP() << "nm is not available";

    // Version nodes are absolute symbols; the rest are linker housekeeping
    // some toolchains leave in the dynamic table.
    const std::set<std::string> housekeeping = {"_init", "_fini", "_edata", "_end",
                                                "__bss_start"};
    bool exportsGlobalAlloc = false;
    for (const DynamicSymbol &s : symbols) {
        if (s.type == 'A' || housekeeping.count(s.name)) continue;
        EXPECT_TRUE(s.name.rfind("Cmi", 0) == 0 || s.name.rfind("Global", 0) == 0)
            << s.type << ' ' << s.name;
        exportsGlobalAlloc |= s.name == "GlobalAlloc";
    }
    EXPECT_TRUE(exportsGlobalAlloc);
}

// Every exported Cmi name has an ordinal, and the ordinal reaches it.
TEST(Loader, EveryExportedCmiFunctionHasItsOrdinal) {
    std::vector<DynamicSymbol> symbols;
    if (!readDynamicSymbols(ORVO_LIBRARY_FILE, symbols)) GTEST_SKIP() << "nm is not available";
    struct Entry {
        uint16_t ordinal;
        const char *name;
    };
    static constexpr Entry table[] = {
#define ORVO_TABLE_ENTRY(number, name) {number, #name},
        ORVO_CMI_EXPORTS(ORVO_TABLE_ENTRY)
#undef ORVO_TABLE_ENTRY
    };

    Loaded core("Orvocore.dll");
    ASSERT_NE(core.module, nullptr);
    for (const DynamicSymbol &s : symbols) {
        if (s.name.rfind("Cmi", 0) != 0) continue;
        SCOPED_TRACE(s.name);
        const Entry *entry = nullptr;
        for (const Entry &e : table)
            if (s.name == e.name) entry = &e;
        ASSERT_NE(entry, nullptr) << "exported without an ordinal";
        void *byName = findFunction(core.module, s.name.c_str());
        EXPECT_NE(byName, nullptr);
        EXPECT_EQ(findFunction(core.module, entry->ordinal), byName);
    }
}

}  // namespace
