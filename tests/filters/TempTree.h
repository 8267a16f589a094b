// A temporary folder tree for the file list tests: files with chosen contents and local
// last-write times, removed at the end of the test.
#pragma once

#include "platform/FileTime.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testing_support {

namespace fs = std::filesystem;

class TempTree {
public:
    TempTree() {
        std::random_device rd;
        root_ = fs::temp_directory_path() /
                ("quorvel-filters-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        fs::create_directories(root_);
    }
    ~TempTree() {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }
    TempTree(const TempTree &) = delete;
    TempTree &operator=(const TempTree &) = delete;

    // The root folder, without a trailing separator.
    std::string Root() const { return root_.string(); }
    std::string Path(const std::string &rel) const { return (root_ / rel).string(); }

    void File(const std::string &rel, const std::string &content = "x") const {
        const fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    void Folder(const std::string &rel) const { fs::create_directories(root_ / rel); }

    // Sets the last-write time to a local calendar time (plus milliseconds).
    void SetLocalTime(const std::string &rel, int y, int mo, int d, int h, int mi, int s,
                      int ms = 0) const {
        platform::SystemTime st;
        st.year = y;
        st.month = mo;
        st.day = d;
        st.hour = h;
        st.minute = mi;
        st.second = s;
        platform::FileTime local;
        platform::SystemTimeToFileTime(st, local);
        const int64_t secs = platform::FileTimeToUnix(platform::LocalFileTimeToFileTime(local));
        const auto sys = std::chrono::sys_time<std::chrono::milliseconds>(
            std::chrono::seconds(secs) + std::chrono::milliseconds(ms));
        fs::last_write_time(root_ / rel, std::chrono::file_clock::from_sys(sys));
    }

private:
    fs::path root_;
};

} // namespace testing_support
