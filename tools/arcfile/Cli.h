// The command line of arcfile: one command word, its operands and the switches it accepts. The
// parser only reads and checks the words; what they mean for the archive is in Commands.cpp.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace arcfile {

// Bad usage: the message is printed with a hint to --help and the program ends with status 2.
class EUsage : public std::runtime_error {
public:
    explicit EUsage(const std::string &message) : std::runtime_error(message) {}
};

enum class TCommand { None, List, Test, Extract, Pack, Delete, Update, Sfx, Cat, Formats, Options };

struct TInvocation {
    TCommand Command = TCommand::None;
    std::string CommandName;
    bool Help = false;    // --help: for the tool, or for the command when one was given
    bool Version = false; // --version
    std::string Archive;
    std::vector<std::string> Operands; // patterns, files or the entry of cat

    // Shared by the commands that open an archive.
    std::string Type; // --type FORMAT
    bool Json = false;
    bool Quiet = false;
    bool Verbose = false;
    std::string OptionsFile; // --options FILE
    std::string Section;     // --section NAME (empty: the default section)

    // extract, sfx
    std::string OutputDir; // -o DIR
    bool Overwrite = false;
    bool SkipExisting = false;

    // pack, update
    bool Recurse = false;
    bool NoHidden = false;
    std::vector<std::string> Excludes;
    std::string Newer; // as given; checked by ParseDateSwitch
    std::string Older;
    std::string BaseDir;
    std::optional<int> Level;

    // options
    std::string SaveFile; // --save FILE
};

// Reads argv[1..]. Raises EUsage for an unknown command or switch, a switch the command does not
// take, a missing value or a missing operand. --help and --version are accepted anywhere and
// skip the operand checks.
TInvocation ParseCommandLine(const std::vector<std::string> &Args);

// A date of --newer/--older as the file list builder takes it (YYYYMMDD or YYYYMMDDhhmmss). Also
// accepts YYYY-MM-DD, optionally followed by T or a blank and hh:mm or hh:mm:ss. EUsage for
// anything else and for a date or time out of range.
std::string ParseDateSwitch(const std::string &Switch, const std::string &Text);

// The whole usage text, or the text of one command.
std::string UsageText();
std::string CommandUsageText(TCommand Command);

} // namespace arcfile
