// The run's look at the machine before it changes anything: where the host
// is, its version, where the add-in lies and whether the patch is needed.
// It writes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "patch/manifest.h"
#include "patch/outcome.h"
#include "patch/run_log.h"
#include "patch/work_folders.h"
#include "platform/seam.h"

namespace orv {

enum class HostVersionClass {
  Matches,  // the host version the patch is made for
  Older,
  Newer,
};
HostVersionClass ClassifyHostVersion(const FileVersion4& version);

// The host's folder from its launcher's App Paths entry, absolute. False
// for anything that is not a usable folder path, which means the host is
// not installed.
bool DiscoverHost(const Platform& platform, PathBuffer& hostDir, RunLog& log);

// The payload files' modification times, as the local clock gives them.
using TimeStamps = std::array<std::int64_t, manifest::kPayloadCount>;

struct Assessment {
  // Named from the host's folder and the temporary folder; no host folder
  // when the host is not installed.
  WorkFolders folders;
  // The add-in folder's name fits a path: only then is there anything to
  // recover beside it.
  bool recoverable = false;
  // The add-in folder is missing and a folder bears the backup name: a run
  // was cut short between its two renames, recovery moves the old add-in
  // back, and until then it is looked at there.
  bool addinAside = false;
  // How the run ends before the add-in folder is probed (no host, the
  // host's version, paths that would not fit) and after it (the time
  // stamps, the installed files); none: the run goes on.
  std::optional<PatchOutcome> beforeProbe;
  std::optional<PatchOutcome> afterProbe;
  TimeStamps timeStamps{};
};

// Looks at everything the run decides on, in the order the log tells it,
// and stops looking at the first thing that ends the run.
Assessment AssessInstallation(const Platform& platform, RunLog& log);

// The work folders as a run would name them, found without a log: for
// deciding where a log may be made before the run begins.
WorkFolders FindWorkFolders(const Platform& platform);

}  // namespace orv
