#include "archivers/common/ParallelCompress.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"

#include <algorithm>
#include <bzlib.h>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>
#include <zlib.h>

namespace arclib {

namespace {
constexpr size_t kDictionary = 32 * 1024;

struct Job {
    std::vector<unsigned char> in;
    std::vector<unsigned char> dictionary; // the 32 KiB before the block
    bool last = false;
    // Filled by the worker.
    std::vector<unsigned char> out;
    uLong crc = 0;
    bool done = false;
    std::exception_ptr error;
};

void Deflate(Job &job, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    struct End {
        z_stream *z;
        ~End() { deflateEnd(z); }
    } end{&z};
    if (!job.dictionary.empty())
        deflateSetDictionary(&z, job.dictionary.data(), static_cast<uInt>(job.dictionary.size()));
    job.out.resize(deflateBound(&z, static_cast<uLong>(job.in.size())) + 16);
    z.next_in = job.in.data();
    z.avail_in = static_cast<uInt>(job.in.size());
    size_t used = 0;
    // A sync flush ends the block's output on a byte boundary, so the pieces join as they are.
    const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = job.out.data() + used;
        z.avail_out = static_cast<uInt>(job.out.size() - used);
        const int r = deflate(&z, flush);
        used = job.out.size() - z.avail_out;
        if (r == Z_STREAM_END || (r == Z_OK && !job.last && z.avail_out != 0))
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            throw ArcError(kArcErrInternal, "deflate failed");
        job.out.resize(job.out.size() * 2); // the output did not fit: go on with more room
    }
    job.out.resize(used);
    job.crc = crc32(0L, job.in.data(), static_cast<uInt>(job.in.size()));
}
// A whole bzip2 stream of the block.
void Bzip2(Job &job, int level) {
    job.out.resize(job.in.size() + job.in.size() / 100 + 600);
    auto outLen = static_cast<unsigned int>(job.out.size());
    const int r = BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(job.out.data()), &outLen,
                                           reinterpret_cast<char *>(job.in.data()),
                                           static_cast<unsigned int>(job.in.size()), level, 0, 0);
    if (r == BZ_MEM_ERROR)
        throw std::bad_alloc();
    if (r != BZ_OK)
        throw ArcError(kArcErrInternal, "bzip2 compression failed");
    job.out.resize(outLen);
}
} // namespace

struct ParallelCompressor::Impl {
    int fd = -1;
    Codec codec = Codec::Gzip;
    size_t block = kGzipBlock;
    int level = 6;
    unsigned threads = 1;
    size_t maxInFlight = 4;

    std::vector<unsigned char> current;     // the block being filled
    std::vector<unsigned char> tail;        // the last 32 KiB handed to a job
    std::deque<std::shared_ptr<Job>> queue; // in order; the front is written next
    std::deque<std::shared_ptr<Job>> todo;  // not yet taken by a worker
    std::vector<std::thread> workers;
    std::mutex m;
    std::condition_variable work, finished;
    bool stopping = false;

    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t length = 0;
    bool headerWritten = false;
    bool finishedStream = false;

    ~Impl() {
        {
            std::lock_guard lock(m);
            stopping = true;
        }
        work.notify_all();
        for (auto &t : workers)
            t.join();
    }

