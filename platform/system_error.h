// Why a platform operation failed, in the platform's own terms: every failed
// operation leaves one of these for its caller to read and report.
#pragma once

#include <cstdint>

namespace orv {

enum class ErrorSource : std::uint8_t {
  None,   // nothing has failed yet
  Win32,  // a Windows error code (GetLastError, a registry status)
  Shell,  // the result of a shell file operation, which has codes of its own
  Errno,  // a C runtime errno (the POSIX backend, the Windows C runtime)
};

struct SystemError {
  ErrorSource source = ErrorSource::None;
  std::uint32_t code = 0;

  bool operator==(const SystemError&) const = default;
};

// Whether a failure for this reason may go away by itself, so that the same
// operation can succeed a moment later: a file held by a scanner or the
// host (sharing or lock violation, access denied while a delete is pending,
// busy), a device that is not ready. A name that is taken, a path that is
// missing or cannot be a path, a rename across volumes: trying again
// without a change gives the same answer; so does a POSIX permission. A reason not known here
// counts as passing: a short wait costs less than a failure that a moment would have cured.
bool CanPass(SystemError error);

// The reason of the latest failure a backend recorded. The program runs on
// one thread and reads the reason right after the failed call, as the
// platform's own last-error value is read.
void RecordSystemError(SystemError error);
SystemError LastSystemError();
// How many reasons have been recorded so far: a layer that gives reasons of
// its own tells by it whether the backend has recorded a newer one.
std::uint64_t SystemErrorsRecorded();

}  // namespace orv
