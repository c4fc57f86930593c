// The back-off of a retried operation: how long it waits, and when it stops.
#include "patch/retry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace orv {
namespace {

// A record with only what Retry reads: the reason of the last failure, and
// a wait that is counted.
SystemError g_reason;
std::vector<std::uint32_t> g_waits;

Platform Counting() {
  Platform record;
  record.LastError = [](const Platform&) { return g_reason; };
  record.Wait = [](const Platform&, std::uint32_t milliseconds) {
    g_waits.push_back(milliseconds);
  };
  return record;
}

TEST(Retry, WaitsLongerEachTimeAndSpansTenToSixtySeconds) {
  std::uint32_t total = 0;
  for (int attempt = 2; attempt <= manifest::kAttempts; ++attempt) {
    if (attempt > 2) {
      EXPECT_GT(WaitBeforeAttempt(attempt), WaitBeforeAttempt(attempt - 1)) << attempt;
    }
    total += WaitBeforeAttempt(attempt);
  }
  EXPECT_EQ(total, LongestRetrySpan());
  EXPECT_GE(total, 10'000u);
  EXPECT_LE(total, 60'000u);
}

TEST(Retry, WaitsOnlyForReasonsThatPass) {
  const struct {
    const char* label;
    SystemError reason;
    int failures;  // before the attempt that succeeds
    int attempts;  // made
    bool done;
  } cases[] = {
      {"no failure", {}, 0, 1, true},
      {"a sharing violation, then success", {ErrorSource::Win32, 32}, 3, 4, true},
      {"access denied throughout", {ErrorSource::Win32, 5}, 100, 20, false},
      {"the shell's access denied", {ErrorSource::Shell, 5}, 100, 20, false},
      {"busy throughout", {ErrorSource::Errno, EBUSY}, 100, 20, false},
      {"a reason not known", {ErrorSource::Win32, 1117}, 100, 20, false},
      {"the name is taken", {ErrorSource::Win32, 183}, 100, 1, false},
      {"the path is missing", {ErrorSource::Win32, 3}, 100, 1, false},
      {"the shell's missing source", {ErrorSource::Shell, 0x402}, 100, 1, false},
      {"a taken name on POSIX", {ErrorSource::Errno, EEXIST}, 100, 1, false},
      {"a folder not empty", {ErrorSource::Errno, ENOTEMPTY}, 100, 1, false},
#ifndef _WIN32
      // What the mode says stays so; the Windows C runtime's EACCES passes.
      {"a POSIX permission", {ErrorSource::Errno, EACCES}, 100, 1, false},
#endif
  };
  const Platform p = Counting();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_reason = c.reason;
    g_waits.clear();
    int attempts = 0;
    EXPECT_EQ(Retry(p, [&] { return ++attempts > c.failures; }), c.done);
    EXPECT_EQ(attempts, c.attempts);
    // A wait before every attempt but the first, the one before attempt n
    // as the schedule has it.
    ASSERT_EQ(g_waits.size(), static_cast<std::size_t>(c.attempts - 1));
    for (std::size_t n = 0; n < g_waits.size(); ++n) {
      EXPECT_EQ(g_waits[n], WaitBeforeAttempt(static_cast<int>(n) + 2));
    }
  }
}

}  // namespace
}  // namespace orv
