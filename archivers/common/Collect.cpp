#include "archivers/common/Collect.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <set>

namespace arclib {

namespace {

std::string Join(const std::string &base, const std::string &name) {
    if (base.empty() || (!name.empty() && name[0] == '/'))
        return name;
    return base.back() == '/' ? base + name : base + "/" + name;
}

// "[x]" written for the character x itself, as the zip command line escapes '*' and '?'.
std::string UnescapeSingleClasses(const std::string &pattern) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '[' && i + 2 < pattern.size() && pattern[i + 2] == ']') {
            out += pattern[i + 1];
            i += 2;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

class Collector {
public:
    Collector(const CollectOptions &opt, OutputBuffer &out) : opt_(opt), out_(out) {
        wild_.brackets = opt.brackets;
    }

    void Argument(const std::string &arg) {
        if (arg.empty())
            return;
        const auto [folder, leaf] = SplitArgument(arg);
        if (opt_.plainNamesInSubfolders && opt_.recurseWildcards && !HasWildcard(leaf)) {
            size_t before = c_.files.size();
            Match(folder, leaf, true, false);
            if (c_.files.size() != before)
                return;
        }
        // A name that exists is that file, whatever characters it holds (`x?.txt` is a legal
        // name): only a name that names no file is a mask.
        struct stat st {};
        if (::lstat(Disk(arg).c_str(), &st) == 0) {
            Add(arg, st);
            return;
        }
        if (opt_.brackets && HasWildcard(arg)) {
            const std::string literal = UnescapeSingleClasses(arg);
            if (::lstat(Disk(literal).c_str(), &st) == 0) {
                Add(literal, st);
                return;
            }
        }
        if (!HasWildcard(opt_.masksInFolders ? arg : leaf)) {
            c_.unmatched.push_back({arg, false});
            return;
        }
        size_t before = c_.files.size();
        for (const auto &f : Folders(folder))
            Match(f, Mask(leaf), opt_.recurseWildcards, opt_.masksTakeFolders);
        if (c_.files.size() == before)
            c_.unmatched.push_back({arg, true});
    }

    Collection Take() { return std::move(c_); }

private:
    bool HasWildcard(std::string_view s) const {
        return s.find_first_of(opt_.brackets ? "*?[" : "*?") != std::string_view::npos;
    }

    // "a/b/c" as the folder "a/b" and the last part "c"; "/x" as "/" and "x".
    static std::pair<std::string, std::string> SplitArgument(const std::string &arg) {
        size_t slash = arg.rfind('/');
        if (slash == std::string::npos)
            return {"", arg};
        return {arg.substr(0, slash == 0 ? 1 : slash), arg.substr(slash + 1)};
    }

    std::string Disk(const std::string &rel) const {
        std::string d = Join(opt_.baseDir, rel);
        return d.empty() ? "." : d;
    }

    std::string Mask(const std::string &part) const {
        // Every name, as on Windows, not only names with a dot.
        return opt_.masksInFolders && part == "*.*" ? std::string(1, '*') : part;
    }

    bool Hidden(const std::string &name, const std::string &mask) const {
        return name[0] == '.' && !opt_.hidden && mask[0] != '.';
    }

    // The folders a folder part names: itself, or with masksInFolders every match part by part.
    std::vector<std::string> Folders(const std::string &folder) const {
        if (!opt_.masksInFolders || !HasWildcard(folder))
            return {folder};
        std::vector<std::string> cur{folder[0] == '/' ? "/" : ""};
        size_t i = 0;
        while (i <= folder.size()) {
            size_t j = folder.find('/', i);
            if (j == std::string::npos)
                j = folder.size();
            std::string part = Mask(folder.substr(i, j - i));
            i = j + 1;
            if (part.empty())
                continue;
            std::vector<std::string> next;
            for (const auto &prefix : cur) {
                if (!HasWildcard(part)) {
                    next.push_back(Join(prefix, part));
                    continue;
                }
                for (const auto &n : Names(prefix, false)) {
                    struct stat st {};
                    std::string rel = Join(prefix, n);
                    if (!Hidden(n, part) && WildcardMatch(part, n, wild_) &&
                        ::stat(Disk(rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                        next.push_back(rel);
                }
            }
            cur = std::move(next);
        }
        return cur;
    }

    // The names in a folder; one that cannot be read has none when only masks look into it.
    std::vector<std::string> Names(const std::string &rel, bool required) const {
        try {
            return ListFolder(Disk(rel));
        } catch (const ArcError &) {
            if (required)
                throw;
            return {};
        }
    }

    void Match(const std::string &folder, const std::string &mask, bool recursive,
               bool takeFolders) {
        for (const auto &n : Names(folder, false)) {
            if (Hidden(n, mask))
                continue;
            const std::string rel = Join(folder, n);
            struct stat st {};
            if (::lstat(Disk(rel).c_str(), &st) != 0)
                continue;
            const bool dir = S_ISDIR(st.st_mode);
            if (WildcardMatch(mask, n, wild_) && (takeFolders || !dir))
                Add(rel, st);
            else if (recursive && dir)
                Match(rel, mask, true, takeFolders);
        }
    }

    void Add(const std::string &rel, const struct stat &st) {
        const std::string disk = Disk(rel);
        if (opt_.skipIno != 0 && st.st_dev == opt_.skipDev && st.st_ino == opt_.skipIno) {
            out_.Line("skipped: " + disk + " (the archive itself)");
            return;
        }
        const bool dir = S_ISDIR(st.st_mode);
        if (!dir && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            out_.Line("skipped: " + disk + " (special file)");
            return;
        }
        const std::string stored = StoredNameFor(rel);
        const std::string last = SplitParent(stored).second;
        const std::string name = opt_.keepFolders ? stored : last;
        if (!name.empty() && !opt_.exclude.Empty() &&
            (opt_.exclude.Matches(name) || (opt_.excludeLastNames && opt_.exclude.Matches(last))))
            return;
        // "/" or "." itself brings only its contents.
        if (!name.empty() && (dir ? opt_.folderEntries : opt_.written.Contains(st.st_mtime)) &&
            seen_.insert(name).second)
            c_.files.push_back({disk, name, st});
        if (dir && opt_.recurseFolders)
            for (const auto &n : Names(rel, true)) {
                if (n[0] == '.' && !opt_.hidden)
                    continue; // hidden files come with their folder only when asked for
                const std::string child = rel.empty() ? n : Join(rel, n);
                struct stat cst {};
                if (::lstat(Disk(child).c_str(), &cst) == 0)
                    Add(child, cst);
            }
    }

    const CollectOptions &opt_;
    OutputBuffer &out_;
    WildcardOptions wild_;
    Collection c_;
    std::set<std::string> seen_;
};

} // namespace

std::vector<std::string> ListFolder(const std::string &path) {
    std::unique_ptr<DIR, int (*)(DIR *)> d(::opendir(path.empty() ? "." : path.c_str()),
                                           ::closedir);
    if (!d)
        throw ArcError(kArcErrReadSource, path + ": " + std::strerror(errno));
    std::vector<std::string> names;
    errno = 0;
    while (const dirent *e = ::readdir(d.get())) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
        errno = 0;
    }
    if (errno != 0)
        throw ArcError(kArcErrReadSource, path + ": " + std::strerror(errno));
    std::sort(names.begin(), names.end());
    return names;
}

Collection Collect(const std::vector<std::string> &args, const CollectOptions &opt,
                   OutputBuffer &out) {
    Collector c(opt, out);
    for (const auto &a : args)
        c.Argument(a);
    return c.Take();
}

std::vector<SourceFile> CollectSources(const std::vector<std::string> &args,
                                       const CollectOptions &opt, OutputBuffer &out) {
    Collection c = Collect(args, opt, out);
    for (const auto &u : c.unmatched)
        if (!u.mask) {
            const std::string disk = Join(opt.baseDir, u.argument);
            struct stat st {};
            const int err = ::lstat(disk.c_str(), &st) == 0 ? ENOENT : errno;
            throw ArcError(kArcErrReadSource, disk + ": " + std::strerror(err));
        }
    for (const auto &u : c.unmatched)
        out.Line("no file matches " + u.argument);
    return std::move(c.files);
}

} // namespace arclib
