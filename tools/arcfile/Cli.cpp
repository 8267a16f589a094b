#include "tools/arcfile/Cli.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <vector>

namespace arcfile {

namespace {

using C = TCommand;

struct TCommandInfo {
    C Command;
    const char *Name;
    const char *Synopsis;
    const char *Summary;
    bool TakesArchive;
    size_t MinOperands; // after the archive
    size_t MaxOperands; // SIZE_MAX: any number
};

constexpr size_t kAny = static_cast<size_t>(-1);

const TCommandInfo kCommands[] = {
    {C::List, "list", "list ARCHIVE [PATTERN...]",
     "list the entries (name, size, packed size, ratio, date, method, CRC)", true, 0, kAny},
    {C::Test, "test", "test ARCHIVE", "check the archive and every entry's data", true, 0, 0},
    {C::Extract, "extract", "extract ARCHIVE [-o DIR] [PATTERN...]",
     "extract the entries (all when no pattern is given)", true, 0, kAny},
    {C::Pack, "pack", "pack ARCHIVE FILE...", "pack files into the archive (created when missing)",
     true, 1, kAny},
    {C::Delete, "delete", "delete ARCHIVE PATTERN...", "delete entries from the archive", true, 1,
     kAny},
    {C::Update, "update", "update ARCHIVE FILE...", "replace entries whose file on disk is newer",
     true, 1, kAny},
    {C::Sfx, "sfx", "sfx ARCHIVE [-o DIR]", "make a self-extracting archive", true, 0, 0},
    {C::Cat, "cat", "cat ARCHIVE ENTRY", "write one entry's bytes to standard output", true, 1, 1},
    {C::Formats, "formats", "formats", "the formats, their libraries and what each can do", false,
     0, 0},
    {C::Options, "options", "options --save FILE",
     "write the default switch record as a profile section to start from", false, 0, 0},
};

const TCommandInfo *FindCommand(const std::string &name) {
    for (const auto &c : kCommands)
        if (name == c.Name)
            return &c;
    return nullptr;
}

const TCommandInfo &InfoOf(C command) {
    for (const auto &c : kCommands)
        if (c.Command == command)
            return c;
    return kCommands[0];
}

struct TSwitch {
    const char *Long; // without "--"
    char Short;       // 0: none
    bool TakesValue;
    std::vector<C> Commands; // empty: every command
    const char *Help;
    std::function<void(TInvocation &, const std::string &)> Apply;
};

const std::vector<C> kArchiveCommands{C::List,   C::Test,   C::Extract, C::Pack,
                                      C::Delete, C::Update, C::Sfx,     C::Cat};

int ParseLevel(const std::string &text) {
    if (text.size() != 1 || !std::isdigit(static_cast<unsigned char>(text[0])))
        throw EUsage("--level takes a number from 0 to 9, not '" + text + "'");
    return text[0] - '0';
}

const std::vector<TSwitch> &Switches() {
    static const std::vector<TSwitch> switches = {
        {"help", 'h', false, {}, "show this help", [](TInvocation &i, auto &) { i.Help = true; }},
        {"version",
         0,
         false,
         {},
         "show the version",
         [](TInvocation &i, auto &) { i.Version = true; }},
        {"type", 't', true, kArchiveCommands,
         "FORMAT: use this format whatever the name or content says",
         [](TInvocation &i, auto &v) { i.Type = v; }},
        {"options", 0, true, kArchiveCommands,
         "FILE: read the switch record from a profile section of FILE",
         [](TInvocation &i, auto &v) { i.OptionsFile = v; }},
        {"section",
         0,
         true,
         {C::List, C::Test, C::Extract, C::Pack, C::Delete, C::Update, C::Sfx, C::Cat, C::Options},
         "NAME: the section of the options file (default \"Options\")",
         [](TInvocation &i, auto &v) { i.Section = v; }},
        {"json",
         0,
         false,
         {C::List, C::Formats},
         "print JSON for scripts",
         [](TInvocation &i, auto &) { i.Json = true; }},
        {"quiet", 'q', false, kArchiveCommands, "no progress bar",
         [](TInvocation &i, auto &) { i.Quiet = true; }},
        {"verbose", 'v', false, kArchiveCommands, "print the library's output text",
         [](TInvocation &i, auto &) { i.Verbose = true; }},
        {"output",
         'o',
         true,
         {C::Extract, C::Sfx},
         "DIR: the folder to extract into or to write the self-extractor in",
         [](TInvocation &i, auto &v) { i.OutputDir = v; }},
        {"overwrite",
         0,
         false,
         {C::Extract},
         "replace existing files",
         [](TInvocation &i, auto &) { i.Overwrite = true; }},
        {"skip-existing",
         0,
         false,
         {C::Extract},
         "keep existing files, skip those entries",
         [](TInvocation &i, auto &) { i.SkipExisting = true; }},
        {"recursive",
         'r',
         false,
         {C::Pack},
         "take folders with everything below them",
         [](TInvocation &i, auto &) { i.Recurse = true; }},
        {"no-hidden",
         0,
         false,
         {C::Pack},
         "leave out hidden files (names beginning with a dot)",
         [](TInvocation &i, auto &) { i.NoHidden = true; }},
        {"exclude",
         'x',
         true,
         {C::Pack},
         "PATTERN: leave out matching files (may be repeated)",
         [](TInvocation &i, auto &v) { i.Excludes.push_back(v); }},
        {"newer",
         0,
         true,
         {C::Pack},
         "DATE: only files last written on or after DATE",
         [](TInvocation &i, auto &v) { i.Newer = ParseDateSwitch("--newer", v); }},
        {"older",
         0,
         true,
         {C::Pack},
         "DATE: only files last written on or before DATE",
         [](TInvocation &i, auto &v) { i.Older = ParseDateSwitch("--older", v); }},
        {"base",
         'C',
         true,
         {C::Pack, C::Update},
         "DIR: names are relative to DIR and stored relative to it",
         [](TInvocation &i, auto &v) { i.BaseDir = v; }},
        {"level",
         0,
         true,
         {C::Pack},
         "N: compression level 0 (store) to 9",
         [](TInvocation &i, auto &v) { i.Level = ParseLevel(v); }},
        {"save",
         0,
         true,
         {C::Options},
         "FILE: the profile file to write",
         [](TInvocation &i, auto &v) { i.SaveFile = v; }},
    };
    return switches;
}

bool Allows(const TSwitch &s, C command) {
    if (s.Commands.size() == 0 || command == C::None)
        return true;
    return std::find(s.Commands.begin(), s.Commands.end(), command) != s.Commands.end();
}

std::string SwitchName(const TSwitch &s) {
    return std::string("--") + s.Long;
}

bool AllDigits(const std::string &s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char ch) { return std::isdigit(ch) != 0; });
}

