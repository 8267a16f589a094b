// Dynamic loading of the archiver libraries, as the Windows loader does it for a library name.
//
// A name ending in ".DLL" (any case) is mapped to "lib" + the lower-case stem + ".so"
// ("UNLHA32.DLL" -> "libunlha32.so", "7-zip32.dll" -> "lib7-zip32.so"); other names are used as
// they are. A bare name is searched in the program's own folder, then the install's library folder
// (the executable's ../lib, and the folder of the component library itself), then the dynamic
// linker's path. A name with a folder part is loaded from there only.
//
// Tests redirect the search without touching the real libraries: a search override (set with
// SetLibrarySearchOverride, or else the environment variable QUORVEL_ARCHIVER_PATH, folders
// separated by ':') replaces the whole search for bare names, so a library absent from those
// folders is missing even when a real one is installed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using ModuleHandle = void *;

inline constexpr const char *kLibrarySearchEnv = "QUORVEL_ARCHIVER_PATH";

// "UNLHA32.DLL" -> "libunlha32.so"; only the file-name part is mapped.
std::string MapLibraryName(std::string_view name);

// The folders searched for a bare name before the dynamic linker's own path, in order. With an
// override, the override's folders (and the linker's path is then not consulted).
std::vector<std::string> LibrarySearchFolders();
bool LibrarySearchOverridden();

// Replaces the search for bare names by these folders; nullopt returns to the normal search
// (with the environment variable still honoured).
void SetLibrarySearchOverride(std::optional<std::vector<std::string>> folders);

// Null when the library cannot be loaded. Loading a loaded library gives the same handle and
// needs one more FreeLibrary.
ModuleHandle LoadLibrary(const std::string &name);
bool FreeLibrary(ModuleHandle module);
// Null for a null module (never the process-wide symbol search) or a missing entry.
void *GetProcAddress(ModuleHandle module, const std::string &name);
// Full path of the loaded file; the executable's path for a null module.
std::string GetModuleFileName(ModuleHandle module);
// Why the last LoadLibrary of this thread failed (empty after a success), for diagnostics.
std::string LastLoadError();

} // namespace platform
