// The application object: framework set-up, the single-instance guard, the
// patch run, and letting go of the guard at exit.
#pragma once

#include "platform/application.h"
#include "platform/seam.h"

namespace orv {

class COrvantoUpdateApp : public CWinApp {
 public:
  explicit COrvantoUpdateApp(const Platform& platform);
  ~COrvantoUpdateApp() override = default;

  // Runs the patch unless another instance holds the guard; always false, so
  // no message loop ever starts.
  bool StartInstance() override;
  // Lets go of the guard; the result is the process's exit code.
  int EndInstance() override;

 private:
  const Platform& platform_;
  InstanceGuard* mutex_ = nullptr;
};

}  // namespace orv
