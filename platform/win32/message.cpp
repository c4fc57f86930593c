// The one message box of a run.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

void ShowMessage(const Platform&, const char16_t* caption, const char16_t* text, MessageIcon icon) {
  MessageBoxW(nullptr, Wide(text), Wide(caption), MB_OK | static_cast<UINT>(icon));
}

}  // namespace orv::win32
