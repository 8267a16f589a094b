// Running the arcfile program in the end-to-end tests: with standard output and error captured,
// or on a pseudo-terminal whose output a test watches (and may answer with a signal).
#pragma once

#include "archivers_common/ArchiverTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace arcfile_test {

namespace fs = std::filesystem;
using archtest::Quote;
using archtest::ReadFile;
using archtest::TempDir;
using archtest::WriteFile;

// The program under test: the installed one when the test run names it (ARCFILE), else the one
// of the build tree, whose bin/ and lib/ are laid out as an install is.
inline std::string Tool() {
    static const std::string tool = [] {
        const char *p = std::getenv("ARCFILE");
        if (p && *p && fs::exists(p))
            return std::string(p);
        if (p && *p) // a run that left out the install step (ctest -FA)
            std::fprintf(stderr, "%s is not installed; testing %s\n", p, ARCFILE_BUILT);
        return std::string(ARCFILE_BUILT);
    }();
    return tool;
}

struct TRunResult {
    int status = -1;
    std::string out, err;
};

// Runs arcfile with Args in Dir (the shell's quoting applied to each argument). Env holds extra
// "NAME=value" settings.
inline TRunResult Run(const fs::path &dir, const std::vector<std::string> &args,
                      const std::string &env = "") {
    std::string line = "cd " + Quote(dir.string()) + " && " + env + " " + Quote(Tool());
    for (const auto &a : args)
        line += " " + Quote(a);
    const fs::path out = dir / ".run-out", err = dir / ".run-err";
    line += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int raw = std::system(line.c_str());
    TRunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

inline bool HaveTool(const std::string &tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

struct TPtyResult {
    int status = -1;  // exit status, or 128 + signal number when a signal ended it
    std::string text; // everything written to the terminal
};

// Runs arcfile with Args in Dir on a new pseudo-terminal (standard input, output and error).
// OnOutput sees the text so far after each read and may answer with a signal to send (0: none);
// each signal is sent once.
inline TPtyResult RunOnPty(const fs::path &dir, const std::vector<std::string> &args,
                           const std::function<int(const std::string &)> &onOutput = {}) {
    std::vector<std::string> argv{Tool()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (auto &a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    struct winsize ws {};
    ws.ws_col = 120;
    ws.ws_row = 24;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0)
        return {};
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0)
            _exit(126);
        ::execv(cargv[0], cargv.data());
        _exit(127);
    }
    TPtyResult r;
    std::vector<int> sent;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO once the program has closed the terminal
        r.text.append(buf, static_cast<size_t>(n));
        if (onOutput) {
            const int sig = onOutput(r.text);
            if (sig && std::find(sent.begin(), sent.end(), sig) == sent.end()) {
                ::kill(pid, sig);
                sent.push_back(sig);
            }
        }
    }
    ::close(master);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
}

// The names below Dir (folders end in '/'), sorted, relative to it.
inline std::vector<std::string> Tree(const fs::path &dir) {
    std::vector<std::string> names;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        std::string n = fs::relative(it->path(), dir).string();
        if (it->is_directory() && !it->is_symlink())
            n += "/";
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace arcfile_test
