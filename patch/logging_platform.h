// A layer over a platform record that writes the run's dealings with the
// outside world into its log: every call that fails, with the platform's
// reason, and every change it makes to files and folders, each with its
// attempt number. The stages add what the calls mean.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/run_log.h"
#include "platform/seam_layer.h"

namespace orv {

class LoggingPlatform : public SeamLayer {
 public:
  LoggingPlatform(const Platform& inner, RunLog& log);
  LoggingPlatform(const LoggingPlatform&) = delete;
  LoggingPlatform& operator=(const LoggingPlatform&) = delete;

  const Platform& platform() const { return record_; }

  // Writes what the call of op with these paths came to; saysNo when a look
  // answered "no" rather than failed.
  void Report(SeamOp op, const char16_t* path, const char16_t* to, bool succeeded, bool saysNo);
  // Names a wait of the back-off, and the attempt it comes before.
  void ReportWait(std::uint32_t milliseconds);

 private:
  RunLog& log_;
  Platform record_;
  // Each call's attempt number: a call of the same operation on the same
  // paths after a wait of the back-off is the next attempt of one retried
  // operation, whatever looks came between; with no wait since, it is a new
  // operation.
  struct Attempts {
    SeamOp op;
    String paths;
    int count = 0;
    int waitsSeen = 0;
  };
  // A handful at a time: the calls that failed and were not yet done.
  std::vector<Attempts> attempts_;
  int waits_ = 0;
  // The failure the next wait is for.
  std::string lastFailure_;
  int lastFailureAttempt_ = 0;
};

}  // namespace orv
