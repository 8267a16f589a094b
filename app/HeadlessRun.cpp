#include "app/HeadlessRun.h"

#include "platform/Paths.h"
#include "platform/ReplacingFileWriter.h"

#include <cstdlib>
#include <iostream>
#include <ostream>
#include <stdexcept>

namespace quorvel {

THeadlessView::THeadlessView(std::ostream &err, std::string title)
    : err_(err), title_(std::move(title)) {}

void THeadlessView::Note(const std::string &text) {
    platform::ShowHeadlessMessageBox(PlainBox(title_, text), err_);
}

size_t THeadlessView::ShowMessageBox(const platform::MessageBoxText &box) {
    return platform::ShowHeadlessMessageBox(box, err_);
}

bool HaveDisplay() {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

int RunHeadless(const std::vector<std::string> &args, const std::string &programPath,
                std::ostream &err, TCompressFunc compress) {
    bool hasExec = false;
    for (const auto &a : args)
        hasExec = hasExec || IsCommandWord(a, "exec");
    const std::string title = ApplicationTitle(programPath);
    if (!hasExec) {
        err << "usage: " << title << " [exec] [exit]\n"
            << "  exec  run the job configured in " << SettingsFileName(programPath) << "\n"
            << "  exit  end the program (after the job when it follows exec)\n"
            << "There is no display to show the dialog on, so " << title
            << " needs exec to do anything.\n"
            << "Exit status: 0 the job succeeded, 1 it failed, 2 this message.\n";
        return ExitUsage;
    }
    THeadlessView view(err, title);
    TQuorvelLogic logic(view, programPath, std::move(compress));
    try {
        logic.FormCreate(args);
    } catch (const std::exception &e) {
        if (!logic.LastJobError().empty())
            view.Note(logic.LastJobError());
        logic.ShowException(e);
        return ExitJobFailed;
    } catch (...) {
        logic.ShowException(std::runtime_error("unknown error"));
        return ExitJobFailed;
    }
    return logic.LastJobResult().value_or(false) ? ExitSuccess : ExitJobFailed;
}

int HeadlessMain(int argc, char *argv[]) {
    platform::ReportFileSizeLimitAsError();
    std::string programPath = platform::ProgramPath();
    if (programPath.empty())
        programPath = argc > 0 ? argv[0] : "QUORVEL";
    std::vector<std::string> args(argv, argv + argc);
    if (!args.empty())
        args[0] = programPath;
    return RunHeadless(args, programPath, std::cerr);
}

} // namespace quorvel
