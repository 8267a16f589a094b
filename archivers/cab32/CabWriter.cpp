#include "archivers/cab32/CabWriter.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/Listing.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <zlib.h>

using namespace arclib;

namespace cab {

namespace {

constexpr size_t kHeaderBytes = 36;
constexpr size_t kFolderBytes = 8;
constexpr size_t kDataHeaderBytes = 8;
constexpr uint64_t kMaxCabinetBytes = 0xFFFFFFFFull;

void Put16(std::vector<uint8_t> &v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t> &v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Set16(uint8_t *p, uint16_t x) {
    p[0] = static_cast<uint8_t>(x);
    p[1] = static_cast<uint8_t>(x >> 8);
}
void Set32(uint8_t *p, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(x >> (8 * i));
}

bool IsAscii(const std::string &s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

// The name as a cabinet stores it: '\' between folders.
std::string StoredName(const std::string &name) {
    std::string n = name;
    std::replace(n.begin(), n.end(), '/', '\\');
    return n;
}

uint16_t Attributes(const FileRecord &f) {
    uint16_t a = kAttrArchive;
    if ((f.mode & 0200) == 0)
        a |= kAttrReadOnly;
    if (f.mode & 0100)
        a |= kAttrExec;
    // Names that are not plain ASCII are flagged as UTF-8 only when they are: other bytes are
    // kept as they are, in no declared code page.
    if (!IsAscii(f.name) && platform::IsValidUtf8(f.name))
        a |= kAttrNameIsUtf;
    return a;
}

// Sequential output with positioned writes, so the header can be put in front afterwards.
class Output {
public:
    Output(int fd, uint64_t base) : fd_(fd), base_(base) { buf_.reserve(kChunk); }
    uint64_t Position() const { return pos_ + buf_.size(); }
    void Write(const void *p, size_t n) {
        if (Position() + n > kMaxCabinetBytes)
            throw ArcError(kArcErrUnsupported,
                           "the cabinet would be larger than 4 GiB, the most one cabinet holds");
        const auto *b = static_cast<const uint8_t *>(p);
        buf_.insert(buf_.end(), b, b + n);
        if (buf_.size() >= kChunk)
            Flush();
    }
    void Flush() {
        WriteAt(pos_, buf_.data(), buf_.size());
        pos_ += buf_.size();
        buf_.clear();
    }
    void WriteAt(uint64_t at, const uint8_t *p, size_t n) const {
        while (n > 0) {
            ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(base_ + at));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                throw ArcError(kArcErrWriteArchive, std::string("the cabinet: ") +
                                                        std::strerror(w < 0 ? errno : ENOSPC));
            p += w;
            at += static_cast<uint64_t>(w);
            n -= static_cast<size_t>(w);
        }
    }
    void Seek(uint64_t at) {
        Flush();
        pos_ = at;
    }

private:
    static constexpr size_t kChunk = 1 << 20;
    int fd_;
    uint64_t base_;
    uint64_t pos_ = 0;
    std::vector<uint8_t> buf_;
};

struct DeflateFree {
    void operator()(z_stream *z) const {
        deflateEnd(z);
        delete z;
    }
};

// Cuts a folder's data into blocks and writes each as a CFDATA record.
class FolderWriter {
public:
    FolderWriter(Output &out, const WriterOptions &opt) : out_(out), opt_(opt) {
        block_.reserve(kBlockBytes);
        if (opt.method == Method::MsZip) {
            auto z = std::make_unique<z_stream>();
            std::memset(z.get(), 0, sizeof(z_stream));
            int level = std::clamp(opt.level, 1, 9);
            // Raw deflate: MSZIP puts its own "CK" in front of each block's stream.
            if (deflateInit2(z.get(), level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                throw std::bad_alloc();
            z_.reset(z.release());
            packed_.resize(2 + deflateBound(z_.get(), kBlockBytes) + 64);
        }
    }

    // A new folder: the history of the one before is not carried over.
    void Start() {
        blocks_ = 0;
        history_.clear();
        block_.clear();
    }

    void Add(const uint8_t *p, size_t n) {
        while (n > 0) {
            size_t k = std::min(n, kBlockBytes - block_.size());
            block_.insert(block_.end(), p, p + k);
            p += k;
            n -= k;
            if (block_.size() == kBlockBytes)
                Emit();
        }
    }

    // Ends the folder; returns its number of blocks.
    size_t End() {
        if (!block_.empty())
            Emit();
        return blocks_;
    }

private:
    void Emit() {
        if (blocks_ >= opt_.maxBlocksPerFolder) // planned not to happen: the plan bounds the data
            throw ArcError(kArcErrInternal, "a cabinet folder ran out of data blocks");
        const uint8_t *data = block_.data();
        size_t size = block_.size();
        if (opt_.method == Method::MsZip) {
            size = Deflate();
            data = packed_.data();
        }
        uint8_t h[kDataHeaderBytes];
        Set16(h + 4, static_cast<uint16_t>(size));
        Set16(h + 6, static_cast<uint16_t>(block_.size()));
        Set32(h, DataChecksum(h + 4, 4, DataChecksum(data, size, 0)));
        out_.Write(h, sizeof h);
        out_.Write(data, size);
        ++blocks_;
        history_.swap(block_);
        block_.clear();
    }

    // One complete deflate stream ("CK" first) whose window starts with the previous block, as
    // an MSZIP decoder keeps it from block to block.
    size_t Deflate() {
        z_stream *z = z_.get();
        if (deflateReset(z) != Z_OK)
            throw ArcError(kArcErrInternal, "deflateReset");
        if (!history_.empty() &&
            deflateSetDictionary(z, history_.data(), static_cast<uInt>(history_.size())) != Z_OK)
            throw ArcError(kArcErrInternal, "deflateSetDictionary");
        packed_[0] = 'C';
        packed_[1] = 'K';
        z->next_in = block_.data();
        z->avail_in = static_cast<uInt>(block_.size());
        z->next_out = packed_.data() + 2;
        z->avail_out = static_cast<uInt>(packed_.size() - 2);
        if (deflate(z, Z_FINISH) != Z_STREAM_END)
            throw ArcError(kArcErrInternal, "deflate did not finish a block");
        return packed_.size() - z->avail_out;
    }

    Output &out_;
    const WriterOptions &opt_;
    std::unique_ptr<z_stream, DeflateFree> z_;
    std::vector<uint8_t> block_, history_, packed_;
    size_t blocks_ = 0;
};

} // namespace

uint32_t DataChecksum(const uint8_t *data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    size_t words = size / 4;
    for (size_t i = 0; i < words; ++i, data += 4)
        sum ^= static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
               static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    uint32_t tail = 0;
    switch (size % 4) {
    case 3:
        tail |= static_cast<uint32_t>(*data++) << 16;
        [[fallthrough]];
    case 2:
        tail |= static_cast<uint32_t>(*data++) << 8;
        [[fallthrough]];
    case 1:
        tail |= *data;
        break;
    default:
        break;
    }
    return sum ^ tail;
}

std::vector<uint16_t> PlanFolders(const std::vector<FileRecord> &files, const WriterOptions &opt) {
    if (files.size() > kMaxFilesPerCabinet)
        throw ArcError(kArcErrUnsupported, std::to_string(files.size()) +
                                               " files given; a cabinet holds at most " +
                                               std::to_string(kMaxFilesPerCabinet) + " files");
    const uint64_t folderBytes = static_cast<uint64_t>(opt.maxBlocksPerFolder) * kBlockBytes;
    std::vector<uint16_t> folderOf;
    folderOf.reserve(files.size());
    // Readers want each folder's data to begin after the one before: only the last folder may be
    // without data.
    size_t folder = 0, inFolder = 0;
    uint64_t bytes = 0;
    for (const auto &f : files) {
        if (f.name.empty() || f.name.size() > kMaxNameBytes)
            throw ArcError(kArcErrUnsupported, f.name + ": a cabinet stores names of 1 to " +
                                                   std::to_string(kMaxNameBytes) + " bytes");
        if (f.name.find('\\') != std::string::npos)
            throw ArcError(kArcErrUnsupported,
                           f.name + ": the name holds '\\', which a cabinet reads as a separator");
        if (f.size > folderBytes || f.size > 0xFFFFFFFFull)
            throw ArcError(kArcErrUnsupported, f.name + ": " + std::to_string(f.size) +
                                                   " bytes; a cabinet folder holds at most " +
                                                   std::to_string(folderBytes));
        if (inFolder == opt.maxFilesPerFolder || bytes + f.size > folderBytes) {
            if (bytes == 0)
                throw ArcError(kArcErrUnsupported,
                               "a cabinet folder of empty files only can only be the last one");
            ++folder;
            inFolder = 0;
            bytes = 0;
        }
        if (folder >= opt.maxFoldersPerCabinet)
            throw ArcError(kArcErrUnsupported, "the files need more than " +
                                                   std::to_string(opt.maxFoldersPerCabinet) +
                                                   " folders, the most one cabinet holds");
        folderOf.push_back(static_cast<uint16_t>(folder));
        ++inFolder;
        bytes += f.size;
    }
    return folderOf;
}

void WriteCabinet(int fd, const std::vector<FileRecord> &files, const Feeder &feed,
                  const WriterOptions &opt) {
    std::vector<uint16_t> folderOf = PlanFolders(files, opt);
    const size_t folders = files.empty() ? 0 : folderOf.back() + 1u;

    // The file records are known now; their offsets in the folders follow from the sizes.
    std::vector<uint8_t> fileRecords;
    std::vector<uint32_t> offsetInFolder(files.size());
    {
        uint64_t at = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            if (i > 0 && folderOf[i] != folderOf[i - 1])
                at = 0;
            offsetInFolder[i] = static_cast<uint32_t>(at);
            at += files[i].size;
        }
        for (size_t i = 0; i < files.size(); ++i) {
            const FileRecord &f = files[i];
            WORD date = 0, time = 0;
            arclib::DosDateTime(f.mtime, date, time);
            Put32(fileRecords, static_cast<uint32_t>(f.size));
            Put32(fileRecords, offsetInFolder[i]);
            Put16(fileRecords, folderOf[i]);
            Put16(fileRecords, date);
            Put16(fileRecords, time);
            Put16(fileRecords, Attributes(f));
            std::string stored = StoredName(f.name);
            fileRecords.insert(fileRecords.end(), stored.begin(), stored.end());
            fileRecords.push_back(0);
        }
    }
    const uint64_t filesAt = kHeaderBytes + kFolderBytes * folders;
    const uint64_t dataAt = filesAt + fileRecords.size();

    off_t base = ::lseek(fd, 0, SEEK_CUR);
    if (base < 0)
        base = 0;
    Output out(fd, static_cast<uint64_t>(base));
    out.Seek(dataAt);
    std::vector<uint32_t> folderStart(folders);
    std::vector<uint16_t> folderBlocks(folders);
    FolderWriter folder(out, opt);
    size_t current = 0;
    if (folders > 0) {
        folder.Start();
        folderStart[0] = static_cast<uint32_t>(dataAt);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (folderOf[i] != current) {
            folderBlocks[current] = static_cast<uint16_t>(folder.End());
            current = folderOf[i];
            folderStart[current] = static_cast<uint32_t>(out.Position());
            folder.Start();
        }
        const FileRecord &f = files[i];
        uint64_t given = 0;
        feed(i, [&](const void *p, size_t n) {
            if (n > f.size - given)
                throw ArcError(kArcErrReadSource,
                               f.name + ": more bytes than its size of " + std::to_string(f.size));
            given += n;
            folder.Add(static_cast<const uint8_t *>(p), n);
        });
        if (given != f.size)
            throw ArcError(kArcErrReadSource, f.name + ": " + std::to_string(given) + " of " +
                                                  std::to_string(f.size) + " bytes");
    }
    if (folders > 0)
        folderBlocks[current] = static_cast<uint16_t>(folder.End());
    const uint64_t total = out.Position();
    out.Flush();

    std::vector<uint8_t> head;
    head.reserve(dataAt);
    head.insert(head.end(), {'M', 'S', 'C', 'F'});
    Put32(head, 0); // no header checksum: the format leaves the field reserved
    Put32(head, static_cast<uint32_t>(total));
    Put32(head, 0);
    Put32(head, static_cast<uint32_t>(filesAt));
    Put32(head, 0);
    head.push_back(3); // version 1.3
    head.push_back(1);
    Put16(head, static_cast<uint16_t>(folders));
    Put16(head, static_cast<uint16_t>(files.size()));
    Put16(head, 0); // flags: no previous or next cabinet, no reserved areas
    Put16(head, 0); // set ID
    Put16(head, 0); // number in the set
    for (size_t i = 0; i < folders; ++i) {
        Put32(head, folderStart[i]);
        Put16(head, folderBlocks[i]);
        Put16(head, static_cast<uint16_t>(opt.method));
    }
    head.insert(head.end(), fileRecords.begin(), fileRecords.end());
    out.WriteAt(0, head.data(), head.size());
}

} // namespace cab
