// The stages that change the machine, in the order a run takes them after
// recovery. Each either lets the run go on (no outcome) or ends it with its
// outcome, having removed the work folders it made.
#pragma once

#include <optional>

#include "patch/outcome.h"
#include "patch/run_context.h"
#include "platform/seam.h"

namespace orv {

// Whether a file can be created in the add-in folder: a probe file is made
// and removed again. Failed when it cannot, or the folder is missing.
std::optional<PatchOutcome> ProbeAddinFolder(const Platform& platform, RunContext& context);

// Removes the probe file the writable check could not remove, retried; the
// run's clean-up calls it again while the add-in folder is the old one, so
// that a failed or unneeded run leaves that folder as it was.
void RemoveProbeFile(const Platform& platform, RunContext& context);

// Writes the 25 payload files, stamped, into a fresh staging folder.
std::optional<PatchOutcome> StagePayload(const Platform& platform, RunContext& context);

// Reads the new add-in folder back before the old one is touched: each
// payload file byte for byte as the program carries it, each library as the
// old add-in has it, and no other file or folder. This catches a copy gone
// astray, a file a scanner emptied or took away, and a file changed by
// someone else between the write and the copy. False, with a log line
// naming the first difference, otherwise.
bool VerifyNewFolder(const Platform& platform, const RunContext& context);

// Assembles the new add-in folder beside the old one, swaps the two by
// renames, and moves the old one back if the new one cannot take its name.
PatchOutcome BackupAndSwap(const Platform& platform, RunContext& context);

}  // namespace orv
