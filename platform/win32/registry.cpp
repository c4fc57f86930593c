// One registry value under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

RegistryRead ReadRegistryValue(const Platform&, const char16_t* keyPath,
                               RegistryValueRequest& request) {
  // No view flag: the 32-bit build reads the 32-bit view, where a 32-bit host
  // records its path.
  OpenKey key;
  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath), 0, KEY_READ, key.out());
  if (opened != ERROR_SUCCESS) {
    Fail(static_cast<DWORD>(opened));
    return RegistryRead::Failed;
  }

  DWORD type = request.type;
  DWORD size = request.size;
  const LSTATUS read =
      RegQueryValueExW(key.get(), Wide(request.valueName), nullptr, &type, request.data, &size);
  request.type = type;
  request.size = size;
  if (read == ERROR_SUCCESS) return RegistryRead::Read;
  Fail(static_cast<DWORD>(read));
  return read == ERROR_MORE_DATA ? RegistryRead::MoreData : RegistryRead::Failed;
}

bool ExpandEnvironmentText(const Platform&, const char16_t* text, PathBuffer& expanded) {
  // The count is of characters with the NUL; a larger one than the buffer
  // holds is what the whole result would need, and nothing usable was
  // written.
  const DWORD needed =
      ExpandEnvironmentStringsW(Wide(text), Wide(expanded.text), static_cast<DWORD>(kMaxPath));
  if (needed != 0 && needed <= kMaxPath) return true;
  const DWORD error = needed == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
  expanded.Clear();
  return Fail(error);
}

}  // namespace orv::win32
