// Registry values and local time stamps.
#pragma once

#include <cstdint>

namespace orv {

inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kRegSz = 1;

// What the caller asks of one value under HKEY_LOCAL_MACHINE and where the
// answer goes. The caller owns the record and the buffer.
struct RegistryValueRequest {
  const char16_t* valueName = nullptr;
  std::uint32_t type = kRegSz;  // in: REG_SZ; out: the stored type
  std::uint8_t* data = nullptr;
  std::uint32_t size = 0;  // in: capacity in bytes; out: bytes stored or needed
};

// The result of a local time stamp that could not be built. A valid time
// stamp is never -1, so callers test for this value.
inline constexpr std::int64_t kTimeStampFailed = -1;

}  // namespace orv
