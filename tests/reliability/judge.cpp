#include "tests/reliability/judge.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace orv::test {

namespace fs = std::filesystem;

namespace {

bool SamePath(StringView a, StringView b) {
  return FsPath(a).lexically_normal() == FsPath(b).lexically_normal();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The lines of a tree description, less those that start with any prefix.
std::string WithoutLines(const std::string& tree, const std::vector<std::string>& prefixes) {
  std::istringstream in(tree);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const bool dropped = std::any_of(prefixes.begin(), prefixes.end(),
                                     [&](const std::string& p) { return StartsWith(line, p); });
    if (!dropped) out += line + "\n";
  }
  return out;
}

// The rollback (the old folder renamed back from its backup) was tried and every
// attempt failed: the one state allowed to leave no add-in folder.
bool RollbackFailedThroughout(const Scene& scene, const FaultPlatform& fault) {
  const String rollback = scene.Backup() + u" -> " + scene.install.addin;
  int failed = 0;
  for (const Call& call : fault.Trace()) {
    if (call.op != Op::ShellRename || call.path != rollback) continue;
    if (!call.failed) return false;
    ++failed;
  }
  return failed == manifest::kAttempts;
}

bool DeleteFailed(const FaultPlatform& fault, StringView folder) {
  return std::any_of(fault.Trace().begin(), fault.Trace().end(), [&](const Call& call) {
    return call.op == Op::ShellDelete && call.failed && SamePath(call.path, folder);
  });
}

bool AnyCallFailedOn(const FaultPlatform& fault, StringView path) {
  return std::any_of(fault.Trace().begin(), fault.Trace().end(),
                     [&](const Call& call) { return call.failed && SamePath(call.path, path); });
}

std::vector<PatchOutcome> Allowed(const Baseline& base, int faultIndex,
                                  const FaultPlatform& fault) {
  switch (base.StageOf(faultIndex)) {
    case Stage::Guard:
      return {PatchOutcome::AlreadyRunning};
    case Stage::Eligibility: {
      // Only a host that cannot be found reads as "no need"; every other
      // fault there fails or, when it only makes a file look older, patches.
      const bool hostHidden =
          std::any_of(fault.Trace().begin(), fault.Trace().end(), [](const Call& call) {
            return call.failed && (call.op == Op::ReadRegistryValue || call.op == Op::FolderExists);
          });
      if (hostHidden) {
        return {PatchOutcome::NotNeeded, PatchOutcome::Failed, PatchOutcome::Succeeded};
      }
      return {PatchOutcome::Failed, PatchOutcome::Succeeded};
    }
    case Stage::Work:
      return {PatchOutcome::Failed, PatchOutcome::Succeeded};
    case Stage::AfterSwap:
      return {PatchOutcome::Succeeded};
  }
  return {};
}

}  // namespace

ProgramResult RunProgram(FaultPlatform& fault, std::vector<String> arguments) {
  const AppRun run = RunApp(fault, std::move(arguments));
  return {run.exitCode, OutcomeShown(run.notices)};
}

const char* Name(PatchOutcome outcome) {
  return NameOf(outcome);
}

Stage Baseline::StageOf(int index) const {
  if (trace[index].op == Op::CreateInstanceGuard) return Stage::Guard;
  if (index < firstStagingCall) return Stage::Eligibility;
  return index > moveInCall ? Stage::AfterSwap : Stage::Work;
}

std::vector<String> LogArguments(const String& path) {
  return {u"/log", path};
}

namespace {

Baseline MakeBaseline(bool logged, bool modelled) {
  Baseline b;
  Scene scene;
  TempDir logs;
  const String logPath = logs / u"run.log";
  RunLayers layers(scene, modelled);
  FaultPlatform& fault = layers.fault();
  const ProgramResult result =
      RunProgram(fault, logged ? LogArguments(logPath) : std::vector<String>{});
  if (result.outcome != PatchOutcome::Succeeded) {
    // Nothing to sweep: say why, loudly.
    std::fprintf(stderr, "the clean run did not succeed (exit code %d, %zu notices)\n",
                 result.exitCode, fault.Notices().size());
    for (const Call& c : fault.Trace()) {
      std::fprintf(stderr, "%s %s\n", test::Name(c.op), ToUtf8(c.path).c_str());
    }
    std::abort();
  }
  b.trace = fault.Trace();
  b.root = scene.install.root();
  b.newAddin = DescribeTree(scene.install.addin);
  std::vector<std::string> libraries;
  for (const auto& library : manifest::kLibraries) libraries.push_back(ToUtf8(library.fileName));
  b.payload = WithoutLines(b.newAddin, libraries);
  // Staging starts at the last look at the temporary folder (a logged run
  // looks once before, to keep its log out of the staging folder); the
  // move into place is the second rename.
  for (int i = 0; i < static_cast<int>(b.trace.size()); ++i) {
    if (b.trace[i].op == Op::TempFolder) b.firstStagingCall = i;
    if (b.trace[i].op == Op::ShellRename) b.moveInCall = i;
    b.logCall.push_back(logged && SamePath(b.trace[i].path, logPath));
  }
  return b;
}

}  // namespace

