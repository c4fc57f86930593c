// Paths: the fixed, bounded buffers the stages join into, the joins
// themselves, and the length and name rules every backend's file operations
// share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace orv {

// The platform's MAX_PATH: fixed path buffers hold this many characters,
// terminating NUL included.
inline constexpr std::size_t kMaxPath = 260;

// A fixed, zero-filled path buffer. Every write into it is bounded: a text
// that does not fit is refused and the buffer is left as it was.
struct PathBuffer {
  char16_t text[kMaxPath] = {};

  const char16_t* c_str() const { return text; }
  StringView view() const { return StringView(text); }
  void Clear();
  // Replaces the content; false (content unchanged) when text plus NUL does
  // not fit.
  bool Assign(StringView value);
  // Appends in place; false (content unchanged) when the result does not fit.
  bool Append(StringView value);
};

// "%s\%s": a folder, a backslash and a relative name.
String JoinPath(StringView folder, StringView name);
// "%s%s": plain concatenation.
String Concat(StringView first, StringView second);
// "%s%s%04d": folder, suffix and a counter padded to at least four digits.
String ConcatNumbered(StringView first, StringView second, std::int64_t counter);
// The bounded forms of the joins into a fixed buffer: false when the result
// does not fit (the buffer is then left as it was).
bool JoinPath(PathBuffer& out, StringView folder, StringView name);
bool Concat(PathBuffer& out, StringView first, StringView second);

// Cuts text before its last backslash; leaves it unchanged when it has none.
void CutAtLastBackslash(String& text);

// A shell operation takes one path in a 260-character, double-NUL-ended list,
// so a path may have at most 258 characters.
inline constexpr std::size_t kMaxShellPath = kMaxPath - 2;
bool FitsShellPath(StringView path);

// The writable-folder probe's trailing-backslash rule: longer than 3
// characters and ending in a backslash loses that one backslash; exactly 3
// stays; shorter gets one appended. False when the path (or the result) does
// not fit a 260-character buffer.
bool NormaliseProbePath(StringView path, PathBuffer& out);

// The probe file's name prefix.
inline constexpr char16_t kProbePrefix[] = u"~sh";

}  // namespace orv
