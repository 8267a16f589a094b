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
#include "archivers/common/LibArchiveDriver.h"
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
    const std::string line = text;
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

// One archive as a reader sees it: its volumes and what their headers say beyond libarchive.
struct RarArchive {
    std::string path;
    rar::Headers headers;
    std::vector<std::string> volumes;   // after the first
    std::vector<rar::FileHeader> files; // the entries, in the order libarchive gives them
};

// The header the entry read last on this thread came from (null when the two readers lost each
// other), for the listing, which describes an entry right after its header was read.
thread_local std::shared_ptr<const RarArchive> t_archive;
thread_local const rar::FileHeader *t_header = nullptr;

// Walks the entries alongside libarchive and corrects its headers where 3.6 errs: RAR 5
// encryption goes undetected, a hard link comes as an empty file, link targets are dropped, a
// link's size is left unset.
class HeaderMatch {
public:
    explicit HeaderMatch(std::shared_ptr<const RarArchive> ra) : ra_(std::move(ra)) {}

    void operator()(archive_entry *e) {
        t_archive = ra_;
        t_header = nullptr;
        if (lost_ || next_ >= ra_->files.size()) {
            lost_ = true;
            return;
        }
        const rar::FileHeader &h = ra_->files[next_++];
        const bool sizeSet = archive_entry_size_is_set(e);
        const char *name = archive_entry_pathname_utf8(e);
        // The two readers must agree on what entry this is, or nothing is corrected from here.
        if ((sizeSet && archive_entry_filetype(e) == AE_IFREG && !h.sizeUnknown &&
             h.redirect == 0 && static_cast<uint64_t>(archive_entry_size(e)) != h.size) ||
            (ra_->headers.version == 5 && (!name || h.name != name))) {
            lost_ = true;
            return;
        }
        t_header = &h;
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

private:
    std::shared_ptr<const RarArchive> ra_;
    size_t next_ = 0;
    bool lost_ = false;
};

std::shared_ptr<const RarArchive> Prepare(const std::string &path) {
    auto ra = std::make_shared<RarArchive>();
    ra->path = path;
    ra->headers = rar::ReadHeaders(path);
    if (ra->headers.headersEncrypted)
        throw ArcError(kArcErrPassword, path + ": the archive's headers are encrypted");
    if (ra->headers.volume && !ra->headers.firstVolume)
        throw ArcError(kArcErrUnsupported, path +
                                               ": a later volume of a multi-volume set; open the "
                                               "set by its first volume");
    auto keep = [&ra](const rar::Headers &h) {
        for (const auto &f : h.files)
            if (!f.splitBefore)
                ra->files.push_back(f);
    };
    keep(ra->headers);
    ra->volumes = rar::FollowingVolumes(path, ra->headers);
    for (const auto &v : ra->volumes) {
        rar::Headers h = rar::ReadHeaders(v);
        if (h.headersEncrypted)
            throw ArcError(kArcErrPassword, v + ": the volume's headers are encrypted");
        keep(h);
    }
    // In a solid archive every entry needs the ones before it decoded.
    if (ra->headers.solid &&
        std::any_of(ra->files.begin(), ra->files.end(), [](const auto &f) { return f.encrypted; }))
        throw ArcError(kArcErrPassword,
                       path + ": a solid archive with encrypted entries: none can be read "
                              "without the password");
    return ra;
}

void ReaderSetupRar(archive *a) {
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    auto ra = Prepare(ReaderPath(a));
    if (!ra->volumes.empty())
        SetFollowingVolumes(a, ra->volumes);
    SetHeaderFix(a, HeaderMatch(ra));
}

std::string MethodText(const rar::FileHeader &h) {
    if (h.directory)
        return "-dir-";
    return "-m" + std::to_string(std::clamp(h.method, 0, 9)) + "-";
}

void DescribeRar(archive *, EntryInfo &info) {
    if (!t_header || !t_archive)
        return;
    info.method = MethodText(*t_header);
    info.crc = t_header->crc;
    info.compressedSize = t_header->packedSize;
    const bool unix =
        t_archive->headers.version == 4 ? t_header->hostOs == 3 : t_header->hostOs == 1;
    info.osType = unix ? 3 : 0;
}

int RunRar(const CommandLine &cl, Progress &progress, OutputBuffer &out) {
    const RarSwitches s = ReadSwitches(cl);
    if (cl.command.empty())
        throw ArcError(kArcErrCommandLine, "no command (-x, -e, -t or -l)");
    const std::string path = ArchiveOf(cl);
    if (cl.command == "x" || cl.command == "e") {
        ExtractOptions opt;
        opt.destination = cl.directory.empty() ? "." : cl.directory;
        opt.keepFolders = cl.command == "x";
        opt.overwrite = s.update ? Overwrite::ReplaceOlder : Overwrite::Replace;
        opt.select = EntrySelector(cl.files);
        // Entries are reached one by one through their headers: a damaged one need not cost the
        // others, unless -s asks to stop.
        opt.continueAfterDamage = !s.strict;
        return ExtractEntries(path, ReaderSetupRar, opt, progress, out);
    }
    if (cl.command == "t")
        return TestEntries(path, ReaderSetupRar, EntrySelector(cl.files), progress, out);
    EntrySelector select(cl.files);
    for (const auto &e : ReadEntries(path, ReaderSetupRar))
        if (select.Matches(e.name))
            out.Line(e.name);
    return 0;
}

const LibArchiveLibrary &RarLibrary() {
    static const LibArchiveLibrary lib{
        ParseRar,
        ReaderSetupRar,
        RunRar,
        ArchiveOf,
        [](const CommandLine &cl) { return EntrySelector(cl.files); },
        DescribeRar,
    };
    return lib;
}

} // namespace

ARCLIB_DEFINE_LIBARCHIVE_EXPORTS(Unrar, RarLibrary)
