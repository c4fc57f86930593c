// One registry value under HKEY_LOCAL_MACHINE: what the caller asks and what
// the read answers.
#pragma once

#include <cstdint>

namespace orv {

inline constexpr std::uint32_t kRegSz = 1;
// A string naming environment variables (%NAME%) to be expanded before use.
inline constexpr std::uint32_t kRegExpandSz = 2;

// What the caller asks of one value and where the answer goes. The caller
// owns the record and the buffer.
struct RegistryValueRequest {
  const char16_t* valueName = nullptr;
  std::uint32_t type = kRegSz;  // in: REG_SZ; out: the stored type
  std::uint8_t* data = nullptr;
  std::uint32_t size = 0;  // in: capacity in bytes; out: bytes stored or needed
};

enum class RegistryRead : std::uint8_t {
  Read,      // the value's bytes are in the buffer, size says how many
  MoreData,  // the value is larger than the buffer; size says what it needs
  Failed,    // no such key or value, or it may not be read: see the reason
};

}  // namespace orv