std::string SwitchLines(C command) {
    std::string text;
    for (const auto &s : Switches()) {
        if (command != C::None && (s.Commands.size() == 0 || !Allows(s, command)))
            continue;
        std::string left = "  ";
        left += s.Short ? std::string("-") + s.Short + ", " : std::string("    ");
        left += SwitchName(s);
        std::string help = s.Help;
        if (s.TakesValue) {
            const size_t colon = help.find(':');
            left += " " + help.substr(0, colon);
            help = help.substr(colon + 2);
        }
        if (left.size() < 30)
            left.resize(30, ' ');
        else
            left += "  ";
        text += left + help + "\n";
    }
    return text;
}

} // namespace

std::string ParseDateSwitch(const std::string &Switch, const std::string &Text) {
    std::string digits;
    if (AllDigits(Text) && (Text.size() == 8 || Text.size() == 14)) {
        digits = Text;
    } else {
        // YYYY-MM-DD[( |T)hh:mm[:ss]]
        std::string t = Text;
        auto take = [&](size_t pos, size_t len) { return t.substr(pos, len); };
        bool ok = t.size() >= 10 && t[4] == '-' && t[7] == '-' && AllDigits(take(0, 4)) &&
                  AllDigits(take(5, 2)) && AllDigits(take(8, 2));
        if (ok) {
            digits = take(0, 4) + take(5, 2) + take(8, 2);
            if (t.size() > 10) {
                ok = (t[10] == ' ' || t[10] == 'T') && (t.size() == 16 || t.size() == 19) &&
                     t[13] == ':' && AllDigits(take(11, 2)) && AllDigits(take(14, 2)) &&
                     (t.size() == 16 || (t[16] == ':' && AllDigits(take(17, 2))));
                if (ok)
                    digits += take(11, 2) + take(14, 2) + (t.size() == 19 ? take(17, 2) : "00");
            }
        }
        if (!ok)
            throw EUsage(Switch +
                         " takes a date YYYY-MM-DD [hh:mm[:ss]] or YYYYMMDD[hhmmss], not '" + Text +
                         "'");
    }
    auto num = [&](size_t pos) { return std::stoi(digits.substr(pos, 2)); };
    const int month = num(4), day = num(6);
    const int year = std::stoi(digits.substr(0, 4));
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool ok = month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1] && year >= 1601;
    if (ok && month == 2 && day == 29)
        ok = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (ok && digits.size() == 14)
        ok = num(8) < 24 && num(10) < 60 && num(12) < 60;
    if (!ok)
        throw EUsage(Switch + ": '" + Text + "' is not a valid date");
    return digits;
}

