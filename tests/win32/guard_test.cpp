// The named single-instance guard as Windows keeps it: a named mutex that
// other processes see by name, that nobody owns, and that goes with its last
// handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/seam.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using win32test::ChildProcess;

const Platform& P() {
  return SystemPlatform();
}

// Names of their own, so that a program run meanwhile is not disturbed.
std::wstring GuardName(const wchar_t* role) {
  return L"WinOrvantoPatch1_Test" + std::to_wstring(GetCurrentProcessId()) + L"_" + role;
}
String U16(const std::wstring& text) {
  return win32test::Narrow16(text);
}

DWORD WINAPI TryTake(void* mutex) {
  const DWORD result = WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
  if (result == WAIT_OBJECT_0) ReleaseMutex(static_cast<HANDLE>(mutex));
  return result;
}

TEST(InstanceGuard, IsANamedMutexThatNobodyOwns) {
  const std::wstring name = GuardName(L"Unowned");
  bool alreadyExists = true;
  InstanceGuard* guard = P().CreateInstanceGuard(P(), U16(name).c_str(), alreadyExists);
  ASSERT_NE(guard, nullptr);
  EXPECT_FALSE(alreadyExists);

  // Another thread can take it at once: it was created without an owner.
  HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  DWORD waited = WAIT_FAILED;
  HANDLE thread = CreateThread(nullptr, 0, TryTake, opened, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  GetExitCodeThread(thread, &waited);
  CloseHandle(thread);
  CloseHandle(opened);
  EXPECT_EQ(waited, WAIT_OBJECT_0);

  P().ReleaseInstanceGuard(P(), guard);
  // The last handle is gone, and with it the name.
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(InstanceGuard, AnotherProcessHoldingItIsSeenUntilItLetsGo) {
  const std::wstring name = GuardName(L"Held");
  ChildProcess child;
  ChildProcess::Options options;
  options.pipes = true;
  ASSERT_TRUE(child.Start(win32test::SiblingProgram(L"win32_helper.exe"),
                          L"hold-guard " + win32test::Quote(name), options));
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  ASSERT_EQ(line, "held");

  bool alreadyExists = false;
  InstanceGuard* second = P().CreateInstanceGuard(P(), U16(name).c_str(), alreadyExists);
  EXPECT_TRUE(alreadyExists);
  P().ReleaseInstanceGuard(P(), second);

  child.CloseInput();
  ASSERT_EQ(child.Wait(60000), 0u);
  InstanceGuard* after = P().CreateInstanceGuard(P(), U16(name).c_str(), alreadyExists);
  EXPECT_FALSE(alreadyExists);
  P().ReleaseInstanceGuard(P(), after);
}

TEST(InstanceGuard, AnotherProcessSeesOursOnlyWhileWeHoldIt) {
  const std::wstring name = GuardName(L"Ours");
  const std::wstring helper = win32test::SiblingProgram(L"win32_helper.exe");
  bool alreadyExists = true;
  InstanceGuard* guard = P().CreateInstanceGuard(P(), U16(name).c_str(), alreadyExists);
  ASSERT_FALSE(alreadyExists);
  {
    ChildProcess probe;
    ASSERT_TRUE(probe.Start(helper, L"probe-guard " + win32test::Quote(name)));
    EXPECT_EQ(probe.Wait(60000), 1u);
  }
  P().ReleaseInstanceGuard(P(), guard);
  {
    ChildProcess probe;
    ASSERT_TRUE(probe.Start(helper, L"probe-guard " + win32test::Quote(name)));
    EXPECT_EQ(probe.Wait(60000), 0u);
  }
}

}  // namespace
}  // namespace orv
