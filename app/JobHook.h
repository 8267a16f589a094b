// A seam for fault tests: the copy and compress jobs call the hook at fixed moments, so that a
// test can change the source, or end the process, at exactly that moment instead of racing the
// job. The program never sets it; only test programs built from the same logic do.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

enum class TJobStage {
    SourceOpened,  // the source's identity is recorded; nothing is written yet
    Written,       // the new copy or archive is complete but not yet checked nor named
    BeforeReplace, // it is checked and under its temporary name, just before the rename
    Replaced,      // it is in the destination's place; the source is not deleted yet
};

// Source is the job's source; NewFile the temporary name when there is one, else the
// destination.
using TJobHook =
    std::function<void(TJobStage Stage, const std::string &Source, const std::string &NewFile)>;

void SetJobHook(TJobHook Hook);
void CallJobHook(TJobStage Stage, const std::string &Source, const std::string &NewFile);

} // namespace quorvel
