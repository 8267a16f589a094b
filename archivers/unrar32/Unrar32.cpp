// libunrar32.so: the UNRAR32 library of the archiver interface over libarchive, prefix "Unrar".
// Reads RAR 4 and RAR 5 archives, multi-volume sets from their first volume included; it never
// writes them (no RAR writer exists on Linux). Reads the command lines of the RAR back-end: -x
// and -e (extract with and without folders), -t (test), -l (list), switches -u, -y, -s;
// docs/archivers-rar.md describes each.
#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/Listing.h"
#include "archivers/unrar32/RarHeaders.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

using namespace arclib;

namespace {

// Command words that make or change an archive, in the RAR dialect and its neighbours.
const char *const kPackingCommands[] = {"a",  "m",  "mf", "u",  "f",  "d",  "c",  "ch", "cw", "k",
                                        "rr", "rv", "s",  "-a", "-m", "-d", "-f", "-c", "-k"};

struct RarSwitches {
    bool update = false; // -u: an existing file is replaced only by a newer entry
    bool strict = false; // -s: the first damaged entry ends the run
};

CommandLine ParseRar(const char *text) {
    const std::string line = text ? text : "";
    std::vector<Token> tokens = Tokenize(line);
    if (!tokens.empty() && !tokens[0].quoted) {
        std::string word = tokens[0].text;
        for (char &c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const char *p : kPackingCommands)
            if (word == p)
                throw ArcError(kArcErrUnsupported,
                               "the command " + tokens[0].text +
                                   " makes or changes an archive: RAR archives can only be "
                                   "read on Linux (no RAR writer exists)");
    }
    CommandLineRules rules;
    rules.commands = {"-x", "-e", "-t", "-l", "x", "e", "t", "l"};
    rules.archiveIsFirstArgument = true;
    rules.quotedSwitches = true;
    rules.directoryAfterArchive = true;
    CommandLine cl = ParseCommandLine(line, rules);
    if (!cl.command.empty() && cl.command[0] == '-')
        cl.command.erase(0, 1);
    return cl;
}

RarSwitches ReadSwitches(const CommandLine &cl) {
    RarSwitches s;
    for (const Switch &sw : cl.switches) {
        if (sw.text == "-u")
            s.update = true;
        else if (sw.text == "-s")
            s.strict = true;
        // -y (yes to every question) asks nothing of us: nothing is ever asked. Other switches
        // are accepted and ignored.
    }
    return s;
}

std::string ArchiveOf(const CommandLine &cl) {
    if (cl.archive.empty())
        throw ArcError(kArcErrCommandLine, "no archive name");
    return cl.archive;
}

// One archive as a run reads it: its volumes and what their headers say beyond libarchive.
struct RarArchive {
    std::string path;
    rar::Headers headers;
    std::vector<std::string> volumes;   // after the first
    std::vector<rar::FileHeader> files; // the entries, in the order libarchive gives them
};

// Walks the entries alongside libarchive and corrects its headers where 3.6 errs: RAR 5
// encryption goes undetected, a hard link comes as an empty file, link targets are dropped.
struct HeaderMatch {
    const std::vector<rar::FileHeader> *files = nullptr;
    int version = 0;
    size_t next = 0;
    bool lost = false;
    const rar::FileHeader *current = nullptr;

