// The support library's process-wide start-up and shutdown, and the file
// helpers that go through the open-file registry: the canonical name of a
// folder, the existence test, and temporary file names.
#pragma once

#include <functional>
#include <string>

namespace jw {

// Creates the process-wide objects in this order: those registered by the
// layers above (the expression language's token pool), then the bitmap
// pool, the open-file registry and the collation-map cache. The engine heap
// and the language-swap lock come before and after them and need no step:
// they live as long as the process. A second call while started does
// nothing.
void InitEngineSupport();
// Frees them in the reverse order, also those that a first use created
// without start-up (the collation-map cache, pooled nodes), so that nothing
// outlives shutdown however the library was used.
void DoneEngineSupport();
bool EngineSupportStarted();

// Adds a process-wide object of a layer above, created before the support
// library's own and freed after them. Called from the owning library's
// static initialisation, so that every program that links the object also
// starts and stops it; registration after start-up takes effect at the next
// start.
void RegisterEngineSupportStep(const char* name, void (*init)(), void (*done)());

// Called, when assigned, after start-up has created each object (starting
// true) and after shutdown of a started library has freed it (starting
// false), with its name:
// "bitmap pool", "registry", "map cache" or a registered step's name.
extern std::function<void(const std::string& name, bool starting)> OnEngineSupportStep;

// The canonical absolute path of an existing folder (links and "." / ".."
// resolved), so two spellings of one folder give one name; empty when the
// path does not resolve.
std::string GetUniversalName(const std::string& path);

// Whether the file is in the open-file registry or, for a disk file, on disk.
bool FileListExists(const std::string& name, bool in_memory);

// A new file "<folder>/<prefix><counter><extension>", created empty (and
// closed) so no one else takes the name: the prefix is the first five digits
// of the thread id, the counter runs from 0 past names that exist. After
// 65536 names, engine error 11047; a folder that cannot take files raises
// the error of the failed create.
std::string MakeTempFileName(const std::string& folder, const std::string& extension,
                             bool in_memory);

}  // namespace jw
