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

// The reason of the latest failure a backend recorded. The program runs on
// one thread and reads the reason right after the failed call, as the
// platform's own last-error value is read.
void RecordSystemError(SystemError error);
SystemError LastSystemError();

}  // namespace orv
