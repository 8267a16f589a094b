#include "tools/arcfile/Formats.h"

#include "archives/ArchiverFormats.h"
#include "platform/DynLib.h"

#include <algorithm>
#include <cctype>

namespace arcfile {

using namespace archives;

namespace {

struct TLibraryRow {
    const char *Name;
    const char *Role;
};

// What each back-end offers beyond listing and extracting, and the libraries it loads; the
// component's back-ends fix both.
struct TFormatRow {
    TArchiverType Type;
    const char *Name;
    const char *Extensions;
    std::vector<TLibraryRow> Libraries;
    // Needed: all of them (false: any one of them).
    bool NeedsAll;
    std::vector<const char *> Operations;
    const char *Note;
};

const std::vector<TFormatRow> &Rows() {
    static const std::vector<TFormatRow> rows = {
        {atLha,
         "lha",
         ".lzh",
         {{"UNLHA32.DLL", ""}},
         true,
         {"list", "extract", "test", "cat", "pack", "update", "delete", "sfx"},
         "sfx: no LHA self-extractor exists for Linux"},
        {atZip,
         "zip",
         ".zip .jar .ear .war",
         {{"UNZIP32.DLL", "read"}, {"ZIP32J.DLL", "write"}, {"LMZIP32.DLL", "read and write"}},
         false,
         {"list", "extract", "test", "cat", "pack", "update", "delete", "sfx"},
         "sfx needs the Windows stub sfx32gui.dat or sfx16.dat"},
        {atCab,
         "cab",
         ".cab",
         {{"CAB32.DLL", ""}},
         true,
         {"list", "extract", "test", "cat", "pack", "sfx"},
         ""},
        {atArj,
         "arj",
         ".arj",
         {{"UNARJ32J.DLL", ""}},
         true,
         {"list", "extract", "test", "cat"},
         ""},
        {atTar,
         "tar",
         ".tar .a .lib .deb .rpm .cpio",
         {{"TAR32.DLL", ""}},
         true,
         {"list", "extract", "test", "cat", "pack", "sfx"},
         "sfx needs the Windows stub kmtarsef.exe"},
        {atTgz,
         "tgz",
         ".tgz .gz .taz .z",
         {{"TAR32.DLL", ""}},
         true,
         {"list", "extract", "test", "cat", "pack", "sfx"},
         "sfx needs the Windows stub kmtarsef.exe"},
        {atBZ2,
         "bz2",
         ".bz2",
         {{"TAR32.DLL", ""}},
         true,
         {"list", "extract", "test", "cat", "pack"},
         ""},
        {atRar, "rar", ".rar", {{"UNRAR32.DLL", ""}}, true, {"list", "extract", "test", "cat"}, ""},
        {atBga,
         "bga",
         ".gza .bza",
         {{"BGA32.DLL", ""}},
         true,
         {"list", "extract", "test", "pack", "delete", "sfx"},
         ""},
        {atYz1,
         "yz1",
         ".yz1",
         {{"YYZ32.DLL", ""}, {"YZ1.DLL", ""}},
         false,
         {"list", "extract", "test", "pack", "sfx"},
         ""},
        {at7z,
         "7z",
         ".7z",
         {{"7-zip32.dll", ""}},
         true,
         {"list", "extract", "test", "pack", "delete", "sfx"},
         "sfx uses 7-Zip's 7zCon.sfx module when it is installed"},
    };
    return rows;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

std::optional<TArchiverType> FormatByName(const std::string &Name) {
    const std::string n = Lower(Name);
    static const std::pair<const char *, TArchiverType> aliases[] = {
        {"lzh", atLha},   {"gz", atTgz},  {"gzip", atTgz}, {"tbz", atBZ2},
        {"bzip2", atBZ2}, {"gza", atBga}, {"bza", atBga},  {"7zip", at7z},
    };
    for (const auto &[alias, type] : aliases)
        if (n == alias)
            return type;
    for (const auto &s : Rows())
        if (n == s.Name)
            return s.Type;
    return std::nullopt;
}

std::string FormatName(TArchiverType Type) {
    for (const auto &s : Rows())
        if (s.Type == Type)
            return s.Name;
    return "unknown";
}

std::vector<TFormatState> FormatStates() {
    std::vector<TFormatState> states;
    for (const auto &known : Rows()) {
        TFormatState st;
        st.Type = known.Type;
        st.Name = known.Name;
        st.Extensions = known.Extensions;
        const TArchiverFormat *backEnd = FindArchiverFormat(known.Type);
        st.HasBackEnd = backEnd && backEnd->Create;
        size_t present = 0;
        for (const auto &lib : known.Libraries) {
            TLibraryState ls;
            ls.Name = lib.Name;
            ls.Role = lib.Role;
            if (platform::ModuleHandle h = platform::LoadLibrary(lib.Name)) {
                ls.Present = true;
                ls.Path = platform::GetModuleFileName(h);
                platform::FreeLibrary(h);
                ++present;
            }
            st.Libraries.push_back(ls);
        }
        for (const char *op : known.Operations)
            st.Operations.push_back(op);
        const bool libsOk = known.NeedsAll ? present == known.Libraries.size() : present > 0;
        st.Available = st.HasBackEnd && libsOk;
        if (!st.HasBackEnd)
            st.Note = "not built into this component";
        else if (!libsOk)
            st.Note = "library not installed";
        else
            st.Note = known.Note;
        if (known.Type == atZip && st.Available && !st.Libraries[1].Present &&
            !st.Libraries[2].Present)
            st.Note = "read only: no writing library installed";
        states.push_back(std::move(st));
    }
    return states;
}

} // namespace arcfile
