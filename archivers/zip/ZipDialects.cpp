#include "archivers/zip/ZipDialects.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/Wildcard.h"

#include <algorithm>

namespace zipar {

using arclib::ArcError;

namespace {

arclib::CommandLineRules Rules() {
    arclib::CommandLineRules r;
    // Switches are never quoted in these dialects; the file-name filter writes a name that begins
    // with '-' as "[-]...", so a quoted token is always a name.
    r.quotedSwitches = false;
    r.directoryAfterArchive = true;
    return r;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

} // namespace

ZipCommand ParseZipCommand(std::string_view text) {
    ZipCommand cmd;
    const std::string_view t = Trim(text);
    // "-A name": the name follows unquoted and may hold blanks.
    if (t.size() >= 2 && t[0] == '-' && t[1] == 'A' && (t.size() == 2 || t[2] == ' ')) {
        std::string_view name = Trim(t.substr(2));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        if (name.empty())
            throw ArcError(arclib::kArcErrCommandLine, "-A needs a file name");
        cmd.sfxTarget = std::string(name);
        return cmd;
    }
    cmd.line = arclib::ParseCommandLine(text, Rules());
    ZipSwitches &s = cmd.sw;
    for (const auto &w : cmd.line.switches) {
        const std::string &x = w.text;
        if (x.size() < 2 || x[1] == '-') // long options have no meaning here
            continue;
        for (size_t i = 1; i < x.size(); ++i) {
            const char c = x[i];
            switch (c) {
            case 'r':
                s.recurse = true;
                break;
            case 'S':
                s.hidden = true;
                break;
            case 'D':
                s.noFolderEntries = true;
                break;
            case 'v':
                s.verbose = true;
                break;
            case 'q':
                s.quiet = true;
                break;
            case 'o':
                s.archiveTimeLatest = true;
                break;
            case 'u':
                s.update = true;
                break;
            case 'f':
                s.freshen = true;
                break;
            case 'd':
                s.remove = true;
                break;
            case 'j':
                s.junkPaths = true;
                break;
            case 'F':
                s.fix = true;
                break;
            default:
                if (c >= '0' && c <= '9') {
                    // A level is one number however many digits it has ("-10" is 10, not 1
                    // then 0), held to the 0-9 that zip knows.
                    int level = 0;
                    while (i < x.size() && x[i] >= '0' && x[i] <= '9') {
                        level = std::min(level * 10 + (x[i] - '0'), 99);
                        ++i;
                    }
                    --i;
                    s.level = std::min(level, 9);
                }
                break; // -k, -J and the rest: accepted, no meaning here (see the docs)
            }
        }
    }
    if (cmd.line.archive.empty())
        throw ArcError(arclib::kArcErrCommandLine, "no archive name");
    // Deleting takes no directory: a name ending in '/' after the archive is a folder entry.
    if (s.remove && !cmd.line.directory.empty()) {
        cmd.line.files.insert(cmd.line.files.begin(), cmd.line.directory);
        cmd.line.directory.clear();
    }
    return cmd;
}

UnzipCommand ParseUnzipCommand(std::string_view text) {
    UnzipCommand cmd;
    cmd.line = arclib::ParseCommandLine(text, Rules());
    for (const auto &w : cmd.line.switches) {
        const std::string &x = w.text;
        if (x.size() < 2 || x[1] == '-') // "--i": no dialog to suppress here
            continue;
        for (size_t i = 1; i < x.size(); ++i) {
            switch (x[i]) {
            case 't':
                cmd.sw.test = true;
                break;
            case 'o':
                cmd.sw.overwrite = true;
                break;
            case 'j':
                cmd.sw.junkPaths = true;
                break;
            default:
                break; // -x is the extract command word; others have no meaning here
            }
        }
    }
    if (cmd.line.archive.empty())
        throw ArcError(arclib::kArcErrCommandLine, "no archive name");
    return cmd;
}

ZipSelector::ZipSelector(std::vector<std::string> patterns) {
    bool everything = false;
    for (auto &p : patterns) {
        if (arclib::MatchesEverything(p))
            everything = true;
        else
            patterns_.push_back(std::move(p));
    }
    all_ = everything || patterns_.empty();
}

bool ZipSelector::Matches(std::string_view name) const {
    if (all_)
        return true;
    arclib::WildcardOptions o;
    o.brackets = true;
    std::string_view bare = name;
    if (bare.size() > 1 && bare.back() == '/')
        bare.remove_suffix(1);
    for (const auto &p : patterns_) {
        std::string_view pat = p;
        if (arclib::WildcardMatch(pat, name, o) || arclib::WildcardMatch(pat, bare, o))
            return true;
    }
    return false;
}

bool HasWildcard(std::string_view p) {
    return p.find_first_of("*?[") != std::string_view::npos;
}

} // namespace zipar
