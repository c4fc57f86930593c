#include "patch/run.h"

#include "patch/stages.h"

namespace orv {

PatchOutcome RunPatch(const Platform& p) {
  RunContext context;
  PatchOutcome outcome = PatchOutcome::Failed;
  if (auto ended = CheckEligibility(p, context)) {
    outcome = *ended;
  } else if (auto failed = StagePayload(p, context)) {
    outcome = *failed;
  } else {
    outcome = BackupAndSwap(p, context);
  }
  ShowOutcome(p, outcome);
  return outcome;
}

}  // namespace orv
