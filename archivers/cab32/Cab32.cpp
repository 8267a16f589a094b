// libcab32.so: the CAB32 library of the archiver interface, prefix "Cab". Reads cabinets through
// libarchive (stored, MSZIP and LZX folders) and writes them with our own writer (MSZIP).
// Reads the command lines of the cabinet back-end: -a (pack), -x (extract), -f (self-extractor,
// refused on Linux), -t (test), -l (list) and the line without command word of memory
// extraction; switches -o, -i, -r, -h, -j, -q, -mz, -mn. docs/archivers-cab.md describes each.
#include "archiver_api.h"
#include "archivers/cab32/CabWriter.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/Listing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace arclib;

namespace {

struct CabSwitches {
    bool overwrite = false;  // -o
    bool keepFolders = true; // -j: not
    bool recurse = false;    // -r
    cab::Method method = cab::Method::MsZip;
};

CommandLine ParseCab(const char *line) {
    CommandLineRules rules;
    rules.commands = {"-a", "-x", "-f", "-t", "-l"};
    rules.archiveIsFirstArgument = true;
    rules.quotedSwitches = true;
    rules.directoryAfterArchive = true;
    return ParseCommandLine(line ? line : "", rules);
}

CabSwitches ReadSwitches(const CommandLine &cl) {
    CabSwitches s;
    for (const Switch &sw : cl.switches) {
        const std::string &t = sw.text;
        if (t == "-o")
            s.overwrite = true;
        else if (t == "-j")
            s.keepFolders = false;
        else if (t == "-r")
            s.recurse = true;
        else if (t == "-mn")
            s.method = cab::Method::Stored;
        else if (t == "-mz")
            s.method = cab::Method::MsZip;
        // -i (progress dialog), -q and -h<folder> (work folder) have no meaning here: the
        // library shows no dialog and writes its temporary file beside the cabinet, so that the
        // cabinet is replaced in one step.
    }
    return s;
}

// Names without the UTF-8 mark are in the writer's ANSI code page, Shift-JIS for the cabinets
// of this system; converted by libarchive, their '\' separators are told from trail bytes.
void ReaderSetupCab(archive *a) {
    archive_read_support_format_cab(a);
    archive_read_set_options(a, "cab:hdrcharset=CP932");
}

const std::string &ArchiveOf(const CommandLine &cl) {
    if (cl.archive.empty())
        throw ArcError(kArcErrCommandLine, "no cabinet named");
    return cl.archive;
}

// What the cabinet's own header says: whether it belongs to a set, and the method of each
// file's folder (libarchive does not tell them).
struct CabLayout {
    bool read = false;
    bool inSet = false;
    std::vector<std::string> methods; // per file record, in order
};

uint16_t Get16(const std::string &b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}
uint32_t Get32(const std::string &b, size_t at) {
    return static_cast<uint32_t>(Get16(b, at)) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}

std::string MethodName(uint16_t type) {
    switch (type & 0x0F) {
    case 0:
        return "none";
    case 1:
        return "MSZIP";
    case 2:
        return "QTM:" + std::to_string((type >> 8) & 0x1F);
    case 3:
        return "LZX:" + std::to_string((type >> 8) & 0x1F);
    default:
        return "?";
    }
}

// Reads the header, folder and file records; a cabinet it cannot read is left to libarchive,
// which says what is wrong with it.
CabLayout ReadLayout(const std::string &path) {
    CabLayout l;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return l;
    // The records of the most files a cabinet holds, each with the longest name, fit in this.
    const size_t limit = 36 + 4 + 65535 + 2 * 514 + 0xFFFF * 8 + 0xFFFF * (16 + 257);
    std::string b;
    if (!ReadUpTo(fd.get(), b, std::min<size_t>(limit, static_cast<size_t>(st.st_size))) ||
        b.size() < 36 || b.compare(0, 4, "MSCF") != 0)
        return l;
    const uint32_t filesAt = Get32(b, 16);
    const uint16_t folders = Get16(b, 26), files = Get16(b, 28), flags = Get16(b, 30);
    l.inSet = (flags & 3) != 0;
    size_t at = 36;
    size_t folderReserve = 0;
    if (flags & 4) {
        if (b.size() < at + 4)
            return l;
        at += 4 + Get16(b, 36);
        folderReserve = static_cast<uint8_t>(b[38]);
    }
    for (int strings = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); strings > 0; --strings) {
        size_t end = b.find('\0', at);
        if (end == std::string::npos)
            return l;
        at = end + 1;
    }
    std::vector<uint16_t> types;
    for (uint16_t i = 0; i < folders; ++i, at += 8 + folderReserve) {
        if (b.size() < at + 8)
            return l;
        types.push_back(Get16(b, at + 6));
    }
    at = filesAt;
    for (uint16_t i = 0; i < files; ++i) {
        if (b.size() < at + 17)
            return l;
        uint16_t folder = Get16(b, at + 8);
        size_t end = b.find('\0', at + 16);
        if (end == std::string::npos)
            return l;
        // Files continued from or into another cabinet name their folder by a mark.
        if (folder >= 0xFFFD)
            folder = folder == 0xFFFE ? 0 : static_cast<uint16_t>(folders ? folders - 1 : 0);
        l.methods.push_back(folder < types.size() ? MethodName(types[folder]) : "?");
        at = end + 1;
    }
    l.read = true;
    return l;
}

