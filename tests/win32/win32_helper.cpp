// The other process of the cross-process tests, going through the same
// platform record as the program does.
//
//   win32_helper hold-guard NAME   holds the guard, prints "held", lets go
//                                  when its standard input ends
//   win32_helper probe-guard NAME  exit code 1 when another holds the guard
//   win32_helper show CAPTION TEXT information|warning
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/seam.h"

namespace {

const char16_t* U16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}

int HoldGuard(const orv::Platform& p, const wchar_t* name) {
  bool alreadyExists = false;
  orv::InstanceGuard* guard = p.CreateInstanceGuard(p, U16(name), alreadyExists);
  std::printf("%s\n", guard == nullptr ? "failed" : alreadyExists ? "taken" : "held");
  std::fflush(stdout);
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
  }
  p.ReleaseInstanceGuard(p, guard);
  return 0;
}

int ProbeGuard(const orv::Platform& p, const wchar_t* name) {
  bool alreadyExists = false;
  orv::InstanceGuard* guard = p.CreateInstanceGuard(p, U16(name), alreadyExists);
  p.ReleaseInstanceGuard(p, guard);
  return alreadyExists ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const orv::Platform& p = orv::SystemPlatform();
  if (argc == 3 && std::wcscmp(argv[1], L"hold-guard") == 0) return HoldGuard(p, argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"probe-guard") == 0) return ProbeGuard(p, argv[2]);
  if (argc == 5 && std::wcscmp(argv[1], L"show") == 0) {
    const orv::MessageIcon icon = std::wcscmp(argv[4], L"warning") == 0
                                      ? orv::MessageIcon::Warning
                                      : orv::MessageIcon::Information;
    p.ShowMessage(p, U16(argv[2]), U16(argv[3]), icon);
    return 0;
  }
  std::fputs("usage: win32_helper hold-guard|probe-guard NAME | show CAPTION TEXT ICON\n", stderr);
  return 2;
}
