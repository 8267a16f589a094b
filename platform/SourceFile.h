// The source of a job, held open from the moment its identity is recorded. A job reads only
// through this one descriptor and asks, after it has made its copy or archive and again just
// before it deletes the source, whether the file under the name is still the one it recorded
// (device, inode, size, modification and change time); a source renamed over, appended to or
// truncated in between is seen, and the job keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {

struct FileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedSec = 0, ModifiedNsec = 0;
    int64_t ChangedSec = 0, ChangedNsec = 0;
    bool operator==(const FileIdentity &) const = default;
};

// "a folder", "a FIFO", "a character device", ... for a file mode that is not a regular file.
std::string FileKindName(mode_t mode);

class SourceFile {
public:
    // Opens the file for reading without waiting (a FIFO does not block the open) and records
    // its identity. Only a regular file is taken: a folder, a FIFO, a device or a socket is
    // refused, and Error says so.
    explicit SourceFile(const std::string &fileName);
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;
    ~SourceFile();

    bool Ok() const { return error_.empty(); }
    const std::string &Error() const { return error_; }
    const std::string &FileName() const { return fileName_; }
    const FileIdentity &Identity() const { return identity_; }

    // Reads from the recorded file: the count read, 0 at its end, -1 on an error (Error says).
    ssize_t Read(char *buffer, size_t size);
    // Back to the first byte.
    bool Rewind();

    // Empty while the open file and the file under the name are the one recorded; otherwise
    // what happened to it, naming the file.
    std::string Changed() const;

    // Removes the file under the name after one more check; false with the reason in why.
    bool Delete(std::string &why) const;

private:
    std::string fileName_;
    std::string error_;
    FileIdentity identity_;
    int fd_ = -1;
};

} // namespace platform
