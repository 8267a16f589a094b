// The table of format back-ends: for each archive type the back-end the component creates, the
// content probe that claims a file for it and the class operation that frees its binding. The
// rows stand in the order the content detection asks the probes; when several formats claim a
// file, the later row wins. The table itself lives among the formats (formats/FormatTable.cpp):
// a format plugs in by filling its row there.
#pragma once

#include "archives/Archiver.h"
#include "archives/ArchiverType.h"

#include <memory>
#include <span>
#include <string>

namespace archives {

struct TArchiverFormat {
    TArchiverType Type;
    // Creates the back-end (its construction loads the library); null while the format has none.
    std::unique_ptr<TArchiver> (*Create)();
    // The content probe: the type it recognises FileName as, or atNone; null for a format that is
    // not probed. Probes never raise.
    TArchiverType (*Probe)(const std::string &FileName);
    // Frees the class's binding (the system never does; tests and tools may); null for none.
    void (*FreeDLL)() = nullptr;
};

template <class T> std::unique_ptr<TArchiver> NewArchiver() {
    return std::make_unique<T>();
}

// A yes/no probe of one format as a table probe.
template <TArchiverType Type, bool (*IsArchive)(const std::string &)>
TArchiverType ProbeAs(const std::string &FileName) {
    return IsArchive(FileName) ? Type : atNone;
}

std::span<const TArchiverFormat> ArchiverFormats();
// Frees the binding of every row that has one, so the next use loads its library afresh.
void FreeArchiverBindings(std::span<const TArchiverFormat> Formats = ArchiverFormats());
// The row of Type, or null.
const TArchiverFormat *
FindArchiverFormat(TArchiverType Type,
                   std::span<const TArchiverFormat> Formats = ArchiverFormats());

// Asks every probe of Formats in row order, each on FileName, even after one claimed it; the last
// claim wins. atNone when none claims the file. A probe that raises counts as no claim.
TArchiverType DetectArchiverType(const std::string &FileName,
                                 std::span<const TArchiverFormat> Formats = ArchiverFormats());

} // namespace archives
