// The program's payload and string table, straight from its own resources.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

bool FindPayload(const Platform&, int resourceId, const std::uint8_t*& data, std::size_t& size) {
  if (resourceId <= 0 || resourceId > 0xFFFF) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  // The program's own module; the language is whichever the resources carry.
  const HRSRC found =
      FindResourceW(nullptr, MAKEINTRESOURCEW(static_cast<WORD>(resourceId)), L"BINARY");
  if (found == nullptr) return Fail();
  const DWORD bytes = SizeofResource(nullptr, found);
  // An empty resource is as good as none.
  if (bytes == 0) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND);
  const HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return Fail();
  const void* mapped = LockResource(loaded);
  if (mapped == nullptr) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND);
  // Mapped with the image: valid for the life of the process, never freed.
  data = static_cast<const std::uint8_t*>(mapped);
  size = bytes;
  return true;
}

bool LoadTableString(const Platform&, int id, String& text) {
  text.clear();
  if (id < 0 || id > 0xFFFF) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  // A zero buffer size asks for a pointer into the resource itself, so no
  // string is ever cut at a buffer's end.
  const wchar_t* start = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&start), 0);
  if (length <= 0 || start == nullptr) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  text.assign(reinterpret_cast<const char16_t*>(start), static_cast<std::size_t>(length));
  return true;
}

}  // namespace orv::win32
