// libarchive underneath our libraries: owned handles, reading listings, the extraction engine (safe
// destination, overwrite rules, progress), testing, extraction into memory, and writing entries
// from disk or copied from another archive. Data always moves in blocks: memory stays flat
// whatever the size of a file.
#pragma once

#include "archivers/common/Collect.h"
#include "archivers/common/Extract.h"
#include "archivers/common/FileSystem.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/ParallelCompress.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace arclib {

struct ReadFree {
    void operator()(archive *a) const;
};
struct WriteFree {
    void operator()(archive *a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using ReadArchive = std::unique_ptr<archive, ReadFree>;
using WriteArchive = std::unique_ptr<archive, WriteFree>;
using EntryPtr = std::unique_ptr<archive_entry, EntryFree>;

constexpr size_t kBlockSize = 64 * 1024;

// While one of these lives, the calling thread uses the named locale (libarchive converts names
// by the thread's locale).
class ScopedLocale {
public:
    explicit ScopedLocale(const char *name);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale &) = delete;
    ScopedLocale &operator=(const ScopedLocale &) = delete;

private:
    locale_t mine_ = nullptr;
    locale_t previous_ = nullptr;
};

// Names are UTF-8 whatever the caller's locale.
class ScopedUtf8Locale : public ScopedLocale {
public:
    ScopedUtf8Locale() : ScopedLocale("C.UTF-8") {}
};

// Sets up which formats and filters a reader accepts.
using ReaderSetup = std::function<void(archive *)>;

// For a ReaderSetup: the file the reader is about to open.
std::string ReaderPath(archive *a);

// For a ReaderSetup of a multi-volume format: the archive goes on in these files, in order (the
// volumes after the one opened).
void SetFollowingVolumes(archive *a, std::vector<std::string> volumes);

// For a ReaderSetup: fix sees every header as it is read and may correct what the format reader
// got wrong (an encryption it does not detect, a link target it drops).
using HeaderFix = std::function<void(archive_entry *)>;
void SetHeaderFix(archive *a, HeaderFix fix);

// Opens an archive for reading. Throws ArcError: kArcErrArchiveNotFound when the file cannot be
// opened, kArcErrNotArchive when no accepted format recognises it.
ReadArchive OpenReader(const std::string &path, const ReaderSetup &setup);

// The outermost compression of an open reader (ARCHIVE_FILTER_NONE when there is none).
int MainFilter(archive *a);

// Checks what a reader has not read yet but that its data's checksums cover (the end of a gzip
// stream lies past the archive's end marker). Throws ArcError(kArcErrDamaged).
void FinishReading(archive *a);

// Throws ArcError with the entry's name and libarchive's message: kArcErrPassword for an
// encrypted entry, kArcErrUnsupported for a method libarchive does not decode, else
// kArcErrDamaged. For data reads, where any answer but ARCHIVE_OK, a warning included (a bad
// CRC), is a failure.
[[noreturn]] void ThrowDamagedData(archive *a, const std::string &name);

// Blocks of an entry's data: data, size and where in the entry it goes. Returns false to stop.
using BlockSink = std::function<bool(const void *data, size_t size, uint64_t offset)>;

// Reads the current entry's data block by block, bounded whatever the input: a block reaching
// past the size the header declares is damage, and so is a long run of blocks that give no bytes
// while no input is read (libarchive 3.6 can loop so on malformed RAR 5 data). Throws as
// ThrowDamagedData; false when sink stopped the reading.
bool ReadEntryData(archive *a, archive_entry *e, const std::string &name, const BlockSink &sink);

// The current entry's data as the extraction engine reads it.
class LibArchiveBytes : public EntryBytes {
public:
    LibArchiveBytes(archive *a, archive_entry *e, std::string name);
    void Deliver(const Sink &sink) override;
    bool MayEndInHole() const override;

private:
    archive *a_;
    archive_entry *e_;
    std::string name_;
};

// Throws ArcError(kArcErrDamaged) when an entry whose header declares its size has given more
// bytes than that, or, at its end, fewer.
void CheckEntryLength(const EntryInfo &info, uint64_t got, bool atEnd);

// The next header, false at the end. Throws ArcError(kArcErrDamaged) on a fatal error.
bool NextHeader(archive *a, archive_entry **entry);

EntryInfo ToEntryInfo(archive_entry *e);

// Every entry of an archive, reading headers only (data skipped).
std::vector<EntryInfo> ReadEntries(const std::string &path, const ReaderSetup &setup);

// Reads the data of every selected entry (checksums verified where the format has them). Returns
// 0 or kArcErrDamaged / kArcErrPassword with a line per failing entry in out.
int TestEntries(const std::string &path, const ReaderSetup &setup, const EntrySelector &select,
                Progress &progress, OutputBuffer &out);

// The answer of a CheckArchive entry point: non-zero when the archive reads to its end, headers
// only or, when mode has bit 2 (the full check), every entry's data too. An empty file is no
// archive.
BOOL CheckArchiveFile(const char *archive, int mode, const ReaderSetup &setup);

// Extracts the selected entries. Entries that would land outside the destination are refused and
// reported; the others are still extracted. Returns 0, or the most serious code met
// (kArcErrDamaged stops at once; kArcErrUnsafePath, kArcErrWriteFile, kArcErrPassword after the
// rest). Cancel throws.
int ExtractEntries(const std::string &path, const ReaderSetup &setup, const ExtractOptions &opt,
                   Progress &progress, OutputBuffer &out);

// Copies the first entry that the selector matches into buffer. *written receives the bytes
// copied. Returns 0, kArcErrNoFiles when no entry matched, kArcErrBufferTooSmall when it did not
// fit (the buffer then holds its beginning).
int ExtractToMemory(const std::string &path, const ReaderSetup &setup, const EntrySelector &select,
                    unsigned char *buffer, size_t size, DWORD *written, Progress &progress);

// Writes one entry from disk: regular files streamed, folders, and symbolic links stored as links
// (never followed). Other kinds (devices, sockets) are skipped with a line in out. Throws
// ArcError(kArcErrReadSource) when the file cannot be read, or reads shorter or longer than its
// size when opened, or changes while it is read. A name that is not valid UTF-8 is stored as
// its bytes, with no claim of UTF-8 (a format that keeps only Unicode names must refuse it
// before: see RequireUtf8Names).
void WriteFromDisk(archive *w, const SourceFile &src, Progress &progress, OutputBuffer &out);

// How the archive's bytes reach the file: as libarchive writes them (through the filters setup
// added), or compressed on every core (then setup adds no compression filter).
struct ArchiveOutput {
    bool parallel = false;
    ParallelCompressor::Codec codec = ParallelCompressor::Codec::Gzip;
    int level = -1; // 1..9; else the codec's default
};

// Writes the archive at path atomically: setup chooses format and filters, body writes the
// entries. The old archive is replaced only when everything succeeded (its permissions are kept);
// on any exception it stays as it was and no partial file is left.
void WriteArchiveFile(const std::string &path, const std::function<void(archive *)> &setup,
                      const std::function<void(archive *)> &body, const ArchiveOutput &output = {});
// The same for a format written by a writer of our own: body writes the archive's bytes to fd
// (an empty file open for writing and reading).
void WriteArchiveFile(const std::string &path, const std::function<void(int fd)> &body);

// Copies the current entry of r (header and data) into w, reporting state 4.
void CopyEntry(archive *r, archive_entry *e, archive *w, Progress &progress);

// Throws ArcError(code, what + libarchive's message) unless r is ARCHIVE_OK or ARCHIVE_WARN.
void Check(archive *a, int r, int code, const std::string &what);

// Throws ArcError(kArcErrReadSource) naming the first file whose stored name is not valid UTF-8,
// for formats that keep Unicode names only (7z): such a name cannot be stored as it is.
void RequireUtf8Names(const std::vector<SourceFile> &files);

// Writes an entry's header (throws ArcError(kArcErrWriteArchive)). A name or link target that is
// not valid UTF-8 is written as its bytes, with no claim of UTF-8.
void WriteHeader(archive *w, archive_entry *e, const std::string &name,
                 const std::string &link = {});

// Sets an entry's name from UTF-8; a name that is not valid UTF-8 is kept as its bytes.
void SetEntryName(archive_entry *e, const std::string &utf8);
// An entry's name as UTF-8. A name stored without a character set that is not valid UTF-8 is read
// as code page 932 (Shift-JIS; a trail byte 0x5C stays part of its character) or, when that reads
// as half-width katakana only and EUC-JP reads cleanly, as EUC-JP; failing both it stays as it is.
std::string EntryName(archive_entry *e);
// Sets a symbolic link's target by the same rule as SetEntryName.
void SetLinkTarget(archive_entry *e, const std::string &utf8);
std::string LegacyNameToUtf8(std::string_view raw);

// The code page of an archive's names where its format records none.
enum class LegacyCharset { None, Cp932, EucJp };
// The one code page for all the names of an archive: None when every name is valid UTF-8 (or no
// single code page reads them all), else CP932, or EUC-JP when only it reads them all or CP932
// reads them as nothing but half-width katakana. Deciding per archive rather than per name
// keeps a legacy name whose bytes happen to form UTF-8 (EUC-JP "表" is "ɽ") from being misread.
LegacyCharset ChooseLegacyCharset(const std::vector<std::string> &rawNames);
// A legacy name read in the archive's code page; a name it does not read goes by the rule of
// LegacyNameToUtf8.
std::string LegacyNameToUtf8(std::string_view raw, LegacyCharset cs);
// The target of a symbolic or hard link, as UTF-8 by the same rules.
std::string LinkTarget(archive_entry *e);

} // namespace arclib
