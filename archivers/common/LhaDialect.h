// The LHA dialect of command lines, read by the LHA library and by the ARJ library, which the
// back-ends address in the same dialect: the switches as options, and the entries a command's
// names select.
#pragma once

#include "archivers/common/CommandLine.h"
#include "archivers/common/DateBound.h"
#include "archivers/common/Wildcard.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace arclib {

struct LhaOptions {
    CommandLine cl;
    int r = 0;              // 0 names as given, 1 recursive, 2 folder arguments with contents
    bool keepPaths = true;  // -x0: names without folders
    bool always = false;    // -c1: no time comparison
    bool fullPath = false;  // -p1: names compared as whole paths
    bool store = false;     // -z1: no compression
    bool noFolders = false; // -jso1: no folder entries written
    bool hidden = false;    // -a1, -a2: hidden files in folders and masks too
    std::vector<std::string> exclude; // -jx
    DateRange written;                // -jo / -job: files last written in this range only

    // The value of -name<digits>, 1 for a bare -name, fallback when it is not given.
    int Number(const char *name, int fallback) const;
};

// Reads a command line whose command words are commands; memory: a line of ExtractMem, which
// names no destination folder. Throws ArcError(kArcErrCommandLine) when it names no archive.
LhaOptions ParseLhaOptions(const char *line, bool memory,
                           std::initializer_list<const char *> commands);

// The entries the command names: whole names with -p1, else the common rules (a name without '/'
// also matches the last part); -jx leaves entries out. A folder matches with or without its '/'.
class LhaSelection {
public:
    explicit LhaSelection(const LhaOptions &o);
    bool Matches(const std::string &name) const;
    bool NamesGiven() const { return !patterns_.empty(); }

private:
    EntrySelector select_, exclude_;
    std::vector<std::string> patterns_;
    bool fullPath_ = false;
};

} // namespace arclib