// A cabinet of a set holds files that continue in the next cabinet or come from the one
// before: read alone, they would come out cut, so such a cabinet is refused as a whole.
void RefuseSets(const std::string &path) {
    if (ReadLayout(path).inSet)
        throw ArcError(kArcErrUnsupported,
                       path + ": the cabinet is part of a cabinet set (its files continue in "
                              "another cabinet); sets are not read");
}

// Sends the bytes of one file on disk, failing when it is not the file that was planned.
void FeedFile(const SourceFile &src, const cab::FileRecord &rec, const cab::ByteSink &sink,
              Progress &progress) {
    UniqueFd fd(::open(src.diskPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != rec.size ||
        st.st_mtime != rec.mtime)
        throw ArcError(kArcErrReadSource,
                       src.diskPath + ": the file changed between collection and packing");
    ProgressEntry p;
    p.source = src.diskPath;
    p.destination = src.entryName;
    p.size = rec.size;
    p.mtime = rec.mtime;
    p.mode = st.st_mode;
    p.method = "MSZIP";
    progress.Send(ARCEXTRACT_BEGIN, p);
    std::vector<char> buf(kBlockSize);
    uint64_t left = rec.size;
    while (left > 0) {
        ssize_t n = ReadFully(fd.get(), buf.data(), std::min<uint64_t>(left, buf.size()));
        if (n < 0)
            throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
        if (n == 0)
            throw ArcError(kArcErrReadSource,
                           src.diskPath + ": the file shrank while it was packed");
        sink(buf.data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
        p.written = rec.size - left;
        progress.Send(ARCEXTRACT_INPROCESS, p);
    }
    char probe;
    struct stat after {};
    if (ReadFully(fd.get(), &probe, 1) != 0 || ::fstat(fd.get(), &after) != 0 ||
        after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
        throw ArcError(kArcErrReadSource, src.diskPath + ": the file changed while it was packed");
    progress.Send(ARCEXTRACT_END, p);
}

// -a: a new cabinet of the named files. Cabinets are not updated in place (the back-end offers
// no update): an existing cabinet is replaced by the new one when it is complete.
int Pack(const CommandLine &cl, const CabSwitches &s, Progress &progress, OutputBuffer &out) {
    const std::string &path = ArchiveOf(cl);
    CollectOptions co;
    co.baseDir = cl.directory;
    co.keepFolders = s.keepFolders;
    co.recurseWildcards = s.recurse;
    struct stat self {};
    if (::stat(path.c_str(), &self) == 0) {
        co.skipDev = self.st_dev;
        co.skipIno = self.st_ino;
    }
    std::vector<SourceFile> collected = CollectSources(cl.files, co, out);
    // A cabinet holds files only: folders come with the names of their files, and links and
    // special files have no place in it.
    std::vector<SourceFile> sources;
    std::vector<cab::FileRecord> records;
    for (auto &src : collected) {
        struct stat st {};
        if (::lstat(src.diskPath.c_str(), &st) != 0)
            throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
        if (S_ISDIR(st.st_mode))
            continue;
        if (!S_ISREG(st.st_mode)) {
            out.Line("skipped: " + src.diskPath +
                     (S_ISLNK(st.st_mode) ? " (a symbolic link: cabinets hold files only)"
                                          : " (special file)"));
            continue;
        }
        cab::FileRecord r;
        r.name = src.entryName;
        r.size = static_cast<uint64_t>(st.st_size);
        r.mtime = st.st_mtime;
        r.mode = st.st_mode;
        records.push_back(std::move(r));
        sources.push_back(std::move(src));
    }
    if (sources.empty())
        throw ArcError(kArcErrNoFiles, "nothing to pack");
    cab::WriterOptions wo;
    wo.method = s.method;
    cab::PlanFolders(records, wo); // refuses what one cabinet cannot hold before anything is read
    progress.Opened(path);
    WriteArchiveFile(path, [&](int fd) {
        cab::WriteCabinet(
            fd, records,
            [&](size_t i, const cab::ByteSink &sink) {
                FeedFile(sources[i], records[i], sink, progress);
            },
            wo);
    });
    out.Line(std::to_string(sources.size()) + " files packed into " + path);
    return 0;
}

int List(const CommandLine &cl, OutputBuffer &out) {
    const std::string &path = ArchiveOf(cl);
    RefuseSets(path);
    EntrySelector select(cl.files);
    for (const auto &e : ReadEntries(path, ReaderSetupCab))
        if (select.Matches(e.name))
            out.Line(std::to_string(e.size) + " " + e.name);
    return 0;
}

int RunCab(HWND hwnd, const char *line, OutputBuffer &out) {
    ScopedUtf8Locale utf8;
    CommandLine cl = ParseCab(line);
    CabSwitches s = ReadSwitches(cl);
    Progress progress(hwnd);
    if (cl.command == "-a")
        return Pack(cl, s, progress, out);
    if (cl.command == "-f")
        throw ArcError(kArcErrUnsupported,
                       "no self-extracting cabinet can be made on Linux: there is no "
                       "self-extractor program for this platform");
    if (cl.command == "-x") {
        const std::string &path = ArchiveOf(cl);
        RefuseSets(path);
        ExtractOptions opt;
        opt.destination = cl.directory.empty() ? "." : cl.directory;
        opt.keepFolders = s.keepFolders;
        opt.overwrite = s.overwrite ? Overwrite::Replace : Overwrite::Skip;
        opt.select = EntrySelector(cl.files);
        return ExtractEntries(path, ReaderSetupCab, opt, progress, out);
    }
    if (cl.command == "-t") {
        const std::string &path = ArchiveOf(cl);
        RefuseSets(path);
        return TestEntries(path, ReaderSetupCab, EntrySelector(cl.files), progress, out);
    }
    if (cl.command == "-l")
        return List(cl, out);
    throw ArcError(kArcErrCommandLine, "no command (-a, -x, -f, -t or -l)");
}

HARC OpenCab(const char *archivePath) {
    ScopedUtf8Locale utf8;
    std::string path = archivePath ? archivePath : "";
    RefuseSets(path);
    std::vector<EntryInfo> entries = ReadEntries(path, ReaderSetupCab);
    CabLayout layout = ReadLayout(path);
    const bool byIndex = layout.read && layout.methods.size() == entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].method = byIndex ? layout.methods[i] : "CAB";
        entries[i].osType = 0; // MS-DOS / Windows
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        EstimateCompressedSizes(entries, static_cast<uint64_t>(st.st_size));
    return RegisterHandle(std::make_unique<ArchiveHandle>(path, std::move(entries)));
}

} // namespace

#define CAB_EXPORT extern "C" __attribute__((visibility("default")))

CAB_EXPORT int Cab(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    OutputBuffer out(output, size);
    return GuardCode(&out, [&] { return RunCab(hwnd, cmdLine, out); });
}

CAB_EXPORT int CabExtractMem(HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size,
                             void *, WORD *attr, DWORD *written) {
    if (written)
        *written = 0;
    return GuardCode(nullptr, [&] {
        ScopedUtf8Locale utf8;
        CommandLine cl = ParseCab(cmdLine);
        if (cl.files.empty())
            throw ArcError(kArcErrCommandLine, "no entry named");
        const std::string &path = ArchiveOf(cl);
        RefuseSets(path);
        Progress progress(hwnd);
        int r = ExtractToMemory(path, ReaderSetupCab, EntrySelector(cl.files), buffer, size,
                                written, progress);
        if (attr)
            *attr = 0x20; // archive bit: the entry is a file
        return r;
    });
}

CAB_EXPORT HARC CabOpenArchive(HWND, const char *archive, DWORD) {
    return Guard<HARC>(nullptr, [&] { return OpenCab(archive); });
}

CAB_EXPORT BOOL CabCheckArchive(const char *archive, int mode) {
    return Guard<BOOL>(0, [&] {
        if (!archive)
            return 0;
        RefuseSets(archive);
        return CheckArchiveFile(archive, mode, ReaderSetupCab);
    });
}

ARCLIB_DEFINE_COMMON_EXPORTS(Cab)
