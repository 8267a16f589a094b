// libFuzzer target of CAB32: the input is read as a cabinet through the library's entry points
// (listing, check, test, memory extraction, extraction), and it also describes a set of files
// that our writer packs and libarchive reads back, which must give the same bytes.
#include "archiver_api.h"
#include "archivers/cab32/CabWriter.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <locale.h>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
int Cab(HWND, const char *, char *, DWORD);
int CabExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
HARC CabOpenArchive(HWND, const char *, DWORD);
int CabCloseArchive(HARC);
int CabFindFirst(HARC, const char *, INDIVIDUALINFO *);
int CabFindNext(HARC, INDIVIDUALINFO *);
BOOL CabCheckArchive(const char *, int);
}

namespace {

namespace fs = std::filesystem;

// One folder for the whole process, removed when it ends.
struct Scratch {
    fs::path dir;
    Scratch() {
        std::string t = (fs::temp_directory_path() / "cab_fuzz_XXXXXX").string();
        if (!::mkdtemp(t.data()))
            std::abort();
        dir = t;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Scratch &Dir() {
    static Scratch s;
    return s;
}

void WriteWhole(const fs::path &p, const uint8_t *data, size_t size) {
    arclib::UniqueFd fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || !arclib::WriteFully(fd.get(), data, size))
        std::abort();
}

void ReadAsCabinet(const uint8_t *data, size_t size) {
    fs::path cabinet = Dir().dir / "in.cab";
    WriteWhole(cabinet, data, size);
    const std::string q = "\"" + cabinet.string() + "\"";
    if (HARC h = CabOpenArchive(nullptr, cabinet.c_str(), 0x800002)) {
        INDIVIDUALINFO info;
        for (int r = CabFindFirst(h, "*", &info), n = 0; r == 0 && n < 100000;
             r = CabFindNext(h, &info), ++n) {
        }
        CabCloseArchive(h);
    }
    CabCheckArchive(cabinet.c_str(), 2);
    std::vector<char> out(4096);
    Cab(nullptr, ("-t " + q).c_str(), out.data(), static_cast<DWORD>(out.size()));
    std::vector<unsigned char> mem(1 << 16);
    DWORD written = 0;
    CabExtractMem(nullptr, (" " + q + " \"*\"").c_str(), mem.data(), static_cast<DWORD>(mem.size()),
                  nullptr, nullptr, &written);
    if (written > mem.size())
        std::abort();
    fs::path dest = Dir().dir / "out";
    Cab(nullptr, ("-x -o " + q + " \"" + dest.string() + "/\"").c_str(), out.data(),
        static_cast<DWORD>(out.size()));
    std::error_code ec;
    fs::remove_all(dest, ec);
}

// The files a writer input describes: a header byte of options, then for each file a length
// byte (scaled) and that many bytes of contents taken from the input, repeated to fill.
struct Plan {
    cab::WriterOptions opt;
    std::vector<cab::FileRecord> files;
    std::vector<std::string> contents;
};

Plan Describe(const uint8_t *data, size_t size) {
    Plan p;
    if (size < 2)
        return p;
    p.opt.method = data[0] & 1 ? cab::Method::Stored : cab::Method::MsZip;
    p.opt.level = 1 + (data[0] >> 1) % 9;
    p.opt.maxFilesPerFolder = 1 + (data[1] & 3);
    p.opt.maxBlocksPerFolder = 1 + (data[1] >> 2) % 8;
    size_t at = 2;
    while (at < size && p.files.size() < 8) {
        size_t len = static_cast<size_t>(data[at]) * 331 % 40000; // up to a block and more
        ++at;
        // Stretches of the input with a counter between them: repeats for the matches, and
        // bytes that differ from block to block.
        std::string c;
        c.reserve(len + 80);
        const size_t piece = std::min<size_t>(size - at, 64);
        for (unsigned k = 0; c.size() < len; ++k) {
            c.append(reinterpret_cast<const char *>(data + at), piece);
            c += std::to_string(k * 2654435761u);
        }
        c.resize(len);
        cab::FileRecord r;
        r.name = "f" + std::to_string(p.files.size()) + (data[at % size] & 1 ? "/x" : "");
        r.size = c.size();
        r.mode = 0100644;
        p.files.push_back(r);
        p.contents.push_back(std::move(c));
        at += std::min<size_t>(len, 64);
    }
    return p;
}

void RoundTrip(const uint8_t *data, size_t size) {
    Plan p = Describe(data, size);
    if (p.files.empty())
        return;
    fs::path cabinet = Dir().dir / "rt.cab";
    {
        arclib::UniqueFd fd(::open(cabinet.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        try {
            cab::WriteCabinet(
                fd.get(), p.files,
                [&](size_t i, const cab::ByteSink &sink) {
                    const std::string &c = p.contents[i];
                    for (size_t k = 0; k < c.size(); k += 5000)
                        sink(c.data() + k, std::min<size_t>(5000, c.size() - k));
                },
                p.opt);
        } catch (const arclib::ArcError &e) {
            // Only what one cabinet cannot hold may be refused.
            if (e.code() != arclib::kArcErrUnsupported)
                std::abort();
            return;
        }
    }
    archive *a = archive_read_new();
    archive_read_support_format_cab(a);
    if (archive_read_open_filename(a, cabinet.c_str(), 65536) != ARCHIVE_OK)
        std::abort();
    archive_entry *e = nullptr;
    size_t n = 0;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        if (n >= p.files.size() || p.files[n].name != archive_entry_pathname(e))
            std::abort();
        std::string got;
        char buf[65536];
        la_ssize_t k;
        while ((k = archive_read_data(a, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<size_t>(k));
        if (k < 0 || got != p.contents[n])
            std::abort();
        ++n;
    }
    if (r != ARCHIVE_EOF || n != p.files.size())
        std::abort();
    archive_read_free(a);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ReadAsCabinet(data, size);
    RoundTrip(data, size);
    return 0;
}
