#include "patch/outcome.h"

#include "patch/manifest.h"

namespace orv {

OutcomeMessage MessageFor(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::AlreadyRunning:
      return {nullptr, MessageIcon::Information};
    case PatchOutcome::NotNeeded:
      return {u"There is no need to apply this patch.", MessageIcon::Information};
    case PatchOutcome::HostTooOld:
      return {
          u"This patch cannot be run because Orvanto V4.1L52 that this patch is applied to "
          u"is not installed. \nApply the latest updates for Orvanto, and try again.",
          MessageIcon::Warning};
    case PatchOutcome::Failed:
      return {
          u"Install Failed.\nQuit any applications that are running on your computer, and "
          u"try again.",
          MessageIcon::Warning};
    case PatchOutcome::Succeeded:
      return {u"Install Succeeded.", MessageIcon::Information};
  }
  return {nullptr, MessageIcon::Warning};
}

const char* NameOf(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::AlreadyRunning:
      return "AlreadyRunning";
    case PatchOutcome::NotNeeded:
      return "NotNeeded";
    case PatchOutcome::HostTooOld:
      return "HostTooOld";
    case PatchOutcome::Failed:
      return "Failed";
    case PatchOutcome::Succeeded:
      return "Succeeded";
  }
  return "?";
}

int ExitCodeFor(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::Succeeded:
    case PatchOutcome::NotNeeded:
      return 0;
    case PatchOutcome::AlreadyRunning:
      return 1618;
    case PatchOutcome::HostTooOld:
      return 1642;
    case PatchOutcome::Failed:
      return 1603;
  }
  return 1603;
}

void ShowOutcome(const Platform& p, PatchOutcome outcome) {
  const OutcomeMessage message = MessageFor(outcome);
  if (message.text != nullptr) p.ShowMessage(p, manifest::kCaption, message.text, message.icon);
}

}  // namespace orv
