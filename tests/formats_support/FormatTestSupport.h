// What the format back-end tests share: a scratch folder that is the current folder while it
// lives, whole-file reading and writing, and the message of an expected exception.
#pragma once

#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

namespace formats_test {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("quorvel-fmt-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
        previous_ = platform::GetCurrentDir();
        platform::SetCurrentDir(path_.string());
    }
    ~ScratchDir() {
        platform::SetCurrentDir(previous_);
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    // The full name of a file in the folder.
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
    std::string previous_;
};

inline void WriteFile(const std::string &name, const std::string &bytes) {
    std::filesystem::create_directories(std::filesystem::path(name).parent_path());
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The message of the exception of type E that f raises; a marker when it raises nothing.
template <class E> std::string MessageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const E &e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace formats_test
