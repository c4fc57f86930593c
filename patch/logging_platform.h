// A layer over a platform record that writes the run's dealings with the
// outside world into its log: every call that fails, with the platform's
// reason, and every change it makes to files and folders, each with its
// attempt number. The stages add what the calls mean.
#pragma once

#include <string>

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

 private:
  RunLog& log_;
  Platform record_;
  // The call before, to count the attempts of a retried one.
  SeamOp lastOp_{};
  String lastPaths_;
  int attempt_ = 0;
};

}  // namespace orv
