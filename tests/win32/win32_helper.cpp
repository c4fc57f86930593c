// The other process of the cross-process tests, going through the same
// platform record as the program does.
//
//   win32_helper hold-guard NAME   holds the guard, prints "held", lets go
//                                  when its standard input ends
//   win32_helper probe-guard NAME  exit code 1 when another holds the guard
//   win32_helper hold-denied-guard NAME
//                                  holds a mutex of that name that nobody
//                                  may open, prints "held", lets go when its
//                                  standard input ends
//   win32_helper hold-file PATH    holds the file open without delete
//                                  sharing (as a scanner does), prints
//                                  "held", lets go when its standard input
//                                  ends
//   win32_helper hold-file-alone PATH MS
//                                  holds the file open with no sharing at
//                                  all (a scanner's worst hold), prints
//                                  "held", lets go after MS milliseconds
//   win32_helper surroundings      prints whether a box can be seen and
//                                  what that was decided from
//   win32_helper show CAPTION TEXT information|warning
//   win32_helper staging-security  prints "watching", waits up to a minute
//                                  for a run's staging folder to appear in
//                                  the temporary folder the program uses,
//                                  then prints its access list (see
//                                  access_list.h) and "user SID", the
//                                  account both run as
//   win32_helper is-link PATH      prints whether the platform takes the
//                                  name for a link
//   win32_helper delete PATH       the program's delete of a work folder;
//                                  prints "deleted" or "failed"
#include <windows.h>
// after windows.h, whose types it needs
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

#include "patch/work_folders.h"
#include "platform/seam.h"
#include "tests/win32/access_list.h"

namespace {

const char16_t* U16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}

void WaitForEndOfInput() {
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
  }
}

int HoldGuard(const orv::Platform& p, const wchar_t* name) {
  bool alreadyExists = false;
  orv::InstanceGuard* guard = p.CreateInstanceGuard(p, U16(name), alreadyExists);
  std::printf("%s\n", guard == nullptr ? "failed" : alreadyExists ? "taken" : "held");
  std::fflush(stdout);
  WaitForEndOfInput();
  p.ReleaseInstanceGuard(p, guard);
  return 0;
}

// What a user's run meets when a SYSTEM run holds the guard: a name that
// exists, with a descriptor that refuses everyone else.
int HoldDeniedGuard(const wchar_t* name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(D;;GA;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  if (mutex == nullptr || error == ERROR_ALREADY_EXISTS) {
    std::printf("failed %lu\n", error);
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  WaitForEndOfInput();
  CloseHandle(mutex);
  return 0;
}

int HoldFile(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  WaitForEndOfInput();
  CloseHandle(file);
  return 0;
}

int HoldFileAlone(const wchar_t* path, const wchar_t* milliseconds) {
  const HANDLE file =
      CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(milliseconds, nullptr, 10)));
  CloseHandle(file);
  std::printf("let go\n");
  return 0;
}

int Surroundings(const orv::Platform& p) {
  DWORD session = 0;
  const BOOL known = ProcessIdToSessionId(GetCurrentProcessId(), &session);
  USEROBJECTFLAGS flags{};
  wchar_t station[256] = L"";
  const HWINSTA handle = GetProcessWindowStation();
  GetUserObjectInformationW(handle, UOI_FLAGS, &flags, sizeof flags, nullptr);
  GetUserObjectInformationW(handle, UOI_NAME, station, sizeof station, nullptr);
  std::printf("%s\n", p.CanShowMessages(p) ? "can show messages" : "cannot show messages");
  std::printf("session %s %lu, station %ls flags 0x%lx\n", known ? "known" : "unknown", session,
              station, flags.dwFlags);
  return 0;
}

int ProbeGuard(const orv::Platform& p, const wchar_t* name) {
  bool alreadyExists = false;
  orv::InstanceGuard* guard = p.CreateInstanceGuard(p, U16(name), alreadyExists);
  p.ReleaseInstanceGuard(p, guard);
  return alreadyExists ? 1 : 0;
}

// The staging folder's access list as soon as the folder is there: it lives
// only while the run stages and copies.
int StagingSecurity(const orv::Platform& p) {
  orv::PathBuffer temp;
  if (!p.TempFolder(p, temp) || !temp.Assign(orv::WorkFolders(u"", temp.view()).Staging())) {
    std::printf("no temporary folder\n");
    return 1;
  }
  const wchar_t* path = reinterpret_cast<const wchar_t*>(temp.c_str());
  std::printf("watching %ls\n", path);
  std::fflush(stdout);
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
      continue;
    }
    for (const std::string& line : orv::win32test::DescribeAccessList(descriptor)) {
      std::printf("%s\n", line.c_str());
    }
    std::printf("user %s\n", orv::win32test::ProcessUserSid().c_str());
    LocalFree(descriptor);
    return 0;
  }
  std::printf("never appeared\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const orv::Platform& p = orv::SystemPlatform();
  if (argc == 3 && std::wcscmp(argv[1], L"hold-guard") == 0) return HoldGuard(p, argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"probe-guard") == 0) return ProbeGuard(p, argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"hold-denied-guard") == 0) return HoldDeniedGuard(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"hold-file") == 0) return HoldFile(argv[2]);
  if (argc == 4 && std::wcscmp(argv[1], L"hold-file-alone") == 0) {
    return HoldFileAlone(argv[2], argv[3]);
  }
  if (argc == 2 && std::wcscmp(argv[1], L"surroundings") == 0) return Surroundings(p);
  if (argc == 2 && std::wcscmp(argv[1], L"staging-security") == 0) return StagingSecurity(p);
  if (argc == 3 && std::wcscmp(argv[1], L"is-link") == 0) {
    std::printf("%s\n", p.IsLink(p, U16(argv[2])) ? "link" : "no link");
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"delete") == 0) {
    if (p.ShellDelete(p, U16(argv[2]))) {
      std::printf("deleted\n");
    } else {
      std::printf("failed %lu\n", static_cast<unsigned long>(p.LastError(p).code));
    }
    return 0;
  }
  if (argc == 5 && std::wcscmp(argv[1], L"show") == 0) {
    const orv::MessageIcon icon = std::wcscmp(argv[4], L"warning") == 0
                                      ? orv::MessageIcon::Warning
                                      : orv::MessageIcon::Information;
    p.ShowMessage(p, U16(argv[2]), U16(argv[3]), icon);
    return 0;
  }
  std::fputs(
      "usage: win32_helper hold-guard|probe-guard|hold-denied-guard NAME | hold-file PATH | "
      "hold-file-alone PATH MS | surroundings | show CAPTION TEXT ICON | staging-security | "
      "is-link|delete PATH\n",
      stderr);
  return 2;
}
