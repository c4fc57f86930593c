#include "platform/paths.h"

#include <algorithm>
#include <iterator>

namespace orv {

void PathBuffer::Clear() {
  std::fill(std::begin(text), std::end(text), u'\0');
}

bool PathBuffer::Assign(StringView value) {
  if (value.size() >= kMaxPath) return false;
  Clear();
  std::copy(value.begin(), value.end(), text);
  return true;
}

bool PathBuffer::Append(StringView value) {
  const std::size_t used = view().size();
  if (used + value.size() >= kMaxPath) return false;
  std::copy(value.begin(), value.end(), text + used);
  text[used + value.size()] = u'\0';
  return true;
}

String JoinPath(StringView folder, StringView name) {
  String out;
  out.reserve(folder.size() + 1 + name.size());
  out.append(folder).push_back(u'\\');
  out.append(name);
  return out;
}

String Concat(StringView first, StringView second) {
  String out;
  out.reserve(first.size() + second.size());
  out.append(first).append(second);
  return out;
}

String ConcatNumbered(StringView first, StringView second, std::int64_t counter) {
  // Digits by hand rather than through the C library's formatter, whose
  // floating-point half would otherwise be linked into the program.
  char16_t digits[24];
  char16_t* end = std::end(digits);
  char16_t* at = end;
  const bool negative = counter < 0;
  // Unsigned, so that the most negative counter has a magnitude too.
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(counter) + 1 : static_cast<std::uint64_t>(counter);
  int written = 0;
  while (magnitude != 0 || written < 4 - (negative ? 1 : 0)) {
    *--at = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
    ++written;
  }
  if (negative) *--at = u'-';
  String out = Concat(first, second);
  out.append(at, end);
  return out;
}

bool JoinPath(PathBuffer& out, StringView folder, StringView name) {
  return out.Assign(JoinPath(folder, name));
}

bool Concat(PathBuffer& out, StringView first, StringView second) {
  return out.Assign(Concat(first, second));
}

void CutAtLastBackslash(String& text) {
  const auto pos = text.rfind(u'\\');
  if (pos != String::npos) text.erase(pos);
}

bool FitsShellPath(StringView path) {
  return path.size() <= kMaxShellPath;
}

bool NormaliseProbePath(StringView path, PathBuffer& out) {
  if (!out.Assign(path)) return false;
  const std::size_t length = path.size();
  if (length > 3 && path.back() == u'\\') {
    out.text[length - 1] = u'\0';
  } else if (length < 3) {
    return out.Append(u"\\");
  }
  return true;
}

}  // namespace orv
