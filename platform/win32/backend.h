// The Win32 backend's operations, one unit per concern; system.cpp gathers
// them into the platform record. Every call goes to the wide-character form
// of the Windows API.
#pragma once

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

#include "platform/backend_ops.inc"

}  // namespace orv::win32
