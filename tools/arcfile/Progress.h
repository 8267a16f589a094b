// The progress line on standard error and the cancel request of SIGINT/SIGTERM. Both are fed by
// the component's OnProgress: a report updates the line, and a pending signal is answered with
// "stop", which the library honours at its next report and the component at its next file.
#pragma once

#include "archiver_api.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace arcfile {

// Installs the handlers: the first SIGINT or SIGTERM asks to cancel, a second one ends the
// program at once (the libraries write to temporary files, so nothing partial remains).
void InstallCancelHandlers();
bool CancelRequested();
// For tests of the handler logic.
void ResetCancelRequest();

class TProgressLine {
public:
    // Enabled draws on file descriptor Fd; a disabled line only counts.
    TProgressLine(bool Enabled, int Fd = 2);
    ~TProgressLine();
    TProgressLine(const TProgressLine &) = delete;
    TProgressLine &operator=(const TProgressLine &) = delete;

    // Totals known beforehand; without them a pack counts the files it collects.
    void SetTotals(std::uint64_t Entries, std::uint64_t Bytes);
    bool Enabled() const { return enabled_; }
    // One report of the component (states 0 to 4 of the library, 2053 for a collected file).
    void Report(int State, const EXTRACTINGINFOEX *Info);
    // Removes the line.
    void Clear();

    std::uint64_t Collected() const { return collected_; }
    std::uint64_t EntriesDone() const { return entriesDone_; }
    std::uint64_t BytesDone() const { return bytesDone_ + entryBytes_; }
    // The text of the line as it would be drawn now, Width columns at most.
    std::string Text(size_t Width) const;

private:
    void Draw(bool Force);

    bool enabled_;
    int fd_;
    bool drawn_ = false;
    bool started_ = false;      // the library has reported
    bool collectTotals_ = true; // totals from the files collected, until SetTotals
    std::uint64_t totalEntries_ = 0, totalBytes_ = 0;
    std::uint64_t collected_ = 0, entriesDone_ = 0, bytesDone_ = 0, entryBytes_ = 0;
    std::string current_;
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

// "1.5 MiB"
std::string HumanBytes(std::uint64_t Bytes);

} // namespace arcfile
