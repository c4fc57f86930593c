#include "platform/system_error.h"

#include <cerrno>

namespace orv {

namespace {
SystemError g_lastError;
std::uint64_t g_recorded = 0;
}  // namespace

void RecordSystemError(SystemError error) {
  g_lastError = error;
  ++g_recorded;
}

std::uint64_t SystemErrorsRecorded() {
  return g_recorded;
}

bool CanPass(SystemError error) {
  switch (error.source) {
    case ErrorSource::Win32:
    case ErrorSource::Shell:
      // The shell answers most failures with the Windows codes; 0x402 and
      // 0x7C are its own for a source that is not there.
      switch (error.code) {
        case 2:      // ERROR_FILE_NOT_FOUND
        case 3:      // ERROR_PATH_NOT_FOUND
        case 17:     // ERROR_NOT_SAME_DEVICE
        case 80:     // ERROR_FILE_EXISTS
        case 123:    // ERROR_INVALID_NAME
        case 145:    // ERROR_DIR_NOT_EMPTY
        case 161:    // ERROR_BAD_PATHNAME
        case 183:    // ERROR_ALREADY_EXISTS
        case 206:    // ERROR_FILENAME_EXCED_RANGE
        case 267:    // ERROR_DIRECTORY
        case 1920:   // ERROR_CANT_ACCESS_FILE: a link, not to be gone through
        case 0x7C:   // the shell's "invalid files"
        case 0x402:  // the shell's "source not found"
          return false;
        default:
          return true;
      }
    case ErrorSource::Errno:
      switch (error.code) {
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
        case EEXIST:
        case ENOTEMPTY:
        case ENAMETOOLONG:
        case EXDEV:
        case EROFS:
#ifndef _WIN32
        // On POSIX a permission is what the file's mode says, and no holder
        // takes it away for a moment. The Windows C runtime gives EACCES for
        // a file that is held, too, and that passes.
        case EACCES:
        case EPERM:
#endif
          return false;
        default:
          return true;
      }
    case ErrorSource::None:
      break;
  }
  return true;
}

SystemError LastSystemError() {
  return g_lastError;
}

}  // namespace orv