const Baseline& TheBaseline(bool logged, bool modelled) {
  if (modelled) {
    static const Baseline modelledPlain = MakeBaseline(false, true);
    if (!logged) return modelledPlain;
    static const Baseline modelledWithLog = MakeBaseline(true, true);
    return modelledWithLog;
  }
  static const Baseline plain = MakeBaseline(false, false);
  if (!logged) return plain;
  static const Baseline withLog = MakeBaseline(true, false);
  return withLog;
}

ModelOptions SweepModel(const Scene& scene) {
  return ModelOptions().InSession(0).Scanner(400).MergingRenames().PinningFolders().StartedIn(
      scene.install.addin + u"\\de");
}

RunLayers::RunLayers(const Scene& scene, bool modelled) {
  if (modelled) {
    modelled_.emplace(SweepModel(scene));
  } else {
    plain_.emplace(SystemPlatform());
  }
}

Scene::Scene() : oldAddin(DescribeTree(install.addin)), outside(Outside()) {}

std::string Scene::Classify(StringView folder) const {
  if (!Exists(folder)) return "absent";
  const std::string tree = DescribeTree(folder);
  if (tree == oldAddin) return "old";
  const Baseline& base = TheBaseline();
  if (tree == base.newAddin) return "new";
  if (tree == base.payload) return "payload";
  return "partial";
}

std::vector<String> Scene::WorkFoldersLeft() const {
  std::vector<String> folders;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(FsPath(install.host), ec)) {
    const String name = FromFs(entry.path().filename());
    if (u"\\" + name == manifest::kAddinName || u"\\" + name == manifest::kLauncherName) continue;
    folders.push_back(JoinPath(install.host, name));
  }
  std::sort(folders.begin(), folders.end());
  if (Exists(install.Staging())) folders.push_back(install.Staging());
  return folders;
}

std::string Scene::Outside() const {
  return DescribeTree(install.root(), {"tmp/", "Program Files/Orvanto/Pellmark"});
}

String Scene::Relative(StringView path) const {
  const fs::path relative = FsPath(path).lexically_relative(FsPath(install.root()));
  return FromUtf8(relative.generic_string());
}

std::string Scene::Describe() const {
  std::string text = "Pellmark " + Classify(install.addin);
  for (const String& folder : WorkFoldersLeft()) {
    text += ", " + FsPath(folder).filename().string();
    if (!SamePath(folder, install.Folders().Journal())) text += " " + Classify(folder);
  }
  return text;
}

std::vector<std::string> Judge(const Scene& scene, const FaultPlatform& fault,
                               const ProgramResult& result, int faultIndex, const Baseline& base) {
  std::vector<std::string> breaches;
  if (!result.outcome) {
    breaches.push_back("not exactly one notice of a known outcome");
    return breaches;
  }
  const PatchOutcome outcome = *result.outcome;
  const std::vector<PatchOutcome> allowed = Allowed(base, faultIndex, fault);
  if (std::find(allowed.begin(), allowed.end(), outcome) == allowed.end()) {
    breaches.push_back(std::string("outcome ") + Name(outcome) + " cannot follow a fault here");
  }
  if (result.exitCode != ExitCodeFor(outcome)) {
    breaches.push_back("exit code " + std::to_string(result.exitCode) + " for " + Name(outcome));
  }

  const std::string addin = scene.Classify(scene.install.addin);
  const bool rolledBackInVain = outcome == PatchOutcome::Failed && addin == "absent" &&
                                scene.Classify(scene.Backup()) == "old" &&
                                RollbackFailedThroughout(scene, fault);
  if (outcome == PatchOutcome::Succeeded ? addin != "new" : addin != "old" && !rolledBackInVain) {
    breaches.push_back(std::string(Name(outcome)) + " left the add-in folder " + addin);
  }
  // The journal stays as long as a folder it names does, for the next run
  // to finish the clean-up, or when a call on it failed.
  const String journal = scene.install.Folders().Journal();
  bool keptFolder = false;
  for (const String& folder : scene.WorkFoldersLeft()) {
    if (SamePath(folder, journal)) continue;
    const bool backupKept = rolledBackInVain && SamePath(folder, scene.Backup());
    keptFolder = true;
    if (!backupKept && !DeleteFailed(fault, folder)) {
      breaches.push_back("left behind: " + ToUtf8(scene.Relative(folder)));
    }
  }
  // ... or while the volume never answered whether one of them is there.
  const bool lookUnanswered =
      std::any_of(fault.Trace().begin(), fault.Trace().end(), [&](const Call& call) {
        return call.failed && call.op == Op::FileExists &&
               (SamePath(call.path, scene.install.Folders().Copy()) ||
                SamePath(call.path, scene.Backup()) ||
                SamePath(call.path, scene.install.Staging()));
      });
  if (test::Exists(journal) && !keptFolder && !AnyCallFailedOn(fault, journal) && !lookUnanswered) {
    breaches.push_back("left behind: " + ToUtf8(scene.Relative(journal)));
  }
  if (scene.Outside() != scene.outside) breaches.push_back("something outside was changed");
  if (fault.CopiesOntoTakenNames() > 0) {
    breaches.push_back(std::to_string(fault.CopiesOntoTakenNames()) +
                       " shell copies onto a name already taken");
  }
  return breaches;
}

}  // namespace orv::test
