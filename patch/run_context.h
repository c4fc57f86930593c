// What the stages of one run hand on to each other. Owned by the run and
// gone with it.
#pragma once

#include <array>
#include <cstdint>

#include "patch/manifest.h"
#include "patch/run_log.h"
#include "platform/paths.h"

namespace orv {

struct RunContext {
  explicit RunContext(RunLog& runLog) : log(runLog) {}

  // Where the stages say what they found and decided.
  RunLog& log;
  // The host's installation folder, from its launcher's App Paths entry.
  PathBuffer hostInstallDir;
  // The add-in folder: the host folder followed by "\Pellmark".
  PathBuffer addinDir;
  // The writable check's probe file while it is still in the add-in folder;
  // empty once it is gone.
  PathBuffer probeFile;
  std::array<std::int64_t, manifest::kPayloadCount> timeStamps{};
  // The temporary folder, as the platform gives it, ending in a separator.
  PathBuffer tempDir;
  // The staging folder in it; empty until it has been made.
  PathBuffer stagingDir;
  String replacementDir;
  String backupDir;
};

}  // namespace orv
