// The application object of a windowless program: one global instance,
// constructed before the entry code runs, with a start hook and an exit hook.
#pragma once

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

 protected:
  void SetExitCode(int code) { exitCode_ = code; }

 private:
  int exitCode_ = 0;
};

// The entry sequence: start hook, then (never here) the message loop, then
// exit hook. Returns the exit hook's result; 1 without an object.
int RunApplication();

}  // namespace orv
