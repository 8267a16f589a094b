// The file list builder: turns the file arguments of a pack run into one sorted list of file
// names. It expands wildcards in folders, descends into subfolders, keeps files whose last-write
// time lies in a date range, drops excluded files, optionally makes names relative to a base
// folder, and reports every file it takes to a progress handler that may stop the work. The LHA
// switches of the record steer it: a, r, p, ji, jf, jo, job and jx.
#pragma once

#include "archiver_api.h"
#include "archives/ArchiverOptions.h"
#include "archives/FileArgs.h"
#include "archives/StringList.h"
#include "platform/CodePage.h"
#include "platform/DirSearch.h"
#include "platform/Paths.h"

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace filters {

// Days since 30 December 1899, the time of day as the fraction.
using TDateTime = double;

// The folder to search from could not be made current.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The component's progress operation: the state (2053 for a collected file), the record with the
// file name at its source-name field, and the abort flag it may set to stop the expansion.
using TFileListProgress = std::function<void(int State, EXTRACTINGINFOEX *Info, bool &Abort)>;

// A progress handler that sends the report to a window as "wm_arcextract"; an answer other than 0
// asks to stop. A null window gives a handler that does nothing.
TFileListProgress WindowProgress(HWND Window);

// A list of names kept sorted without regard to case (names equal but for case ordered by their
// bytes) while it grows. Each insert is one lookup, which also finds a name already present:
// under the case-sensitive rule only the very same name, under the other rule a name equal but
// for case.
class TSortedFileNames {
public:
    explicit TSortedFileNames(platform::LetterCase lc = platform::NativeLetterCase(),
                              platform::CodePage cp = platform::SystemCodePage());

    // True when the name was new and is now in the list.
    bool Add(std::string name) { return names_.insert(std::move(name)).second; }
    bool Contains(const std::string &name) const { return names_.count(name) != 0; }
    size_t Count() const { return names_.size(); }
    auto begin() const { return names_.begin(); }
    auto end() const { return names_.end(); }

    // A sorted string list with the same order and the same rule for equal names.
    archives::TStringList ToStringList() const;

private:
    struct Less {
        bool caseSensitive;
        platform::CodePage codePage;
        bool operator()(const std::string &a, const std::string &b) const;
    };
    std::set<std::string, Less> names_;
};

// Expands the file arguments (the kinds ExpandFileArgs takes; empty texts stay, and add no file)
// with the base folder as the current folder, and marks the record so that the archiver does not
// filter the chosen files again: r -1, jo and job unset, p 1 (also when aborted). The current
// folder is restored on every path. EInOutError when the base folder cannot be entered,
// archives::EConvertError for a malformed jo or job.
archives::TStringList
ExpandFileList(archives::TArchiverOptions &Options, const std::string &BaseDir,
               const TFileListProgress &Progress, const archives::TFileArgs &Args, bool &Abort,
               platform::LetterCase LetterCase = platform::NativeLetterCase());

// One list-building pass over the arguments (null or empty: with EmptyMeansAll every file of the
// current folder, else nothing), in the current folder. Exclusions is a list built by an earlier
// pass, or null.
TSortedFileNames BuildFileList(const archives::TArchiverOptions &Options,
                               const std::string &BaseDir, const archives::TStringList *Args,
                               const TSortedFileNames *Exclusions,
                               const TFileListProgress &Progress, bool &Abort, bool EmptyMeansAll,
                               platform::LetterCase LetterCase = platform::NativeLetterCase());

// Reads a jo/job date: YYMMDD, YYYYMMDD, YYMMDDhhmmss or YYYYMMDDhhmmss, optionally after a
// lowercase "l"; the default time (hhmmss) completes a date without time. Two-digit years fall in
// the hundred years that begin 50 years before CurrentYear. 0 for any other length and for the
// unset string; archives::EConvertError for a group that is not digits or a value out of range.
TDateTime ParseFilterDate(std::string_view Text, std::string_view DefaultTime);
TDateTime ParseFilterDate(std::string_view Text, std::string_view DefaultTime, int CurrentYear);

// The date-and-time value of a calendar time; EConvertError when a field is out of range.
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second);

// The runtime library's relative-path rule, with the letter-case rule of the platform: Dest
// unchanged when the drive parts differ (on Linux the root of an absolute name is its drive);
// otherwise the base counts up to its last separator, shared leading folders go, each remaining
// base folder becomes "../", and the rest of Dest follows.
std::string ExtractRelativePath(std::string_view Base, std::string_view Dest,
                                platform::LetterCase LetterCase = platform::NativeLetterCase(),
                                const platform::PathRules &Rules = platform::PathRules::Native());

// Splits a file argument into the folder to search and the mask: the folder is everything before
// the last separator (or colon, in the Windows style) and keeps a root's separator; the mask is
// everything after the last separator or colon.
void SplitFileArg(std::string_view Arg, std::string &Folder, std::string &Mask,
                  const platform::PathRules &Rules = platform::PathRules::Native());

// A folder joined with a name: an empty folder gives the name alone.
std::string JoinFolder(std::string_view Folder, std::string_view Name,
                       const platform::PathRules &Rules = platform::PathRules::Native());

} // namespace filters
