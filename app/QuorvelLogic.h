// The job dialog's logic without a window system: settings, the command line, the jobs and the
// texts of the message boxes. A view (the Qt form, the headless run, a test) shows the controls and
// the boxes through IQuorvelView.
#pragma once

#include "platform/MessageBox.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Selected index of RadioGroup1.
enum TJobKind : int { jkNone = -1, jkCopy = 0, jkCompress = 1, jkDelete = 2 };

// Below -1 selects nothing, above 2 selects Delete.
int ClampJobKind(int index);

// What the controls hold. The initial values are the form's own, before the settings are read.
struct TFormValues {
    int JobKind = jkCopy;    // RadioGroup1
    std::string SourceFile;  // Edit1
    std::string DistFile;    // Edit2
    bool SourDelete = false; // CheckBox1 "Source Delete"
    bool OverWrite = true;   // CheckBox2 "Over Write Enable"
    bool operator==(const TFormValues &) const = default;
};

inline constexpr const char *SettingsSection = "System";

// The executable's path with its extension replaced by (or, without one, extended by) ".ini".
std::string SettingsFileName(const std::string &programPath);
// The executable's name without extension: the title of the plain message boxes.
std::string ApplicationTitle(const std::string &programPath);

// Reads the five keys with their read defaults (JobKind 0, names empty, both options true).
// Warnings, when given, gets one line for a settings file that cannot be read and for each
// value that is not a number (it reads as its default; the line names the key and the default).
TFormValues ReadSettings(const std::string &iniName, std::vector<std::string> *Warnings = nullptr);
// Writes JobKind, SourceFile, DistFile, SourDelete, OverWrite in this order; a failing write raises
// platform::EProfileWriteError and keeps what was written before it.
void WriteSettings(const std::string &iniName, const TFormValues &values);

// "File Copy a.txt to b.txt" and so on, with the names' file-name parts; empty for no selection.
std::string JobText(const TFormValues &values);
// "May I do the " + JobText + "?"
std::string ConfirmationText(const TFormValues &values);

platform::MessageBoxText ConfirmationBox(const std::string &text);
platform::MessageBoxText PlainBox(const std::string &title, const std::string &text);

inline constexpr const char *ExitQuestion = "Welcome to MERIDEX Dialog. Exit now?";
inline constexpr const char *SuccessText = "Successful!";
inline constexpr const char *FailureText = "JOB failure";

// True when arg, lower-cased in A to Z only, is word.
bool IsCommandWord(const std::string &arg, const std::string &word);

// "Copy /x/a.txt to /y/b.txt" and so on, with the full names: how a failure names its job.
std::string JobName(const TFormValues &values);

// The copy job. Text is copied line by line with CR LF ends (a line ends at CR LF, a lone CR or a
// lone LF; the last line gets CR LF too). Content with a NUL byte is not text and is copied byte
// for byte, so the copy is always faithful. Only a regular file is copied, read through the one
// descriptor whose identity was recorded; the destination is replaced only by a complete copy,
// and only when the source is still that file; the source is deleted (when asked) only after
// that, and only when it is still unchanged. A destination the user may not write is not
// replaced. False on any failure, with the reason in Why; nothing thrown.
bool CopyJob(const std::string &source, const std::string &dest, bool overWrite, bool sourceDelete,
             std::string *Why = nullptr);

// The compress job: source, destination, and the reason of a failure.
using TCompressFunc = std::function<int(const std::string &, const std::string &, std::string &)>;

// Which "..." button was pressed.
enum class TFileButton { Source, Dist };

class IQuorvelView {
public:
    virtual ~IQuorvelView() = default;
    virtual TFormValues Values() const = 0;
    virtual void SetValues(const TFormValues &values) = 0;
    // Shows the box and returns the index of the button taken.
    virtual size_t ShowMessageBox(const platform::MessageBoxText &box) = 0;
    // Runs OpenDialog1; the chosen file's full name, or nothing when the user cancelled.
    virtual std::optional<std::string> ChooseFile() = 0;
    // Takes Close off the window menu and refuses Alt+F4.
    virtual void RemoveCloseCommand() = 0;
    virtual void HideForm() = 0;
    // Asks the application to end; it ends once its message loop runs.
    virtual void Terminate() = 0;
    // A note of a run at start-up that no box shows: a settings warning, why an `exec` job
    // failed. A run without a display prints it; the dialog has nowhere to put it.
    virtual void Note(const std::string &text) { (void)text; }
};

class TQuorvelLogic {
public:
    TQuorvelLogic(IQuorvelView &view, std::string programPath, TCompressFunc compress = {});

    // Creation: Close off the window menu, settings read, then args scanned (args[0] is the
    // program). An exception from a job ends the scan and is left to the caller.
    void FormCreate(const std::vector<std::string> &args);
    void APLTerminateSwOn();
    void SaveSwOn();
    void FileNameSelectSwON(TFileButton sender);
    void ExecuteON();
    bool DoJob();
    int CompressFile(const std::string &Source, const std::string &Dest);
    int CompressFile(const std::string &Source, const std::string &Dest, std::string &Why);

    // The application's default error handler: the message in a plain box.
    void ShowException(const std::exception &e);

    // Outcome of the last job run: false also when it raised. Empty when no job ran.
    std::optional<bool> LastJobResult() const { return lastJobResult_; }
    // Why the last job failed: its name, files and reason on one line; empty after a success.
    const std::string &LastJobError() const { return lastJobError_; }
    const std::string &SettingsFile() const { return settingsFile_; }
    const std::string &Title() const { return title_; }

private:
    IQuorvelView &view_;
    std::string settingsFile_;
    std::string title_;
    TCompressFunc compress_;
    std::optional<bool> lastJobResult_;
    std::string lastJobError_;
};

} // namespace quorvel
