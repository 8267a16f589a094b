#include "platform/Registry.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    });
    return s;
}

using Key = std::pair<std::string, std::string>;

std::map<Key, std::optional<RegistryValue>> &Overrides() {
    static std::map<Key, std::optional<RegistryValue>> overrides;
    return overrides;
}

Key MakeKey(const std::string &KeyName, const std::string &ValueName) {
    // A leading or trailing backslash names the same key.
    std::string k = KeyName;
    while (!k.empty() && k.front() == '\\')
        k.erase(k.begin());
    while (!k.empty() && k.back() == '\\')
        k.pop_back();
    return {Upper(k), Upper(ValueName)};
}

bool HoldsModule(const fs::path &dir) {
    std::error_code ec;
    return fs::is_regular_file(dir / "7zCon.sfx", ec);
}

} // namespace

std::string FindSevenZipFolder() {
    std::vector<fs::path> candidates;
    if (const char *path = std::getenv("PATH")) {
        std::string list = path;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start) {
                fs::path dir = list.substr(start, end - start);
                for (const char *program : {"7z", "7za", "7zr", "7zz"}) {
                    std::error_code ec;
                    fs::path exe = dir / program;
                    if (!fs::exists(exe, ec))
                        continue;
                    // The programs may be links or wrapper scripts into the modules' folder.
                    fs::path real = fs::canonical(exe, ec);
                    fs::path base = ec ? dir : real.parent_path();
                    for (const fs::path &d : {base, dir})
                        for (const char *sub : {"", "../lib/p7zip", "../lib/7zip",
                                                "../libexec/p7zip", "../libexec/7zip"})
                            candidates.push_back(d / sub);
                }
            }
            start = end + 1;
        }
    }
    for (const char *fixed :
         {"/usr/lib/p7zip", "/usr/lib/7zip", "/usr/libexec/p7zip", "/usr/libexec/7zip",
          "/usr/local/lib/p7zip", "/usr/local/lib/7zip", "/usr/lib64/p7zip"})
        candidates.emplace_back(fixed);
    for (const auto &c : candidates)
        if (HoldsModule(c)) {
            std::error_code ec;
            fs::path norm = fs::weakly_canonical(c, ec);
            return (ec ? c.lexically_normal() : norm).string();
        }
    return {};
}

std::string ReadRegistryString(const std::string &KeyName, const std::string &ValueName) {
    const Key key = MakeKey(KeyName, ValueName);
    std::optional<RegistryValue> value;
    if (auto it = Overrides().find(key); it != Overrides().end()) {
        value = it->second;
    } else if (key == Key{"SOFTWARE\\7-ZIP", "PATH"}) {
        std::string folder = FindSevenZipFolder();
        if (!folder.empty())
            value = RegistryValue{true, folder};
    }
    if (!value)
        return {};
    if (!value->IsString)
        throw ERegistryException("'" + ValueName + "' のデータ型が不正です");
    return value->Text;
}

void SetRegistryOverride(const std::string &KeyName, const std::string &ValueName,
                         std::optional<RegistryValue> Value) {
    Overrides()[MakeKey(KeyName, ValueName)] = std::move(Value);
}

void ClearRegistryOverrides() {
    Overrides().clear();
}

} // namespace platform
