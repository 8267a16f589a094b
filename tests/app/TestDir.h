// A fresh folder per test, removed afterwards, with small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace testutil {

namespace fs = std::filesystem;

class TestDir {
public:
    TestDir() {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::random_device rd;
        path_ = fs::temp_directory_path() /
                ("quorvel_app_" + std::string(info->name()) + "_" + std::to_string(rd()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    TestDir(const TestDir &) = delete;
    TestDir &operator=(const TestDir &) = delete;
    ~TestDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

inline void WriteFile(const std::string &name, const std::string &data) {
    std::ofstream(name, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace testutil
