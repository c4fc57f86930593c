// What the stages of one run hand on to each other. Owned by the run and
// gone with it.
#pragma once

#include <array>
#include <cstdint>

#include "patch/manifest.h"
#include "platform/framework.h"

namespace orv {

struct RunContext {
  // First the host's installation folder, then, in place, that folder
  // followed by "\Pellmark": the add-in folder.
  PathBuffer addinDir;
  std::array<std::int64_t, manifest::kPayloadCount> timeStamps{};
  // First the temporary folder, then the staging folder.
  PathBuffer stagingDir;
  String replacementDir;
  String backupDir;
};

}  // namespace orv
