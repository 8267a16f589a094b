// lib7-zip32.so: the 7-zip32 library of the archiver interface over libarchive, prefix
// "SevenZip". Reads the command lines of the 7z back-end: u (pack and update), x and e (extract
// with and without stored folders), d (delete), t (test), l (list), with -ao*, -y, -r, -x!, -o,
// -mx; docs/archivers.md describes each.
#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/LibArchiveDriver.h"
#include "archivers/common/Listing.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

using namespace arclib;

namespace {

struct SevenZipSwitches {
    Overwrite overwrite = Overwrite::Skip; // nobody to ask: existing files are kept
    bool overwriteChosen = false;
    bool recurseWildcards = false;
    std::vector<std::string> excludes;
    std::string directory; // -o: destination (x, e) or base folder (u)
    int level = -1;
    bool password = false;
};

CommandLine ParseSevenZip(const char *line) {
    CommandLineRules rules;
    rules.commands = {"u", "a", "x", "e", "d", "t", "l"};
    rules.archiveIsFirstArgument = true;
    rules.quotedSwitches = true;
    return ParseCommandLine(line ? line : "", rules);
}

SevenZipSwitches ReadSwitches(const CommandLine &cl) {
    SevenZipSwitches s;
    bool yes = false;
    for (const Switch &sw : cl.switches) {
        const std::string &t = sw.text;
        if (t == "-aoa") {
            s.overwrite = Overwrite::Replace;
            s.overwriteChosen = true;
        } else if (t == "-aos") {
            s.overwrite = Overwrite::Skip;
            s.overwriteChosen = true;
        } else if (t == "-aou" || t == "-aot") {
            s.overwrite = Overwrite::RenameNew;
            s.overwriteChosen = true;
        } else if (t == "-y") {
            yes = true;
        } else if (t == "-r") {
            s.recurseWildcards = true;
        } else if (t == "-r-" || t == "-r0") {
            s.recurseWildcards = false;
        } else if (t.rfind("-x!", 0) == 0 || t.rfind("-xr!", 0) == 0 || t.rfind("-xr-!", 0) == 0) {
            s.excludes.push_back(t.substr(t.find('!') + 1));
        } else if (t.rfind("-o", 0) == 0) {
            s.directory = t.substr(2);
        } else if (t.rfind("-mx", 0) == 0) {
            std::string v = t.substr(3);
            if (!v.empty() && v[0] == '=')
                v.erase(0, 1);
            try {
                s.level = std::stoi(v);
            } catch (...) {
                throw ArcError(kArcErrCommandLine, "bad level in " + t);
            }
        } else if (t.rfind("-p", 0) == 0 && t.size() > 2) {
            s.password = true;
        }
    }
    // -y answers the question 7-Zip would ask: overwrite.
    if (yes && !s.overwriteChosen)
        s.overwrite = Overwrite::Replace;
    return s;
}

void ReaderSetup7z(archive *a) {
    archive_read_support_format_7zip(a);
}

void WriterSetup7z(archive *w, int level) {
    Check(w, archive_write_set_format_7zip(w), kArcErrInternal, "7z format");
    const char *method = level == 0 ? "copy" : "lzma2";
    Check(w, archive_write_set_format_option(w, "7zip", "compression", method), kArcErrInternal,
          "compression");
    if (level > 0) {
        if (level > 9)
            level = 9;
        Check(w,
              archive_write_set_format_option(w, "7zip", "compression-level",
                                              std::to_string(level).c_str()),
              kArcErrInternal, "compression-level");
    }
}

std::string ArchiveOf(const CommandLine &cl) {
    if (cl.archive.empty())
        throw ArcError(kArcErrCommandLine, "no archive name");
    return cl.archive;
}

std::string Key(std::string name) {
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

int Pack(const CommandLine &cl, const SevenZipSwitches &s, Progress &progress, OutputBuffer &out) {
    std::string path = ArchiveOf(cl);
    if (s.password)
        throw ArcError(kArcErrUnsupported, "encryption (-p)");
    CollectOptions co;
    co.baseDir = s.directory;
    co.recurseWildcards = s.recurseWildcards;
    co.hidden = true; // the 7z command line has no switch for them: 7-Zip takes every file
    co.exclude = EntrySelector(s.excludes);
    struct stat self {};
    bool haveOld = ::stat(path.c_str(), &self) == 0;
    if (haveOld) {
        co.skipDev = self.st_dev;
        co.skipIno = self.st_ino;
    }
    std::vector<SourceFile> sources = CollectSources(cl.files, co, out);
    RequireUtf8Names(sources);
    if (sources.empty() && !haveOld)
        throw ArcError(kArcErrNoFiles, "nothing to pack");
    std::unordered_set<std::string> replaced;
    for (const auto &src : sources)
        replaced.insert(src.entryName);
    size_t kept = 0;
    WriteArchiveFile(
        path, [&](archive *w) { WriterSetup7z(w, s.level); },
        [&](archive *w) {
            if (haveOld) {
                // Entries not replaced by the new files are carried over.
                ReadArchive r = OpenReader(path, ReaderSetup7z);
                progress.Opened(path);
                archive_entry *e = nullptr;
                while (NextHeader(r.get(), &e)) {
                    if (replaced.count(Key(EntryName(e))))
                        continue;
                    if (archive_entry_is_encrypted(e))
                        throw ArcError(kArcErrPassword, EntryName(e));
                    CopyEntry(r.get(), e, w, progress);
                    ++kept;
                }
            }
            for (const auto &src : sources)
                WriteFromDisk(w, src, progress, out);
        });
    out.Line(std::to_string(sources.size()) + " files packed into " + path +
             (kept ? ", " + std::to_string(kept) + " entries kept" : ""));
    return 0;
}

int Delete(const CommandLine &cl, const SevenZipSwitches &s, Progress &progress,
           OutputBuffer &out) {
    std::string path = ArchiveOf(cl);
    if (cl.files.empty())
        throw ArcError(kArcErrNoFiles, "no entry named to delete");
    // A name without a folder part is the entry at the root, as 7-Zip reads it; -r also takes
    // it in every folder.
    EntrySelector select(cl.files, {}, !s.recurseWildcards);
    EntrySelector exclude(s.excludes);
    size_t removed = 0, kept = 0;
    WriteArchiveFile(
        path, [&](archive *w) { WriterSetup7z(w, s.level); },
        [&](archive *w) {
            ReadArchive r = OpenReader(path, ReaderSetup7z);
            progress.Opened(path);
            archive_entry *e = nullptr;
            while (NextHeader(r.get(), &e)) {
                std::string name = EntryName(e);
                if (select.Matches(name) && (exclude.Empty() || !exclude.Matches(name))) {
                    ++removed;
                    out.Line("deleted: " + name);
                    continue;
                }
                if (archive_entry_is_encrypted(e))
                    throw ArcError(kArcErrPassword, name);
                CopyEntry(r.get(), e, w, progress);
                ++kept;
            }
            if (removed == 0)
                throw ArcError(kArcErrNoFiles, "no entry matched; the archive is unchanged");
        });
    out.Line(std::to_string(removed) + " entries deleted, " + std::to_string(kept) + " kept");
    return 0;
}

int RunSevenZip(const CommandLine &cl, Progress &progress, OutputBuffer &out) {
    SevenZipSwitches s = ReadSwitches(cl);
    if (cl.command == "u" || cl.command == "a")
        return Pack(cl, s, progress, out);
    if (cl.command == "x" || cl.command == "e") {
        if (s.password)
            throw ArcError(kArcErrUnsupported, "decryption (-p)");
        ExtractOptions opt;
        opt.destination = s.directory.empty() ? "." : s.directory;
        opt.keepFolders = cl.command == "x";
        opt.overwrite = s.overwrite;
        opt.select = EntrySelector(cl.files);
        opt.exclude = EntrySelector(s.excludes);
        return ExtractEntries(ArchiveOf(cl), ReaderSetup7z, opt, progress, out);
    }
    if (cl.command == "d")
        return Delete(cl, s, progress, out);
    if (cl.command == "t")
        return TestEntries(ArchiveOf(cl), ReaderSetup7z, EntrySelector(cl.files), progress, out);
    if (cl.command == "l") {
        EntrySelector select(cl.files);
        for (const auto &e : ReadEntries(ArchiveOf(cl), ReaderSetup7z))
            if (select.Matches(e.name))
                out.Line(e.name);
        return 0;
    }
    throw ArcError(kArcErrCommandLine, "no command (u, x, e, d, t or l)");
}

const LibArchiveLibrary &SevenZipLibrary() {
    static const LibArchiveLibrary lib{
        ParseSevenZip,
        ReaderSetup7z,
        RunSevenZip,
        ArchiveOf,
        [](const CommandLine &cl) { return EntrySelector(cl.files); },
        [](archive *, EntryInfo &info) {
            info.method = info.IsDirectory() ? "" : "-7z-";
            info.osType = 0;
        },
    };
    return lib;
}

} // namespace

ARCLIB_DEFINE_LIBARCHIVE_EXPORTS(SevenZip, SevenZipLibrary)
