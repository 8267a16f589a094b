// The program without a display: the job runs from the command line alone and the exit status
// tells a scheduled task how it went.
#pragma once

#include "app/QuorvelLogic.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quorvel {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitJobFailed = 1;
inline constexpr int ExitUsage = 2;

// The view of a run without a display: the controls are plain values, a message box is a line on
// the error stream answered with its safe button, and there is no file chooser.
class THeadlessView : public IQuorvelView {
public:
    explicit THeadlessView(std::ostream &err, std::string title = {});
    TFormValues Values() const override { return values_; }
    void SetValues(const TFormValues &values) override { values_ = values; }
    size_t ShowMessageBox(const platform::MessageBoxText &box) override;
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
    void RemoveCloseCommand() override {}
    void HideForm() override {}
    void Terminate() override { terminated_ = true; }
    // One line on the error stream, as a plain box would be.
    void Note(const std::string &text) override;
    bool Terminated() const { return terminated_; }

private:
    std::ostream &err_;
    std::string title_;
    TFormValues values_;
    bool terminated_ = false;
};

// True when a window can be shown: a display is named, or Qt is told which platform to use.
bool HaveDisplay();

// Runs the form's creation without a window. With no `exec` among args it prints how to use the
// program and returns ExitUsage; otherwise ExitSuccess when the last job succeeded and
// ExitJobFailed when it failed or raised. Every failure prints a line naming the job, its files
// and the reason, then "JOB failure" (or, for an error raised by the job, its message as the
// default error handler shows it); settings that read as defaults are warned about first.
int RunHeadless(const std::vector<std::string> &args, const std::string &programPath,
                std::ostream &err, TCompressFunc compress = {});

// The program's start-up without a display: its path, its arguments, the run above on the
// standard error stream. A write past a file-size limit fails as an error the job reports,
// instead of the signal ending the process.
int HeadlessMain(int argc, char *argv[]);

} // namespace quorvel
