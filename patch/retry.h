// Every retried file or folder operation makes at most kAttempts attempts,
// with a fresh count for each operation. A failure that may pass (a scanner
// or the host holding a file) is waited out, each wait longer than the last,
// so that the attempts of one operation span long enough to outlast a
// real-time scanner's hold: some seconds, never more than a minute. A
// failure that cannot pass (the name is taken, the path is missing) ends
// the attempts at once. A run in which nothing fails never waits.
#pragma once

#include <cstdint>

#include "patch/manifest.h"
#include "platform/seam.h"

namespace orv {

// The wait before attempt number attempt (2 or more) of one operation.
constexpr std::uint32_t WaitBeforeAttempt(int attempt) {
  std::uint32_t wait = manifest::kFirstWaitMilliseconds;
  for (int n = 2; n < attempt; ++n) wait = wait * manifest::kWaitGrowth / 10;
  return wait;
}

// All the waits of an operation whose every attempt fails for a passing
// reason.
constexpr std::uint32_t LongestRetrySpan() {
  std::uint32_t total = 0;
  for (int n = 2; n <= manifest::kAttempts; ++n) total += WaitBeforeAttempt(n);
  return total;
}
static_assert(LongestRetrySpan() >= 10'000 && LongestRetrySpan() <= 60'000);

// Calls attempt() until it succeeds, at most kAttempts times; the reason of
// a failed attempt is the record's LastError. True when an attempt
// succeeded.
template <typename Attempt>
bool Retry(const Platform& p, Attempt attempt) {
  for (int tries = 1;; ++tries) {
    if (attempt()) return true;
    if (tries == manifest::kAttempts || !CanPass(p.LastError(p))) return false;
    p.Wait(p, WaitBeforeAttempt(tries + 1));
  }
}

}  // namespace orv
