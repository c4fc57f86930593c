#include "app/update_app.h"

#include "app/command_line.h"
#include "patch/manifest.h"
#include "patch/run.h"
#include "patch/run_log.h"
#include "res/program_version.h"

namespace orv {

COrvantoUpdateApp::COrvantoUpdateApp(const Platform& platform)
    : CWinApp(nullptr), platform_(platform) {}

bool COrvantoUpdateApp::StartInstance() {
  CWinApp::StartInstance();
  const Platform& p = platform_;
  const CommandLine line = ParseCommandLine(Arguments());
  // Nobody sees a box in session 0 or on a hidden window station, and it
  // would hold the run until a deployment tool gives up on it: such a run
  // is quiet.
  const bool show = !line.quiet && p.CanShowMessages(p);
  if (line.refused || line.help) {
    if (show) {
      p.ShowMessage(p, manifest::kCaption, UsageText(line.refused).c_str(),
                    line.refused ? MessageIcon::Warning : MessageIcon::Information);
    }
    SetExitCode(line.refused ? kExitInvalidCommandLine : 0);
    return false;
  }
  if (!HoldGuard()) {
    // Another run is in progress: end silently, without touching anything.
    SetExitCode(ExitCodeFor(PatchOutcome::AlreadyRunning));
    return false;
  }
  RunLog log;
  if (line.logPath) {
    if (const int refused = OpenLog(*line.logPath, show, log)) {
      SetExitCode(refused);
      return false;
    }
  }
  log.Line("WinOrvantoPatch1.exe " ORV_PROGRAM_VERSION_TEXT ", command line: " +
           LogText(JoinArguments(Arguments())));
  log.Line(show         ? "the outcome is shown in a message box"
           : line.quiet ? "quiet: no message box"
                        : "nobody can see a message box here: no message box");
  const PatchOutcome outcome = RunPatch(p, log);
  if (show) ShowOutcome(p, outcome);
  const int exitCode = ExitCodeFor(outcome);
  log.Line("exit code " + std::to_string(exitCode));
  SetExitCode(exitCode);
  return false;
}

int COrvantoUpdateApp::EndInstance() {
  ReleaseGuard();
  return CWinApp::EndInstance();
}

bool COrvantoUpdateApp::HoldGuard() {
  const Platform& p = platform_;
  bool alreadyExists = false;
  // In session 0 a session's names are the global ones: "NAME" is the
  // object "Global\NAME" is, and a second handle to it would find this
  // run's own first one. The global name alone guards there, against every
  // session's runs and every other copy in session 0.
  if (!p.InSessionZero(p)) mutex_ = p.CreateInstanceGuard(p, manifest::kMutexName, alreadyExists);
  if (!alreadyExists) {
    globalMutex_ = p.CreateInstanceGuard(p, manifest::kGlobalMutexName, alreadyExists);
  }
  if (alreadyExists) ReleaseGuard();
  return !alreadyExists;
}

void COrvantoUpdateApp::ReleaseGuard() {
  const Platform& p = platform_;
  for (InstanceGuard** guard : {&globalMutex_, &mutex_}) {
    if (*guard != nullptr) p.ReleaseInstanceGuard(p, *guard);
    *guard = nullptr;
  }
}

int COrvantoUpdateApp::OpenLog(const String& path, bool show, RunLog& log) {
  const Platform& p = platform_;
  String full;
  // A path with no full form has no folder to look at: where it would lie
  // cannot be told.
  const LogPlace place =
      p.FullPath(p, path.c_str(), full) ? LogPathIsClear(p, full) : LogPlace::Undecided;
  if (place != LogPlace::Clear) {
    if (show) {
      const String why =
          place == LogPlace::Refused
              ? String(
                    u" (a log cannot lie in the add-in folder or its work folders, nor "
                    u"anywhere else in the host's folder or in the staging folder)")
              : u" (whether this log would lie in the host's folder or in the staging folder "
                u"cannot be told: " +
                    p.DescribeError(p, p.LastError(p)) + u")";
      p.ShowMessage(p, manifest::kCaption, UsageText(u"/log " + path + why).c_str(),
                    MessageIcon::Warning);
    }
    return kExitInvalidCommandLine;
  }
  if (!log.Open(p, full.c_str())) {
    if (show) {
      const String text =
          u"The log file cannot be created:\n" + path + u"\n" + p.DescribeError(p, p.LastError(p));
      p.ShowMessage(p, manifest::kCaption, text.c_str(), MessageIcon::Warning);
    }
    return kExitLogFailure;
  }
  return 0;
}

}  // namespace orv
