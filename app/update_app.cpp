#include "app/update_app.h"

#include "patch/manifest.h"
#include "patch/run.h"

namespace orv {

COrvantoUpdateApp::COrvantoUpdateApp(const Platform& platform)
    : CWinApp(nullptr), platform_(platform) {}

bool COrvantoUpdateApp::StartInstance() {
  CWinApp::StartInstance();
  const Platform& p = platform_;
  bool alreadyExists = false;
  mutex_ = p.CreateInstanceGuard(p, manifest::kMutexName, alreadyExists);
  if (alreadyExists) {
    // Another run is in progress: end silently, without touching anything.
    if (mutex_ != nullptr) p.ReleaseInstanceGuard(p, mutex_);
    mutex_ = nullptr;
    SetExitCode(ExitCodeFor(PatchOutcome::AlreadyRunning));
    return false;
  }
  SetExitCode(ExitCodeFor(RunPatch(p)));
  return false;
}

int COrvantoUpdateApp::EndInstance() {
  if (mutex_ != nullptr) {
    platform_.ReleaseInstanceGuard(platform_, mutex_);
    mutex_ = nullptr;
  }
  return CWinApp::EndInstance();
}

}  // namespace orv
