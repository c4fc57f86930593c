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

}  // namespace orv
