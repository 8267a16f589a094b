// The registry look-up. The system reads one value, under HKEY_LOCAL_MACHINE: "SOFTWARE\7-ZIP"
// "Path", the folder of the 7-Zip installation, where the 7z back-end finds its self-extractor
// modules. Linux has no registry: that value is the folder in which the installed 7-Zip keeps its
// modules (the one holding "7zCon.sfx", such as /usr/lib/p7zip), found when asked; every other key
// is absent. Key and value names are compared without regard to case, as the registry does.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

// A value of a type other than a string where a string was asked for.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RegistryValue {
    bool IsString = true;
    std::string Text;
};

// The string value ValueName of the key KeyName under HKEY_LOCAL_MACHINE, opened for reading only;
// empty when the key or the value does not exist. A value of another type raises
// ERegistryException "'<ValueName>' のデータ型が不正です".
std::string ReadRegistryString(const std::string &KeyName, const std::string &ValueName);

// The folders searched, in order, for the 7-Zip modules: those beside the 7-Zip programs found on
// PATH, then the places Debian's packages use. The first that holds "7zCon.sfx" is the 7-Zip
// folder.
std::string FindSevenZipFolder();

// Test seam: replaces what the look-up answers for one value (nullopt makes it missing) until
// ClearRegistryOverrides.
void SetRegistryOverride(const std::string &KeyName, const std::string &ValueName,
                         std::optional<RegistryValue> Value);
void ClearRegistryOverrides();

} // namespace platform
