// What the program needs of an application framework, in our own small code:
// the application object with its start and exit hooks, the growable wide
// string with the joins the stages use, the file-status record, and the error
// for a failed status code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// Paths and texts are UTF-16, as on Windows, on every build: lengths are
// counted in UTF-16 code units so that the 260-character limits mean the same
// thing everywhere.
using String = std::u16string;
using StringView = std::u16string_view;

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

// UTF-8 <-> UTF-16. Unpaired surrogates travel as their three-byte forms so
// that every path survives the round trip unchanged.
std::string ToUtf8(StringView text);
String FromUtf8(std::string_view text);

// Last-modification time and friends as the framework's status record holds
// them: whole seconds since 1970-01-01 00:00 UTC.
struct FileStatusRecord {
  std::int64_t creationTime = 0;
  std::int64_t modificationTime = 0;
  std::int64_t accessTime = 0;
  std::uint64_t size = 0;
  std::uint32_t attributes = 0;
};

// The framework's error for a failed status code (an HRESULT).
struct StatusError {
  std::uint32_t code;
};
inline constexpr std::uint32_t kStatusInvalidArg = 0x80070057u;  // E_INVALIDARG
[[noreturn]] void RaiseStatusError(std::uint32_t code);

// The application object: one global instance, constructed before the entry
// code runs. The entry code calls StartInstance once; when it returns false no
// message loop runs and EndInstance follows at once. EndInstance's result is
// the process's exit code.
class CWinApp {
 public:
  explicit CWinApp(const char16_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual bool StartInstance();
  virtual int EndInstance();

  // The one application object, or null before it is constructed.
  static CWinApp* Current();

 protected:
  void SetExitCode(int code) { exitCode_ = code; }

 private:
  int exitCode_ = 0;
};

// The framework's entry sequence: start hook, then (never here) the message
// loop, then exit hook. Returns the exit hook's result; 1 without an object.
int RunApplication();

}  // namespace orv
