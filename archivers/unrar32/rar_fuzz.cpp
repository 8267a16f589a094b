// libFuzzer target: arbitrary bytes as a RAR archive through the listing path (open, find first
// and next) and memory extraction of every entry listed, as the archive component reaches them.
// A crash, a leak, a hang or a buffer written past its end is a finding; error codes are not.
#include "archiver_api.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
HARC UnrarOpenArchive(HWND, const char *, DWORD);
int UnrarCloseArchive(HARC);
int UnrarFindFirst(HARC, const char *, INDIVIDUALINFO *);
int UnrarFindNext(HARC, INDIVIDUALINFO *);
int UnrarExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
}

namespace {

// The entry points read files: each input is written to one file of this process, removed again
// after the run (libFuzzer may end the process without running exit handlers).
std::string InputPath() {
    return "/tmp/rar_fuzz_" + std::to_string(::getpid()) + ".rar";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = InputPath();
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f)
            return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    std::vector<std::string> names;
    if (HARC h = UnrarOpenArchive(nullptr, path.c_str(), 0)) {
        INDIVIDUALINFO info{};
        for (int r = UnrarFindFirst(h, "*", &info); r == 0 && names.size() < 256;
             r = UnrarFindNext(h, &info))
            names.emplace_back(info.szFileName);
        UnrarCloseArchive(h);
    }
    // A guard byte past the buffer's end catches a write beyond the size given.
    static std::vector<unsigned char> buffer((1u << 20) + 1);
    for (const auto &name : names) {
        buffer.back() = 0xa5;
        DWORD written = 0;
        const std::string line = " -u  \"" + path + "\" \"" + name + "\"";
        UnrarExtractMem(nullptr, line.c_str(), buffer.data(), static_cast<DWORD>(buffer.size() - 1),
                        nullptr, nullptr, &written);
        if (buffer.back() != 0xa5 || written > buffer.size() - 1)
            std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
