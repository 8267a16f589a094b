// Replacing a file only by a complete new one. The new content is made under a temporary name in
// the target's folder and renamed over the target only when it is complete, so that after a kill
// at any moment the target is the old file or the whole new one. The temporary names follow one
// pattern of this program ("." + name + ".quorvel-" + six letters or digits + the name's
// extension), and a writer for a target first removes what an earlier, killed writer for the
// same target left. A target the running user may not write (its mode says so) is not replaced.
//
// Two ways to make the new content: Write() it through the writer, which keeps it in an unnamed
// file until Commit where the file system allows (nothing at all is left by a kill before the
// commit); or let an outside writer (an archiver library) make the file under TempName().
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// True when the mode bits let the running user (effective user, effective and supplementary
// groups) write the file: the owner's bits for its owner, the group's for a member, the others'
// for everyone else. Root is judged by the bits too, so that a file made read-only stays so for
// a job run as root.
bool ModeAllowsWriting(mode_t mode, uid_t owner, gid_t group);

// A write past the process's file-size limit then fails with an error (EFBIG) that the writer
// reports, instead of SIGXFSZ ending the process.
void ReportFileSizeLimitAsError();

class ReplacingFileWriter {
public:
    enum class Content { Written, Outside };

    // A symbolic link is followed: its target gets the new content. An existing file keeps its
    // permission bits (and, where allowed, its owner); a new one gets 0666 less the umask.
    explicit ReplacingFileWriter(const std::string &fileName, Content how = Content::Written);
    ReplacingFileWriter(const ReplacingFileWriter &) = delete;
    ReplacingFileWriter &operator=(const ReplacingFileWriter &) = delete;
    // Without a commit the new content is discarded; the target stays untouched.
    ~ReplacingFileWriter();

    // False when the target may not be replaced (read-only, not a regular file), the temporary
    // file could not be made (no folder, a folder without write permission), or a write failed.
    bool Ok() const { return error_.empty(); }
    // Why the writer failed, naming the file; empty while it is fine.
    const std::string &Error() const { return error_; }
    // The file that gets replaced (a link resolved).
    const std::string &Target() const { return target_; }
    // Content::Outside: the name under which the outside writer makes the file (it does not exist
    // yet). Content::Written: the temporary name once Commit has given the file one.
    const std::string &TempName() const { return temp_; }

    bool Write(std::string_view data);
    // Flushes the new file to disk, gives it its temporary name, asks beforeRename (which may
    // refuse: the file is then discarded and Error says why), and renames it over the target.
    // False, with nothing replaced, on any failure.
    bool Commit(const std::function<bool(std::string &why)> &beforeRename = {});

    // The temporary name pattern: whether name (a name in the target's folder) is one of ours
    // for a target named leaf, or the hidden temporary an archiver library made beside one.
    static bool IsTemporaryNameOf(std::string_view leaf, std::string_view name);
    // Removes the temporary files an earlier writer for fileName left in its folder.
    static void RemoveLeftovers(const std::string &fileName);

private:
    void Fail(std::string why);
    bool LinkUnnamed();

    Content how_;
    std::string target_;
    std::string folder_;
    std::string temp_;
    std::string error_;
    int dirFd_ = -1;
    int fd_ = -1;
    bool unnamed_ = false;
    bool existed_ = false;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

// Makes target from parts joined end to end and a trailer, replacing an old target only by the
// complete new file; with executable, whoever may read it may run it. The failure says which step
// failed and names the file, so a caller can report it as its own kind of error.
struct JoinResult {
    enum class Failure {
        None,
        OpenPart,
        TargetIsPart,
        Create,
        Read,
        Write
    } failure = Failure::None;
    std::string file; // the part or the target concerned
    std::string why;  // the system's reason, when there is one
    bool Ok() const { return failure == Failure::None; }
};
JoinResult JoinFiles(const std::string &target, const std::vector<std::string> &parts,
                     std::string_view trailer, bool executable);

} // namespace platform