TInvocation ParseCommandLine(const std::vector<std::string> &Args) {
    TInvocation inv;
    std::vector<std::string> words;
    bool switchesEnded = false;
    // A switch before the command is checked once the command is known.
    std::vector<const TSwitch *> early;

    auto findLong = [](const std::string &name) -> const TSwitch * {
        for (const auto &s : Switches())
            if (name == s.Long)
                return &s;
        return nullptr;
    };
    auto findShort = [](char c) -> const TSwitch * {
        for (const auto &s : Switches())
            if (s.Short == c)
                return &s;
        return nullptr;
    };
    auto use = [&](const TSwitch &s, const std::string &value) {
        if (inv.Command == C::None)
            early.push_back(&s);
        else if (!Allows(s, inv.Command))
            throw EUsage("the command '" + inv.CommandName + "' takes no " + SwitchName(s));
        s.Apply(inv, value);
    };

    for (size_t k = 0; k < Args.size(); ++k) {
        const std::string &a = Args[k];
        if (switchesEnded || a == "-" || a.empty() || a[0] != '-') {
            if (inv.Command == C::None) {
                const TCommandInfo *info = FindCommand(a);
                if (!info)
                    throw EUsage("unknown command '" + a + "'");
                inv.Command = info->Command;
                inv.CommandName = info->Name;
                for (const TSwitch *s : early)
                    if (!Allows(*s, inv.Command))
                        throw EUsage("the command '" + inv.CommandName + "' takes no " +
                                     SwitchName(*s));
            } else {
                words.push_back(a);
            }
            continue;
        }
        if (a == "--") {
            switchesEnded = true;
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            const size_t eq = a.find('=');
            const std::string name =
                a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const TSwitch *s = findLong(name);
            if (!s)
                throw EUsage("unknown switch '--" + name + "'");
            std::string value;
            if (s->TakesValue) {
                if (eq != std::string::npos)
                    value = a.substr(eq + 1);
                else if (k + 1 < Args.size())
                    value = Args[++k];
                else
                    throw EUsage(SwitchName(*s) + " needs a value");
            } else if (eq != std::string::npos) {
                throw EUsage(SwitchName(*s) + " takes no value");
            }
            use(*s, value);
            continue;
        }
        // Short switches, bundled (-rq) or with their value joined (-oDIR) or following.
        for (size_t j = 1; j < a.size(); ++j) {
            const TSwitch *s = findShort(a[j]);
            if (!s)
                throw EUsage(std::string("unknown switch '-") + a[j] + "'");
            if (!s->TakesValue) {
                use(*s, {});
                continue;
            }
            std::string value;
            if (j + 1 < a.size())
                value = a.substr(j + 1);
            else if (k + 1 < Args.size())
                value = Args[++k];
            else
                throw EUsage(std::string("-") + a[j] + " needs a value");
            use(*s, value);
            break;
        }
    }

    if (inv.Help || inv.Version)
        return inv;
    if (inv.Command == C::None)
        throw EUsage("no command given");
    const TCommandInfo &info = InfoOf(inv.Command);
    size_t first = 0;
    if (info.TakesArchive) {
        if (words.empty())
            throw EUsage("'" + inv.CommandName + "' needs an archive");
        inv.Archive = words[0];
        first = 1;
    }
    inv.Operands.assign(words.begin() + static_cast<std::ptrdiff_t>(first), words.end());
    if (inv.Operands.size() < info.MinOperands)
        throw EUsage("usage: arcfile " + std::string(info.Synopsis));
    if (info.MaxOperands != kAny && inv.Operands.size() > info.MaxOperands)
        throw EUsage("too many arguments; usage: arcfile " + std::string(info.Synopsis));
    if (inv.Overwrite && inv.SkipExisting)
        throw EUsage("--overwrite and --skip-existing exclude each other");
    if (inv.Command == C::Options && inv.SaveFile.empty())
        throw EUsage("usage: arcfile options --save FILE");
    return inv;
}

std::string UsageText() {
    std::string text = "usage: arcfile COMMAND [SWITCHES] ARCHIVE [ARGUMENTS]\n\n"
                       "Works with archives through the Quorvel archive component.\n\n"
                       "Commands:\n";
    for (const auto &c : kCommands) {
        std::string left = std::string("  ") + c.Synopsis;
        if (left.size() < 40)
            left.resize(40, ' ');
        else
            left += "\n" + std::string(40, ' ');
        text += left + c.Summary + "\n";
    }
    text += "\nSwitches:\n" + SwitchLines(C::None);
    text += "\nThe format comes from the archive's extension, else from its content; --type\n"
            "forces one (lha, zip, cab, arj, tar, tgz, bz2, rar, bga, yz1, 7z).\n"
            "Exit status: 0 success, 1 the library reported an error, 2 bad usage or an error\n"
            "of the component, 130 cancelled. 'arcfile COMMAND --help' shows one command.\n";
    return text;
}

std::string CommandUsageText(TCommand Command) {
    if (Command == C::None)
        return UsageText();
    const TCommandInfo &info = InfoOf(Command);
    return "usage: arcfile " + std::string(info.Synopsis) + "\n\n" + info.Summary + ".\n\n" +
           "Switches:\n" + SwitchLines(Command) + "  -h, --help                  show this help\n";
}

} // namespace arcfile
