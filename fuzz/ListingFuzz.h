// The listing path of an archiver library, as the component drives it: open the archive, walk the
// entries with FindFirst / FindNext (reading the getters of each), and extract every file entry
// into memory. A library instantiates it with its exported entries and the command line of its
// memory extraction. Anything but a clean result code is a finding: a crash, a leak, a hang, a
// result that says an unexpected exception was caught (kArcErrInternal), or a memory extraction
// that claims to have written more than the buffer.
#pragma once

#include "FuzzSupport.h"
#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace fuzzsupport {

struct ListingEntries {
    HARC (*open)(HWND, const char *, DWORD);
    int (*close)(HARC);
    int (*findFirst)(HARC, const char *, INDIVIDUALINFO *);
    int (*findNext)(HARC, INDIVIDUALINFO *);
    BOOL (*writeTime)(HARC, ARC_FILETIME *);
    BOOL (*originalSize)(HARC, int64_t *);
    BOOL (*compressedSize)(HARC, int64_t *);
    int (*extractMem)(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
    // The memory extraction command line for the archive and one entry name.
    std::function<std::string(const std::string &archive, const std::string &entry)> memCommand;
};

inline std::string Quoted(const std::string &s) {
    return "\"" + s + "\"";
}

inline int RunListing(const ListingEntries &lib, const char *archiveName, const uint8_t *data,
                      size_t size) {
    const std::string path = Scratch::Get().Put(archiveName, AsText(data, size));
    std::vector<std::string> names;
    if (HARC h = lib.open(nullptr, path.c_str(), 0)) {
        INDIVIDUALINFO info{};
        for (int r = lib.findFirst(h, "*", &info); r == 0; r = lib.findNext(h, &info)) {
            ARC_FILETIME ft{};
            int64_t n = 0;
            lib.writeTime(h, &ft);
            lib.originalSize(h, &n);
            lib.compressedSize(h, &n);
            std::string name(info.szFileName, ::strnlen(info.szFileName, sizeof info.szFileName));
            // A name with a quote cannot be written on these command lines; a folder has no data.
            if (!name.empty() && name.back() != '/' && name.find('"') == std::string::npos &&
                names.size() < 64)
                names.push_back(name);
        }
        if (lib.close(h) != 0)
            Scratch::Fail("closing an open handle failed");
    }
    // Small enough to be quick, large enough that most entries fit and are read to their end.
    std::vector<unsigned char> buffer(256 * 1024);
    for (const std::string &name : names) {
        DWORD written = 0;
        WORD attr = 0;
        const int r = lib.extractMem(nullptr, lib.memCommand(path, name).c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer.size()), nullptr, &attr, &written);
        if (r == arclib::kArcErrInternal)
            Scratch::Fail("memory extraction of " + name + " ended in an unexpected exception");
        if (written > buffer.size())
            Scratch::Fail("memory extraction claims more bytes than the buffer holds");
    }
    return 0;
}

} // namespace fuzzsupport
