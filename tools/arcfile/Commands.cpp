#include "tools/arcfile/Commands.h"

#include "archives/ARCHIVES.h"
#include "formats/SZIP32.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "tools/arcfile/Formats.h"
#include "tools/arcfile/OptionsFile.h"
#include "tools/arcfile/Progress.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ARCFILE_VERSION
#define ARCFILE_VERSION "0"
#endif

namespace arcfile {

using namespace archives;
namespace fs = std::filesystem;

namespace {

constexpr int kOutputSize = 256 * 1024;
constexpr int kFullCheck = 2; // every entry's data read and its checksum compared

// The library answered with an error code; its output text explains it.
struct TLibraryFailure {
    int Code;
};

class TRun {
public:
    TRun(const TInvocation &Inv, std::FILE *Out, std::FILE *Err, bool ErrIsTty)
        : inv_(Inv), out_(Out), err_(Err),
          progress_(ErrIsTty && !Inv.Quiet && !Inv.Json, fileno(Err)) {}

    int Execute();

private:
    void Note(const std::string &text) { std::fprintf(err_, "arcfile: %s\n", text.c_str()); }
    void PrepareArchive(bool mustExist);
    void LoadOptions();
    void ApplySwitches();
    // The library's result: 0 passes, 32800 is a cancel, anything else a failure.
    void Check(int result);
    void PrintLibraryText();
    std::string AbsolutePath(const std::string &path) const;
    std::vector<TIndividualInfoEx> Entries(const std::string &wild);
    void SetProgressTotals(const std::string &wild);

    int List();
    int Test();
    int Extract();
    // Extracts into a new folder inside Dest, then moves over what Dest does not have yet.
    int ExtractKeeping(const std::string &dest);
    int Pack();
    int Delete();
    int Update();
    int Sfx();
    int Cat();

