// Run-time module loading by the platform's module names.
//
// A module is named as the original platform names it ("Orvocore.dll"); the
// loader maps it to the shared library that implements it here and opens it.
// Functions are found by name, or by ordinal through the module's export
// table.  Failures give null, never an abort, so callers can report their own
// "module missing" error.
#pragma once

#include <cstdint>

namespace orvo::platform {

struct Module;

// Opens the module `name` (case-insensitive, with or without ".dll");
// null when the name is unknown or the library cannot be opened.
// The handle stays valid until freeModule.
Module *loadModule(const char *name);

// Closes a module opened by loadModule; null is accepted.
void freeModule(Module *module);

// The address of the export `name`, or null.
void *findFunction(Module *module, const char *name);

// The address of the export with `ordinal`, or null when the module's table
// has no such ordinal or the library lacks the function.
void *findFunction(Module *module, uint16_t ordinal);

// The exported name of `ordinal` in the module called `moduleName`, or null.
const char *exportName(const char *moduleName, uint16_t ordinal);

}  // namespace orvo::platform
