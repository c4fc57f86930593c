#include "patch/run_log.h"

namespace orv {

bool RunLog::Open(const Platform& platform, const char16_t* path) {
  Close();
  platform_ = &platform;
  broken_ = false;
  stream_ = platform.OpenFileForWrite(platform, path);
  return stream_ != nullptr;
}

void RunLog::Close() {
  if (stream_ != nullptr) platform_->CloseFile(*platform_, stream_);
  stream_ = nullptr;
}

void RunLog::Line(std::string_view text) {
  if (stream_ == nullptr || broken_) return;
  const Platform& p = *platform_;
  std::string line = FormatLocalClock(p.LocalTimeNow(p));
  line.push_back(' ');
  line.append(text);
  line.push_back('\n');
  if (!p.WriteToFile(p, stream_, line.data(), line.size())) broken_ = true;
}

void RunLog::Failure(std::string_view text) {
  if (stream_ == nullptr || broken_) return;
  const Platform& p = *platform_;
  std::string line(text);
  line += ": ";
  line += DescribeReason(p, p.LastError(p));
  Line(line);
}

std::string DescribeReason(const Platform& p, SystemError reason) {
  std::string text;
  switch (reason.source) {
    case ErrorSource::None:
      return "no reason given";
    case ErrorSource::Win32:
      text = "Windows error ";
      break;
    case ErrorSource::Shell:
      text = "shell error ";
      break;
    case ErrorSource::Errno:
      text = "errno ";
      break;
  }
  text += std::to_string(reason.code);
  text += ": ";
  text += ToUtf8(p.DescribeError(p, reason));
  return text;
}

namespace {

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The number of units of the character at text[at], escaped or not.
std::size_t CharacterAt(StringView text, std::size_t at, bool& escaped) {
  const char16_t c = text[at];
  if (IsHighSurrogate(c) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
    escaped = false;
    return 2;
  }
  escaped = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == u'<' || c == 0x2028 || c == 0x2029 ||
            IsHighSurrogate(c) || IsLowSurrogate(c);
  return 1;
}

}  // namespace

std::string LogText(StringView text) {
  std::string out;
  std::size_t plain = 0;  // where the run of characters taken as they are began
  for (std::size_t at = 0; at < text.size();) {
    bool escaped = false;
    const std::size_t units = CharacterAt(text, at, escaped);
    if (escaped) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const unsigned code = text[at];
      out += ToUtf8(text.substr(plain, at - plain));
      out += "<U+";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
      out += '>';
      plain = at + units;
    }
    at += units;
  }
  // Most text holds none of them: then this is its one conversion.
  if (plain == 0) return ToUtf8(text);
  out += ToUtf8(text.substr(plain));
  return out;
}

}  // namespace orv
