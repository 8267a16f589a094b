#include "archivers/common/LhaDialect.h"

#include "archivers/common/ArcErrors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

namespace arclib {

int LhaOptions::Number(const char *name, int fallback) const {
    const size_t n = std::strlen(name);
    int value = fallback;
    for (const auto &sw : cl.switches) {
        std::string_view t = sw.text;
        if (t.size() < n + 1 || t.substr(1, n) != name)
            continue;
        std::string_view digits = t.substr(n + 1);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        value = digits.empty() ? 1 : std::atoi(std::string(digits).c_str());
    }
    return value;
}

LhaOptions ParseLhaOptions(const char *line, bool memory,
                           std::initializer_list<const char *> commands) {
    CommandLineRules rules;
    for (const char *c : commands)
        rules.commands.push_back(c);
    rules.archiveIsFirstArgument = true;
    rules.quotedSwitches = true;
    rules.directoryAfterArchive = !memory;
    LhaOptions o;
    o.cl = ParseCommandLine(line ? line : "", rules);
    o.r = o.Number("r", 0);
    o.keepPaths = o.Number("x", 1) != 0;
    o.always = o.Number("c", 0) != 0;
    o.fullPath = o.Number("p", 0) != 0;
    o.store = o.Number("z", 0) != 0;
    o.noFolders = o.Number("jso", 0) != 0;
    o.hidden = o.Number("a", 0) >= 1;
    const int year = [] {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        return local.tm_year + 1900;
    }();
    for (const auto &sw : o.cl.switches) {
        if (sw.text.rfind("-jx", 0) == 0 && sw.text.size() > 3)
            o.exclude.push_back(sw.text.substr(3));
        else if (sw.text.rfind("-job", 0) == 0)
            o.written.to = ParseDateBound(sw.text.substr(4), "235959", year);
        else if (sw.text.rfind("-jo", 0) == 0)
            o.written.from = ParseDateBound(sw.text.substr(3), "000000", year);
    }
    if (o.cl.archive.empty())
        throw ArcError(kArcErrCommandLine, "no archive name");
    return o;
}

LhaSelection::LhaSelection(const LhaOptions &o) : fullPath_(o.fullPath) {
    for (const auto &f : o.cl.files)
        if (!f.empty())
            patterns_.push_back(f);
    select_ = EntrySelector(patterns_);
    exclude_ = EntrySelector(o.exclude);
}

bool LhaSelection::Matches(const std::string &name) const {
    std::string bare = name;
    if (!bare.empty() && bare.back() == '/')
        bare.pop_back();
    const bool in = fullPath_ && !patterns_.empty()
                        ? std::any_of(patterns_.begin(), patterns_.end(),
                                      [&](const std::string &p) {
                                          return WildcardMatch(p, bare) || MatchesEverything(p);
                                      })
                        : select_.Matches(bare);
    return in && (exclude_.Empty() || !exclude_.Matches(bare));
}

} // namespace arclib
