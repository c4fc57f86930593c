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
