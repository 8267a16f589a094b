// Writes a file's new content into a temporary file beside it and renames that into place on
// Commit, so readers see either the old content or the whole new one, never a half-written file.
// A writer that is not committed removes its temporary file; the old file stays untouched.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class ReplacingFileWriter {
public:
    // A symbolic link is followed: its target gets the new content. An existing file keeps its
    // permission bits; a new one gets the usual ones (0666 less the umask).
    explicit ReplacingFileWriter(const std::string &fileName);
    ReplacingFileWriter(const ReplacingFileWriter &) = delete;
    ReplacingFileWriter &operator=(const ReplacingFileWriter &) = delete;
    ~ReplacingFileWriter();

    // False when the temporary file could not be made (no folder, a folder in the file's place,
    // a folder without write permission) or a write failed.
    bool Ok() const { return fd_ >= 0 && !failed_; }
    bool Write(std::string_view data);
    // Flushes, closes and renames into place; false (and nothing replaced) on any failure.
    bool Commit();

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
};

} // namespace platform
