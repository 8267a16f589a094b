// The one source collector of our libraries: file arguments of a pack command turned into the
// files to store, with the options each dialect's switches map onto (folders with their contents,
// masks in subfolders, plain names found in subfolders, masks in every part of a path, hidden
// files, exclusions, date bounds). The archive being written is never collected into itself.
#pragma once

#include "archivers/common/DateBound.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Wildcard.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace arclib {

// A file on disk to be stored, and its name in the archive.
struct SourceFile {
    std::string diskPath;
    std::string entryName; // UTF-8, '/' separators; folders without trailing '/'
    struct stat st {};     // as met while collecting (lstat: a link is the link)
    bool IsFolder() const { return S_ISDIR(st.st_mode); }
};

struct CollectOptions {
    std::string baseDir;           // relative names are taken from here ("" for the current folder)
    bool keepFolders = true;       // false: entries are stored under their last name only
    bool folderEntries = true;     // folders met become entries of their own
    bool recurseFolders = true;    // a folder argument brings its contents along
    bool recurseWildcards = false; // a mask is matched in subfolders too
    // With recurseWildcards, a plain name is also looked for in every subfolder (c.txt finds
    // sub/c.txt); only when it is found nowhere is it taken as the one file it names.
    bool plainNamesInSubfolders = false;
    bool masksTakeFolders = true; // a folder a mask matches comes, with its contents
    bool masksInFolders = false;  // masks in every part of a path (a*/b?.txt), "*.*" any name
    bool brackets = false;        // '[...]' classes in masks; "[x]" also stands for x itself
    // Hidden files (names beginning with '.') found in a folder or by a mask are taken too. A
    // file named as an argument is always taken.
    bool hidden = false;
    EntrySelector exclude;         // names (stored form) left out
    bool excludeLastNames = false; // exclusions also match a name's last part
    DateRange written;             // files (not folders) last written in this range only
    dev_t skipDev = 0;             // a file never to pack (the archive itself): device and inode
    ino_t skipIno = 0;
};

struct Collection {
    std::vector<SourceFile> files; // in order, without duplicates
    struct Unmatched {
        std::string argument;
        bool mask = false; // a mask that matched nothing; else a plain name that names no file
    };
    std::vector<Unmatched> unmatched; // in the order of the arguments
};

// Collects what the arguments name. A folder whose contents must be read and cannot be is
// ArcError(kArcErrReadSource): no file is left out silently. Special files (devices, pipes,
// sockets) are skipped with a line in out.
Collection Collect(const std::vector<std::string> &args, const CollectOptions &opt,
                   OutputBuffer &out);

// Collect for the dialects where a plain name that does not exist is an error before anything is
// written (ArcError(kArcErrReadSource)) and a mask that matches nothing only a line.
std::vector<SourceFile> CollectSources(const std::vector<std::string> &args,
                                       const CollectOptions &opt, OutputBuffer &out);

// The names in a folder, sorted, without "." and "..". Throws ArcError(kArcErrReadSource) when the
// folder cannot be read.
std::vector<std::string> ListFolder(const std::string &path);

} // namespace arclib
