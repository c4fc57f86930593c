// Processes, environment and Wine detection for the Windows-only tests.
#pragma once

#include <windows.h>

#include <string>

#include "platform/paths.h"

namespace orv::win32test {

inline const wchar_t* Wide(const String& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline String Narrow16(const std::wstring& text) {
  return String(text.begin(), text.end());
}

// True under Wine, where ntdll exports wine_get_version.
bool IsWine();

// Under Wine, the Unix path of a Windows one (wine_get_unix_file_name);
// empty elsewhere or when it has none.
std::string UnixPath(const std::wstring& path);
// Under Wine, the Z: form of a Windows path: the same file by another drive
// letter. Empty elsewhere.
std::wstring ZDrivePath(const std::wstring& path);
// Under Wine, a Unix symbolic link at link leading to target (a Unix path
// that exists), made by /bin/ln and removed by /bin/rm when the object goes:
// Wine 8's CreateSymbolicLinkW reports success and makes nothing, and a
// folder's test tree with a link to a folder in it is never removed
// (std::filesystem goes round through the link). Not made elsewhere.
class UnixLink {
 public:
  UnixLink(const std::string& target, const std::wstring& link);
  ~UnixLink();
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  bool made() const { return made_; }

 private:
  std::wstring link_;
  bool made_ = false;
};

// A program that was copied beside this test program (see wine-run.sh).
std::wstring SiblingProgram(const wchar_t* name);

// Quotes one command-line argument the way CommandLineToArgvW splits it.
std::wstring Quote(const std::wstring& argument);

// A child process started with CreateProcessW, ended when the object goes.
class ChildProcess {
 public:
  struct Options {
    // Standard input and output through pipes (Send/ReadLine/CloseInput).
    bool pipes = false;
    // Standard error into this file instead of ours.
    std::wstring stderrFile;
    // "NAME=VALUE" replacing or adding one variable of our environment.
    std::wstring environmentEntry;
    // "STATION\\DESKTOP" to start on instead of ours.
    std::wstring desktop;
  };

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::wstring& program, const std::wstring& arguments, const Options& options);
  bool Start(const std::wstring& program, const std::wstring& arguments) {
    return Start(program, arguments, Options{});
  }
  // One line of the child's standard output, without its end; false at EOF.
  bool ReadLine(std::string& line);
  // The child then sees end of input.
  void CloseInput();
  // The exit code, or STILL_ACTIVE when the wait timed out.
  DWORD Wait(DWORD milliseconds);
  HANDLE handle() const { return process_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;   // our end of the child's standard input
  HANDLE output_ = nullptr;  // our end of the child's standard output
};

// Polls a text file until it holds a line equal to `line`.
bool WaitForLine(const std::wstring& file, const std::string& line, DWORD milliseconds);
std::string ReadWholeFile(const std::wstring& file);

}  // namespace orv::win32test
