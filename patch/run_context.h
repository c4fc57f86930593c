// What the changing stages of one run hand on to each other. Owned by the
// run and gone with it.
#pragma once

#include "patch/assessment.h"
#include "patch/run_log.h"
#include "patch/work_folders.h"
#include "platform/paths.h"

namespace orv {

struct RunContext {
  RunContext(RunLog& runLog, const Assessment& assessment)
      : log(runLog), folders(assessment.folders), timeStamps(assessment.timeStamps) {}

  // Where the stages say what they found and decided.
  RunLog& log;
  const WorkFolders& folders;
  const TimeStamps& timeStamps;
  // The writable check's probe file while it is still in the add-in folder;
  // empty once it is gone.
  PathBuffer probeFile;
  // The staging folder, plain or numbered; empty until it has been made.
  String stagingDir;
  // The new add-in folder, plain or numbered; empty until it is picked.
  String copyDir;
};

}  // namespace orv
