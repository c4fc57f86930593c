// One run of the patch, from the host's discovery to its outcome.
#pragma once

#include "patch/outcome.h"
#include "patch/run_log.h"
#include "platform/seam.h"

namespace orv {

// The run's look, its changes in order, and its outcome, which the caller
// shows. With an open log the run's every dealing with the outside world
// goes into it.
PatchOutcome RunPatch(const Platform& platform, RunLog& log);

// The run without a log.
PatchOutcome RunPatch(const Platform& platform);

// Whether a log may be made at a full path.
enum class LogPlace : std::uint8_t {
  Clear,      // outside the host's folder and the staging folder, or in no
              // folder at all (then it cannot be made)
  Refused,    // in one of them, at any depth, by whatever name
  Undecided,  // where it would lie could not be told; the reason is left
};

// Where a log at fullPath would lie, as the file system resolves its folder
// (links, short names, other forms and letter case), never by its text: in
// the host's folder, which holds the add-in, the run's work folders, the
// journal and the launcher, it would be moved, copied or removed with them,
// hold a folder open or write over a file the run needs; in the staging
// folder it would be removed with it. Looks, and touches nothing.
LogPlace LogPathIsClear(const Platform& platform, StringView fullPath);

}  // namespace orv
