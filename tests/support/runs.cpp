#include "tests/support/runs.h"

#include <gtest/gtest.h>

#include "app/update_app.h"
#include "patch/run.h"

namespace orv::test {

// The one place the tests spell the texts out.
const char16_t kPinnedCaption[] = u"Patch for Orvanto";

PinnedMessage Pinned(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::AlreadyRunning:
      return {nullptr, MessageIcon::Information};
    case PatchOutcome::NotNeeded:
      return {u"There is no need to apply this patch.", MessageIcon::Information};
    case PatchOutcome::HostTooOld:
      return {
          u"This patch cannot be run because Orvanto V4.1L52 that this patch is applied to is "
          u"not installed. \nApply the latest updates for Orvanto, and try again.",
          MessageIcon::Warning};
    case PatchOutcome::Failed:
      return {
          u"Install Failed.\nQuit any applications that are running on your computer, and try "
          u"again.",
          MessageIcon::Warning};
    case PatchOutcome::Succeeded:
      return {u"Install Succeeded.", MessageIcon::Information};
  }
  return {nullptr, MessageIcon::Warning};
}

std::string Printed(PatchOutcome outcome) {
  const PinnedMessage m = Pinned(outcome);
  if (m.text == nullptr) return "";
  return ToUtf8(kPinnedCaption) +
         (m.icon == MessageIcon::Information ? "\n[information] " : "\n[warning] ") +
         ToUtf8(m.text) + "\n";
}

void ExpectShown(const std::vector<Notice>& notices, PatchOutcome outcome) {
  const PinnedMessage m = Pinned(outcome);
  ASSERT_EQ(notices.size(), m.text ? 1u : 0u) << NameOf(outcome);
  if (m.text == nullptr) return;
  EXPECT_EQ(notices[0].caption, kPinnedCaption);
  EXPECT_EQ(notices[0].text, m.text);
  EXPECT_EQ(notices[0].icon, m.icon);
}

std::optional<PatchOutcome> OutcomeShown(const std::vector<Notice>& notices) {
  if (notices.empty()) return PatchOutcome::AlreadyRunning;
  if (notices.size() != 1 || notices[0].caption != kPinnedCaption) return std::nullopt;
  for (const PatchOutcome outcome : kShownOutcomes) {
    const PinnedMessage m = Pinned(outcome);
    if (notices[0].text == m.text && notices[0].icon == m.icon) return outcome;
  }
  return std::nullopt;
}

PatchOutcome RunPatchShown(const Platform& platform, RunLog* log) {
  const PatchOutcome outcome = log != nullptr ? RunPatch(platform, *log) : RunPatch(platform);
  ShowOutcome(platform, outcome);
  return outcome;
}

AppRun RunApp(FaultPlatform& fault, std::vector<String> arguments) {
  return RunApp(fault, fault.platform(), std::move(arguments));
}

AppRun RunApp(FaultPlatform& fault, const Platform& record, std::vector<String> arguments) {
  AppRun run;
  {
    COrvantoUpdateApp app(record);
    run.exitCode = RunApplication(std::move(arguments));
  }
  run.notices = fault.Notices();
  return run;
}

}  // namespace orv::test
