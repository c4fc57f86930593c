// The program's payload and string table, straight from its own resources.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

int FindPayload(const Platform&, int resourceId, const std::uint8_t*& data, std::size_t& size) {
  if (resourceId <= 0 || resourceId > 0xFFFF) return 0;
  // The program's own module; the language is whichever the resources carry.
  const HRSRC found =
      FindResourceW(nullptr, MAKEINTRESOURCEW(static_cast<WORD>(resourceId)), L"BINARY");
  if (found == nullptr) return 0;
  const DWORD bytes = SizeofResource(nullptr, found);
  if (bytes == 0) return 0;
  const HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return 0;
  const void* mapped = LockResource(loaded);
  if (mapped == nullptr) return 0;
  // Mapped with the image: valid for the life of the process, never freed.
  data = static_cast<const std::uint8_t*>(mapped);
  size = bytes;
  return 1;
}

int LoadTableString(const Platform&, int id, String& text) {
  text.clear();
  if (id < 0 || id > 0xFFFF) return 0;
  // A zero buffer size asks for a pointer into the resource itself, so no
  // string is ever cut at a buffer's end.
  const wchar_t* start = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&start), 0);
  if (length <= 0 || start == nullptr) return 0;
  text.assign(reinterpret_cast<const char16_t*>(start), static_cast<std::size_t>(length));
  return 1;
}

}  // namespace orv::win32
