// The three stages of a run. Each either lets the run go on (no outcome) or
// ends it with its outcome, having removed the work folders it made.
#pragma once

#include <optional>

#include "patch/outcome.h"
#include "patch/run_context.h"
#include "platform/seam.h"

namespace orv {

// True when the paths of all 25 payload files and the three libraries fit
// the platform's 260-character buffers below folder.
bool AddinFilesFit(StringView folder);

enum class HostVersionClass {
  Matches,  // the host version the patch is made for
  Older,
  Newer,
};
HostVersionClass ClassifyHostVersion(const FileVersion4& version);

// The host's folder from its launcher's App Paths entry. False for anything
// that is not a usable folder path, which means the host is not installed.
bool DiscoverHost(const Platform& platform, PathBuffer& hostDir, RunLog& log);

// Whether anything, folder or file, bears the name: Absent when nothing
// does (a file of that name is not ours to copy onto, nor to remove after a
// failed copy), Unanswered when the volume could not tell.
FileProbe LookAtName(const Platform& platform, const String& name);

// Creates or empties target and writes size bytes of data to it, retried;
// a failed attempt removes what it wrote.
bool WriteWholeFile(const Platform& platform, const char16_t* target, const void* data,
                    std::size_t size);

// Removes a work folder of this run, retried like every other removal: one
// passing failure (a scanner holding a file for a moment) must not leave a
// half-deleted folder behind for good. A folder that is not there needs
// nothing more.
void RemoveWorkFolder(const Platform& platform, const char16_t* folder);

// Removes the probe file the writable check could not remove, retried; the
// run's clean-up calls it again while the add-in folder is the old one, so
// that a failed or unneeded run leaves that folder as it was.
void RemoveProbeFile(const Platform& platform, RunContext& context);

// Finds the host, checks its version and the add-in folder, builds the time
// stamps and looks for an installed add-in file that is missing or older
// than the payload.
std::optional<PatchOutcome> CheckEligibility(const Platform& platform, RunContext& context);

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
