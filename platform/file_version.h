// Four-part file versions and their order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// major.minor.build.private; each part a 16-bit value held in 32 bits.
struct FileVersion4 {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t build = 0;
  std::int32_t privatePart = 0;

  bool operator==(const FileVersion4&) const = default;
};

// 0 when equal; else, on the first part that differs (major, minor, build,
// private), second minus first: positive means second is newer.
std::int32_t CompareFileVersion(const FileVersion4& first, const FileVersion4& second);

// "4.1.52.1"
std::string ToText(const FileVersion4& version);

// A decimal number of digits only, no larger than limit.
bool ParseDecimal(std::string_view text, std::uint64_t limit, std::uint64_t& value);
// "a.b.c.d", each part 0 to 65535; false (version untouched) otherwise.
bool ParseFileVersion(std::string_view text, FileVersion4& version);

// The four parts from VS_FIXEDFILEINFO's dwFileVersionMS / dwFileVersionLS.
FileVersion4 FromFixedInfo(std::uint32_t fileVersionMS, std::uint32_t fileVersionLS);

}  // namespace orv
