// What arcfile knows of each archive format: its names for --type, the libraries its back-end
// loads and what the back-end can do, and whether those libraries are present on this system.
#pragma once

#include "archives/ArchiverType.h"

#include <optional>
#include <string>
#include <vector>

namespace arcfile {

struct TLibraryState {
    std::string Name; // as the back-end loads it ("UNLHA32.DLL")
    std::string Role; // what the format needs it for ("" when it is the only one)
    bool Present = false;
    std::string Path; // where it was loaded from
};

struct TFormatState {
    archives::TArchiverType Type;
    std::string Name;        // the --type name
    std::string Extensions;  // as the component chooses by name
    bool HasBackEnd = false; // built into this component
    std::vector<TLibraryState> Libraries;
    std::vector<std::string> Operations; // what the back-end offers
    bool Available = false;              // back-end built and the libraries it needs present
    std::string Note;                    // why not, or a limit on Linux
};

// The --type names: "lha" (also "lzh"), "zip", "cab", "arj", "tar", "tgz" ("gz"), "bz2" ("tbz"),
// "rar", "bga", "yz1", "7z". Letter case is ignored.
std::optional<archives::TArchiverType> FormatByName(const std::string &Name);
std::string FormatName(archives::TArchiverType Type);

// Every format, each library looked for the way the component loads it (and freed again).
std::vector<TFormatState> FormatStates();

} // namespace arcfile
