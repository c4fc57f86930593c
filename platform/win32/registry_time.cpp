// One registry value under HKEY_LOCAL_MACHINE, and local time stamps.
#include <windows.h>

#include <ctime>

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

std::int32_t ReadRegistryValue(const Platform&, const char16_t* keyPath,
                               RegistryValueRequest& request) {
  // No view flag: the 32-bit build reads the 32-bit view, where a 32-bit host
  // records its path.
  OpenKey key;
  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath), 0, KEY_READ, key.out());
  if (opened != ERROR_SUCCESS) return static_cast<std::int32_t>(opened);

  DWORD type = request.type;
  DWORD size = request.size;
  const LSTATUS read =
      RegQueryValueExW(key.get(), Wide(request.valueName), nullptr, &type, request.data, &size);
  request.type = type;
  request.size = size;
  return static_cast<std::int32_t>(read);
}

std::int64_t MakeLocalTimeStamp(const Platform&, std::int32_t day, std::int32_t hour,
                                std::int32_t minute, std::int32_t second, std::int64_t& value) {
  std::tm local = LocalTimeOfMay2016(day, hour, minute, second);
  const __time64_t stamp = _mktime64(&local);
  if (stamp == -1) return kTimeStampFailed;
  value = static_cast<std::int64_t>(stamp);
  return value;
}

}  // namespace orv::win32
