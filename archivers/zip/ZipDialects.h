// The two command-line dialects of the ZIP libraries: the zip dialect (packing, freshening,
// deleting, self-extractor offsets) and the unzip dialect (extracting, testing, memory
// extraction). File arguments of both are written in the wildcard syntax the back-end's file-name
// filter produces: "[[]" is a literal '[', "[-]" a literal '-', '/' separates folders.
#pragma once

#include "archivers/common/CommandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace zipar {

struct ZipSwitches {
    bool recurse = false;         // -r
    bool hidden = false;          // -S: wildcards and recursion also take names beginning with '.'
    bool noFolderEntries = false; // -D
    bool verbose = false;         // -v
    bool quiet = false;           // -q
    bool archiveTimeLatest = false; // -o: the archive gets the time of its newest entry
    bool update = false;            // -u: only files newer than their entry, or new ones
    bool freshen = false;           // -f: only files newer than their entry; nothing new is added
    bool remove = false;            // -d: delete the named entries
    bool junkPaths = false;         // -j: store names without their folders
    bool fix = false;               // -F / -FF: drop entries of the old archive that cannot be read
    int level = -1;                 // -0..-9; -1 for the default (6)
};

struct UnzipSwitches {
    bool test = false;      // -t: check every selected entry, write nothing
    bool overwrite = false; // -o: replace existing files
    bool junkPaths = false; // -j: extract without folders
};

struct ZipCommand {
    arclib::CommandLine line;
    ZipSwitches sw;
    std::string sfxTarget; // "-A name": adjust the offsets of this self-extractor
};

struct UnzipCommand {
    arclib::CommandLine line;
    UnzipSwitches sw;
};

// Throw arclib::ArcError(kArcErrCommandLine) for a line that cannot be read or names no archive.
ZipCommand ParseZipCommand(std::string_view line);
UnzipCommand ParseUnzipCommand(std::string_view line);

// Which entries the file arguments name. Each pattern is matched against the whole entry name
// ('*' also crosses '/'); a folder entry also matches without its trailing '/'; "*", "*.*" and no
// patterns at all select everything.
class ZipSelector {
public:
    explicit ZipSelector(std::vector<std::string> patterns);
    bool Matches(std::string_view entryName) const;
    bool All() const { return all_; }

private:
    std::vector<std::string> patterns_;
    bool all_ = false;
};

// True when the pattern, in the filter syntax, contains a wildcard ('*', '?' or a '[' class).
bool HasWildcard(std::string_view pattern);

} // namespace zipar
