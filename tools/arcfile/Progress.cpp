#include "tools/arcfile/Progress.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcfile {

namespace {

volatile std::sig_atomic_t gCancel = 0;

extern "C" void OnCancelSignal(int) {
    gCancel = 1;
}

// A name cut to at most Width bytes from its end, at a UTF-8 character boundary.
std::string Tail(const std::string &s, size_t width) {
    if (s.size() <= width)
        return s;
    size_t from = s.size() - width;
    while (from < s.size() && (static_cast<unsigned char>(s[from]) & 0xC0) == 0x80)
        ++from;
    return s.substr(from);
}

// Display columns of UTF-8 text, taking every character as one column.
size_t Columns(const std::string &s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

void InstallCancelHandlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnCancelSignal;
    sigemptyset(&sa.sa_mask);
    // Restarted system calls keep the library's reads and writes whole; SA_RESETHAND lets a
    // second signal end the program.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool CancelRequested() {
    return gCancel != 0;
}

void ResetCancelRequest() {
    gCancel = 0;
}

std::string HumanBytes(std::uint64_t Bytes) {
    static const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double v = static_cast<double>(Bytes);
    size_t u = 0;
    while (v >= 1024 && u + 1 < std::size(units)) {
        v /= 1024;
        ++u;
    }
    char buf[32];
    if (u == 0)
        std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(Bytes));
    else
        std::snprintf(buf, sizeof buf, "%.1f %s", v, units[u]);
    return buf;
}

TProgressLine::TProgressLine(bool Enabled, int Fd)
    : enabled_(Enabled), fd_(Fd), start_(std::chrono::steady_clock::now()) {}

TProgressLine::~TProgressLine() {
    Clear();
}

void TProgressLine::SetTotals(std::uint64_t Entries, std::uint64_t Bytes) {
    collectTotals_ = false;
    totalEntries_ = Entries;
    totalBytes_ = Bytes;
}

void TProgressLine::Report(int State, const EXTRACTINGINFOEX *Info) {
    if (!Info)
        return;
    const std::string source(Info->szSourceFileName,
                             strnlen(Info->szSourceFileName, sizeof Info->szSourceFileName));
    if (State != ARCEXTRACT_COLLECT)
        started_ = true;
    switch (State) {
    case ARCEXTRACT_COLLECT: {
        ++collected_;
        current_ = source;
        // The name is relative to the folder the collection runs in, which is current now.
        struct stat st;
        if (collectTotals_ && ::stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ++totalEntries_;
            totalBytes_ += static_cast<std::uint64_t>(st.st_size);
        }
        break;
    }
    case ARCEXTRACT_BEGIN:
        entryBytes_ = 0;
        current_ = source;
        break;
    case ARCEXTRACT_INPROCESS:
        entryBytes_ = Info->dwWriteSize;
        break;
    case ARCEXTRACT_END:
        bytesDone_ += Info->dwFileSize;
        entryBytes_ = 0;
        ++entriesDone_;
        break;
    case ARCEXTRACT_COPY:
        current_ = source;
        break;
    default:
        break;
    }
    // The first entry and the last are always shown; the rest at most ten times a second.
    const bool last = State == ARCEXTRACT_END && entriesDone_ == totalEntries_;
    Draw((State == ARCEXTRACT_BEGIN && entriesDone_ == 0) || last);
}

std::string TProgressLine::Text(size_t Width) const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::uint64_t bytes = BytesDone();
    std::string text;
    if (!started_ && collected_ > 0) {
        text = "collecting " + std::to_string(collected_) + " files";
    } else {
        if (totalBytes_ > 0) {
            const int percent =
                static_cast<int>(std::min<std::uint64_t>(100, bytes * 100 / totalBytes_));
            const int filled = percent / 5;
            text = "[" + std::string(static_cast<size_t>(filled), '#') +
                   std::string(static_cast<size_t>(20 - filled), '-') + "] ";
            char p[8];
            std::snprintf(p, sizeof p, "%3d%%", percent);
            text += p;
            text += "  ";
        }
        text += std::to_string(entriesDone_);
        if (totalEntries_ > 0)
            text += "/" + std::to_string(totalEntries_);
        text += " entries  " + HumanBytes(bytes);
        if (seconds > 0.05)
            text += "  " +
                    HumanBytes(static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds)) +
                    "/s";
    }
    const size_t used = Columns(text) + 2;
    if (!current_.empty() && Width > used + 4)
        text += "  " + Tail(current_, Width - used);
    return text;
}

void TProgressLine::Draw(bool Force) {
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!Force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    struct winsize ws;
    size_t width = 80;
    if (ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10)
        width = ws.ws_col;
    const std::string line = "\r" + Text(width - 1) + "\033[K";
    // A failed write of the progress line is of no consequence.
    [[maybe_unused]] ssize_t n = write(fd_, line.data(), line.size());
    drawn_ = true;
}

void TProgressLine::Clear() {
    if (!enabled_ || !drawn_)
        return;
    static const char clear[] = "\r\033[K";
    [[maybe_unused]] ssize_t n = write(fd_, clear, sizeof clear - 1);
    drawn_ = false;
}

} // namespace arcfile
