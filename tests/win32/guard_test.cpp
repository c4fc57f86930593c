// The named single-instance guard as Windows keeps it: a named mutex that
// other processes see by name, that nobody owns, and that goes with its last
// handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/seam.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;
using win32test::ChildProcess;

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

// Holds name in a helper process until the object goes.
class Holder {
 public:
  Holder(const wchar_t* mode, const std::wstring& name) {
    ChildProcess::Options options;
    options.pipes = true;
    started_ = child_.Start(win32test::SiblingProgram(L"win32_helper.exe"),
                            std::wstring(mode) + L" " + win32test::Quote(name), options) &&
               child_.ReadLine(line_);
  }
  ~Holder() {
    child_.CloseInput();
    child_.Wait(60000);
  }
  bool holds() const { return started_ && line_ == "held"; }
  const std::string& line() const { return line_; }

 private:
  ChildProcess child_;
  std::string line_;
  bool started_ = false;
};

// A SYSTEM run in session 0 and a user's run in session 1 share only the
// global namespace: the guard's global name is seen across processes, and
// it leaves the plain name free.
TEST(InstanceGuard, GlobalNameHeldByAnotherProcessIsSeenAndLeavesThePlainNameFree) {
  const std::wstring plain = GuardName(L"Main");
  const Holder holder(L"hold-guard", L"Global\\" + plain);
  ASSERT_TRUE(holder.holds()) << holder.line();
  const struct {
    std::wstring name;
    bool taken;
  } cases[] = {{L"Global\\" + plain, true}, {plain, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(U16(c.name)));
    bool alreadyExists = !c.taken;
    InstanceGuard* guard = P().CreateInstanceGuard(P(), U16(c.name).c_str(), alreadyExists);
    EXPECT_NE(guard, nullptr);
    EXPECT_EQ(alreadyExists, c.taken);
    P().ReleaseInstanceGuard(P(), guard);
  }
}

// A guard another account holds may exist with a descriptor that refuses
// us: the name is taken all the same.
TEST(InstanceGuard, NameThatMayNotBeOpenedIsHeldBySomeoneElse) {
  const std::wstring name = L"Global\\" + GuardName(L"Denied");
  const Holder holder(L"hold-denied-guard", name);
  ASSERT_TRUE(holder.holds()) << holder.line();

  SetLastError(ERROR_SUCCESS);
  const HANDLE direct = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  if (direct != nullptr) CloseHandle(direct);
  ASSERT_EQ(direct, nullptr) << "the descriptor was not enforced";
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

  bool alreadyExists = false;
  InstanceGuard* guard = P().CreateInstanceGuard(P(), U16(name).c_str(), alreadyExists);
  EXPECT_EQ(guard, nullptr);
  EXPECT_TRUE(alreadyExists);
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, ERROR_ACCESS_DENIED}));
  P().ReleaseInstanceGuard(P(), guard);
}

}  // namespace
}  // namespace orv
