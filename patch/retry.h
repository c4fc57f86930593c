// Every retried file or folder operation makes its attempts one directly
// after the other, with no pause, and a fresh count for each operation.
#pragma once

#include "patch/manifest.h"

namespace orv {

// Calls attempt() until it succeeds, at most kAttempts times; afterFailure()
// runs after each failed attempt. True when an attempt succeeded.
template <typename Attempt, typename AfterFailure>
bool Retry(Attempt attempt, AfterFailure afterFailure) {
  for (int tries = 0; tries < manifest::kAttempts; ++tries) {
    if (attempt()) return true;
    afterFailure();
  }
  return false;
}

template <typename Attempt>
bool Retry(Attempt attempt) {
  return Retry(attempt, [] {});
}

}  // namespace orv
