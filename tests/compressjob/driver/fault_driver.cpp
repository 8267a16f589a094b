// The headless program with the jobs' fault seam set from the environment: the fault suite runs
// it as a child process to change the source, or end the process, at one exact moment of a job.
// QUORVEL_TEST_FAULT=<stage>:<action>, the stage one of SourceOpened, Written, BeforeReplace,
// Replaced, and the action:
//   kill            SIGKILL at that moment
//   term, int       SIGTERM or SIGINT at that moment (their default action ends the process)
//   append          data appended to the source
//   truncate        the source cut to half its size
//   replace         another file renamed over the source
//   fsize-<bytes>   a file-size limit with the signal's default action, so the kernel ends the
//                   process at the first write past it
// This program is built for the tests only; the shipped program has no such variable.
#include "app/HeadlessRun.h"
#include "app/JobHook.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using quorvel::TJobStage;

bool StageNamed(const std::string &name, TJobStage &stage) {
    const std::pair<const char *, TJobStage> stages[] = {
        {"SourceOpened", TJobStage::SourceOpened},
        {"Written", TJobStage::Written},
        {"BeforeReplace", TJobStage::BeforeReplace},
        {"Replaced", TJobStage::Replaced},
    };
    for (const auto &[n, s] : stages)
        if (name == n) {
            stage = s;
            return true;
        }
    return false;
}

void Act(const std::string &action, const std::string &source) {
    namespace fs = std::filesystem;
    if (action == "kill") {
        ::raise(SIGKILL);
    } else if (action == "term") {
        ::raise(SIGTERM);
    } else if (action == "int") {
        ::raise(SIGINT);
    } else if (action == "append") {
        std::ofstream(source, std::ios::binary | std::ios::app) << "appended while the job ran\n";
    } else if (action == "truncate") {
        fs::resize_file(source, fs::file_size(source) / 2);
    } else if (action == "replace") {
        const std::string other = source + ".other";
        std::ofstream(other, std::ios::binary) << "another file\n";
        fs::rename(other, source);
    } else if (action.rfind("fsize-", 0) == 0) {
        const rlim_t limit = std::stoull(action.substr(6));
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::signal(SIGXFSZ, SIG_DFL);
    } else {
        std::abort(); // a test asked for something this driver does not know
    }
}

} // namespace

int main(int argc, char *argv[]) {
    if (const char *fault = std::getenv("QUORVEL_TEST_FAULT"); fault != nullptr && *fault) {
        const std::string request(fault);
        const size_t colon = request.find(':');
        TJobStage stage{};
        if (colon == std::string::npos || !StageNamed(request.substr(0, colon), stage))
            return 99;
        const std::string action = request.substr(colon + 1);
        quorvel::SetJobHook(
            [stage, action](TJobStage now, const std::string &source, const std::string &) {
                if (now == stage)
                    Act(action, source);
            });
    }
    return quorvel::HeadlessMain(argc, argv);
}
