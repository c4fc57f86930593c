// The reason of the last failure, and the system's text for it.
#include <windows.h>

#include <cstring>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

// The shell's file operations answer with a few codes older than the Windows
// error codes; they overlap later codes of other meanings, so they have
// their own texts. Any other result is a Windows error code.
struct ShellCode {
  std::uint32_t code;
  const char16_t* text;
};
constexpr ShellCode kShellCodes[] = {
    {0x71, u"The source and destination are the same file."},
    {0x72, u"Several sources were given for one destination."},
    {0x73, u"A rename was asked for across folders."},
    {0x74, u"The source is a root folder, which cannot be moved or renamed."},
    {0x75, u"The operation was cancelled."},
    {0x76, u"The destination lies inside the source."},
    {0x78, u"Access to the source was denied."},
    {0x79, u"A source or destination path is or would be too long."},
    {0x7A, u"The operation named several destinations."},
    {0x7C, u"A source or destination path is not valid."},
    {0x7D, u"The source and destination are in the same folder."},
    {0x7E, u"The destination is an existing file."},
    {0x80, u"The destination is an existing folder."},
    {0x81, u"A file name is too long."},
    {0x82, u"The destination is a read-only CD-ROM."},
    {0x83, u"The destination is a read-only DVD."},
    {0x84, u"The destination is a writable CD that may not be formatted."},
    {0x85, u"A file is too large for the destination."},
    {0x86, u"The source is a read-only CD-ROM."},
    {0x87, u"The source is a read-only DVD."},
    {0x88, u"The source is a writable CD that may not be formatted."},
    {0xB7, u"A path grew too long during the operation."},
    {0x402, u"An unknown error occurred, typically an invalid source or destination path."},
    {0x10000, u"An unspecified error occurred at the destination."},
};

String SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  String text;
  if (length != 0 && buffer != nullptr) {
    text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  }
  LocalFree(buffer);
  // The system's texts end in a line break; a log line must not.
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) {
    text.pop_back();
  }
  return text.empty() ? String(u"unknown error") : text;
}

}  // namespace

SystemError LastError(const Platform&) {
  return LastSystemError();
}

String DescribeError(const Platform&, SystemError error) {
  switch (error.source) {
    case ErrorSource::None:
      return u"no error";
    case ErrorSource::Errno:
      return FromUtf8(std::strerror(static_cast<int>(error.code)));
    case ErrorSource::Shell:
      for (const ShellCode& known : kShellCodes) {
        if (known.code == error.code) return known.text;
      }
      break;
    case ErrorSource::Win32:
      break;
  }
  return SystemText(error.code);
}

}  // namespace orv::win32