    void Run() {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock lock(m);
                work.wait(lock, [&] { return stopping || !todo.empty(); });
                if (stopping)
                    return;
                job = std::move(todo.front());
                todo.pop_front();
            }
            try {
                Compress(*job);
            } catch (...) {
                job->error = std::current_exception();
            }
            {
                std::lock_guard lock(m);
                job->done = true;
            }
            finished.notify_all();
        }
    }

    void Compress(Job &job) const {
        if (codec == Codec::Gzip)
            Deflate(job, level);
        else
            Bzip2(job, level);
    }

    void Out(const void *p, size_t n) {
        if (!WriteFully(fd, p, n))
            throw ArcError(kArcErrWriteArchive,
                           std::string("the archive: ") + std::strerror(errno));
    }

    void Header() {
        if (headerWritten || codec != Codec::Gzip)
            return;
        // No name, no time: the same bytes for the same data, as gzip -n writes.
        const unsigned char h[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3};
        Out(h, sizeof h);
        headerWritten = true;
    }

    // Writes the finished front job (waiting for it).
    void WriteFront() {
        std::shared_ptr<Job> job = queue.front();
        {
            std::unique_lock lock(m);
            finished.wait(lock, [&] { return job->done; });
        }
        queue.pop_front();
        if (job->error)
            std::rethrow_exception(job->error);
        Header();
        Out(job->out.data(), job->out.size());
        crc = crc32_combine(crc, job->crc, static_cast<z_off_t>(job->in.size()));
        length += job->in.size();
    }

    void Submit(bool last) {
        auto job = std::make_shared<Job>();
        job->in.swap(current);
        job->last = last;
        if (codec == Codec::Gzip)
            job->dictionary = tail;
        // The next block's dictionary: the end of this one (and of the one before, if short).
        if (job->in.size() >= kDictionary) {
            tail.assign(job->in.end() - kDictionary, job->in.end());
        } else {
            tail.insert(tail.end(), job->in.begin(), job->in.end());
            if (tail.size() > kDictionary)
                tail.erase(tail.begin(), tail.end() - kDictionary);
        }
        current.reserve(block);
        if (threads <= 1 || (last && queue.empty())) {
            // One core, or all of a small input: no thread is worth starting.
            Compress(*job);
            job->done = true;
            queue.push_back(std::move(job));
            WriteFront();
            return;
        }
        if (workers.empty())
            for (unsigned i = 0; i < threads; ++i)
                workers.emplace_back([this] { Run(); });
        {
            std::lock_guard lock(m);
            todo.push_back(job);
        }
        queue.push_back(std::move(job));
        work.notify_one();
        // Memory stays flat: the oldest piece is written before more are started.
        while (queue.size() >= maxInFlight)
            WriteFront();
        // Write whatever is already done, in order.
        for (;;) {
            if (queue.empty())
                break;
            bool ready;
            {
                std::lock_guard lock(m);
                ready = queue.front()->done;
            }
            if (!ready)
                break;
            WriteFront();
        }
    }
};

unsigned ParallelCompressor::DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

ParallelCompressor::ParallelCompressor(int fd, Codec codec, int level, unsigned threads)
    : impl_(std::make_unique<Impl>()) {
    impl_->fd = fd;
    impl_->codec = codec;
    const bool valid = level >= 1 && level <= 9;
    if (codec == Codec::Gzip) {
        impl_->level = valid ? level : 6;
        impl_->block = kGzipBlock;
    } else {
        // One bzip2 block per piece: bzip2 cuts its input at 100,000 bytes times the level.
        impl_->level = valid ? level : 9;
        impl_->block = static_cast<size_t>(impl_->level) * 100000;
    }
    impl_->threads = threads ? threads : DefaultThreads();
    impl_->maxInFlight = 2 * impl_->threads + 2;
    impl_->current.reserve(impl_->block);
}

ParallelCompressor::~ParallelCompressor() = default;

void ParallelCompressor::Write(const void *data, size_t size) {
    const auto *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        const size_t room = impl_->block - impl_->current.size();
        const size_t n = std::min(room, size);
        impl_->current.insert(impl_->current.end(), p, p + n);
        p += n;
        size -= n;
        if (impl_->current.size() == impl_->block)
            impl_->Submit(false);
    }
}

void ParallelCompressor::Finish() {
    if (impl_->finishedStream)
        return;
    // A bzip2 file of no data is still one (empty) stream; a last piece of nothing is not needed
    // after others.
    if (impl_->codec == Codec::Gzip || !impl_->current.empty() ||
        (impl_->queue.empty() && impl_->length == 0))
        impl_->Submit(true);
    while (!impl_->queue.empty())
        impl_->WriteFront();
    if (impl_->codec == Codec::Gzip) {
        unsigned char t[8];
        for (int i = 0; i < 4; ++i) {
            t[i] = static_cast<unsigned char>(impl_->crc >> (8 * i));
            t[4 + i] = static_cast<unsigned char>(impl_->length >> (8 * i));
        }
        impl_->Out(t, sizeof t);
    }
    impl_->finishedStream = true;
}

} // namespace arclib
