// Start-up of the job dialog: with a display, the application object, the one form and the message
// loop; without one, the job runs from the command line alone.
#include "app/HeadlessRun.h"
#include "app/Quorvel1.h"
#include "platform/Paths.h"
#include "platform/ReplacingFileWriter.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char *argv[]) {
    if (!quorvel::HaveDisplay())
        return quorvel::HeadlessMain(argc, argv);
    platform::ReportFileSizeLimitAsError();
    std::string programPath = platform::ProgramPath();
    if (programPath.empty())
        programPath = argv[0];

    QApplication app(argc, argv);
    // Qt has taken its own options out of argv by now.
    std::vector<std::string> args(argv, argv + argc);
    if (!args.empty())
        args[0] = programPath;
    TQuorvelForm QuorvelForm(programPath);
    QObject::connect(
        &QuorvelForm, &TQuorvelForm::TerminateRequested, &app,
        [&QuorvelForm] { QCoreApplication::exit(QuorvelForm.ExitCode()); }, Qt::QueuedConnection);
    QuorvelForm.Create(args);
    if (QuorvelForm.Terminated())
        return QuorvelForm.ExitCode();
    QuorvelForm.show();
    return app.exec();
}