    void operator()(archive_entry *e) {
        current = nullptr;
        if (lost || next >= files->size()) {
            lost = true;
            return;
        }
        const rar::FileHeader &h = (*files)[next++];
        const bool sizeSet = archive_entry_size_is_set(e);
        const char *name = archive_entry_pathname_utf8(e);
        // The two readers must agree on what entry this is, or nothing is corrected from here.
        if ((sizeSet && archive_entry_filetype(e) == AE_IFREG && !h.sizeUnknown &&
             h.redirect == 0 && static_cast<uint64_t>(archive_entry_size(e)) != h.size) ||
            (version == 5 && (!name || h.name != name))) {
            lost = true;
            return;
        }
        current = &h;
        if (h.encrypted && !archive_entry_is_encrypted(e))
            archive_entry_set_is_data_encrypted(e, 1);
        if (h.redirect == 4 && !h.target.empty()) {
            if (!archive_entry_hardlink(e))
                archive_entry_set_hardlink_utf8(e, h.target.c_str());
            archive_entry_set_size(e, 0); // its data is its target's
        } else if ((h.redirect == 1 || h.redirect == 2) && !h.target.empty()) {
            const char *have = archive_entry_symlink_utf8(e);
            if (!have || !*have) {
                std::string target = h.target;
                if (h.redirect == 2)
                    std::replace(target.begin(), target.end(), '\\', '/');
                archive_entry_set_filetype(e, AE_IFLNK);
                archive_entry_set_symlink_utf8(e, target.c_str());
            }
            archive_entry_set_size(e, 0);
        } else if (!sizeSet && !h.sizeUnknown) {
            // A RAR header always says how much its entry unpacks to; hold the reader to it.
            archive_entry_set_size(e, static_cast<la_int64_t>(h.size));
        }
    }
};

RarArchive Prepare(const std::string &path) {
    RarArchive ra;
    ra.path = path;
    ra.headers = rar::ReadHeaders(path);
    if (ra.headers.headersEncrypted)
        throw ArcError(kArcErrPassword, path + ": the archive's headers are encrypted");
    if (ra.headers.volume && !ra.headers.firstVolume)
        throw ArcError(kArcErrUnsupported, path +
                                               ": a later volume of a multi-volume set; open the "
                                               "set by its first volume");
    auto keep = [&ra](const rar::Headers &h) {
        for (const auto &f : h.files)
            if (!f.splitBefore)
                ra.files.push_back(f);
    };
    keep(ra.headers);
    ra.volumes = rar::FollowingVolumes(path, ra.headers);
    for (const auto &v : ra.volumes) {
        rar::Headers h = rar::ReadHeaders(v);
        if (h.headersEncrypted)
            throw ArcError(kArcErrPassword, v + ": the volume's headers are encrypted");
        keep(h);
    }
    return ra;
}

// A reader for the archive; match, when given, sees which header each entry came from.
ReaderSetup SetupFor(const RarArchive &ra, std::shared_ptr<HeaderMatch> match = {}) {
    return [&ra, match](archive *a) {
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
        if (!ra.volumes.empty())
            SetFollowingVolumes(a, ra.volumes);
        auto m = match ? match : std::make_shared<HeaderMatch>();
        m->files = &ra.files;
        m->version = ra.headers.version;
        SetHeaderFix(a, [m](archive_entry *e) { (*m)(e); });
    };
}

// libarchive 3.6 reads only the first entry of a solid RAR 4 archive and says so by a damaged
// header; the caller learns what it is.
template <class F> auto Run(const RarArchive &ra, F &&body) {
    try {
        return body();
    } catch (const ArcError &err) {
        if (ra.headers.version == 4 && ra.headers.solid &&
            err.detail().find("solid") != std::string::npos) {
            const bool encrypted = std::any_of(ra.files.begin(), ra.files.end(),
                                               [](const auto &f) { return f.encrypted; });
            if (encrypted)
                throw ArcError(kArcErrPassword, ra.path + ": a solid archive of encrypted entries");
            throw ArcError(kArcErrUnsupported,
                           ra.path + ": solid RAR 4 archives cannot be read past their first "
                                     "entry (a limit of libarchive 3.6)");
        }
        throw;
    }
}

std::string MethodText(const rar::FileHeader &h) {
    if (h.directory)
        return "-dir-";
    return "-m" + std::to_string(std::clamp(h.method, 0, 9)) + "-";
}

std::vector<EntryInfo> ListEntries(const RarArchive &ra) {
    auto match = std::make_shared<HeaderMatch>();
    ReadArchive r = OpenReader(ra.path, SetupFor(ra, match));
    std::vector<EntryInfo> entries;
    archive_entry *e = nullptr;
    while (NextHeader(r.get(), &e)) {
        EntryInfo info = ToEntryInfo(e);
        if (const rar::FileHeader *h = match->current) {
            info.method = MethodText(*h);
            info.crc = h->crc;
            info.compressedSize = h->packedSize;
            info.osType = (ra.headers.version == 4 ? h->hostOs == 3 : h->hostOs == 1) ? 3 : 0;
        }
        entries.push_back(std::move(info));
        Check(r.get(), archive_read_data_skip(r.get()), kArcErrDamaged, entries.back().name);
    }
    return entries;
}

int RunRar(HWND hwnd, const char *line, OutputBuffer &out) {
    ScopedUtf8Locale utf8;
    CommandLine cl = ParseRar(line);
    RarSwitches s = ReadSwitches(cl);
    Progress progress(hwnd);
    if (cl.command.empty())
        throw ArcError(kArcErrCommandLine, "no command (-x, -e, -t or -l)");
    const RarArchive ra = Prepare(ArchiveOf(cl));
    return Run(ra, [&] {
        if (cl.command == "x" || cl.command == "e") {
            ExtractOptions opt;
            opt.destination = cl.directory.empty() ? "." : cl.directory;
            opt.keepFolders = cl.command == "x";
            opt.overwrite = s.update ? Overwrite::ReplaceOlder : Overwrite::Replace;
            opt.select = EntrySelector(cl.files);
            // Entries are reached one by one through their headers: a damaged one need not cost
            // the others, unless -s asks to stop.
            opt.continueAfterDamage = !s.strict;
            return ExtractEntries(ra.path, SetupFor(ra), opt, progress, out);
        }
        if (cl.command == "t")
            return TestEntries(ra.path, SetupFor(ra), EntrySelector(cl.files), progress, out);
        EntrySelector select(cl.files);
        for (const auto &e : ListEntries(ra))
            if (select.Matches(e.name))
                out.Line(e.name);
        return 0;
    });
}

} // namespace

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

