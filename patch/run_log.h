// The log of a run: UTF-8 text, one line per event, each beginning with the
// local time to the millisecond. Without a file every line is dropped, so
// the stages write their lines the same way whether a log was asked for.
#pragma once

#include <string>
#include <string_view>

#include "platform/seam.h"

namespace orv {

class RunLog {
 public:
  RunLog() = default;
  ~RunLog() { Close(); }
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Creates or empties the file, writing through platform from then on.
  // False, with the platform's reason left, when it cannot be created.
  bool Open(const Platform& platform, const char16_t* path);
  void Close();
  bool Active() const { return stream_ != nullptr; }

  void Line(std::string_view text);
  // A line ending in the reason of the platform's last failure.
  void Failure(std::string_view text);

 private:
  const Platform* platform_ = nullptr;
  FileStream* stream_ = nullptr;
  // A write that failed ends the log, never the run: later lines are
  // dropped rather than written after a gap.
  bool broken_ = false;
};

// "Windows error 5: Access is denied." and the like.
std::string DescribeReason(const Platform& platform, SystemError reason);

// A path, argument or registry value as the log quotes it: UTF-8, with each
// character that could end a line or hide what a line says written as
// <U+XXXX> (its code in four hexadecimal digits): the C0 controls, DEL, the
// C1 controls, the line and paragraph separators and a lone surrogate. "<"
// itself is written <U+003C>, so that the form is never the text's own (no
// Windows file name holds a "<"); backslashes, which every Windows path is
// full of, stay as they are. A line end in a path cannot write a line of its
// own.
std::string LogText(StringView text);

}  // namespace orv
