#include "app/CompressJob.h"

#include "archives/ARCHIVES.h"
#include "platform/Paths.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// A compress job replaces its destination. The old file is moved aside in its own folder rather
// than deleted up front, so that a job that makes no archive (an unknown format, a missing
// library, a library error) leaves the old destination where it was.
class TReplacedDestination {
public:
    explicit TReplacedDestination(const std::string &Dest) : dest_(Dest) {
        if (!platform::FileExists(Dest))
            return;
        const fs::path dest(Dest);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && aside_.empty(); ++attempt) {
            fs::path candidate = dest.parent_path() / ("." + dest.filename().string() + ".old-" +
                                                       std::to_string(random()));
            std::error_code ec;
            if (fs::exists(fs::symlink_status(candidate, ec)))
                continue;
            fs::rename(dest, candidate, ec);
            if (ec)
                throw std::system_error(ec, "cannot move " + Dest + " aside");
            aside_ = candidate.string();
        }
    }
    TReplacedDestination(const TReplacedDestination &) = delete;
    TReplacedDestination &operator=(const TReplacedDestination &) = delete;

    // The new archive is in place: the old file goes.
    void Commit() {
        if (!aside_.empty())
            platform::DeleteFile(aside_);
        aside_.clear();
    }

    // No new archive: whatever the library left under the name gives way to the old file.
    ~TReplacedDestination() {
        if (aside_.empty())
            return;
        std::error_code ec;
        fs::remove(dest_, ec);
        fs::rename(aside_, dest_, ec);
    }

private:
    std::string dest_;
    std::string aside_;
};

} // namespace

// The result of PackFiles; -1 when it packed nothing (the file list builder collected no file: a
// hidden source, or the source was the destination itself), so that no "Source Delete" follows a
// job that made no archive.
int CompressFile(const std::string &Source, const std::string &Dest) {
    TReplacedDestination destination(Dest);
    archives::TArchiveFile archive;
    archives::TStringList files;
    archive.SetFileName(Dest);
    archive.Options().x = 1;
    archive.Options().jso = 1;
    archive.SetOutputSize(8192);
    files.Add(Source);
    int result = archive.PackFiles(nullptr, nullptr, "", {archives::TFileArg(&files)});
    if (result == 0 && archive.CommandLine().empty()) // the library was never called
        result = -1;
    if (result == 0)
        destination.Commit();
    return result;
}
