// What the tests of libunarj32j share: the library loaded as the component loads it, its entry
// points, and archives written by hand (stored entries with any header fields) for the cases no
// ARJ tool makes.
#pragma once

#include "tests/archivers_common/ArchiverTestSupport.h"

#include <optional>
#include <set>
#include <zlib.h>

namespace arjtest {

using namespace archtest;

const fs::path kData = DATA_DIR;

inline Library &Lib() {
    static Library lib(UNARJ32J_PATH);
    return lib;
}

struct Result {
    int code;
    std::string output;
};

inline Result Unarj(const std::string &line, HWND hwnd = nullptr) {
    std::string out(8192, '\0');
    int r = Lib().Get<ArcCommandProc>("Unarj")(hwnd, line.c_str(), out.data(),
                                               static_cast<DWORD>(out.size()));
    return {r, std::string(out.c_str())};
}

inline std::string Q(const fs::path &p) {
    return "\"" + p.string() + "\"";
}
inline std::string Dir(const fs::path &p) {
    return "\"" + p.string() + "/\"";
}

// The line the ARJ back-end writes for Extract with every switch unset.
inline std::string ExtractLine(const fs::path &archive, const fs::path &dest,
                               const std::string &switches = "",
                               const std::string &files = "\"*.*\"") {
    return "x -+ " + switches + " " + Q(archive) + " " + Dir(dest) + " " + files + " ";
}

inline BOOL Check(const fs::path &archive, int mode) {
    return Lib().Get<ArcCheckArchiveProc>("UnarjCheckArchive")(archive.c_str(), mode);
}

// Every entry the listing handles give: name and size.
inline std::map<std::string, uint64_t> Listed(const fs::path &archive, bool *opened = nullptr,
                                              std::vector<INDIVIDUALINFO> *infos = nullptr) {
    auto open = Lib().Get<ArcOpenArchiveProc>("UnarjOpenArchive");
    auto first = Lib().Get<ArcFindFirstProc>("UnarjFindFirst");
    auto next = Lib().Get<ArcFindNextProc>("UnarjFindNext");
    auto close = Lib().Get<ArcCloseArchiveProc>("UnarjCloseArchive");
    std::map<std::string, uint64_t> listed;
    HARC h = open(nullptr, archive.c_str(), 0x800002);
    if (opened)
        *opened = h != nullptr;
    if (!h)
        return listed;
    INDIVIDUALINFO info;
    for (int r = first(h, "*", &info); r == 0; r = next(h, &info)) {
        listed[info.szFileName] = info.dwOriginalSize;
        if (infos)
            infos->push_back(info);
    }
    close(h);
    return listed;
}

// Files below a folder (relative names, '/' separators), folders ending in '/'.
inline std::set<std::string> Tree(const fs::path &dir) {
    std::set<std::string> names;
    if (!fs::exists(dir))
        return names;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        std::string rel = fs::relative(it->path(), dir).string();
        names.insert(it->is_directory() ? rel + "/" : rel);
    }
    return names;
}

inline void Put16(std::string &s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string &s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline uint32_t Crc(const std::string &s) {
    return static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef *>(s.data()), static_cast<uInt>(s.size())));
}

// One entry of a hand-made archive. The data is stored (method 0) unless packed is given.
struct RawEntry {
    std::string name;
    std::string data;
    uint8_t hostOs = 0;
    uint8_t flags = 0x10;
    uint8_t method = 0;
    uint8_t fileType = 0;
    uint16_t mode = 0x20;
    std::optional<std::string> packed;    // the entry's data as written
    std::optional<uint32_t> originalSize; // declared size, when not that of data
    std::optional<uint32_t> crc;          // declared CRC, when not that of data
};

inline std::string BasicHeader(const std::string &fields, const std::string &name,
                               const std::string &extended = "") {
    std::string h = fields + name + '\0' + '\0'; // name, empty comment
    std::string out = "\x60\xEA";
    Put16(out, static_cast<uint32_t>(h.size()));
    out += h;
    Put32(out, Crc(h));
    if (!extended.empty()) {
        Put16(out, static_cast<uint32_t>(extended.size()));
        out += extended;
        Put32(out, Crc(extended));
    }
    Put16(out, 0);
    return out;
}

// An archive with the main header (flags as given) and the entries.
inline std::string MakeArchive(const std::vector<RawEntry> &entries, uint8_t mainFlags = 0x10,
                               const std::string &extended = "") {
    auto fixed = [](uint8_t hostOs, uint8_t flags, uint8_t method, uint8_t type) {
        std::string f;
        f += static_cast<char>(30); // first header size
        f += static_cast<char>(11); // made by
        f += static_cast<char>(1);  // needed to extract
        f += static_cast<char>(hostOs);
        f += static_cast<char>(flags);
        f += static_cast<char>(method);
        f += static_cast<char>(type);
        f += '\0';
        return f;
    };
    std::string a;
    std::string m = fixed(0, mainFlags, 0, 2);
    Put32(m, 0x526428C4); // created
    Put32(m, 0x526428C4); // modified
    Put32(m, 0);          // archive size
    Put32(m, 0);
    Put16(m, 0);
    Put16(m, 0);
    Put16(m, 0);
    a += BasicHeader(m, "test.arj");
    for (const auto &e : entries) {
        std::string packed = e.packed ? *e.packed : e.data;
        std::string f = fixed(e.hostOs, e.flags, e.method, e.fileType);
        Put32(f, 0x526428C4);
        Put32(f, static_cast<uint32_t>(packed.size()));
        Put32(f, e.originalSize ? *e.originalSize : static_cast<uint32_t>(e.data.size()));
        Put32(f, e.crc ? *e.crc : Crc(e.data));
        Put16(f, 0);
        Put16(f, e.mode);
        Put16(f, 0);
        a += BasicHeader(f, e.name, extended);
        a += packed;
    }
    a += "\x60\xEA";
    Put16(a, 0);
    return a;
}

} // namespace arjtest
