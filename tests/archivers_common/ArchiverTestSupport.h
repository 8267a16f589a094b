// Helpers for the tests that drive our archiver libraries through their C entry points: a loaded
// library, temporary folders, running other archivers, the fixtures' MANIFEST and a recording
// progress window.
#pragma once

#include "archiver_api.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace archtest {

namespace fs = std::filesystem;

// A library loaded with dlopen, as the component loads it.
class Library {
public:
    explicit Library(const std::string &path) : handle_(::dlopen(path.c_str(), RTLD_NOW)) {
        if (!handle_)
            throw std::runtime_error(::dlerror());
    }
    ~Library() { ::dlclose(handle_); }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    template <class F> F Get(const char *name) const {
        void *p = ::dlsym(handle_, name);
        if (!p)
            throw std::runtime_error(std::string("missing entry ") + name);
        return reinterpret_cast<F>(p);
    }

private:
    void *handle_;
};

struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "arclib_test_XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
};

inline void WriteFile(const fs::path &p, const std::string &content) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

inline std::string ReadFile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command; returns its exit status and standard output (and error).
inline int Shell(const std::string &cmd, std::string *output = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE *)> p(::popen((cmd + " 2>&1").c_str(), "r"), ::pclose);
    if (!p)
        return -1;
    std::string text;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p.get())) > 0)
        text.append(buf.data(), n);
    int status = ::pclose(p.release());
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Sha256(const fs::path &p) {
    std::string out;
    if (Shell("sha256sum " + Quote(p.string()), &out) != 0)
        return "";
    return out.substr(0, 64);
}

// One line of the fixtures' MANIFEST.tsv.
struct Fixture {
    std::string file;
    std::map<std::string, uint64_t> sizes;     // regular files and their sizes
    std::map<std::string, std::string> sha256; // verified contents only
};

inline std::vector<std::string> Split(const std::string &s, const std::string &sep) {
    std::vector<std::string> parts;
    size_t i = 0;
    for (;;) {
        size_t j = s.find(sep, i);
        parts.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos)
            return parts;
        i = j + sep.size();
    }
}

inline std::map<std::string, Fixture> ReadManifest(const fs::path &tsv) {
    std::map<std::string, Fixture> all;
    std::ifstream in(tsv);
    std::string line;
    std::getline(in, line); // header
    static const std::regex sized(R"(^(.*) \((\d+)\)$)");
    while (std::getline(in, line)) {
        auto cols = Split(line, "\t");
        if (cols.size() < 8)
            continue;
        Fixture f;
        f.file = fs::path(cols[0]).filename().string();
        for (const auto &e : Split(cols[6], " ; ")) {
            std::smatch m;
            if (std::regex_match(e, m, sized))
                f.sizes[m[1]] = std::stoull(m[2]);
        }
        for (const auto &e : Split(cols[7], " ; ")) {
            if (e.find('[') != std::string::npos) // unverified or unextracted contents
                continue;
            size_t eq = e.rfind('=');
            if (eq != std::string::npos && e.size() - eq - 1 == 64)
                f.sha256[e.substr(0, eq)] = e.substr(eq + 1);
        }
        all[f.file] = f;
    }
    return all;
}

// A progress window that records reports and can answer 1 at a chosen report.
struct RecordingWindow {
    ArcWindow base{&RecordingWindow::Proc};
    std::vector<int> states;
    std::vector<std::string> sources;
    int stopAt = -1;
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        auto *self = reinterpret_cast<RecordingWindow *>(hwnd);
        if (msg != ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME))
            return 0;
        self->states.push_back(static_cast<int>(w));
        self->sources.push_back(reinterpret_cast<const EXTRACTINGINFOEX *>(l)->szSourceFileName);
        return static_cast<int>(self->states.size()) - 1 == self->stopAt ? 1 : 0;
    }
    HWND Handle() { return this; }
};

inline size_t CountFiles(const fs::path &dir) {
    size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it)
        ++n;
    return n;
}

} // namespace archtest
