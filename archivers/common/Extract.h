// The one extraction engine under every archiver library. A library reads its archive and hands
// each selected entry in, as its metadata and a source of its bytes; the engine does the rest:
// the safe destination (nothing outside it, no link followed), the existing-file rules, files,
// folders, symbolic and hard links, modes and times, progress, the summary line and the graded
// result.
#pragma once

#include "archivers/common/FileSystem.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace arclib {

// Where the bytes of one entry come from.
class EntryBytes {
public:
    // Takes one block of the entry's data and where in the file it goes.
    using Sink = std::function<void(const void *data, size_t size, uint64_t offset)>;
    virtual ~EntryBytes() = default;
    // Gives the entry's data to sink block by block. Throws ArcError (kArcErrDamaged,
    // kArcErrPassword, kArcErrUnsupported) when it cannot be read; what sink throws passes.
    virtual void Deliver(const Sink &sink) = 0;
    // True for a sparse file, which may end in a hole: fewer bytes than its size are no damage.
    virtual bool MayEndInHole() const { return false; }
};

enum class Overwrite {
    Replace,      // an existing file is replaced (in one step)
    Skip,         // an existing file is kept and the entry skipped
    ReplaceOlder, // an existing file is replaced only when it is older than the entry
    RenameNew,    // the extracted file gets a free name: "name_1.ext", "name_2.ext", ...
};

struct ExtractOptions {
    std::string destination; // folder; created when missing
    bool keepFolders = true; // false: every file lands in the destination under its last name
    Overwrite overwrite = Overwrite::Replace;
    EntrySelector select;
    EntrySelector exclude; // when not empty, matching entries are left out
    bool restoreModes = true;
    // A damaged entry stops a stream at once; where entries are reached one by one (zip), the
    // others can still be extracted.
    bool continueAfterDamage = false;
};

// The progress record of an entry.
ProgressEntry ProgressFor(const EntryInfo &info, const std::string &source,
                          const std::string &destination);

// Writes entries below the destination.
class Extractor {
public:
    Extractor(const ExtractOptions &opt, Progress &progress, OutputBuffer &out);
    // The result code of one entry (0 also for an entry skipped because it exists).
    int Entry(const EntryInfo &info, EntryBytes &bytes);
    // Folder times, last, after their contents stopped changing them.
    void Finish();
    size_t Skipped() const { return skipped_; }
    // The files written, as placed below the destination.
    const std::vector<std::string> &Written() const { return written_; }

private:
    int Folder(const std::string &rel, const EntryInfo &info);
    int Symlink(const std::string &rel, const EntryInfo &info);
    int Hardlink(const std::string &rel, const std::string &target, const EntryInfo &info);
    int File(EntryBytes &bytes, const std::string &rel, const EntryInfo &info);
    // True when the file at leaf stays (the entry is skipped); RenameNew changes leaf.
    bool KeepExisting(int dir, std::string &leaf, const EntryInfo &info);
    int Skipped(const EntryInfo &info);
    void Done(const EntryInfo &info, const std::string &rel);

    const ExtractOptions &opt_;
    SafeDestination dest_;
    Progress &progress_;
    OutputBuffer &out_;
    mode_t umask_;
    std::vector<std::pair<std::string, EntryInfo>> folders_;
    size_t skipped_ = 0;
    std::vector<std::string> written_;
};

// One extraction from start to summary: the library hands in each selected entry, then asks for
// the result.
class ExtractionRun {
public:
    ExtractionRun(const ExtractOptions &opt, Progress &progress, OutputBuffer &out);
    // Extracts one entry; problems are reported and graded. Cancel throws, and so does damage
    // unless the options say to go on.
    void Add(const EntryInfo &info, EntryBytes &bytes);
    // The data behind the files written failed a checksum read only after them: each is named.
    void BlameWritten();
    // Folder times, the summary line ("N of M files extracted, K skipped") and the most serious
    // code met; kArcErrNoFiles when names were given and none matched.
    int Finish(bool namesGiven);

private:
    const ExtractOptions &opt_;
    OutputBuffer &out_;
    Extractor x_;
    int worst_ = 0;
    size_t matched_ = 0, files_ = 0, done_ = 0;
};

} // namespace arclib
