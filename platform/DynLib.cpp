#include "platform/DynLib.h"

#include "platform/Paths.h"

#include <cctype>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <mutex>

namespace platform {

namespace {

std::mutex g_overrideMutex;
std::optional<std::vector<std::string>> g_override;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool EndsWithDllExtension(std::string_view name) {
    return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".dll";
}

std::vector<std::string> SplitFolders(std::string_view list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string_view::npos)
            end = list.size();
        if (end > start)
            out.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::optional<std::vector<std::string>> CurrentOverride() {
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_override)
            return g_override;
    }
    if (const char *env = std::getenv(kLibrarySearchEnv); env && *env)
        return SplitFolders(env);
    return std::nullopt;
}

// The folder of the component library itself, so a program installed elsewhere that links it
// still finds the archiver libraries installed beside it.
std::string ComponentLibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&LoadLibrary), &info) == 0 || !info.dli_fname)
        return {};
    std::string path = ExpandFileName(info.dli_fname);
    return ExcludeTrailingPathDelimiter(ExtractFilePath(path));
}

thread_local std::string t_lastError;

} // namespace

std::string MapLibraryName(std::string_view name) {
    size_t slash = name.rfind('/');
    std::string_view folder =
        slash == std::string_view::npos ? std::string_view{} : name.substr(0, slash + 1);
    std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (!EndsWithDllExtension(file))
        return std::string(name);
    return std::string(folder) + "lib" + Lower(file.substr(0, file.size() - 4)) + ".so";
}

std::vector<std::string> LibrarySearchFolders() {
    if (auto folders = CurrentOverride())
        return *folders;
    std::vector<std::string> out;
    auto addUnique = [&out](std::string folder) {
        folder = ExcludeTrailingPathDelimiter(folder);
        if (folder.empty())
            return;
        for (const auto &f : out)
            if (f == folder)
                return;
        out.push_back(std::move(folder));
    };
    std::string programFolder = ExcludeTrailingPathDelimiter(ExtractFilePath(ProgramPath()));
    addUnique(programFolder);
    if (!programFolder.empty())
        addUnique(ExpandFileName(programFolder + "/../lib"));
    addUnique(ComponentLibraryFolder());
    return out;
}

bool LibrarySearchOverridden() {
    return CurrentOverride().has_value();
}

void SetLibrarySearchOverride(std::optional<std::vector<std::string>> folders) {
    std::lock_guard lock(g_overrideMutex);
    g_override = std::move(folders);
}

ModuleHandle LoadLibrary(const std::string &name) {
    t_lastError.clear();
    if (name.empty()) {
        t_lastError = "empty library name";
        return nullptr;
    }
    std::string mapped = MapLibraryName(name);
    auto open = [](const std::string &path) -> ModuleHandle {
        ModuleHandle h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char *err = dlerror();
            t_lastError = err ? err : "cannot load " + path;
        }
        return h;
    };
    if (mapped.find('/') != std::string::npos)
        return open(mapped);
    for (const auto &folder : LibrarySearchFolders()) {
        std::string candidate = IncludeTrailingPathDelimiter(folder) + mapped;
        if (!FileExists(candidate))
            continue;
        if (ModuleHandle h = open(candidate)) {
            t_lastError.clear();
            return h;
        }
    }
    if (LibrarySearchOverridden()) {
        if (t_lastError.empty())
            t_lastError = mapped + ": not found in the library search override";
        return nullptr;
    }
    ModuleHandle h = open(mapped);
    if (h)
        t_lastError.clear();
    return h;
}

bool FreeLibrary(ModuleHandle module) {
    return module && dlclose(module) == 0;
}

void *GetProcAddress(ModuleHandle module, const std::string &name) {
    // A null handle must not turn into the process-wide search that dlsym would make of it.
    if (!module || name.empty())
        return nullptr;
    return dlsym(module, name.c_str());
}

std::string GetModuleFileName(ModuleHandle module) {
    if (!module)
        return ProgramPath();
    link_map *map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name)
        return ProgramPath();
    return ExpandFileName(map->l_name);
}

std::string LastLoadError() {
    return t_lastError;
}

} // namespace platform
