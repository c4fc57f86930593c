// Recovery from a run that was cut short (a crash, a power cut, a forced
// shutdown): the first change a run makes, before the add-in is probed.
#pragma once

#include "patch/run_log.h"
#include "patch/work_folders.h"
#include "platform/seam.h"

namespace orv {

// Moves the old add-in back from the backup name when addinAside (the
// add-in folder was found missing and the backup name a folder), then
// removes the work folders that the journal of a run cut short names and
// that are this installation's own. Never changes the run's outcome.
void RecoverInterruptedRun(const Platform& platform, RunLog& log, const WorkFolders& folders,
                           bool addinAside);

}  // namespace orv
