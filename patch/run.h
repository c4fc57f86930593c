// One run of the patch, from the host's discovery to the message.
#pragma once

#include "patch/outcome.h"
#include "patch/run_log.h"
#include "platform/seam.h"

namespace orv {

// The stages in order (eligibility, staging, backup and swap), then the
// outcome's one message unless showMessage is false. With an open log the
// run's every dealing with the outside world goes into it.
PatchOutcome RunPatch(const Platform& platform, RunLog& log, bool showMessage = true);

// The interactive run without a log.
PatchOutcome RunPatch(const Platform& platform);

// False when a log at fullPath would lie in the add-in folder or where the
// run's work folders go: it would be moved or removed with them, or hold
// the folder open. Looks, and touches nothing.
bool LogPathIsClear(const Platform& platform, StringView fullPath);

}  // namespace orv
