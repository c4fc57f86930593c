// A file's four-part version through the Win32 version service.
#include <windows.h>
#include <winver.h>

#include <memory>
#include <new>

#include "platform/win32/backend.h"

namespace orv::win32 {

bool ReadFileVersion(const Platform&, const char16_t* path, FileVersion4& version) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(Wide(path), &ignored);
  if (size == 0) return Fail();

  // Zero-filled, one wide character per reported byte: the block is handed
  // to the service with the reported length and a margin behind it.
  const std::unique_ptr<wchar_t[]> block(new (std::nothrow) wchar_t[size]());
  if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  if (!GetFileVersionInfoW(Wide(path), 0, size, block.get())) return Fail();

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = sizeof(VS_FIXEDFILEINFO);
  if (!VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr) {
    return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  }
  version = FromFixedInfo(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  return true;
}

}  // namespace orv::win32
