// Wildcard matching of entry names: '*' any run of characters, '?' one character (a multi-byte
// character counts as one), and, when asked, '[...]' classes with ranges and '!' or '^' negation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace arclib {

struct WildcardOptions {
    bool brackets = false;        // '[' opens a class (the unzip syntax); otherwise it is literal
    bool caseInsensitive = false; // ASCII letters only
};

bool WildcardMatch(std::string_view pattern, std::string_view name, const WildcardOptions &o = {});

// True for the patterns that mean "every entry": empty, "*" and "*.*".
bool MatchesEverything(std::string_view pattern);

// Which entries of an archive a command names. A pattern with a '/' is matched against the whole
// entry name, one without against the name and against its last part; a pattern naming a folder
// also selects everything below it. No patterns select every entry.
class EntrySelector {
public:
    EntrySelector() = default;
    // With wholeNameOnly, a pattern without '/' is matched against the whole name only.
    explicit EntrySelector(std::vector<std::string> patterns, WildcardOptions o = {},
                           bool wholeNameOnly = false);
    bool Matches(std::string_view entryName) const;
    bool Empty() const { return patterns_.empty(); }

private:
    std::vector<std::string> patterns_;
    WildcardOptions options_;
    bool wholeNameOnly_ = false;
};

} // namespace arclib
