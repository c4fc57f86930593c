// Registry values and local time stamps.
#pragma once

#include <cstdint>
#include <ctime>

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

// Day, hour, minute and second of May 2016 as a broken-down local time whose
// daylight saving the zone's rules decide. Out-of-range fields are left for
// the conversion to normalise (day 32 is 1 June).
std::tm LocalTimeOfMay2016(std::int32_t day, std::int32_t hour, std::int32_t minute,
                           std::int32_t second);

// The result of a local time stamp that could not be built. A valid time
// stamp is never -1, so callers test for this value.
inline constexpr std::int64_t kTimeStampFailed = -1;

}  // namespace orv
