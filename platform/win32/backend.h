// The Win32 backend's operations, one unit per concern; system_platform.cpp
// gathers them into the platform record. Every call goes to the
// wide-character form of the Windows API.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "platform/seam.h"

namespace orv::win32 {

// UTF-16 on both sides: the program's char16_t text is handed to the W
// functions as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 units");
inline const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}

// A kernel handle closed when it goes.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The process token's information of that kind (TokenUser, TokenOwner ...);
// empty, with the reason recorded, when it cannot be read.
std::vector<BYTE> ProcessTokenInformation(TOKEN_INFORMATION_CLASS kind);

// What CreateFileW's error says about the name it was to open: not found
// is absent; sharing, access and pending-delete errors mean a file is
// there; any other (device not ready, network name gone, I/O error) is no
// answer.
FileProbe FileProbeFromError(DWORD error);

// What a shell file operation's result and its fAnyOperationsAborted say:
// no error only when it returned 0 and nothing was aborted.
SystemError ShellOutcome(int result, bool aborted);

// Records a Windows error code (by default the calling thread's last error)
// as the reason of a failure; false, so that a failing operation can return
// it.
inline bool Fail(DWORD error = GetLastError()) {
  RecordSystemError({ErrorSource::Win32, static_cast<std::uint32_t>(error)});
  return false;
}
// The same for the C runtime's errno.
inline bool FailWithErrno(int error) {
  RecordSystemError({ErrorSource::Errno, static_cast<std::uint32_t>(error)});
  return false;
}

#define ORV_SEAM_OP ORV_SEAM_DECLARE
#include "platform/seam_ops.inc"
#undef ORV_SEAM_OP

}  // namespace orv::win32

namespace orv {
namespace backend = win32;
}
