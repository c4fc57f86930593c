// Helpers only the POSIX tests need: the environment for one scope, the
// rights of an ordinary user, and the native program run as a process.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/text.h"

namespace orv::test {

// Sets an environment variable (or with a null value removes it) for one
// scope; the time zone is read again both times, for TZ.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// The account an ordinary user's rights are taken from when the tests run
// as root.
inline constexpr uid_t kNobody = 65534;

// In a child process: gives up root for the ordinary account, groups
// first; as another user, keeps its rights. False when that failed.
bool DropToOrdinaryUser();

// Runs fn in a child with an ordinary user's rights, so that permission
// cases hold even when the tests run as root; fn's result as a signed byte.
int AsOrdinaryUser(const std::function<int()>& fn);

// Gives a tree to the ordinary account when the tests run as root, so that
// a program run as that account may change it.
void GiveToOrdinaryUser(const String& root);

// What the native program printed (standard output and error) and the low
// byte of its exit code, -1 when it did not exit; standard input closed,
// so that the notice does not wait.
struct ProcessRun {
  std::string output;
  int exitCode = -1;
};
struct ProcessOptions {
  std::string loader;         // run through this dynamic loader when given
  bool ordinaryUser = false;  // with an ordinary user's rights
};
ProcessRun RunProcess(const char* program, const ProcessOptions& options = {});

}  // namespace orv::test
