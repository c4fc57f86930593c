// One run of the patch, from the host's discovery to the message.
#pragma once

#include "patch/outcome.h"
#include "platform/seam.h"

namespace orv {

// The stages in order (eligibility, staging, backup and swap), then the
// outcome's one message.
PatchOutcome RunPatch(const Platform& platform);

}  // namespace orv
