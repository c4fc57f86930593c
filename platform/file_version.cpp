#include "platform/file_version.h"

namespace orv {

std::int32_t CompareFileVersion(const FileVersion4& first, const FileVersion4& second) {
  if (first.major != second.major) return second.major - first.major;
  if (first.minor != second.minor) return second.minor - first.minor;
  if (first.build != second.build) return second.build - first.build;
  return second.privatePart - first.privatePart;
}

std::string ToText(const FileVersion4& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
         "." + std::to_string(v.privatePart);
}

FileVersion4 FromFixedInfo(std::uint32_t ms, std::uint32_t ls) {
  return FileVersion4{static_cast<std::int32_t>(ms >> 16), static_cast<std::int32_t>(ms & 0xFFFF),
                      static_cast<std::int32_t>(ls >> 16), static_cast<std::int32_t>(ls & 0xFFFF)};
}

bool ParseDecimal(std::string_view text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (result > limit) return false;
  value = result;
  return true;
}

bool ParseFileVersion(std::string_view text, FileVersion4& version) {
  std::int32_t parts[4] = {};
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? text.find('.') : text.size();
    std::uint64_t part = 0;
    if (dot == std::string_view::npos || !ParseDecimal(text.substr(0, dot), 0xFFFF, part)) {
      return false;
    }
    parts[i] = static_cast<std::int32_t>(part);
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  version = FileVersion4{parts[0], parts[1], parts[2], parts[3]};
  return true;
}

}  // namespace orv
