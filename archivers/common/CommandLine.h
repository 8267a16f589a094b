// Reading the command lines the format back-ends write: a command word or none, switches, the
// quoted archive name, a quoted directory ending in a separator, quoted names or "@" response
// files, and whatever extra text the user added. Values are quoted without escaping, so a double
// quote only opens or closes a quoted stretch; quoted stretches join the unquoted text next to them
// into one token ("-o/out/" and -o"/out/" are the same token).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace arclib {

struct Token {
    std::string text;
    bool quoted = false; // some part of it was in double quotes
};

// Splits at blanks and tabs outside quotes. An unclosed quote is an ArcError(kArcErrCommandLine).
std::vector<Token> Tokenize(std::string_view line);

struct Switch {
    std::string text;  // as written, with its leading '-' ("-z9", "--check-all-path=1", "-x!*.bak")
    std::string value; // the following token, for the switches the dialect gives a separate value
};

// What a dialect tells the reader about its command lines.
struct CommandLineRules {
    // Words accepted as the first token (compared without regard to case). A first token that is
    // not one of them is read as an argument, so a line without command word reads too.
    std::vector<std::string> commands;
    // Switches whose value is the next token ("-f" "x.tar"); compared exactly.
    std::vector<std::string> separateValueSwitches;
    // True when the first argument is the archive name (every dialect but tar, which uses -f).
    bool archiveIsFirstArgument = true;
    // True when a quoted token beginning with '-' before the archive name is a switch (the
    // dialects that write string switches as one quoted piece, "-w/tmp/").
    bool quotedSwitches = true;
    // True when an argument right after the archive name that ends in '/' is the directory.
    bool directoryAfterArchive = false;
};

struct CommandLine {
    std::string command; // lower-cased; empty when the line has none
    std::vector<Switch> switches;
    std::string archive;
    std::string directory;          // as written (ends in '/'), or empty
    std::vector<std::string> files; // names and patterns in order, response files read

    // The last switch written exactly so, or null.
    const Switch *Find(std::string_view text) const;
    // The last switch beginning with prefix, or null.
    const Switch *FindPrefix(std::string_view prefix) const;
    bool Has(std::string_view text) const { return Find(text) != nullptr; }
};

// Reads a command line. "--" ends the switches. A token "@name" among the file arguments is a
// response file whose lines (CR LF or LF, each name optionally quoted) are read in its place.
// Errors (unclosed quote, a value-taking switch at the end, an unreadable response file) are
// ArcError(kArcErrCommandLine).
CommandLine ParseCommandLine(std::string_view line, const CommandLineRules &rules);

// Response files larger than this are refused: a name list that long is a mistake, not a job.
constexpr long long kMaxResponseFileSize = 64LL << 20;

// The names of a response file. Throws ArcError(kArcErrCommandLine) when it cannot be read, is
// not a regular file (a FIFO, device or folder) or is larger than kMaxResponseFileSize.
std::vector<std::string> ReadResponseFile(const std::string &path);

} // namespace arclib
