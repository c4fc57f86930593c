// How a run ends, and what the user is told.
#pragma once

#include "platform/seam.h"

namespace orv {

enum class PatchOutcome {
  AlreadyRunning,
  NotNeeded,
  HostTooOld,
  Failed,
  Succeeded,
};

struct OutcomeMessage {
  const char16_t* text;  // null: nothing is shown
  MessageIcon icon;
};

OutcomeMessage MessageFor(PatchOutcome outcome);

// "Succeeded", "NotNeeded" and so on, for logs and reports.
const char* NameOf(PatchOutcome outcome);

// The process's exit code, in the codes deployment tools already read from
// Windows Installer, so that a failure never looks like success to a script:
// 0 done or not needed, 1603 failed, 1618 another run in progress, 1642 the
// host is not at the version the patch is made for.
int ExitCodeFor(PatchOutcome outcome);

// One message box, or nothing for AlreadyRunning.
void ShowOutcome(const Platform& platform, PatchOutcome outcome);

}  // namespace orv
