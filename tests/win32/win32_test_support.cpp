#include "tests/win32/win32_test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace orv::win32test {

bool IsWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UnixPath(const std::wstring& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  char* unix = convert(path.c_str());
  if (unix == nullptr) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::wstring ZDrivePath(const std::wstring& path) {
  const std::string unix = UnixPath(path);
  if (unix.empty() || unix[0] != '/') return {};
  std::wstring z = L"Z:";
  for (const char c : unix) z += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return z;
}

namespace {

// Wine starts a Unix program as it starts a Windows one, but gives no handle
// to wait on: what it does is waited for through the name.
bool RunUnix(const wchar_t* program, std::wstring command, const std::wstring& name,
             bool untilThere) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  // Wine 8 shows a link only while what it leads to is there.
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
    if ((GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) == untilThere) return true;
  }
  return false;
}

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace

UnixLink::UnixLink(const std::string& target, const std::wstring& link) : link_(link) {
  const std::string at = UnixPath(link);
  if (at.empty() || !IsWine()) return;
  made_ = RunUnix(L"Z:\\bin\\ln", L"ln -s " + Quote(Widen(target)) + L" " + Quote(Widen(at)), link,
                  true);
}

UnixLink::~UnixLink() {
  const std::string at = UnixPath(link_);
  if (!at.empty()) RunUnix(L"Z:\\bin\\rm", L"rm -f " + Quote(Widen(at)), link_, false);
}

std::wstring SiblingProgram(const wchar_t* name) {
  std::vector<wchar_t> self(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  std::wstring path(self.data(), length);
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + name;
}

std::wstring Quote(const std::wstring& argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

namespace {

// Our environment with one entry replaced or added, as a block of
// NUL-ended strings.
std::vector<wchar_t> EnvironmentWith(const std::wstring& entry) {
  const std::wstring name = entry.substr(0, entry.find(L'=') + 1);
  std::vector<wchar_t> block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* p = strings; *p != L'\0'; p += std::wcslen(p) + 1) {
    if (_wcsnicmp(p, name.c_str(), name.size()) == 0) continue;
    block.insert(block.end(), p, p + std::wcslen(p) + 1);
  }
  FreeEnvironmentStringsW(strings);
  block.insert(block.end(), entry.begin(), entry.end());
  block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

ChildProcess::~ChildProcess() {
  CloseIfOpen(input_);
  CloseIfOpen(output_);
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
  }
}

bool ChildProcess::Start(const std::wstring& program, const std::wstring& arguments,
                         const Options& options) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);

  HANDLE childInput = nullptr;
  HANDLE childOutput = nullptr;
  HANDLE childError = nullptr;
  if (options.pipes) {
    if (!CreatePipe(&childInput, &input_, &inherit, 0) ||
        !CreatePipe(&output_, &childOutput, &inherit, 0)) {
      return false;
    }
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
  }
  if (!options.stderrFile.empty()) {
    childError = CreateFileW(options.stderrFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (childError == INVALID_HANDLE_VALUE) return false;
    startup.hStdError = childError;
  }

  std::wstring desktop = options.desktop;
  if (!desktop.empty()) startup.lpDesktop = desktop.data();

  std::wstring commandLine = Quote(program) + L" " + arguments;
  std::vector<wchar_t> environment;
  if (!options.environmentEntry.empty()) environment = EnvironmentWith(options.environmentEntry);
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(
      program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
      environment.empty() ? nullptr : environment.data(), nullptr, &startup, &info);
  CloseIfOpen(childInput);
  CloseIfOpen(childOutput);
  CloseIfOpen(childError);
  if (!started) return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  return true;
}

bool ChildProcess::ReadLine(std::string& line) {
  line.clear();
  char c = 0;
  DWORD got = 0;
  while (ReadFile(output_, &c, 1, &got, nullptr) && got == 1) {
    if (c == '\n') return true;
    if (c != '\r') line += c;
  }
  return !line.empty();
}

void ChildProcess::CloseInput() {
  CloseIfOpen(input_);
}

DWORD ChildProcess::Wait(DWORD milliseconds) {
  if (WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::string ReadWholeFile(const std::wstring& file) {
  std::ifstream in(std::filesystem::path(file), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WaitForLine(const std::wstring& file, const std::string& line, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    std::istringstream lines(ReadWholeFile(file));
    for (std::string l; std::getline(lines, l);) {
      if (l == line) return true;
    }
    Sleep(20);
  } while (GetTickCount() - start < milliseconds);
  return false;
}

}  // namespace orv::win32test
