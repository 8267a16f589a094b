// What the tests of libunlha32 share: a temporary folder, files, the library's C entry points and
// the outside tools.
#pragma once

#include "archiver_api.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

extern "C" {
int Unlha(HWND, const char *, char *, DWORD);
int UnlhaExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
HARC UnlhaOpenArchive(HWND, const char *, DWORD);
int UnlhaCloseArchive(HARC);
int UnlhaFindFirst(HARC, const char *, INDIVIDUALINFO *);
int UnlhaFindNext(HARC, INDIVIDUALINFO *);
BOOL UnlhaCheckArchive(const char *, int);
BOOL UnlhaGetOriginalSizeEx(HARC, int64_t *);
}

namespace lhatest {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "unlha32-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

inline void WriteFile(const fs::path &p, const std::vector<uint8_t> &d) {
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char *>(d.data()), static_cast<std::streamsize>(d.size()));
}
inline void WriteFile(const fs::path &p, const std::string &s) {
    WriteFile(p, std::vector<uint8_t>(s.begin(), s.end()));
}
inline std::vector<uint8_t> ReadFile(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

struct Result {
    int code;
    std::string output;
};

inline Result Lha(const std::string &cmd, HWND hwnd = nullptr) {
    std::array<char, 8192> buf{};
    int code = Unlha(hwnd, cmd.c_str(), buf.data(), buf.size());
    return {code, buf.data()};
}

inline std::string Q(const fs::path &p) {
    return "\"" + p.string() + "\"";
}
inline std::string Dir(const fs::path &p) {
    return "\"" + p.string() + "/\"";
}

// Output and exit status of a shell command.
inline std::pair<int, std::string> Shell(const std::string &cmd) {
    std::string out;
    FILE *f = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!f)
        return {-1, ""};
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    int st = ::pclose(f);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

inline bool HaveTool(const std::string &name) {
    return Shell("command -v " + name + " >/dev/null").first == 0;
}

// Every regular file below root, relative name -> contents.
inline std::map<std::string, std::vector<uint8_t>> Tree(const fs::path &root) {
    std::map<std::string, std::vector<uint8_t>> t;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && !e.is_symlink())
            t[fs::relative(e.path(), root).string()] = ReadFile(e.path());
        else if (e.is_directory())
            t[fs::relative(e.path(), root).string() + "/"] = {};
    return t;
}

inline std::vector<std::string> ListNames(const fs::path &arc) {
    std::vector<std::string> names;
    HARC h = UnlhaOpenArchive(nullptr, arc.c_str(), 0);
    if (!h)
        return names;
    INDIVIDUALINFO info{};
    for (int r = UnlhaFindFirst(h, "*", &info); r == 0; r = UnlhaFindNext(h, &info))
        names.push_back(info.szFileName);
    UnlhaCloseArchive(h);
    return names;
}

} // namespace lhatest