RAR_EXPORT int Unrar(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    OutputBuffer out(output, size);
    return GuardCode(&out, [&] { return RunRar(hwnd, cmdLine, out); });
}

RAR_EXPORT int UnrarExtractMem(HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size,
                               void *, WORD *attr, DWORD *written) {
    if (written)
        *written = 0;
    return GuardCode(nullptr, [&] {
        ScopedUtf8Locale utf8;
        CommandLine cl = ParseRar(cmdLine);
        if (cl.files.empty())
            throw ArcError(kArcErrCommandLine, "no entry named");
        Progress progress(hwnd);
        const RarArchive ra = Prepare(ArchiveOf(cl));
        int r = Run(ra, [&] {
            return ExtractToMemory(ra.path, SetupFor(ra), EntrySelector(cl.files), buffer, size,
                                   written, progress);
        });
        if (attr)
            *attr = 0x20; // archive bit: the entry is a file
        return r;
    });
}

RAR_EXPORT HARC UnrarOpenArchive(HWND, const char *archivePath, DWORD) {
    return Guard<HARC>(nullptr, [&] {
        ScopedUtf8Locale utf8;
        const RarArchive ra = Prepare(archivePath ? archivePath : "");
        std::vector<EntryInfo> entries = Run(ra, [&] { return ListEntries(ra); });
        return RegisterHandle(std::make_unique<ArchiveHandle>(ra.path, std::move(entries)));
    });
}

RAR_EXPORT BOOL UnrarCheckArchive(const char *archivePath, int mode) {
    return Guard<BOOL>(0, [&] {
        if (!archivePath)
            return 0;
        ScopedUtf8Locale utf8;
        const RarArchive ra = Prepare(archivePath);
        return CheckArchiveFile(archivePath, mode, SetupFor(ra));
    });
}

ARCLIB_DEFINE_COMMON_EXPORTS(Unrar)
