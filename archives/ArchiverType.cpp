#include "archives/ArchiverType.h"

#include "platform/Paths.h"

#include <string_view>

namespace archives {

namespace {

struct ExtensionRow {
    std::string_view ext;
    TArchiverType type;
};

// ".exe" may be a self-extracting archive of any format: its content decides.
constexpr ExtensionRow kExtensions[] = {
    {".7z", at7z},    {".z", atTgz},   {".gz", atTgz},  {".tgz", atTgz}, {".taz", atTgz},
    {".a", atTar},    {".lib", atTar}, {".tar", atTar}, {".deb", atTar}, {".rpm", atTar},
    {".cpio", atTar}, {".bz2", atBZ2}, {".gza", atBga}, {".bza", atBga}, {".gca", atGCA},
    {".yz1", atYz1},  {".rar", atRar}, {".arj", atArj}, {".jar", atZip}, {".ear", atZip},
    {".war", atZip},  {".zip", atZip}, {".cab", atCab}, {".lzh", atLha}, {".exe", atAutoDetect},
};

bool SameAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

TArchiverType GetArchiverTypeByExtension(const std::string &FileName) {
    const std::string ext = platform::ExtractFileExt(FileName);
    if (ext.empty())
        return atNone;
    for (const auto &row : kExtensions)
        if (SameAsciiNoCase(ext, row.ext))
            return row.type;
    return atNone;
}

const char *ArchiverTypeName(TArchiverType Type) {
    static constexpr const char *kNames[] = {"atLha", "atZip", "atCab", "atArj",  "atTar",
                                             "atTgz", "atBZ2", "atRar", "atBga",  "atYz1",
                                             "atGCA", "atBel", "at7z",  "atNone", "atAutoDetect"};
    const auto i = static_cast<size_t>(Type);
    return i < std::size(kNames) ? kNames[i] : "?";
}

} // namespace archives
