// The program's runs as the tests make them, and what the user is shown:
// the patch with its outcome's box, and the application object whole.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "patch/outcome.h"
#include "tests/support/fault_platform.h"

namespace orv {
class RunLog;
}

namespace orv::test {

// Every outcome, and those that end in a box.
inline constexpr PatchOutcome kEveryOutcome[] = {PatchOutcome::AlreadyRunning,
                                                 PatchOutcome::NotNeeded, PatchOutcome::HostTooOld,
                                                 PatchOutcome::Failed, PatchOutcome::Succeeded};
inline constexpr PatchOutcome kShownOutcomes[] = {PatchOutcome::NotNeeded, PatchOutcome::HostTooOld,
                                                  PatchOutcome::Failed, PatchOutcome::Succeeded};

// The caption, text and icon of the box an outcome ends in, as the tests
// hold the program to them; no text for a run that shows none.
struct PinnedMessage {
  const char16_t* text;
  MessageIcon icon;
};
extern const char16_t kPinnedCaption[];
PinnedMessage Pinned(PatchOutcome outcome);
// The box as the POSIX backend prints it: the caption, then "[information]"
// or "[warning]" and the text, each on a line.
std::string Printed(PatchOutcome outcome);

// Exactly one box, the outcome's.
void ExpectShown(const std::vector<Notice>& notices, PatchOutcome outcome);
// The outcome the boxes tell, AlreadyRunning for none; none when they are
// not exactly one outcome's box.
std::optional<PatchOutcome> OutcomeShown(const std::vector<Notice>& notices);

// The patch run as the application makes it, with the log when given: the
// run, then its outcome's box.
PatchOutcome RunPatchShown(const Platform& platform, RunLog* log = nullptr);

// The application object with these arguments, on the fault layer or on a
// record built over it: its exit code and the boxes it showed.
struct AppRun {
  int exitCode = -1;
  std::vector<Notice> notices;
};
AppRun RunApp(FaultPlatform& fault, std::vector<String> arguments = {});
AppRun RunApp(FaultPlatform& fault, const Platform& record, std::vector<String> arguments = {});

}  // namespace orv::test
