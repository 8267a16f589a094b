// The command-line builder. A format back-end creates one per library call, appends its pieces
// in order, reads CommandLine and puts its command word in front of it. Every piece is preceded
// by one blank; file names and string values are written in double quotes without escaping;
// numbers bare. It also writes response files: the names into a list file, "@" + its name onto
// the command line.
//
// A value that holds a double quote cannot be quoted without changing how the library reads the
// line, so it is refused with an EArchiver naming it, on the command line and in the response
// file alike.
#pragma once

#include "archives/FileArgs.h"
#include "platform/Paths.h"

#include <string>
#include <string_view>

namespace archives {

// Converts a file name on its way to the command line or the response file.
using TFileNameFilter = std::string (*)(const std::string &FileName);

class TCmdOpt {
public:
    // With false a string switch is written "-<switch><value>"; with true -<switch> "<value>".
    bool SeparateValue = false;
    TFileNameFilter FileNameFilter = nullptr;
    // The text built so far; begins with a blank as soon as anything was appended.
    std::string CommandLine;
    // The separator and code page AddDirectory reads the directory with (native by default).
    platform::PathRules PathRules = platform::PathRules::Native();

    // One blank and the text, unchanged; also when the text is empty.
    void Add(std::string_view Text);
    // A quoted string switch; nothing when Value is the unset string. An empty Switch gives the
    // quoted value alone; a Switch beginning with a blank is written without that blank and
    // without "-".
    void AddString(std::string_view Switch, std::string_view Value);
    // "-<switch><value>" when Value is 0 or more; nothing when negative.
    void AddNumber(std::string_view Switch, int Value);
    // "-<switch>" when Value is true.
    void AddFlag(std::string_view Switch, bool Value);
    // As AddString; used where the value is a file name.
    void AddFileName(std::string_view Switch, std::string_view FileName);
    // Nothing for an empty or unset directory; otherwise the directory ending in exactly one
    // separator (read with the double-byte rules), through AddFileName.
    void AddDirectory(std::string_view Switch, std::string_view Directory);
    // AddFileName with the filtered name.
    void AddFile(std::string_view Switch, const std::string &FileName);
    // AddFile for every name the arguments stand for (ExpandFileArgs), in order; returns their
    // number.
    int AddFiles(std::string_view Switch, const TFileArgs &Files);
    std::string FilterFileName(const std::string &FileName) const;
    // Writes the names, one quoted filtered name per line ended by CR LF, into ResFileName
    // (created or truncated; no byte-order mark; no names give an empty file), then appends
    // "@" + ResFileName as a quoted file name. Returns the number of names. The file is left in
    // place for the library. EFCreateError or EWriteError when the file cannot be written;
    // nothing is appended then.
    int AddResponseFile(const TFileArgs &Files, const std::string &ResFileName);
};

} // namespace archives
