#include "archivers/common/Wildcard.h"

#include "platform/CodePage.h"

namespace arclib {

namespace {

char Fold(char c, bool ci) {
    return ci && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t CharLen(std::string_view s, size_t i) {
    return platform::CharLength(s, i, platform::CodePage::Utf8);
}

// Matches one class at pattern[p] ('[' ...) against the character name[n..n+len). Returns the index
// after the class, or npos when the class is not closed (then '[' is literal).
size_t MatchClass(std::string_view pat, size_t p, std::string_view ch, bool ci, bool &matched) {
    size_t q = p + 1;
    bool negate = false;
    if (q < pat.size() && (pat[q] == '!' || pat[q] == '^')) {
        negate = true;
        ++q;
    }
    bool any = false;
    bool first = true;
    while (q < pat.size() && (pat[q] != ']' || first)) {
        first = false;
        size_t l1 = CharLen(pat, q);
        std::string_view lo = pat.substr(q, l1);
        q += l1;
        if (q + 1 < pat.size() && pat[q] == '-' && pat[q + 1] != ']') {
            size_t l2 = CharLen(pat, q + 1);
            std::string_view hi = pat.substr(q + 1, l2);
            q += 1 + l2;
            if (lo.size() == 1 && hi.size() == 1 && ch.size() == 1) {
                char c = Fold(ch[0], ci);
                if (c >= Fold(lo[0], ci) && c <= Fold(hi[0], ci))
                    any = true;
            } else if (ch >= lo && ch <= hi) {
                any = true;
            }
        } else if (lo.size() == 1 && ch.size() == 1 ? Fold(lo[0], ci) == Fold(ch[0], ci)
                                                    : lo == ch) {
            any = true;
        }
    }
    if (q >= pat.size())
        return std::string_view::npos;
    matched = any != negate;
    return q + 1;
}

} // namespace

bool WildcardMatch(std::string_view pat, std::string_view name, const WildcardOptions &o) {
    // Iterative matching with one backtrack point for the last '*': linear in practice and never
    // exponential on patterns such as "*a*a*a*b".
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size()) {
            char pc = pat[p];
            if (pc == '*') {
                starP = ++p;
                starN = n;
                continue;
            }
            size_t nl = CharLen(name, n);
            if (pc == '?') {
                ++p;
                n += nl;
                continue;
            }
            if (pc == '[' && o.brackets) {
                bool matched = false;
                size_t after = MatchClass(pat, p, name.substr(n, nl), o.caseInsensitive, matched);
                if (after != std::string_view::npos) {
                    if (matched) {
                        p = after;
                        n += nl;
                        continue;
                    }
                    goto backtrack;
                }
            }
            if (Fold(pc, o.caseInsensitive) == Fold(name[n], o.caseInsensitive)) {
                ++p;
                ++n;
                continue;
            }
        }
    backtrack:
        if (starP == std::string_view::npos)
            return false;
        starN += CharLen(name, starN);
        n = starN;
        p = starP;
    }
    while (p < pat.size() && pat[p] == '*')
        ++p;
    return p == pat.size();
}

bool MatchesEverything(std::string_view pattern) {
    return pattern.empty() || pattern == "*" || pattern == "*.*";
}

EntrySelector::EntrySelector(std::vector<std::string> patterns, WildcardOptions o,
                             bool wholeNameOnly)
    : options_(o), wholeNameOnly_(wholeNameOnly) {
    for (auto &p : patterns)
        if (!p.empty())
            patterns_.push_back(std::move(p));
}

bool EntrySelector::Matches(std::string_view entry) const {
    if (patterns_.empty())
        return true;
    std::string_view trimmed = entry;
    while (!trimmed.empty() && trimmed.back() == '/')
        trimmed.remove_suffix(1);
    size_t slash = trimmed.rfind('/');
    std::string_view base = slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
    for (const auto &raw : patterns_) {
        std::string_view p = raw;
        while (p.size() > 1 && p.back() == '/')
            p.remove_suffix(1);
        if (MatchesEverything(p))
            return true;
        if (WildcardMatch(p, trimmed, options_))
            return true;
        if (!wholeNameOnly_ && p.find('/') == std::string_view::npos &&
            WildcardMatch(p, base, options_))
            return true;
        // A folder selects what lies below it.
        for (size_t s = trimmed.find('/'); s != std::string_view::npos;
             s = trimmed.find('/', s + 1))
            if (WildcardMatch(p, trimmed.substr(0, s), options_))
                return true;
    }
    return false;
}

} // namespace arclib
