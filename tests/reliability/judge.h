// What the reliability checks share: running the whole program in this
// process through a fault layer, a clean run to compare against, and the
// judge of what a run (or a crash) left behind.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "patch/outcome.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"
#include "tests/support/windows_model.h"

namespace orv::test {

// The whole program once: guard, run, exit code.
struct ProgramResult {
  int exitCode = 0;
  // AlreadyRunning when no notice was shown; none when the notices do not
  // name exactly one outcome.
  std::optional<PatchOutcome> outcome;
};
ProgramResult RunProgram(FaultPlatform& fault, std::vector<String> arguments = {});
const char* Name(PatchOutcome outcome);

// Where in the run a call falls, which bounds what a fault there may end in.
enum class Stage { Guard, Eligibility, Work, AfterSwap };

// A clean run on a fresh installation: its calls and the add-in it leaves.
struct Baseline {
  std::vector<Call> trace;
  // With a log: which calls are the log's own (its open, writes and close).
  std::vector<bool> logCall;
  String root;           // the clean run's installation folder, gone since
  std::string newAddin;  // the add-in folder after success
  std::string payload;   // the same without the carried-over libraries
  int firstStagingCall = 0;
  int moveInCall = 0;  // the rename that puts the new folder in place
  Stage StageOf(int index) const;
};
// The clean run without arguments, or with /log (to a file outside the
// installation); plainly or under the Windows model as SweepModel sets it.
const Baseline& TheBaseline(bool logged = false, bool modelled = false);
// The arguments of a logged run writing to path.
std::vector<String> LogArguments(const String& path);

// A fresh installation and what it looked like before the run.
class Scene {
 public:
  Scene();
  Installation install;
  std::string oldAddin;
  std::string outside;  // everything but the add-in's siblings and the temp folder

  String Backup() const { return install.Folders().Backup(); }
  // "absent", "old", "new", "payload" (the 25 files only) or "partial".
  std::string Classify(StringView folder) const;
  // Everything beside the add-in folder and in the temp folder that a run
  // may have made: the copy and backup folders, the journal and the staging
  // folder.
  std::vector<String> WorkFoldersLeft() const;
  std::string Outside() const;
  // The state in a few words, paths relative to the installation.
  std::string Describe() const;
  String Relative(StringView path) const;
};

// Windows as the sweep and the crash points run under it: session 0, a
// scanner, renames that merge into a taken folder, and the program started
// from inside the add-in folder.
ModelOptions SweepModel(const Scene& scene);

// The layers of one run on scene's installation: the fault layer over the
// system's backend, or over the Windows model.
class RunLayers {
 public:
  RunLayers(const Scene& scene, bool modelled);
  FaultPlatform& fault() { return modelled_ ? modelled_->fault : *plain_; }

 private:
  std::optional<ModelledRun> modelled_;
  std::optional<FaultPlatform> plain_;
};

// Every breach of the promise by a run that ended with result, whose first
// fault was made at call faultIndex of the clean run.
std::vector<std::string> Judge(const Scene& scene, const FaultPlatform& fault,
                               const ProgramResult& result, int faultIndex,
                               const Baseline& base = TheBaseline());

}  // namespace orv::test
