// Whether a box would be seen, on the real window stations: Wine's visible
// WinSta0, and a station that is not visible, as a deployment tool's SYSTEM
// run has. Session 0 cannot be had under Wine (every process is in session
// 1), so that half of the decision is proven on its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/seam.h"
#include "platform/win32/surroundings.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;
using win32test::ChildProcess;

DWORD StationFlags(HWINSTA station) {
  USEROBJECTFLAGS flags{};
  EXPECT_TRUE(GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr));
  return flags.dwFlags;
}

TEST(CanShowMessages, TrueOnTheVisibleDesktop) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  const DWORD flags = StationFlags(GetProcessWindowStation());
  std::printf("[   NOTE   ] session %lu, window station flags 0x%lx\n", session, flags);
  EXPECT_TRUE(P().CanShowMessages(P()));
}

// A station of our own, which nobody sees, with one desktop; ours again
// afterwards.
class HiddenStation : public ::testing::Test {
 protected:
  void SetUp() override {
    name = L"OrvantoUnattended" + std::to_wstring(GetCurrentProcessId());
    station = CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(station, nullptr) << GetLastError();
    // A desktop is made on the calling process's station.
    ASSERT_TRUE(SetProcessWindowStation(station)) << GetLastError();
    desktop = CreateDesktopW(L"Quiet", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(ours);
    ASSERT_NE(desktop, nullptr) << GetLastError();
    ASSERT_EQ(StationFlags(station) & WSF_VISIBLE, 0u);
  }
  void TearDown() override {
    SetProcessWindowStation(ours);
    if (desktop != nullptr) CloseDesktop(desktop);
    if (station != nullptr) CloseWindowStation(station);
  }

  const HWINSTA ours = GetProcessWindowStation();
  std::wstring name;
  HWINSTA station = nullptr;
  HDESK desktop = nullptr;
};

TEST_F(HiddenStation, ProcessOnAStationThatIsNotVisibleCannotShowMessages) {
  // This process, while the hidden station is its own.
  ASSERT_TRUE(SetProcessWindowStation(station));
  EXPECT_FALSE(P().CanShowMessages(P()));
  ASSERT_TRUE(SetProcessWindowStation(ours));
  EXPECT_TRUE(P().CanShowMessages(P()));

  // A program started there, as a deployment tool starts it.
  ChildProcess child;
  ChildProcess::Options options;
  options.pipes = true;
  options.desktop = name + L"\\Quiet";
  ASSERT_TRUE(
      child.Start(win32test::SiblingProgram(L"win32_helper.exe"), L"surroundings", options));
  std::string verdict;
  std::string facts;
  ASSERT_TRUE(child.ReadLine(verdict));
  child.ReadLine(facts);
  std::printf("[   NOTE   ] helper on %ls\\Quiet: %s\n", name.c_str(), facts.c_str());
  EXPECT_EQ(verdict, "cannot show messages");
  EXPECT_EQ(child.Wait(60000), 0u);
}

TEST(CanShowMessages, SessionZeroOrAnInvisibleStationShowNothing) {
  constexpr std::uint32_t kVisible = WSF_VISIBLE;
  const struct {
    std::optional<std::uint32_t> session;
    std::optional<std::uint32_t> flags;
    bool seen;
  } cases[] = {
      {1, kVisible, true},
      {2, kVisible | 0x100, true},  // other bits do not matter
      {0, kVisible, false},         // session 0's WinSta0 is visible to nobody
      {1, 0, false},                // a service's or a tool's station
      {0, 0, false},
      // What cannot be found out does not silence the program.
      {std::nullopt, kVisible, true},
      {1, std::nullopt, true},
      {std::nullopt, std::nullopt, true},
      {0, std::nullopt, false},
      {std::nullopt, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::MessagesCanBeSeen(c.session, c.flags), c.seen)
        << "session " << c.session.value_or(99) << ", flags " << c.flags.value_or(99);
  }
}

}  // namespace
}  // namespace orv
