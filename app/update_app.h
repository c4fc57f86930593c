// The application object: the command line, the single-instance guard, the
// log, the patch run, and letting go of the guard at exit.
#pragma once

#include "platform/application.h"
#include "platform/seam.h"

namespace orv {

class RunLog;

class COrvantoUpdateApp : public CWinApp {
 public:
  explicit COrvantoUpdateApp(const Platform& platform);
  ~COrvantoUpdateApp() override = default;

  // Runs the patch unless the command line is refused or asks for help, or
  // another instance holds the guard; always false, so no message loop ever
  // starts.
  bool StartInstance() override;
  // Lets go of the guard; the result is the process's exit code.
  int EndInstance() override;

 private:
  // Takes the guard under both its names; false when another run has either.
  bool HoldGuard();
  void ReleaseGuard();
  // Opens the log the command line asks for; 0, or the exit code that
  // refuses the run: 1639 for a log in the host's or the staging folder, or
  // one whose place cannot be told, 1622 for one that cannot be made.
  int OpenLog(const String& path, bool show, RunLog& log);

  const Platform& platform_;
  InstanceGuard* mutex_ = nullptr;
  InstanceGuard* globalMutex_ = nullptr;
};

}  // namespace orv
