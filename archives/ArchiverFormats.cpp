#include "archives/ArchiverFormats.h"

namespace archives {

void FreeArchiverBindings(std::span<const TArchiverFormat> Formats) {
    for (const auto &row : Formats)
        if (row.FreeDLL)
            row.FreeDLL();
}

const TArchiverFormat *FindArchiverFormat(TArchiverType Type,
                                          std::span<const TArchiverFormat> Formats) {
    for (const auto &row : Formats)
        if (row.Type == Type)
            return &row;
    return nullptr;
}

TArchiverType DetectArchiverType(const std::string &FileName,
                                 std::span<const TArchiverFormat> Formats) {
    TArchiverType found = atNone;
    for (const auto &row : Formats) {
        if (!row.Probe)
            continue;
        TArchiverType claim = atNone;
        try {
            claim = row.Probe(FileName);
        } catch (...) {
            claim = atNone;
        }
        if (claim != atNone)
            found = claim;
    }
    return found;
}

} // namespace archives
