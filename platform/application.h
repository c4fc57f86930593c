// The application object of a windowless program: one global instance,
// constructed before the entry code runs, with a start hook and an exit hook.
#pragma once

#include <utility>
#include <vector>

#include "platform/text.h"

namespace orv {

// The entry code calls StartInstance once; when it returns false no message
// loop runs and EndInstance follows at once. EndInstance's result is the
// process's exit code.
class CWinApp {
 public:
  explicit CWinApp(const char16_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual bool StartInstance();
  virtual int EndInstance();

  // The one application object, or null before it is constructed.
  static CWinApp* Current();

  // The command line's arguments, the program's own name left out.
  const std::vector<String>& Arguments() const { return arguments_; }
  void SetArguments(std::vector<String> arguments) { arguments_ = std::move(arguments); }

 protected:
  void SetExitCode(int code) { exitCode_ = code; }

 private:
  int exitCode_ = 0;
  std::vector<String> arguments_;
};

// The entry sequence: the arguments handed over, the start hook, then (never
// here) the message loop, then the exit hook. Returns the exit hook's result;
// 1 without an object.
int RunApplication(std::vector<String> arguments = {});

}  // namespace orv
