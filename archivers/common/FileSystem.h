// File-system pieces of the libraries: file descriptors, atomic file writing, and the extraction
// destination that never writes outside its folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace arclib {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&o) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Reads until the end of the file or until size bytes are in buf, retrying interrupted and short
// reads. Returns the count read (less than size only at the end of the file), -1 on an error.
ssize_t ReadFully(int fd, void *buf, size_t size);
// Appends what fd holds to out, at most limit bytes. False on a read error.
bool ReadUpTo(int fd, std::string &out, size_t limit);
// Writes all of buf, retrying interrupted and short writes. False on an error (errno set).
bool WriteFully(int fd, const void *buf, size_t size);
// The same at a position of the file, which does not move.
ssize_t PReadFully(int fd, void *buf, size_t size, uint64_t offset);
bool PWriteFully(int fd, const void *buf, size_t size, uint64_t offset);

// A file written in full before it appears under its name. It is made in the target's folder as
// an unnamed file (O_TMPFILE) where the file system allows, so that not even a killed process
// leaves a partial file; elsewhere as a hidden named temporary removed when not committed.
class AtomicFile {
public:
    // In the folder of path; the folder must exist. Throws ArcError(code) on failure.
    static AtomicFile Create(const std::string &path, int errorCode);
    // In the folder open as dirFd (which must outlive the object), under the name leaf.
    static AtomicFile CreateAt(int dirFd, const std::string &leaf, int errorCode);
    AtomicFile(AtomicFile &&) noexcept;
    AtomicFile &operator=(AtomicFile &&) = delete;
    ~AtomicFile(); // discards the file when it was not committed

    int fd() const { return fd_.get(); }
    bool Unnamed() const { return tempName_.empty(); }
    // Gives the file its name. With replace an existing file is replaced in one step; without,
    // false is returned (and the file discarded) when the name exists. Throws ArcError otherwise.
    bool Commit(bool replace, bool sync = false);
    // Test seams: the next commits in this process fail as a full disk would; new files are made
    // as named temporaries, as on a file system without O_TMPFILE.
    static void FailCommitsForTesting(bool fail);
    static void NamedTemporariesForTesting(bool named);

private:
    AtomicFile() = default;
    void Discard() noexcept;
    UniqueFd ownDir_; // the folder, when opened by Create
    int dirFd_ = -1;
    std::string leaf_;
    std::string tempName_; // empty for an unnamed file
    UniqueFd fd_;
    int errorCode_ = 0;
    bool done_ = false;
};

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask();

// Why an archive entry's name cannot be extracted as it is.
enum class PathProblem { None, Empty, Absolute, ParentReference };
const char *PathProblemText(PathProblem p);

// The relative path an entry name stands for: "." parts and repeated '/' removed, no trailing
// '/'. Absolute names and names with a ".." part are refused, not repaired.
PathProblem NormaliseEntryPath(std::string_view name, std::string &out);

// The name under which a file on disk is stored: its path without leading '/' and without "."
// parts, ".." parts resolved lexically and any left at the front dropped.
std::string StoredNameFor(std::string_view path);

// True when a symbolic link at the (normalised) entry path at, pointing to target, resolves
// lexically to a place inside the destination.
bool LinkStaysInside(std::string_view at, std::string_view target);

// The extraction destination. Every path below it is reached folder by folder from the opened
// destination without following symbolic links, so neither a link planted by an archive nor one
// swapped in during extraction can lead a write outside it.
class SafeDestination {
public:
    // Creates the destination (and its parents) when missing.
    explicit SafeDestination(const std::string &root);
    int RootFd() const { return root_.get(); }
    const std::string &Root() const { return rootPath_; }
    // Opens the folder rel ("" for the root), creating missing folders when create is set.
    // Throws ArcError(kArcErrUnsafePath) when a part is a link or not a folder,
    // ArcError(kArcErrWriteFile) when a folder cannot be made.
    UniqueFd OpenFolder(std::string_view rel, bool create) const;

private:
    std::string rootPath_;
    UniqueFd root_;
};

// Splits "a/b/c" into "a/b" and "c".
std::pair<std::string, std::string> SplitParent(std::string_view rel);

} // namespace arclib
