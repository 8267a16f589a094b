// What libarchive 3.6 does not tell about a RAR archive, read from its block headers: whether it
// is one volume of a set (and which), whether its headers are encrypted, and per file its
// method, packed size, CRC, encryption and link target. Only headers are read, never data, and
// every length is checked against the file, so a damaged archive gives a short answer, not a
// fault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arclib::rar {

struct FileHeader {
    std::string name;         // as stored (RAR 5: UTF-8; RAR 4: the 8-bit name)
    uint64_t packedSize = 0;  // in this volume
    uint64_t size = 0;        // unpacked
    bool sizeUnknown = false; // RAR 5 "unknown unpacked size"
    uint32_t crc = 0;
    int method = 0; // 0 (stored) to 5 (best)
    int hostOs = 0; // RAR 4: 0 MS-DOS, 2 Win32, 3 Unix; RAR 5: 0 Windows, 1 Unix
    bool directory = false;
    bool encrypted = false;
    bool splitBefore = false; // continues an entry of the previous volume
    bool splitAfter = false;  // continues in the next volume
    int redirect = 0;         // RAR 5: 1 Unix symlink, 2 Windows symlink, 3 junction, 4 hard link
    std::string target;       // of the redirection
};

struct Headers {
    int version = 0; // 4 or 5; 0 when the file is not a RAR archive
    bool volume = false;
    bool firstVolume = true; // false for a later volume of a set
    bool solid = false;
    bool headersEncrypted = false;
    bool complete = false; // the end-of-archive block was reached
    std::vector<FileHeader> files;
};

// Reads the headers of one file (a RAR archive or one volume), looking for the signature in the
// first MiB of a self-extractor (a program, MZ or ELF, that does not begin with it).
Headers ReadHeaders(const std::string &path);

// The volumes after path of the set it begins ("x.part1.rar": x.part2.rar, ...; "x.rar": x.r00,
// x.r01, ...), as far as they exist.
std::vector<std::string> FollowingVolumes(const std::string &path, const Headers &first);

} // namespace arclib::rar