    const TInvocation &inv_;
    std::FILE *out_, *err_;
    TProgressLine progress_;
    TArchiveFile archive_;
    TArchiverOptions options_;
    TStringList operands_;
    bool keepBySteps_ = false;
};

// The entry's last write as local "YYYY-MM-DD hh:mm:ss" (T between them for JSON).
std::string EntryTime(const TIndividualInfoEx &e, char separator) {
    std::time_t t = 0;
    const platform::FileTime ft{e.LastWriteTime.dwLowDateTime, e.LastWriteTime.dwHighDateTime};
    if (e.LastWriteTime.dwLowDateTime || e.LastWriteTime.dwHighDateTime)
        t = static_cast<std::time_t>(platform::FileTimeToUnix(ft));
    else if (e.wDate)
        t = static_cast<std::time_t>(platform::LocalDosDateTimeToUnix(e.wDate, e.wTime));
    else
        return "";
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, separator, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string Field(const char *text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string Ratio(const TIndividualInfoEx &e) {
    if (e.OriginalSize <= 0)
        return "0.0";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f",
                  100.0 * static_cast<double>(e.CompressedSize) /
                      static_cast<double>(e.OriginalSize));
    return buf;
}

std::string Hex8(DWORD v) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

} // namespace

bool IsValidUtf8(const std::string &Text) {
    size_t i = 0;
    while (i < Text.size()) {
        const unsigned char c = static_cast<unsigned char>(Text[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (n == 9 || (n == 1 && c < 0xC2) || i + n >= Text.size() + (n ? 0 : 1))
            return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(Text[i + k]) & 0xC0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

std::string JsonString(const std::string &Text) {
    std::string out = "\"";
    size_t i = 0;
    while (i < Text.size()) {
        const unsigned char c = static_cast<unsigned char>(Text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // One multibyte character when it is well formed, else U+FFFD for the byte.
        size_t n = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n && i + n <= Text.size() && IsValidUtf8(Text.substr(i, n))) {
            out += Text.substr(i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

std::string TRun::AbsolutePath(const std::string &path) const {
    return platform::ExpandFileName(path);
}

void TRun::LoadOptions() {
    if (!inv_.OptionsFile.empty())
        ReadOptionsFile(inv_.OptionsFile,
                        inv_.Section.empty() ? std::string(kDefaultSection) : inv_.Section,
                        options_);
}

void TRun::PrepareArchive(bool mustExist) {
    struct stat st;
    const bool exists = ::stat(inv_.Archive.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        throw EUsage(inv_.Archive + " is a folder, not an archive");
    if (mustExist && !exists)
        throw EUsage(inv_.Archive + ": " + std::strerror(errno));
    if (!exists) {
        const std::string folder = fs::path(AbsolutePath(inv_.Archive)).parent_path().string();
        if (!platform::DirectoryExists(folder))
            throw EUsage(inv_.Archive + ": the folder " + folder + " does not exist");
        if (::access(folder.c_str(), W_OK) != 0)
            throw EUsage(inv_.Archive + ": the folder " + folder + " is not writable");
    }
    archive_.SetOutputSize(kOutputSize);
    archive_.SetFileName(AbsolutePath(inv_.Archive));
    if (!inv_.Type.empty()) {
        const auto type = FormatByName(inv_.Type);
        if (!type)
            throw EUsage("unknown format '" + inv_.Type +
                         "' (lha, zip, cab, arj, tar, tgz, bz2, rar, bga, yz1, 7z)");
        archive_.SetArchiverType(*type);
    } else if (archive_.ArchiverType() == atAutoDetect && exists) {
        // Decided now, as the operation would, so that the switches can follow the format.
        archive_.SetArchiverType(GetArchiverType(archive_.FileName(), false));
    }
    archive_.OnProgress = [this](TArchiveFile &, int State, EXTRACTINGINFOEX *Info, bool &Abort) {
        progress_.Report(State, Info);
        if (CancelRequested())
            Abort = true;
    };
    for (const auto &o : inv_.Operands)
        operands_.Add(o);
}

void TRun::ApplySwitches() {
    const TArchiverType type = archive_.ArchiverType();
    const std::string format = FormatName(type);
    switch (inv_.Command) {
    case TCommand::Extract:
        if (inv_.SkipExisting) {
            if (type == atZip) {
                options_.c = -1; // without -o the library keeps existing files
            } else if (type == at7z) {
                options_.c = -1;
                options_.jn = 1;
            } else {
                // The library replaces files; the extraction goes to a folder of its own and
                // only what is new is moved over (ExtractKeeping).
                keepBySteps_ = true;
                options_.c = 1;
            }
        } else if (options_.c < 0 && options_.jn < 0 && options_.m < 0) {
            options_.c = 1; // replace existing files, as tar does
        }
        break;
    case TCommand::Pack:
        if (inv_.Recurse)
            options_.r = 2; // a folder brings its files, and its subfolders through r >= 1
        if (!inv_.NoHidden && options_.a < 0)
            options_.a = 1;
        for (const auto &x : inv_.Excludes)
            options_.jx.Add(x);
        if (!inv_.Newer.empty())
            options_.jo = inv_.Newer;
        if (!inv_.Older.empty())
            options_.job = inv_.Older;
        if (inv_.Level) {
            const int level = *inv_.Level;
            if (type == atZip) {
                options_.jm = static_cast<ShortInt>(level);
            } else if (type == atTgz || type == atBZ2) {
                if (level == 0)
                    throw EUsage("--level 0: a " + format + " archive is always compressed");
                options_.jm = static_cast<ShortInt>(level);
            } else if (type == atTar) {
                throw EUsage("--level: a tar archive is not compressed (name it .tgz or .tar.bz2)");
            } else if (type == atLha) {
                // The LHA library writes -lh5- at every level; 0 stores.
                if (level == 0)
                    options_.z = 1;
            } else if (type == at7z) {
                options_.UserOptions += " -mx=" + std::to_string(level);
            } else {
                throw EUsage("--level is not supported for " + format + " archives");
            }
        }
        break;
    case TCommand::Sfx:
        if (options_.gw < 0)
            options_.gw = 1; // the 32-bit kind of self-extractor; there is no other on Linux
        // Of 7-Zip's modules only the console one runs on Linux.
        if (type == at7z && formats::SevenZipSfxModule.empty())
            formats::SevenZipSfxModule = "7zCon.sfx";
        break;
    default:
        break;
    }
}

void TRun::PrintLibraryText() {
    const std::string text = archive_.OutputText();
    if (text.empty())
        return;
    std::fputs(text.c_str(), err_);
    if (text.back() != '\n')
        std::fputc('\n', err_);
}

void TRun::Check(int result) {
    progress_.Clear();
    if (result == ARC_ERROR_USER_CANCEL)
        throw TLibraryFailure{result};
    if (inv_.Verbose || result != 0)
        PrintLibraryText();
    if (result != 0)
        throw TLibraryFailure{result};
}

std::vector<TIndividualInfoEx> TRun::Entries(const std::string &wild) {
    std::vector<TIndividualInfoEx> entries;
    const int result = archive_.ListEntries(nullptr, wild, entries);
    if (result != 0)
        throw TLibraryFailure{result};
    return entries;
}

// Entries and bytes to come, for the bar; only worth a second look at the archive when a bar
// is drawn.
void TRun::SetProgressTotals(const std::string &wild) {
    if (!progress_.Enabled())
        return;
    try {
        std::vector<TIndividualInfoEx> entries;
        archive_.ListEntries(nullptr, wild, entries);
        std::uint64_t bytes = 0, files = 0;
        for (const auto &e : entries) {
            if (Field(e.szFileName, sizeof e.szFileName).ends_with("/"))
                continue;
            ++files;
            bytes += static_cast<std::uint64_t>(std::max<int64_t>(0, int64_t{e.OriginalSize}));
        }
        progress_.SetTotals(files, bytes);
    } catch (const std::exception &) {
        // Without totals the bar shows counts only; the operation reports any real problem.
    }
}

std::string JoinWild(const std::vector<std::string> &patterns) {
    if (patterns.empty())
        return "*";
    std::string wild;
    for (const auto &p : patterns)
        wild += (wild.empty() ? "\"" : " \"") + p + "\"";
    return wild;
}

int TRun::List() {
    const std::vector<TIndividualInfoEx> entries = Entries(JoinWild(inv_.Operands));
    if (entries.empty() && !inv_.Operands.empty()) {
        Note("no entry matches " + JoinWild(inv_.Operands));
        return exLibrary;
    }
    std::int64_t size = 0, packed = 0;
    if (inv_.Json) {
        std::fputs("[", out_);
        bool first = true;
        for (const auto &e : entries) {
            const std::string name = Field(e.szFileName, sizeof e.szFileName);
            std::string line = first ? "\n" : ",\n";
            first = false;
            line += "{\"name\":" + JsonString(name);
            if (!IsValidUtf8(name)) {
                std::string hex;
                for (unsigned char c : name) {
                    char b[4];
                    std::snprintf(b, sizeof b, "%02x", c);
                    hex += b;
                }
                line += ",\"name_hex\":\"" + hex + "\"";
            }
            line += ",\"size\":" + std::to_string(e.OriginalSize);
            line += ",\"packed_size\":" + std::to_string(e.CompressedSize);
            line += ",\"ratio\":" + Ratio(e);
            line += ",\"time\":" + JsonString(EntryTime(e, 'T'));
            line += ",\"method\":" + JsonString(Field(e.szMode, sizeof e.szMode));
            line += ",\"crc\":\"" + Hex8(e.dwCRC) + "\"";
            line += ",\"attributes\":" + JsonString(Field(e.szAttribute, sizeof e.szAttribute));
            line += "}";
            std::fputs(line.c_str(), out_);
        }
        std::fputs(entries.empty() ? "]\n" : "\n]\n", out_);
        return exOk;
    }
    std::fprintf(out_, "%12s %12s %6s  %-19s  %-7s  %-8s  %s\n", "Size", "Packed", "Ratio",
                 "Date and time", "Method", "CRC", "Name");
    for (const auto &e : entries) {
        std::fprintf(out_, "%12lld %12lld %5s%%  %-19s  %-7s  %s  %s\n",
                     static_cast<long long>(e.OriginalSize),
                     static_cast<long long>(e.CompressedSize), Ratio(e).c_str(),
                     EntryTime(e, ' ').c_str(), Field(e.szMode, sizeof e.szMode).c_str(),
                     Hex8(e.dwCRC).c_str(), Field(e.szFileName, sizeof e.szFileName).c_str());
        size += e.OriginalSize;
        packed += e.CompressedSize;
    }
    std::fprintf(out_, "%12lld %12lld  %zu entries\n", static_cast<long long>(size),
                 static_cast<long long>(packed), entries.size());
    return exOk;
}

int TRun::Test() {
    if (archive_.CheckArchive(kFullCheck, 0) == 0) {
        Note(inv_.Archive + ": the check failed: the archive is damaged or not readable");
        return exLibrary;
    }
    if (!inv_.Quiet)
        std::fprintf(out_, "%s: OK\n", inv_.Archive.c_str());
    return exOk;
}

int TRun::Extract() {
    std::string dest = inv_.OutputDir.empty() ? std::string(".") : inv_.OutputDir;
    struct stat st;
    if (::stat(dest.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throw EUsage(dest + " is not a folder");
    } else {
        std::error_code ec;
        fs::create_directories(dest, ec);
        if (ec)
            throw EUsage("cannot make the folder " + dest + ": " + ec.message());
    }
    if (::access(dest.c_str(), W_OK | X_OK) != 0)
        throw EUsage("the folder " + dest + " is not writable");
    SetProgressTotals(JoinWild(inv_.Operands));
    if (keepBySteps_)
        return ExtractKeeping(AbsolutePath(dest));
    Check(archive_.ExtractFiles(nullptr, &options_, AbsolutePath(dest), {TFileArg(operands_)}));
    return exOk;
}

namespace {

// Removes a staging folder on every path out of ExtractKeeping.
struct TStaging {
    std::string Path;
    ~TStaging() {
        std::error_code ec;
        if (!Path.empty())
            fs::remove_all(Path, ec);
    }
};

bool Lexists(const fs::path &p, struct stat &st) {
    return ::lstat(p.c_str(), &st) == 0;
}

} // namespace

int TRun::ExtractKeeping(const std::string &dest) {
    std::string templ = (fs::path(dest) / ".arcfile-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        throw EUsage("cannot make a folder in " + dest + ": " + std::strerror(errno));
    TStaging staging{templ};
    Check(archive_.ExtractFiles(nullptr, &options_, staging.Path, {TFileArg(operands_)}));
    // Parents come before their contents. A folder is entered only when the destination has a
    // real folder (or none) there, so a link already in the destination is never followed.
    size_t kept = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(staging.Path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path rel = fs::relative(it->path(), staging.Path);
        const fs::path target = fs::path(dest) / rel;
        struct stat st;
        const bool exists = Lexists(target, st);
        if (it->is_directory() && !it->is_symlink()) {
            if (!exists) {
                if (::mkdir(target.c_str(), 0777) != 0)
                    throw EUsage("cannot make the folder " + target.string() + ": " +
                                 std::strerror(errno));
                fs::permissions(target, it->status().permissions(), ec);
                ec.clear();
            } else if (!S_ISDIR(st.st_mode)) {
                ++kept;
                it.disable_recursion_pending();
            }
            continue;
        }
        if (exists) {
            ++kept;
            continue;
        }
        if (::rename(it->path().c_str(), target.c_str()) != 0)
            throw EUsage("cannot move " + rel.string() + " into " + dest + ": " +
                         std::strerror(errno));
    }
    if (ec)
        throw EUsage("cannot read the folder " + staging.Path + ": " + ec.message());
    if (inv_.Verbose && kept)
        Note("kept " + std::to_string(kept) + " existing files");
    return exOk;
}

int TRun::Pack() {
    for (const auto &o : inv_.Operands) {
        const std::string path =
            inv_.BaseDir.empty() || o.starts_with("/") ? o : (fs::path(inv_.BaseDir) / o).string();
        if (!inv_.Recurse && platform::DirectoryExists(path))
            Note("warning: " + o + " is a folder; -r takes it with its contents");
    }
    const std::string base = inv_.BaseDir.empty() ? std::string() : AbsolutePath(inv_.BaseDir);
    if (!base.empty() && !platform::DirectoryExists(base))
        throw EUsage("--base: " + inv_.BaseDir + " is not a folder");
    const int result = archive_.PackFiles(nullptr, &options_, base, {TFileArg(operands_)});
    if (result == 0 && progress_.Collected() == 0 && !CancelRequested() &&
        options_.PackFilter == pfComponent) {
        progress_.Clear();
        Note("nothing to pack: no file matches");
        return exLibrary;
    }
    Check(result);
    return exOk;
}

int TRun::Delete() {
    Check(archive_.DeleteFiles(nullptr, &options_, "", {TFileArg(operands_)}));
    return exOk;
}

int TRun::Update() {
    const std::string base = inv_.BaseDir.empty() ? std::string() : AbsolutePath(inv_.BaseDir);
    Check(archive_.UpdateFiles(nullptr, &options_, base, {TFileArg(operands_)}));
    return exOk;
}

int TRun::Sfx() {
    std::string dest;
    if (!inv_.OutputDir.empty()) {
        if (!platform::DirectoryExists(inv_.OutputDir))
            throw EUsage(inv_.OutputDir + " is not a folder");
        if (::access(inv_.OutputDir.c_str(), W_OK | X_OK) != 0)
            throw EUsage("the folder " + inv_.OutputDir + " is not writable");
        dest = AbsolutePath(inv_.OutputDir);
    }
    Check(archive_.MakeSfx(nullptr, &options_, dest));
    return exOk;
}

int TRun::Cat() {
    const std::string &name = inv_.Operands[0];
    const std::vector<TIndividualInfoEx> entries = Entries("\"" + name + "\"");
    const TIndividualInfoEx *found = nullptr;
    for (const auto &e : entries)
        if (Field(e.szFileName, sizeof e.szFileName) == name)
            found = &e;
    if (!found && !entries.empty())
        found = &entries.front();
    // The listed size may be short (or unknown); a buffer that proves too small is grown.
    std::uint64_t size =
        found ? static_cast<std::uint64_t>(std::max<int64_t>(0, int64_t{found->OriginalSize})) : 0;
    size = std::max<std::uint64_t>(size + 1, 64 * 1024);
    for (;;) {
        if (size > 0xFFFFFFFFull)
            throw EUsage(name + ": an entry of 4 GiB or more cannot be extracted to memory");
        std::vector<unsigned char> buffer(size);
        DWORD written = 0;
        const int result = archive_.ExtractMem(nullptr, &options_, name, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), &written);
        if (result == 32780 && written >= buffer.size() - 1) {
            size *= 2; // the entry did not fit
            continue;
        }
        Check(result);
        if (std::fwrite(buffer.data(), 1, written, out_) != written || std::fflush(out_) != 0)
            throw EUsage(std::string("cannot write to standard output: ") + std::strerror(errno));
        return exOk;
    }
}

int TRun::Execute() {
    LoadOptions();
    const bool mustExist = inv_.Command != TCommand::Pack;
    PrepareArchive(mustExist);
    ApplySwitches();
    switch (inv_.Command) {
    case TCommand::List:
        return List();
    case TCommand::Test:
        return Test();
    case TCommand::Extract:
        return Extract();
    case TCommand::Pack:
        return Pack();
    case TCommand::Delete:
        return Delete();
    case TCommand::Update:
        return Update();
    case TCommand::Sfx:
        return Sfx();
    case TCommand::Cat:
        return Cat();
    default:
        return exUsage;
    }
}

namespace {

int Formats(const TInvocation &inv, std::FILE *out) {
    const std::vector<TFormatState> states = FormatStates();
    if (inv.Json) {
        std::fputs("[", out);
        for (size_t i = 0; i < states.size(); ++i) {
            const auto &s = states[i];
            std::string line = i ? ",\n" : "\n";
            line += "{\"format\":" + JsonString(s.Name) +
                    ",\"extensions\":" + JsonString(s.Extensions) +
                    ",\"available\":" + (s.Available ? "true" : "false") +
                    ",\"back_end\":" + (s.HasBackEnd ? "true" : "false") + ",\"libraries\":[";
            for (size_t k = 0; k < s.Libraries.size(); ++k) {
                const auto &l = s.Libraries[k];
                line += std::string(k ? "," : "") + "{\"name\":" + JsonString(l.Name) +
                        ",\"role\":" + JsonString(l.Role) +
                        ",\"present\":" + (l.Present ? "true" : "false") +
                        ",\"path\":" + JsonString(l.Path) + "}";
            }
            line += "],\"operations\":[";
            for (size_t k = 0; k < s.Operations.size(); ++k)
                line += std::string(k ? "," : "") + JsonString(s.Operations[k]);
            line += "],\"note\":" + JsonString(s.Note) + "}";
            std::fputs(line.c_str(), out);
        }
        std::fputs("\n]\n", out);
        return exOk;
    }
    for (const auto &s : states) {
        std::fprintf(out, "%-4s %-12s %s\n", s.Name.c_str(),
                     s.Available ? "available" : "unavailable", s.Extensions.c_str());
        for (const auto &l : s.Libraries)
            std::fprintf(out, "     %-13s %s%s%s\n", l.Name.c_str(),
                         l.Present ? l.Path.c_str() : "not found", l.Role.empty() ? "" : "  (",
                         l.Role.empty() ? "" : (l.Role + ")").c_str());
        std::string ops;
        for (const auto &o : s.Operations)
            ops += (ops.empty() ? "" : " ") + o;
        std::fprintf(out, "     operations: %s\n", ops.c_str());
        if (!s.Note.empty())
            std::fprintf(out, "     note: %s\n", s.Note.c_str());
    }
    return exOk;
}

int SaveOptions(const TInvocation &inv, std::FILE *out) {
    TArchiverOptions defaults;
    WriteOptionsFile(inv.SaveFile, inv.Section.empty() ? std::string(kDefaultSection) : inv.Section,
                     defaults);
    std::fprintf(out, "%s: written\n", inv.SaveFile.c_str());
    return exOk;
}

} // namespace

int Main(const std::vector<std::string> &Args, std::FILE *Out, std::FILE *Err, bool ErrIsTty) {
    TInvocation inv;
    try {
        inv = ParseCommandLine(Args);
    } catch (const EUsage &e) {
        std::fprintf(Err, "arcfile: %s\nTry 'arcfile --help'.\n", e.what());
        return exUsage;
    }
    if (inv.Help) {
        std::fputs(CommandUsageText(inv.Command).c_str(), Out);
        return exOk;
    }
    if (inv.Version) {
        std::fputs("arcfile " ARCFILE_VERSION "\n", Out);
        return exOk;
    }
    std::unique_ptr<TRun> run;
    try {
        switch (inv.Command) {
        case TCommand::Formats:
            return Formats(inv, Out);
        case TCommand::Options:
            return SaveOptions(inv, Out);
        default:
            break;
        }
        InstallCancelHandlers();
        run = std::make_unique<TRun>(inv, Out, Err, ErrIsTty);
        const int status = run->Execute();
        return CancelRequested() ? exCancelled : status;
    } catch (const TLibraryFailure &f) {
        run.reset(); // clears the progress line
        if (f.Code == ARC_ERROR_USER_CANCEL) {
            std::fputs("arcfile: cancelled\n", Err);
            return exCancelled;
        }
        std::fprintf(Err, "arcfile: %s: the library reported error %d\n", inv.CommandName.c_str(),
                     f.Code);
        return exLibrary;
    } catch (const EUsage &e) {
        run.reset();
        std::fprintf(Err, "arcfile: %s\n", e.what());
        return exUsage;
    } catch (const std::exception &e) {
        // The component's own errors (EArchiver and its kind), a switch record that does not
        // read, a file that cannot be written.
        run.reset();
        std::fprintf(Err, "arcfile: %s\n", e.what());
        return exUsage;
    }
}

} // namespace arcfile
